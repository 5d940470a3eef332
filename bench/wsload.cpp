// End-to-end load client for korvel-control-emulated in bench mode (KORVEL_BENCH=1; tools/bench.sh runs it):
// N WebSocket clients on loopback, all subscribed to "metering", in one thread. For every metering
// notification it decodes the console's stamp (sequence number and the moment hid_read returned the report)
// and takes the latency to the moment the frame is read here; it counts the counting GPO notifications and
// checks both for loss and order. Optionally client 0 also sends commands and the time from each send to the
// hid_write of its report is taken from the emulated console's write log.
// With --metering-interval MS every client asks for its meters at most every MS milliseconds: the levels then
// carry peaks, not stamps, so the figures are how many came and how long after the previous one each reached
// the client's socket ("gap"); the counting GPO notifications are still checked for loss and order.
// Prints one line of key=value figures; exits non-zero when a notification was lost or out of order.
#include "wsclient.h"

#include <algorithm>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <sys/epoll.h>
#include <unistd.h>
#include <vector>

using wsbench::Client;
using wsbench::monotonic_us;

namespace {

struct Options {
    uint16_t port = 19552;
    int clients = 1;
    long long expect = 0;
    int timeout_s = 120;
    int commands = 0;
    int command_interval_ms = 20;
    int command_delay_ms = 0;
    std::string write_log;
    std::string command = R"({"msg":"set_on","data":{"mod1":"toggle"}})";
    std::string command_report;
    int metering_interval = 0;
};

struct Stream {
    Client client;
    bool have_sequence = false;
    uint16_t last_sequence = 0;
    long long metering = 0;
    long long lost = 0;
    long long out_of_order = 0;
    bool have_gpo = false;
    int last_gpo = 0;
    long long gpo = 0;
    long long gpo_errors = 0;
    long long other = 0;
    // The subscription is refused while the link is still closed: ask again.
    bool resubscribe = false;
    // With a metering interval: when the last metering notification reached the socket (µs), 0 before the first.
    int64_t last_metering_us = 0;
    long long early = 0;
};

// Latencies in microseconds, one bin each up to 100 ms.
class Histogram {
public:
    void add(int64_t us)
    {
        ++count_;
        max_ = std::max(max_, us);
        bins_[size_t(std::clamp<int64_t>(us, 0, int64_t(bins_.size()) - 1))]++;
    }
    int64_t percentile(double p) const
    {
        if (count_ == 0)
            return -1;
        const uint64_t rank = uint64_t(p * double(count_ - 1)) + 1;
        uint64_t seen = 0;
        for (size_t i = 0; i < bins_.size(); ++i) {
            seen += bins_[i];
            if (seen >= rank)
                return int64_t(i);
        }
        return max_;
    }
    int64_t max() const { return max_; }
    uint64_t count() const { return count_; }

private:
    std::vector<uint64_t> bins_ = std::vector<uint64_t>(100'000);
    uint64_t count_ = 0;
    int64_t max_ = 0;
};

bool parse_options(int argc, char **argv, Options &o)
{
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const char *value = argv[i + 1];
        if (key == "--port")
            o.port = static_cast<uint16_t>(std::atoi(value));
        else if (key == "--clients")
            o.clients = std::atoi(value);
        else if (key == "--expect")
            o.expect = std::atoll(value);
        else if (key == "--timeout")
            o.timeout_s = std::atoi(value);
        else if (key == "--commands")
            o.commands = std::atoi(value);
        else if (key == "--command-interval-ms")
            o.command_interval_ms = std::atoi(value);
        else if (key == "--command-delay-ms")
            o.command_delay_ms = std::atoi(value);
        else if (key == "--command")
            o.command = value;
        else if (key == "--command-report")
            o.command_report = value;
        else if (key == "--write-log")
            o.write_log = value;
        else if (key == "--metering-interval")
            o.metering_interval = std::atoi(value);
        else
            return false;
    }
    return argc % 2 == 1 && o.clients > 0;
}

// Times (microseconds) of the writes of one report in the emulated console's write log, from a moment on.
std::vector<int64_t> write_times(const std::string &path, const std::string &report, int64_t from)
{
    std::vector<int64_t> times;
    std::ifstream log(path);
    std::string line;
    while (std::getline(log, line)) {
        const size_t blank = line.find(' ');
        if (blank == std::string::npos || line.compare(blank + 1, std::string::npos, report) != 0)
            continue;
        const int64_t t = std::atoll(line.c_str());
        if (t >= from)
            times.push_back(t);
    }
    return times;
}

} // namespace

int main(int argc, char **argv)
{
    Options o;
    if (!parse_options(argc, argv, o)) {
        std::fprintf(stderr,
                     "usage: %s [--port P] [--clients N] [--expect METERING] [--timeout S]\n"
                     "          [--commands K --command-interval-ms MS --command-delay-ms MS --write-log FILE\n"
                     "           --command-report HEX [--command JSON]] [--metering-interval MS]\n",
                     argv[0]);
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);

    const std::string interval_request =
        R"({"msg":"set_metering_interval","data":)" + std::to_string(o.metering_interval) + "}";
    const auto subscribe = [&](Stream &s) {
        s.client.send_text(R"({"msg":"subscribe","data":"metering"})");
        if (o.metering_interval > 0)
            s.client.send_text(interval_request);
    };
    std::vector<std::unique_ptr<Stream>> streams;
    const int epoll = ::epoll_create1(EPOLL_CLOEXEC);
    const int64_t give_up = monotonic_us() + 20'000'000;
    for (int i = 0; i < o.clients; ++i) {
        auto s = std::make_unique<Stream>();
        while (!s->client.open("127.0.0.1", o.port, 2000) && monotonic_us() < give_up)
            ::usleep(50'000);
        if (!s->client.is_open()) {
            std::fprintf(stderr, "wsload: cannot connect client %d\n", i);
            return 1;
        }
        s->client.enable_receive_timestamps();
        subscribe(*s);
        epoll_event e{};
        e.events = EPOLLIN;
        e.data.u64 = uint64_t(i);
        ::epoll_ctl(epoll, EPOLL_CTL_ADD, s->client.fd(), &e);
        streams.push_back(std::move(s));
    }
    const int64_t ready = monotonic_us();
    std::fprintf(stderr, "wsload: %d clients connected and subscribed\n", o.clients);

    // To the moment the frame is read here, and to the moment it reached the client's socket (kernel stamp).
    Histogram latency;
    Histogram socket_latency;
    // With a metering interval: how much longer than the interval each gap between two notifications was.
    Histogram lateness;
    int64_t last_metering = 0;
    const int64_t realtime_offset = wsbench::realtime_offset_ns();
    std::vector<int64_t> command_sent;
    int64_t next_command = ready + int64_t(o.command_delay_ms) * 1000;
    int64_t last_activity = monotonic_us();
    const int64_t deadline = ready + int64_t(o.timeout_s) * 1'000'000;
    std::vector<epoll_event> events(256);
    int closed = 0;
    const auto done = [&] {
        if (int(command_sent.size()) < o.commands)
            return false;
        if (o.expect <= 0 && o.commands > 0)
            return monotonic_us() - command_sent.back() > 1'000'000;
        if (o.expect <= 0)
            return monotonic_us() - last_activity > 2'000'000;
        // Fewer than one a report: done once the meters have stopped.
        if (o.metering_interval > 0)
            return last_metering > 0 && monotonic_us() - last_metering > 2'000'000;
        for (const auto &s : streams) {
            if (s->metering < o.expect && s->client.is_open())
                return false;
        }
        return true;
    };

    while (monotonic_us() < deadline && !done()) {
        const int n = ::epoll_wait(epoll, events.data(), int(events.size()), 1);
        for (int k = 0; k < n; ++k) {
            Stream &s = *streams[size_t(events[size_t(k)].data.u64)];
            const bool open = s.client.read_available([&, expect = o.expect](wsbench::Opcode, std::string_view text) {
                const int64_t now = monotonic_us();
                const std::string_view msg = wsbench::message_name(text);
                if (msg == "on_metering" && o.metering_interval > 0) {
                    const int64_t arrived =
                        s.client.receive_time_ns() != 0 ? (s.client.receive_time_ns() - realtime_offset) / 1000 : now;
                    if (s.last_metering_us != 0) {
                        const int64_t gap = arrived - s.last_metering_us;
                        if (gap < int64_t(o.metering_interval) * 1000)
                            ++s.early;
                        lateness.add(gap - int64_t(o.metering_interval) * 1000);
                    }
                    s.last_metering_us = arrived;
                    last_metering = now;
                    ++s.metering;
                } else if (msg == "on_metering") {
                    wsbench::MeteringStamp stamp;
                    if (!wsbench::parse_metering_stamp(text, stamp)) {
                        ++s.out_of_order;
                        return;
                    }
                    latency.add(int64_t(int32_t(uint32_t(uint64_t(now) & 0xFFFFFFFF) - stamp.time_us)));
                    if (s.client.receive_time_ns() != 0) {
                        const int64_t arrived = (s.client.receive_time_ns() - realtime_offset) / 1000;
                        socket_latency.add(int64_t(int32_t(uint32_t(uint64_t(arrived) & 0xFFFFFFFF) - stamp.time_us)));
                    }
                    if (s.have_sequence) {
                        const uint16_t step = uint16_t(stamp.sequence - s.last_sequence);
                        if (step == 0 || step > 0x8000)
                            ++s.out_of_order;
                        else
                            s.lost += step - 1;
                    } else if (expect > 0 && stamp.sequence != 0) {
                        s.lost += stamp.sequence; // a counted run: every report from the first on is expected
                    }
                    s.have_sequence = true;
                    s.last_sequence = stamp.sequence;
                    ++s.metering;
                } else if (msg == "on_config_gpo") {
                    double time = 0;
                    if (wsbench::number_field(text, "time", time)) {
                        const int t = int(time);
                        if (s.have_gpo && t != ((s.last_gpo + 1) & 0xFF))
                            ++s.gpo_errors;
                        s.have_gpo = true;
                        s.last_gpo = t;
                        ++s.gpo;
                    }
                } else if (msg == "error" && !s.have_sequence && s.metering == 0) {
                    s.resubscribe = true;
                } else {
                    ++s.other;
                }
            });
            last_activity = monotonic_us();
            if (!open) {
                ++closed;
                s.client.close(false);
            }
        }
        for (auto &s : streams) {
            if (s->resubscribe) {
                s->resubscribe = false;
                ::usleep(10'000);
                subscribe(*s);
            }
        }
        if (int(command_sent.size()) < o.commands && monotonic_us() >= next_command) {
            command_sent.push_back(monotonic_us());
            streams.front()->client.send_text(o.command);
            next_command += int64_t(o.command_interval_ms) * 1000;
        }
    }

    long long metering_min = -1, metering_total = 0, lost = 0, out_of_order = 0, gpo_min = -1, gpo_errors = 0;
    for (const auto &s : streams) {
        metering_min = metering_min < 0 ? s->metering : std::min(metering_min, s->metering);
        gpo_min = gpo_min < 0 ? s->gpo : std::min(gpo_min, s->gpo);
        metering_total += s->metering;
        lost += s->lost + (o.expect > 0 && o.metering_interval == 0 ? std::max(0LL, o.expect - s->metering) : 0);
        out_of_order += s->out_of_order;
        gpo_errors += s->gpo_errors;
    }
    std::printf("clients=%d expected_each=%lld received_min=%lld received_total=%lld lost=%lld out_of_order=%lld "
                "gpo_min=%lld gpo_errors=%lld closed=%d latency_us_p50=%" PRId64 " latency_us_p99=%" PRId64
                " latency_us_max=%" PRId64 " socket_latency_us_p50=%" PRId64 " socket_latency_us_p99=%" PRId64
                " socket_latency_us_max=%" PRId64,
                o.clients, o.expect, metering_min, metering_total, lost, out_of_order, gpo_min, gpo_errors, closed,
                latency.percentile(0.50), latency.percentile(0.99), latency.max(), socket_latency.percentile(0.50),
                socket_latency.percentile(0.99), socket_latency.max());

    if (o.metering_interval > 0) {
        long long early = 0;
        for (const auto &s : streams)
            early += s->early;
        std::printf(" metering_interval_ms=%d gap_over_interval_us_p50=%" PRId64 " gap_over_interval_us_p99=%" PRId64
                    " gap_over_interval_us_max=%" PRId64 " gaps_under_interval=%lld",
                    o.metering_interval, lateness.percentile(0.50), lateness.percentile(0.99), lateness.max(), early);
    }
    if (o.commands > 0 && !o.write_log.empty()) {
        ::usleep(200'000);
        const std::vector<int64_t> writes = write_times(o.write_log, o.command_report, command_sent.front());
        Histogram command_latency;
        const size_t pairs = std::min(writes.size(), command_sent.size());
        for (size_t i = 0; i < pairs; ++i)
            command_latency.add(writes[i] - command_sent[i]);
        std::printf(" commands=%zu command_writes=%zu command_us_p50=%" PRId64 " command_us_p99=%" PRId64
                    " command_us_max=%" PRId64,
                    command_sent.size(), writes.size(), command_latency.percentile(0.50),
                    command_latency.percentile(0.99), command_latency.max());
    }
    std::printf("\n");
    return lost == 0 && out_of_order == 0 && gpo_errors == 0 && closed == 0 ? 0 : 1;
}
