#include "reportfixture.h"

#include "emulator/emulateddevice.h"
#include "usb/usbids.h"
#include "wsclient.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/epoll.h>

namespace bench {

QByteArray state_report_on(int module_byte_value)
{
    QByteArray report(10, '\0');
    report[0] = 10;
    report[1] = static_cast<char>(0xE0);
    report[2] = static_cast<char>(module_byte_value);
    return report;
}

QByteArray metering_report(unsigned char level)
{
    QByteArray report(8, static_cast<char>(level));
    report[0] = 8;
    report[1] = static_cast<char>(0xF0);
    return report;
}

ReportFixture::ReportFixture(int clients, bool subscribe, int metering_interval)
    : usb(nullptr, korvel::usb::vendor_id, korvel::usb::product_id)
    , korvel(&usb, nullptr)
    , websocket(&korvel, nullptr)
{
    emulator::EmulatedDevice::instance().reset();
    usb.start();
    // Every client comes from loopback: past the per-address bound the hundred-client case would lose some.
    websocket.set_connection_limits(0, clients + 1);
    websocket.setPort(0);
    if (!websocket.is_listening()) {
        std::fprintf(stderr, "cannot listen on loopback\n");
        std::exit(1);
    }
    // The start-up requests' answers would fill the cache; here the cases fill it themselves.
    emulator::EmulatedDevice::instance().clear_input();
    if (clients == 0)
        return;
    reader =
        std::thread([this, clients, subscribe, metering_interval] { drain(clients, subscribe, metering_interval); });
    QElapsedTimer waited;
    waited.start();
    while ((connected.load() < clients || websocket.client_count() < clients) && waited.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    if (websocket.client_count() < clients) {
        std::fprintf(stderr, "only %d of %d clients connected\n", websocket.client_count(), clients);
        std::exit(1);
    }
    if (!subscribe)
        return;
    // Subscriptions are in once every client has received a metering notification.
    while (subscribed_seen.load() < clients && waited.elapsed() < 20000) {
        deliver(metering_report(0x32));
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    if (subscribed_seen.load() < clients) {
        std::fprintf(stderr, "only %d of %d clients subscribed\n", subscribed_seen.load(), clients);
        std::exit(1);
    }
}

ReportFixture::~ReportFixture()
{
    stop = true;
    if (reader.joinable())
        reader.join();
}

void ReportFixture::deliver(const QByteArray &report)
{
    korvel.on_data_ready(report);
    QCoreApplication::processEvents();
}

bool ReportFixture::wait_for_frames(long long n, int timeout_ms)
{
    QElapsedTimer waited;
    waited.start();
    while (frames.load() < n && waited.elapsed() < timeout_ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    return frames.load() >= n;
}

void ReportFixture::settle()
{
    QElapsedTimer quiet;
    quiet.start();
    long long last = frames.load();
    while (quiet.elapsed() < 200) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        if (frames.load() != last) {
            last = frames.load();
            quiet.restart();
        }
    }
}

void ReportFixture::wait_for_next(int ms)
{
    if (!pace.isValid())
        pace.start();
    next_ms += ms;
    // A pass slower than the pace is not made up for: the next report follows at once.
    if (const qint64 remaining = next_ms - pace.elapsed(); remaining > 0) {
        QEventLoop loop;
        QTimer::singleShot(int(remaining), Qt::PreciseTimer, &loop, &QEventLoop::quit);
        loop.exec();
    }
    next_ms = std::max(next_ms, pace.elapsed());
}

void ReportFixture::drain(int clients, bool subscribe, int metering_interval)
{
    const quint16 port = websocket.listening_port();
    std::vector<std::unique_ptr<wsbench::Client>> sockets;
    std::vector<bool> seen(static_cast<size_t>(clients), false);
    const int epoll = epoll_create1(EPOLL_CLOEXEC);
    for (int i = 0; i < clients; ++i) {
        auto client = std::make_unique<wsbench::Client>();
        if (!client->open("127.0.0.1", port, 10000)) {
            std::fprintf(stderr, "client %d cannot connect\n", i);
            std::exit(1);
        }
        if (subscribe)
            client->send_text(R"({"msg":"subscribe","data":"metering"})");
        if (subscribe && metering_interval > 0)
            client->send_text(R"({"msg":"set_metering_interval","data":)" + std::to_string(metering_interval) + "}");
        epoll_event e{};
        e.events = EPOLLIN;
        e.data.u32 = static_cast<uint32_t>(i);
        epoll_ctl(epoll, EPOLL_CTL_ADD, client->fd(), &e);
        sockets.push_back(std::move(client));
        ++connected;
    }
    epoll_event events[64];
    while (!stop.load()) {
        const int n = epoll_wait(epoll, events, 64, 10);
        for (int k = 0; k < n; ++k) {
            const uint32_t i = events[k].data.u32;
            sockets[i]->read_available([&](wsbench::Opcode, std::string_view text) {
                ++frames;
                if (!seen[i] && wsbench::message_name(text) == "on_metering") {
                    seen[i] = true;
                    ++subscribed_seen;
                }
            });
        }
    }
}

} // namespace bench
