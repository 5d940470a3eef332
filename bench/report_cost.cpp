// Instruction counts per report for valgrind's callgrind (tools/bench.sh callgrind): runs exactly COUNT
// reports of one case through CKorvel::on_data_ready, each followed by the event-loop pass that sends what it
// queued. Only run_reports() is measured (--toggle-collect), and only the main thread's file is read
// (--separate-threads=yes), so neither the set-up nor the reading clients count.
//
//   korvel-report-cost equal|change|metering CLIENTS COUNT [INTERVAL_MS]
//
// With INTERVAL_MS (metering only), every client asks for its meters at most every INTERVAL_MS (0: every report)
// and the reports come at the console's rate, one a millisecond, so the intervals end as often as in operation;
// the wait between reports is measured too, in both cases alike.
#include "reportfixture.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Not inlined: callgrind switches collection on and off at its entry and exit.
[[gnu::noinline]] void run_reports(bench::ReportFixture &fixture, const QByteArray *reports, int variants, int count,
                                   bool paced)
{
    for (int i = 0; i < count; ++i) {
        fixture.deliver(reports[i % variants]);
        if (paced)
            fixture.wait_for_next(1);
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: %s equal|change|metering CLIENTS COUNT [INTERVAL_MS]\n", argv[0]);
        return 2;
    }
    const char *kind = argv[1];
    const int clients = std::atoi(argv[2]);
    const int count = std::atoi(argv[3]);
    const bool metering = std::strcmp(kind, "metering") == 0;
    const bool paced = argc == 5 && metering;
    const int interval = paced ? std::atoi(argv[4]) : 0;
    bench::ReportFixture fixture(clients, metering, interval);

    QByteArray reports[2];
    int variants = 1;
    if (std::strcmp(kind, "equal") == 0) {
        reports[0] = bench::state_report_on(1);
    } else if (std::strcmp(kind, "change") == 0) {
        reports[0] = bench::state_report_on(0);
        reports[1] = bench::state_report_on(1);
        variants = 2;
    } else if (metering) {
        reports[0] = bench::metering_report(0x72);
    } else {
        std::fprintf(stderr, "unknown case %s\n", kind);
        return 2;
    }
    // Warm up: the cache holds the report, buffers and lookups exist.
    for (int i = 0; i < 20; ++i)
        fixture.deliver(reports[i % variants]);
    fixture.settle();
    const long long per_report = metering || variants == 2 ? clients : 0;

    const long long start = fixture.frames_read();
    run_reports(fixture, reports, variants, count, paced);
    if (interval > 0) {
        // As many as the intervals allow: what was read is the figure.
        fixture.settle();
    } else if (!fixture.wait_for_frames(start + count * per_report, 60000)) {
        std::fprintf(stderr, "notifications lost: %lld of %lld read\n", fixture.frames_read() - start,
                     count * per_report);
        return 1;
    }
    std::printf("%s clients=%d reports=%d interval_ms=%d frames=%lld\n", kind, clients, count, interval,
                fixture.frames_read() - start);
    return 0;
}
