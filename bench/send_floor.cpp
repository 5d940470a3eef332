// The floor under the end-to-end CPU figure: what the kernel alone takes on this machine to send one
// notification-sized frame to each of N loopback TCP connections every millisecond, one write per connection,
// as the application must (one frame per message, sent at once). A reader thread drains the connections. Prints
// the sending thread's share of a core (user and system).
//
//   korvel-send-floor [CONNECTIONS] [SECONDS] [BYTES]     defaults 100, 10, 250
#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {
double now_seconds()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}
double seconds_of(const timeval &t)
{
    return double(t.tv_sec) + double(t.tv_usec) / 1e6;
}
} // namespace

int main(int argc, char **argv)
{
    const int connections = argc > 1 ? std::atoi(argv[1]) : 100;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 10;
    const int bytes = argc > 3 ? std::atoi(argv[3]) : 250;

    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address);
    listen(listener, connections);
    socklen_t length = sizeof address;
    getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length);

    std::vector<int> readers, writers;
    const int one = 1;
    for (int i = 0; i < connections; ++i) {
        const int client = socket(AF_INET, SOCK_STREAM, 0);
        connect(client, reinterpret_cast<sockaddr *>(&address), sizeof address);
        readers.push_back(client);
        const int server = accept(listener, nullptr, nullptr);
        setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        writers.push_back(server);
    }

    std::atomic<bool> stop{false};
    std::thread reader([&] {
        const int epoll = epoll_create1(0);
        for (const int fd : readers) {
            epoll_event e{};
            e.events = EPOLLIN;
            e.data.fd = fd;
            epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &e);
        }
        char buffer[65536];
        epoll_event events[128];
        while (!stop) {
            const int n = epoll_wait(epoll, events, 128, 10);
            for (int k = 0; k < n; ++k)
                while (recv(events[k].data.fd, buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
                }
        }
    });

    const std::vector<char> frame(static_cast<size_t>(bytes), 'x');
    rusage before{}, after{};
    getrusage(RUSAGE_THREAD, &before);
    const double start = now_seconds();
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    long rounds = 0;
    while (now_seconds() - start < seconds) {
        for (const int fd : writers)
            send(fd, frame.data(), frame.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        ++rounds;
        next.tv_nsec += 1000000;
        if (next.tv_nsec >= 1000000000) {
            next.tv_nsec -= 1000000000;
            ++next.tv_sec;
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
    }
    const double wall = now_seconds() - start;
    getrusage(RUSAGE_THREAD, &after);
    stop = true;
    reader.join();
    const double user = seconds_of(after.ru_utime) - seconds_of(before.ru_utime);
    const double system = seconds_of(after.ru_stime) - seconds_of(before.ru_stime);
    std::printf("send_floor connections=%d frame_bytes=%d rounds_per_second=%.0f sends_per_second=%.0f "
                "cpu_percent=%.1f user_percent=%.1f system_percent=%.1f us_per_send=%.2f\n",
                connections, bytes, rounds / wall, rounds * connections / wall, 100 * (user + system) / wall,
                100 * user / wall, 100 * system / wall, 1e6 * (user + system) / double(rounds * connections));
    return 0;
}
