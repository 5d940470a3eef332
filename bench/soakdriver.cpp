// Soak driver: runs against korvel-control-emulated in bench mode (KORVEL_BENCH=1, tools/soak.sh starts it)
// and checks it for the whole run:
// - steady clients, connected throughout and subscribed to "metering": every metering notification arrives,
//   in order (the sequence numbers of the emulated console have no gap), every counting GPO notification
//   arrives in order, device status notices alternate, and all of them see the same notifications in the
//   same order;
// - churning clients that connect, maybe subscribe, send valid and invalid commands and leave, cleanly or not;
// - one client that subscribes and never reads: the application must close it at its output bound (found in
//   the application's log);
// - UDP clients on 127.0.0.2-9 that register by keep-alive, send reports and garbage, and fall silent;
// - the application stays alive, and its resident memory at the end is within 10 % of the value after the
//   reference time.
// Prints one summary line; exits 0 when every check passed.
#include "wsclient.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <netinet/in.h>
#include <random>
#include <sstream>
#include <string>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using wsbench::Client;
using wsbench::monotonic_us;

namespace {

struct Options {
    uint16_t ws_port = 19552;
    uint16_t udp_listen = 19551;
    uint16_t udp_ports[3] = {19548, 19549, 19550};
    int duration_s = 600;
    int rss_reference_s = 60;
    int steady = 3;
    int churn = 6;
    unsigned seed = 1;
    int app_pid = 0;
    std::string app_log;
    std::string stats;
    int slow_client_at_s = 5;
};

constexpr double rss_tolerance = 0.10;
constexpr uint64_t max_pending_output = 4 * 1024 * 1024;

uint64_t fnv1a(std::string_view text)
{
    uint64_t hash = 1469598103934665603ull;
    for (const char c : text) {
        hash ^= static_cast<uint8_t>(c);
        hash *= 1099511628211ull;
    }
    return hash;
}

// One steady client and what it has checked so far.
struct Steady {
    Client client;
    bool closed = false;
    bool have_sequence = false;
    uint16_t last_sequence = 0;
    uint64_t metering = 0;
    uint64_t lost = 0;
    uint64_t out_of_order = 0;
    bool have_gpo = false;
    int last_gpo = 0;
    uint64_t gpo = 0;
    uint64_t gpo_errors = 0;
    std::string last_status;
    uint64_t statuses = 0;
    uint64_t status_errors = 0;
    bool recording = false;
    std::vector<uint64_t> notifications;
    // The subscription is refused while the link is closed (at start, during an unplug): ask again.
    bool resubscribe = false;

    void on_message(std::string_view text)
    {
        const std::string_view msg = wsbench::message_name(text);
        if (msg == "error") {
            resubscribe = !have_sequence;
            return;
        }
        if (msg == "on_metering") {
            wsbench::MeteringStamp stamp;
            if (!wsbench::parse_metering_stamp(text, stamp)) {
                ++out_of_order;
                return;
            }
            if (have_sequence) {
                const uint16_t step = static_cast<uint16_t>(stamp.sequence - last_sequence);
                if (step == 0 || step > 0x8000)
                    ++out_of_order;
                else
                    lost += step - 1u;
            }
            have_sequence = true;
            last_sequence = stamp.sequence;
            ++metering;
            return;
        }
        if (msg == "on_device_status") {
            const std::string status =
                text.find("\"connected\"") != std::string_view::npos ? "connected" : "disconnected";
            if (status == last_status)
                ++status_errors;
            last_status = status;
            ++statuses;
            // After a reconnection the first GPO report fills the cache silently: the count starts again.
            have_gpo = false;
            recording = true;
        } else if (msg == "on_config_gpo") {
            double time = 0;
            if (wsbench::number_field(text, "time", time)) {
                const int t = static_cast<int>(time);
                if (have_gpo && t != ((last_gpo + 1) & 0xFF))
                    ++gpo_errors;
                have_gpo = true;
                last_gpo = t;
                ++gpo;
            }
        }
        if (recording)
            notifications.push_back(fnv1a(text));
    }
};

// A client that comes and goes.
struct Churner {
    Client client;
    int64_t next_action = 0;
    int64_t leave_at = 0;
};

struct UdpClient {
    int fd = -1;
    int64_t until = 0;
    int64_t next_send = 0;
};

struct Totals {
    uint64_t connects = 0;
    uint64_t failed_connects = 0;
    uint64_t valid_commands = 0;
    uint64_t invalid_commands = 0;
    uint64_t error_replies = 0;
    uint64_t replies = 0;
    uint64_t clean_leaves = 0;
    uint64_t abrupt_leaves = 0;
    uint64_t udp_sessions = 0;
    uint64_t udp_sent = 0;
    uint64_t udp_received = 0;
};

const std::vector<std::string> valid_commands = {
    R"({"msg":"set_on","data":{"mod1":"toggle"}})",
    R"({"msg":"set_on","data":{"mod5":"on"}})",
    R"({"msg":"set_on","data":{"mod5":"off"}})",
    R"({"msg":"set_cue","data":{"mod2":"toggle"}})",
    R"({"msg":"set_non_stop","data":"toggle"})",
    R"({"msg":"set_track","data":{"mod4":"play"}})",
    R"({"msg":"set_track","data":{"mod4":"stop"}})",
    R"({"msg":"set_ctrl_led","data":{"a1":"green"}})",
    R"({"msg":"set_ctrl_led","data":{"b2":{"color_on":"red","color_off":"off","blink_speed":"fast"}}})",
    R"({"msg":"set_config_cue_interlock","data":true})",
    R"({"msg":"set_config_cue_interlock","data":false})",
    R"({"msg":"subscribe","data":"metering"})",
    R"({"msg":"unsubscribe","data":"metering"})",
    R"({"msg":"get_subscriptions","data":null})",
    R"({"msg":"get_topics","data":null})",
    R"({"msg":"get_api_version","data":null})",
    R"({"msg":"get_firmware","data":null})",
    R"({"msg":"get_states","data":null})",
    R"({"msg":"get_config","data":null})",
    R"({"msg":"get_all","data":null})",
};

const std::vector<std::string> invalid_commands = {
    "not json at all",
    R"({"data":1})",
    R"({"msg":"set_on","data":{"mod9":"on"}})",
    R"({"msg":"set_on","data":{"mod1":"sideways"}})",
    R"({"msg":"set_on","data":"on"})",
    R"({"msg":"set_ctrl_led","data":{"a1":{"color_on":"purple"}}})",
    R"({"msg":"set_config_silence_detection","data":{"threshold":"loud"}})",
    R"({"msg":)",
    "[1,2,3]",
    "",
};

std::string read_file(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// VmRSS in kB, 0 when the process is gone.
long resident_kb(int pid)
{
    const std::string status = read_file("/proc/" + std::to_string(pid) + "/status");
    const size_t at = status.find("VmRSS:");
    return at == std::string::npos ? 0 : std::strtol(status.c_str() + at + 6, nullptr, 10);
}

bool alive(int pid)
{
    const std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
    const size_t paren = stat.rfind(')');
    return paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] != 'Z' && stat[paren + 2] != 'X';
}

long long stats_value(const std::string &path, const std::string &key)
{
    const std::string text = read_file(path);
    const size_t at = text.find(key + " ");
    return at == std::string::npos ? -1 : std::strtoll(text.c_str() + at + key.size() + 1, nullptr, 10);
}

int udp_socket(const char *address, uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    ::inet_pton(AF_INET, address, &a.sin_addr);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) < 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void send_datagram(int fd, uint16_t port, const std::string &bytes)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    ::inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
}

bool parse_options(int argc, char **argv, Options &o)
{
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const char *value = argv[i + 1];
        if (key == "--port")
            o.ws_port = static_cast<uint16_t>(std::atoi(value));
        else if (key == "--udp-listen")
            o.udp_listen = static_cast<uint16_t>(std::atoi(value));
        else if (key == "--udp-ports")
            std::sscanf(value, "%hu,%hu,%hu", &o.udp_ports[0], &o.udp_ports[1], &o.udp_ports[2]);
        else if (key == "--duration")
            o.duration_s = std::atoi(value);
        else if (key == "--rss-reference")
            o.rss_reference_s = std::atoi(value);
        else if (key == "--steady")
            o.steady = std::atoi(value);
        else if (key == "--churn")
            o.churn = std::atoi(value);
        else if (key == "--seed")
            o.seed = static_cast<unsigned>(std::atoi(value));
        else if (key == "--pid")
            o.app_pid = std::atoi(value);
        else if (key == "--app-log")
            o.app_log = value;
        else if (key == "--stats")
            o.stats = value;
        else
            return false;
    }
    return argc % 2 == 1 && o.app_pid > 0;
}

} // namespace

int main(int argc, char **argv)
{
    Options o;
    if (!parse_options(argc, argv, o)) {
        std::fprintf(
            stderr,
            "usage: %s --pid PID [--port WS] [--udp-listen P] [--udp-ports M,C,X] [--duration S]\n"
            "          [--rss-reference S] [--steady N] [--churn N] [--seed N] [--app-log FILE] [--stats FILE]\n",
            argv[0]);
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    std::mt19937 random(o.seed);
    const auto between = [&random](int64_t low, int64_t high) {
        return std::uniform_int_distribution<int64_t>(low, high)(random);
    };
    const int64_t start = monotonic_us();
    const auto since_start_s = [start] { return double(monotonic_us() - start) / 1e6; };
    std::vector<std::string> failures;

    const int epoll = ::epoll_create1(EPOLL_CLOEXEC);
    // Tags: 0..steady-1 steady clients, 1000+ churn, 3000+ UDP receivers.
    const auto watch = [epoll](int fd, uint64_t tag, uint32_t events) {
        epoll_event e{};
        e.events = events;
        e.data.u64 = tag;
        ::epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &e);
    };

    // Steady clients: connect (the application may still be starting) and subscribe.
    std::vector<std::unique_ptr<Steady>> steady;
    for (int i = 0; i < o.steady; ++i) {
        auto s = std::make_unique<Steady>();
        const int64_t give_up = monotonic_us() + 20'000'000;
        while (!s->client.open("127.0.0.1", o.ws_port, 2000) && monotonic_us() < give_up)
            ::usleep(100'000);
        if (!s->client.is_open()) {
            std::printf("soak FAIL: cannot connect to ws://127.0.0.1:%u\n", o.ws_port);
            return 1;
        }
        s->client.send_text(R"({"msg":"subscribe","data":"metering"})");
        watch(s->client.fd(), uint64_t(i), EPOLLIN);
        steady.push_back(std::move(s));
    }

    std::vector<Churner> churn(static_cast<size_t>(o.churn));
    for (auto &c : churn)
        c.next_action = start + between(0, 2'000'000);

    Client silent;
    bool silent_open = false;

    std::vector<UdpClient> udp(8);
    int receivers[3];
    for (int i = 0; i < 3; ++i) {
        receivers[i] = udp_socket("0.0.0.0", o.udp_ports[i]);
        if (receivers[i] >= 0)
            watch(receivers[i], 3000 + uint64_t(i), EPOLLIN);
    }
    const std::string keep_alive("\xA0\xA0KA", 4);
    // A request for the phone-ringing state: answered with a report that changes nothing.
    const std::string request(std::string("\xA0\xA0\x02\x6D", 4) + std::string(8, '\0'));
    const std::string garbage[] = {std::string("\x01\x02\x03\x04\x05", 5), std::string("\xA0\xA0", 2),
                                   std::string("\xA0\x0A\x4B\x41", 4)};

    Totals totals;
    long rss_reference = 0;
    long rss_peak = 0;
    bool app_died = false;
    double app_died_s = 0;
    int64_t next_check = start;
    const int64_t end = start + int64_t(o.duration_s) * 1'000'000;
    std::vector<epoll_event> events(256);

    while (monotonic_us() < end) {
        const int n = ::epoll_wait(epoll, events.data(), static_cast<int>(events.size()), 5);
        for (int k = 0; k < n; ++k) {
            const uint64_t tag = events[size_t(k)].data.u64;
            if (tag < 1000) {
                Steady &s = *steady[size_t(tag)];
                if (!s.client.read_available([&s](wsbench::Opcode, std::string_view text) { s.on_message(text); })) {
                    if (!s.closed)
                        failures.push_back("steady client " + std::to_string(tag) + " lost its connection at " +
                                           std::to_string(int(since_start_s())) + "s");
                    s.closed = true;
                    s.client.close(false);
                }
            } else if (tag < 2000) {
                Churner &c = churn[size_t(tag - 1000)];
                const bool open = c.client.read_available([&totals](wsbench::Opcode, std::string_view text) {
                    const std::string_view msg = wsbench::message_name(text);
                    if (msg == "error")
                        ++totals.error_replies;
                    else if (!msg.starts_with("on_"))
                        ++totals.replies;
                });
                if (!open) {
                    c.client.close(false);
                    c.next_action = monotonic_us() + between(0, 1'000'000);
                }
            } else {
                char buffer[256];
                while (::recv(receivers[tag - 3000], buffer, sizeof buffer, 0) > 0)
                    ++totals.udp_received;
            }
        }

        const int64_t now = monotonic_us();
        for (auto &s : steady) {
            if (s->resubscribe && !s->closed) {
                s->resubscribe = false;
                ::usleep(20'000);
                s->client.send_text(R"({"msg":"subscribe","data":"metering"})");
            }
        }
        // The churning clients.
        for (size_t i = 0; i < churn.size(); ++i) {
            Churner &c = churn[i];
            if (now < c.next_action)
                continue;
            if (!c.client.is_open()) {
                if (c.client.open("127.0.0.1", o.ws_port, 2000)) {
                    ++totals.connects;
                    watch(c.client.fd(), 1000 + i, EPOLLIN);
                    if (between(0, 1) == 1)
                        c.client.send_text(R"({"msg":"subscribe","data":"metering"})");
                    c.leave_at = now + between(200'000, 8'000'000);
                } else {
                    ++totals.failed_connects;
                }
                c.next_action = now + between(5'000, 300'000);
                continue;
            }
            if (now >= c.leave_at) {
                const bool clean = between(0, 1) == 1;
                ++(clean ? totals.clean_leaves : totals.abrupt_leaves);
                c.client.close(clean);
                c.next_action = now + between(0, 2'000'000);
                continue;
            }
            if (between(0, 9) < 7) {
                c.client.send_text(valid_commands[size_t(between(0, int64_t(valid_commands.size()) - 1))]);
                ++totals.valid_commands;
            } else if (between(0, 9) == 0) {
                c.client.send_frame(wsbench::Opcode::binary, "binary frames are dropped");
                ++totals.invalid_commands;
            } else {
                c.client.send_text(invalid_commands[size_t(between(0, int64_t(invalid_commands.size()) - 1))]);
                ++totals.invalid_commands;
            }
            c.next_action = now + between(5'000, 300'000);
        }

        // The client that never reads. Whether the application closed it is read from its log at the end: the
        // hang-up itself waits behind the unread data in the socket buffers.
        if (!silent_open && now >= start + int64_t(o.slow_client_at_s) * 1'000'000) {
            silent_open = silent.open("127.0.0.1", o.ws_port, 2000) &&
                          silent.send_text(R"({"msg":"subscribe","data":"metering"})");
            if (!silent_open)
                failures.push_back("the silent client could not connect");
        }

        // UDP clients from 127.0.0.2-9.
        for (size_t i = 0; i < udp.size(); ++i) {
            UdpClient &u = udp[i];
            if (u.fd < 0) {
                if (between(0, 4000) == 0) {
                    const std::string address = "127.0.0." + std::to_string(2 + i);
                    u.fd = udp_socket(address.c_str(), 0);
                    u.until = now + between(1'000'000, 40'000'000);
                    u.next_send = now;
                    ++totals.udp_sessions;
                }
                continue;
            }
            if (now >= u.until) {
                ::close(u.fd);
                u.fd = -1;
                continue;
            }
            if (now >= u.next_send) {
                const int64_t pick = between(0, 19);
                send_datagram(u.fd, o.udp_listen, pick < 16 ? keep_alive : pick < 18 ? request : garbage[pick - 18]);
                ++totals.udp_sent;
                u.next_send = now + between(200'000, 1'500'000);
            }
        }

        // Once a second: the application's health and memory.
        if (now >= next_check) {
            next_check = now + 1'000'000;
            if (!app_died && !alive(o.app_pid)) {
                app_died = true;
                app_died_s = since_start_s();
                break;
            }
            const long rss = resident_kb(o.app_pid);
            rss_peak = std::max(rss_peak, rss);
            if (rss_reference == 0 && now >= start + int64_t(o.rss_reference_s) * 1'000'000)
                rss_reference = rss;
        }
    }

    // Verdict.
    const long rss_end = resident_kb(o.app_pid);
    if (app_died || !alive(o.app_pid)) {
        failures.push_back("the application died at " + std::to_string(int(app_died_s)) + "s");
        app_died = true;
    }
    const long long emulator_metering = o.stats.empty() ? -1 : stats_value(o.stats, "metering_read");
    const long long unplugs = o.stats.empty() ? -1 : stats_value(o.stats, "unplugs");
    uint64_t metering_min = UINT64_MAX;
    for (size_t i = 0; i < steady.size(); ++i) {
        const Steady &s = *steady[i];
        const std::string who = "steady client " + std::to_string(i);
        metering_min = std::min(metering_min, s.metering);
        if (s.metering == 0)
            failures.push_back(who + " received no metering");
        if (s.lost)
            failures.push_back(who + " lost " + std::to_string(s.lost) + " metering notifications");
        if (s.out_of_order)
            failures.push_back(who + " received " + std::to_string(s.out_of_order) + " metering out of order");
        if (s.gpo_errors)
            failures.push_back(who + " missed or reordered " + std::to_string(s.gpo_errors) + " GPO notifications");
        if (s.status_errors)
            failures.push_back(who + " saw the same device status twice in a row");
        // The statistics file is up to a second old, so a client may also be ahead of it.
        if (emulator_metering >= 0 && s.have_sequence &&
            int16_t(uint16_t(emulator_metering - 1) - s.last_sequence) > 2000)
            failures.push_back(who + " fell behind the console by more than 2 s of metering");
        // Same notifications in the same order: the shorter record is a prefix of every longer one.
        const Steady &first = *steady.front();
        const size_t common = std::min(first.notifications.size(), s.notifications.size());
        for (size_t k = 0; k < common; ++k) {
            if (first.notifications[k] != s.notifications[k]) {
                failures.push_back(who + " and steady client 0 differ at notification " + std::to_string(k));
                break;
            }
        }
    }
    if (unplugs > 0 && !steady.empty() && steady.front()->statuses < 2 * uint64_t(unplugs) - 1)
        failures.push_back("fewer device status notices than unplugs");

    // The application's own account of closing the silent client, with its unsent bytes.
    long long silent_unsent = -1;
    if (!o.app_log.empty()) {
        const std::string log = read_file(o.app_log);
        const size_t at = log.find("WebSocket client too slow, closed:");
        if (at != std::string::npos) {
            const size_t bytes = log.find("unsent bytes:", at);
            if (bytes != std::string::npos)
                silent_unsent = std::strtoll(log.c_str() + bytes + 13, nullptr, 10);
        }
    }
    if (silent_open && silent_unsent < 0)
        failures.push_back("the client that never reads was not closed");
    else if (silent_unsent > static_cast<long long>(max_pending_output))
        failures.push_back("the client that never reads was closed past its bound");

    if (rss_reference > 0) {
        const double change = double(rss_end - rss_reference) / double(rss_reference);
        if (change > rss_tolerance || change < -rss_tolerance)
            failures.push_back("resident memory changed by " + std::to_string(int(change * 100)) + " %");
    } else if (!app_died) {
        failures.push_back("no memory reference (run shorter than the reference time)");
    }
    if (totals.connects == 0 || totals.valid_commands == 0)
        failures.push_back("the churning clients did nothing");
    if (totals.udp_sessions > 0 && totals.udp_received == 0)
        failures.push_back("no UDP datagram came back");

    uint64_t lost = 0, reordered = 0;
    for (const auto &s : steady) {
        lost += s->lost;
        reordered += s->out_of_order + s->gpo_errors;
    }
    std::printf("soak %s: %ds, app %s; %zu steady clients: >= %" PRIu64 " metering each (console read %lld), "
                "%" PRIu64 " lost, %" PRIu64 " out of order, %" PRIu64 " GPO and %" PRIu64
                " status notices in order; churn: %" PRIu64 " connects, %" PRIu64 " valid + %" PRIu64
                " invalid commands, %" PRIu64 " errors, %" PRIu64
                " replies; never-reading client closed with %lld unsent bytes; UDP: %" PRIu64 " sessions, %" PRIu64
                " sent, %" PRIu64 " received; unplugs %lld; RSS %ld kB at %ds, %ld kB at end, peak %ld kB",
                failures.empty() ? "PASS" : "FAIL", o.duration_s, app_died ? "DIED" : "alive", steady.size(),
                metering_min == UINT64_MAX ? 0 : metering_min, emulator_metering, lost, reordered,
                steady.empty() ? 0 : steady.front()->gpo, steady.empty() ? 0 : steady.front()->statuses,
                totals.connects, totals.valid_commands, totals.invalid_commands, totals.error_replies, totals.replies,
                silent_unsent, totals.udp_sessions, totals.udp_sent, totals.udp_received, unplugs, rss_reference,
                o.rss_reference_s, rss_end, rss_peak);
    std::printf("\n");
    for (const std::string &f : failures)
        std::printf("soak failure: %s\n", f.c_str());
    return failures.empty() ? 0 : 1;
}
