// The cost of one auto-connect attempt with no console present, on the system hidapi (hidraw backend): what
// CUSBHID::start() spends every 100 ms while the console is unplugged. Prints microseconds per hid_open and
// the share of a core that ten attempts a second take. The emulated console cannot show this cost.
#include "usb/usbids.h"

#include <hidapi.h>

#include <chrono>
#include <cstdio>
#include <ctime>

namespace {
double cpu_seconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}
} // namespace

int main()
{
    constexpr int attempts = 500;
    int opened = 0;
    const auto wall_start = std::chrono::steady_clock::now();
    const double cpu_start = cpu_seconds();
    for (int i = 0; i < attempts; ++i) {
        // As the link does it: open, and on failure nothing; hid_exit follows only a close.
        if (hid_device *device = hid_open(korvel::usb::vendor_id, korvel::usb::product_id, nullptr)) {
            ++opened;
            hid_close(device);
            hid_exit();
        }
    }
    const double cpu = cpu_seconds() - cpu_start;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();
    hid_exit();
    std::printf("hid_open attempts=%d opened=%d cpu_us_per_attempt=%.1f wall_us_per_attempt=%.1f "
                "cpu_percent_at_10_per_second=%.3f\n",
                attempts, opened, cpu / attempts * 1e6, wall / attempts * 1e6, cpu / attempts * 10 * 100);
    return 0;
}
