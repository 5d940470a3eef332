#include "exchangerecorder.h"

#include "app/mainwindow.h"
#include "emulator/emulateddevice.h"
#include "usb/cusbhid.h"
#include "websocket/cwebsocketinterface.h"

#include <QTest>
#include <QWebSocket>

namespace e2e {

namespace {

// Longer USB records (the start-up requests and their answers) are summed up instead of listed.
constexpr int max_usb_lines = 24;

emulator::EmulatedDevice &device()
{
    return emulator::EmulatedDevice::instance();
}

QString hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

QString fenced(const QString &language, const QString &body)
{
    QString text = body;
    if (!text.endsWith(QLatin1Char('\n')))
        text += QLatin1Char('\n');
    return QStringLiteral("```%1\n%2```\n\n").arg(language, text);
}

} // namespace

ExchangeRecorder::ExchangeRecorder(EmulatedApp &app, QObject *parent)
    : QObject(parent)
    , app(app)
{
    CUSBHID *link = app.window->device_link();
    connect(link, &CUSBHID::data_ready, this, [this](const QByteArray &report) { usb_record.append({false, report}); });
    // TX follows every write; the report number the link puts in front is left out, as the protocol frames it.
    connect(link, &CUSBHID::TX, this, [this] {
        if (!device().writes().isEmpty())
            usb_record.append({true, device().writes().last().mid(1)});
    });
}

bool ExchangeRecorder::connect_clients()
{
    if (!a.open(app.ports.websocket) || !b.open(app.ports.websocket)) {
        failure = QStringLiteral("the clients could not connect on port %1").arg(app.ports.websocket);
        return false;
    }
    watch_server_side();
    return true;
}

bool ExchangeRecorder::connect_client_c()
{
    const QSet<QWebSocket *> before = watched;
    if (!c.open(app.ports.websocket)) {
        failure = QStringLiteral("client C could not connect on port %1").arg(app.ports.websocket);
        return false;
    }
    // The server has made C's side by the time the handshake is done.
    watch_server_side();
    for (QWebSocket *socket : std::as_const(watched)) {
        if (!before.contains(socket))
            c_server_side = socket;
    }
    if (!c_server_side) {
        failure = QStringLiteral("client C has no connection on the server");
        return false;
    }
    return true;
}

void ExchangeRecorder::heading(const QString &text)
{
    out += QStringLiteral("## %1\n\n").arg(text);
}

void ExchangeRecorder::paragraph(const QString &text)
{
    out += text + QStringLiteral("\n\n");
}

// Counts the messages the server has handled: these slots run after the application's own.
void ExchangeRecorder::watch_server_side()
{
    for (QWebSocket *socket : app.window->findChildren<QWebSocket *>()) {
        if (watched.contains(socket))
            continue;
        watched.insert(socket);
        connect(socket, &QWebSocket::textMessageReceived, this, [this] { ++handled; });
        connect(socket, &QObject::destroyed, this, [this, socket] { watched.remove(socket); });
    }
}

bool ExchangeRecorder::settle(int expected_handled, const QString &title)
{
    if (!QTest::qWaitFor([&] { return handled >= expected_handled; }, 10000)) {
        failure = QStringLiteral("%1: the application did not handle the messages").arg(title);
        return false;
    }
    if (!app.wait_until_drained()) {
        failure = QStringLiteral("%1: the console's answers were not read").arg(title);
        return false;
    }
    if (!sync_clients(*app.window->websocket_interface(), {&a, &b})) {
        failure = QStringLiteral("%1: the clients did not receive everything").arg(title);
        return false;
    }
    // Until it has authenticated, C is left out of what goes to every client, so it gets a marker of its own.
    if (c_server_side && !sync_clients(*app.window->websocket_interface(), {&c}, c_server_side)) {
        failure = QStringLiteral("%1: client C did not receive everything").arg(title);
        return false;
    }
    return true;
}

bool ExchangeRecorder::exchange(const QString &title, const QString &explanation, const QStringList &sent,
                                const std::function<bool()> &action)
{
    watch_server_side();
    a.clear();
    b.clear();
    c.clear();
    usb_record.clear();
    device().clear_writes();

    const int expected_handled = handled + static_cast<int>(sent.size());
    JsonClient &sender = c_server_side ? c : a;
    for (const QString &text : sent)
        sender.send(text);
    if (action && !action()) {
        failure = QStringLiteral("%1: the console did not do what was asked").arg(title);
        return false;
    }
    if (!settle(expected_handled, title))
        return false;

    out += QStringLiteral("### %1\n\n").arg(title);
    if (!explanation.isEmpty())
        out += explanation + QStringLiteral("\n\n");
    if (!sent.isEmpty())
        out += QStringLiteral("Client %1 sends:\n\n").arg(c_server_side ? QStringLiteral("C") : QStringLiteral("A")) +
               fenced("json", sent.join(QLatin1Char('\n')));

    write_usb();

    const QStringList received_a = a.texts();
    const QStringList received_b = b.texts();
    write_received(QStringLiteral("A"), received_a, nullptr);
    write_received(QStringLiteral("B"), received_b, &received_a);
    if (c_server_side)
        write_received(QStringLiteral("C"), c.texts(), nullptr);
    return true;
}

void ExchangeRecorder::write_usb()
{
    QStringList lines;
    int to_console = 0;
    for (const UsbReport &report : std::as_const(usb_record)) {
        to_console += report.to_console ? 1 : 0;
        lines.append((report.to_console ? QStringLiteral("to console    ") : QStringLiteral("from console  ")) +
                     hex(report.bytes));
    }
    if (lines.isEmpty()) {
        out += QStringLiteral("No report crosses the USB link.\n\n");
    } else if (lines.size() > max_usb_lines) {
        out += QStringLiteral("On the USB link: %1 reports to the console, %2 from it.\n\n")
                   .arg(to_console)
                   .arg(lines.size() - to_console);
    } else {
        out += QStringLiteral("On the USB link (reports as framed, without the report number):\n\n") +
               fenced("text", lines.join(QLatin1Char('\n')));
    }
}

void ExchangeRecorder::write_received(const QString &client, const QStringList &texts, const QStringList *same_as)
{
    if (texts.isEmpty()) {
        out += QStringLiteral("Client %1 receives nothing.\n\n").arg(client);
        return;
    }
    if (same_as && *same_as == texts) {
        out += QStringLiteral("Client %1 receives the same.\n\n").arg(client);
        return;
    }
    // Each message is one text frame ending in a line feed; a blank line separates them here.
    out += QStringLiteral("Client %1 receives:\n\n").arg(client) + fenced("json", texts.join(QLatin1Char('\n')));
}

} // namespace e2e
