// Instruction counts of the MQTT bridge for valgrind's callgrind (tools/bench.sh mqtt): the emulated console's
// complete state behind the device link, the WebSocket interface without clients, the broker connection to a
// Mosquitto started here and the bridge, then exactly COUNT metering reports (one a millisecond of the console's
// time) with a state change every tenth, each followed by one pass of the event loop. A subscriber in a thread
// of its own reads every topic, so the publications really leave. Only run_reports() is measured
// (--toggle-collect, --separate-threads=yes: the main thread's file).
//
//   korvel-mqtt-cost RATE COUNT      RATE: the bridge's metering rate (0 = every report); "none": the same
//                                    stack without the bridge, the figure the bridge adds to
#include "console/ckorvel.h"
#include "emulator/consolemodel.h"
#include "emulator/emulateddevice.h"
#include "mqtt/bridge.h"
#include "mqtt/client.h"
#include "usb/cusbhid.h"
#include "usb/usbids.h"
#include "websocket/cwebsocketinterface.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>

#include <mosquitto.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>

namespace {

std::atomic<long long> received{0};

QByteArray metering_report(unsigned char level)
{
    QByteArray report(8, static_cast<char>(level));
    report[0] = 8;
    report[1] = static_cast<char>(0xF0);
    return report;
}

// The state report of the modules' ON keys with module 1 on or off.
QByteArray state_report_on(bool on)
{
    QByteArray report(10, '\0');
    report[0] = 10;
    report[1] = static_cast<char>(0xE0);
    report[2] = static_cast<char>(on ? 1 : 0);
    return report;
}

void run_until(const std::function<bool()> &done, int timeout_ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeout_ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// Not inlined: callgrind switches collection on and off at its entry and exit.
[[gnu::noinline]] void run_reports(CKorvel &console, int count)
{
    for (int i = 0; i < count; ++i) {
        // A meter that moves, as a programme does.
        console.on_data_ready(metering_report(static_cast<unsigned char>(0x20 + i % 17)));
        if (i % 10 == 0)
            console.on_data_ready(state_report_on((i / 10) % 2 == 0));
        QCoreApplication::processEvents();
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s RATE COUNT\n", argv[0]);
        return 2;
    }
    const bool with_bridge = std::strcmp(argv[1], "none") != 0;
    const int rate = with_bridge ? std::atoi(argv[1]) : -1;
    const int count = std::atoi(argv[2]);

    // A broker of its own on a free loopback port.
    QTemporaryDir dir;
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    QFile conf(dir.filePath("mosquitto.conf"));
    if (!conf.open(QIODevice::WriteOnly))
        return 1;
    conf.write("user root\npersistence false\nlistener " + QByteArray::number(port) +
               " 127.0.0.1\nallow_anonymous true\n");
    conf.close();
    QProcess broker;
    broker.start(QStandardPaths::findExecutable("mosquitto", {"/usr/sbin", "/usr/bin"}), {"-c", conf.fileName()});
    if (!broker.waitForStarted())
        return 1;
    QThread::msleep(500);

    mosquitto_lib_init();
    mosquitto *reader = mosquitto_new(nullptr, true, nullptr);
    mosquitto_message_callback_set(reader, [](mosquitto *, void *, const mosquitto_message *) { ++received; });
    if (mosquitto_connect(reader, "127.0.0.1", port, 60) != MOSQ_ERR_SUCCESS) {
        std::fprintf(stderr, "no broker\n");
        return 1;
    }
    mosquitto_subscribe(reader, nullptr, "bench/#", 1);
    mosquitto_loop_start(reader);

    emulator::ConsoleModel model;
    auto &device = emulator::EmulatedDevice::instance();
    device.reset();
    device.set_present(true);
    device.set_model(&model);
    CUSBHID usb(nullptr, korvel::usb::vendor_id, korvel::usb::product_id);
    CKorvel console(&usb, nullptr);
    CWebSocketInterface websocket(&console, nullptr);
    korvel::mqtt::Client mqtt(nullptr);
    std::unique_ptr<korvel::mqtt::Bridge> bridge;
    if (with_bridge) {
        bridge = std::make_unique<korvel::mqtt::Bridge>(&console, &mqtt, nullptr);
        bridge->set_metering_rate(rate);
    }
    korvel::mqtt::Settings settings;
    settings.host = QStringLiteral("127.0.0.1");
    settings.port = port;
    settings.prefix = QStringLiteral("bench/studio");
    mqtt.set_settings(settings);
    mqtt.start();
    usb.start();
    run_until([&] { return mqtt.state() == korvel::mqtt::Client::State::Connected && websocket.state_complete(); },
              20000);
    run_until([&] { return mqtt.outgoing().empty() && (!bridge || mqtt.state_cache().size() >= 38); }, 20000);
    if (bridge && mqtt.state_cache().size() < 38) {
        std::fprintf(stderr, "state not published\n");
        return 1;
    }
    // The reports come from here alone: the device link's own polling finds nothing more to read.
    device.set_model(nullptr);
    run_until([] { return false; }, 300);

    const long long before = received.load();
    run_reports(console, count);
    // Until nothing more arrives for 300 ms.
    for (long long seen = -1; seen != received.load();) {
        seen = received.load();
        run_until([] { return false; }, 300);
    }
    std::printf("rate=%d reports=%d state_changes=%d published=%lld dropped=%llu\n", rate, count, (count + 9) / 10,
                received.load() - before, static_cast<unsigned long long>(mqtt.outgoing().dropped()));

    mosquitto_loop_stop(reader, true);
    mosquitto_destroy(reader);
    broker.terminate();
    broker.waitForFinished();
    return 0;
}
