// Saves a picture of the settings window with the application running on the emulated console: the link open,
// two WebSocket clients and one UDP client connected, some reports counted each way.
// Usage: korvel-screenshot [--any-ports] OUTPUT.png
// Without --any-ports the window shows its first-start state with the default ports, which must be free.
#include "emulatedapp.h"
#include "jsonclient.h"

#include "app/mainwindow.h"
#include "udp/cudpinterface.h"
#include "websocket/cwebsocketinterface.h"

#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

namespace {

int fail(const char *what)
{
    std::fprintf(stderr, "korvel-screenshot: %s\n", what);
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    const auto settings_dir = e2e::isolate_settings();
    QApplication application(argc, argv);
    QStringList args = QApplication::arguments().mid(1);
    const bool any_ports = args.removeAll(QStringLiteral("--any-ports")) > 0;
    if (args.size() != 1)
        return fail("usage: korvel-screenshot [--any-ports] OUTPUT.png");

    e2e::EmulatedApp app(true, nullptr, !any_ports);
    MainWindow &window = *app.window;
    if (!window.websocket_interface()->is_listening() || window.udp_interface()->bound_port() == 0)
        return fail("the WebSocket or UDP port is taken: is Korvel Control running?");
    if (!app.wait_until_synchronised())
        return fail("the emulated console did not connect");

    e2e::JsonClient studio;
    e2e::JsonClient meters;
    if (!studio.open(app.ports.websocket) || !meters.open(app.ports.websocket))
        return fail("the WebSocket clients could not connect");
    e2e::UdpClient udp;
    udp.send(QByteArray::fromHex("A0A04B41"), app.ports.udp_listen);
    if (!QTest::qWaitFor([&] { return window.udp_interface()->client_count() == 1; }, 10000))
        return fail("the UDP client was not registered");

    // A little of a studio's day: a module switched on from the network, a fader moved, the meters running.
    meters.send(QStringLiteral(R"({"msg": "subscribe", "data": ["metering"]})"));
    studio.send(QStringLiteral(R"({"msg": "set_on", "data": {"mod1": "on"}})"));
    if (studio.wait_for("on_on").isEmpty())
        return fail("the console did not switch module 1 on");
    app.model.move_fader(0, true);
    app.model.set_metering_rate(50);
    if (meters.wait_for("on_metering").isEmpty() || meters.wait_for("on_metering").isEmpty())
        return fail("no meters");
    app.model.set_metering_rate(0);
    if (!app.wait_until_drained())
        return fail("the console's reports were not read");

    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return fail("the window was not shown");
    // grab() renders the window as it is now, labels included: no need to wait for a repaint.
    const QImage image = window.grab().toImage();
    if (image.isNull() || !image.save(args.first(), "PNG"))
        return fail("cannot save the picture");
    std::printf("%s: %dx%d\n", qPrintable(args.first()), image.width(), image.height());
    return 0;
}
