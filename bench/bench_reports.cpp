// Reports per second through CKorvel::on_data_ready, each followed by the event-loop pass that sends what it
// queued (docs/performance.md, "Decoder and notifications"):
//   state_equal         a state report equal to its cached one (no event, nothing sent)
//   state_change/1      a state report that changes one member: one "on_on" notification to 1 client
//   metering/N          a metering report: one "on_metering" notification to N subscribed clients
#include "reportfixture.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

namespace {

void state_equal(benchmark::State &state)
{
    bench::ReportFixture fixture(0, false);
    const QByteArray report = bench::state_report_on(1);
    fixture.deliver(report);
    for (auto _ : state)
        fixture.deliver(report);
    state.SetItemsProcessed(state.iterations());
}

void state_change(benchmark::State &state)
{
    bench::ReportFixture fixture(static_cast<int>(state.range(0)), false);
    const QByteArray reports[2] = {bench::state_report_on(1), bench::state_report_on(0)};
    fixture.deliver(reports[0]);
    fixture.settle();
    const long long before = fixture.frames_read();
    long long i = 0;
    for (auto _ : state)
        fixture.deliver(reports[++i & 1]);
    state.SetItemsProcessed(state.iterations());
    if (!fixture.wait_for_frames(before + i * state.range(0)))
        state.SkipWithError("notifications lost");
}

void metering(benchmark::State &state)
{
    const int clients = static_cast<int>(state.range(0));
    bench::ReportFixture fixture(clients, true);
    const QByteArray report = bench::metering_report(0x72);
    fixture.settle();
    const long long before = fixture.frames_read();
    long long sent = 0;
    for (auto _ : state) {
        fixture.deliver(report);
        ++sent;
    }
    state.SetItemsProcessed(state.iterations());
    // Every notification reached every client.
    if (!fixture.wait_for_frames(before + sent * clients))
        state.SkipWithError("notifications lost");
}

} // namespace

BENCHMARK(state_equal);
BENCHMARK(state_change)->Arg(1);
BENCHMARK(metering)->Arg(1)->Arg(10)->Arg(100);

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
