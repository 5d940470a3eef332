// The floor under the idle figures: what a 1 ms timer alone costs on this machine. Runs for SECONDS (default
// 20) and prints the share of a core used by (a) a Qt event loop whose only work is a 1 ms timer with an empty
// slot, (b) a bare loop of 1 ms sleeps. The application with the link open and no traffic does what (a) does
// plus one hid_read per tick.
#include <QCoreApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {
double cpu_seconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}
double wall_seconds()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 20;

    long ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    double cpu = cpu_seconds();
    double wall = wall_seconds();
    timer.start(1);
    app.exec();
    cpu = cpu_seconds() - cpu;
    wall = wall_seconds() - wall;
    std::printf("qt_1ms_timer ticks_per_second=%.0f cpu_percent=%.2f\n", double(ticks) / wall, 100 * cpu / wall);

    cpu = cpu_seconds();
    wall = wall_seconds();
    long sleeps = 0;
    const timespec one_ms{0, 1000000};
    while (wall_seconds() - wall < seconds) {
        nanosleep(&one_ms, nullptr);
        ++sleeps;
    }
    cpu = cpu_seconds() - cpu;
    wall = wall_seconds() - wall;
    std::printf("bare_1ms_sleep wakeups_per_second=%.0f cpu_percent=%.2f\n", double(sleeps) / wall, 100 * cpu / wall);
    return 0;
}
