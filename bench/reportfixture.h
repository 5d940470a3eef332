#pragma once
// The decoder and notification path of one process, as the application wires it: the emulated device link,
// the console object and the WebSocket interface listening on a free loopback port, with N WebSocket clients
// that read and discard everything in a thread of their own (so the server's sends really reach a socket and
// the clients' cost is not in the main thread's figures).

#include "console/ckorvel.h"
#include "usb/cusbhid.h"
#include "websocket/cwebsocketinterface.h"

#include <QByteArray>
#include <QElapsedTimer>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace bench {

// The reports of the benchmark cases.
QByteArray state_report_on(int module_byte_value);
QByteArray metering_report(unsigned char level);

class ReportFixture {
public:
    // clients connect and, when subscribe is set, subscribe to "metering" (at metering_interval ms, when not 0);
    // returns once every client has received a first metering notification (or, without subscriptions, once all
    // are connected).
    ReportFixture(int clients, bool subscribe, int metering_interval = 0);
    ~ReportFixture();
    ReportFixture(const ReportFixture &) = delete;
    ReportFixture &operator=(const ReportFixture &) = delete;

    // One report as the poll timer hands it on, then one pass of the event loop, which sends what the
    // report queued for the clients.
    void deliver(const QByteArray &report);
    CKorvel &console() { return korvel; }
    // Frames the clients have read so far.
    long long frames_read() const { return frames.load(); }
    // Waits (running the event loop) until the clients have read at least n frames; false on timeout.
    bool wait_for_frames(long long n, int timeout_ms = 10000);
    // Runs the event loop until the clients have read nothing more for 200 ms.
    void settle();
    // Runs the event loop until ms milliseconds after the last call (or the construction): paces reports at
    // the console's rate, so that the clients' metering intervals end as they would in operation.
    void wait_for_next(int ms);

private:
    void drain(int clients, bool subscribe, int metering_interval);

    CUSBHID usb;
    CKorvel korvel;
    CWebSocketInterface websocket;
    std::thread reader;
    std::atomic<bool> stop{false};
    std::atomic<int> connected{0};
    std::atomic<int> subscribed_seen{0};
    std::atomic<long long> frames{0};
    QElapsedTimer pace;
    qint64 next_ms = 0;
};

} // namespace bench
