#include "wstestclient.h"

#include "console/ckorvel.h"
#include "usb/cusbhid.h"
#include "usb/usbids.h"
#include "websocket/cwebsocketinterface.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <QUrl>

namespace {
const QString barrier_msg = QStringLiteral("test_barrier");
constexpr int wait_ms = 10000;

int barrier_id(const QString &text)
{
    const QJsonObject object = QJsonDocument::fromJson(text.toUtf8()).object();
    return object.value(QLatin1String("msg")).toString() == barrier_msg ? object.value(QLatin1String("data")).toInt()
                                                                        : -1;
}
} // namespace

WsTestClient::WsTestClient(QObject *parent)
    : QObject(parent)
{
    connect(&socket, &QWebSocket::textMessageReceived, this, [this](const QString &text) { texts.append(text); });
}

bool WsTestClient::open(quint16 port)
{
    socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(port)));
    return QTest::qWaitFor([this] { return socket.state() == QAbstractSocket::ConnectedState; }, wait_ms);
}

bool WsTestClient::close()
{
    socket.close();
    return QTest::qWaitFor([this] { return socket.state() == QAbstractSocket::UnconnectedState; }, wait_ms);
}

QString WsTestClient::ask(const QString &text)
{
    const qsizetype before = texts.size();
    send(text);
    if (!QTest::qWaitFor([&] { return texts.size() > before; }, wait_ms))
        return QString();
    return texts.at(before);
}

QStringList WsTestClient::take()
{
    QStringList result;
    for (const QString &text : std::as_const(texts)) {
        if (barrier_id(text) < 0)
            result.append(text);
    }
    texts.clear();
    return result;
}

bool WsTestClient::has_barrier(int id) const
{
    return std::any_of(texts.cbegin(), texts.cend(), [id](const QString &text) { return barrier_id(text) == id; });
}

bool sync_clients(CWebSocketInterface &ws, const QList<WsTestClient *> &clients)
{
    static int next_id = 0;
    const int id = next_id++;
    ws.sendJSON(QJsonObject{{"data", id}, {"msg", barrier_msg}}, QString(), nullptr);
    return QTest::qWaitFor(
        [&] { return std::all_of(clients.cbegin(), clients.cend(), [id](auto *c) { return c->has_barrier(id); }); },
        wait_ms);
}

WsRig::WsRig()
    : link(std::make_unique<CUSBHID>(nullptr, korvel::usb::vendor_id, korvel::usb::product_id))
    , console(std::make_unique<CKorvel>(link.get(), nullptr))
    , ws(std::make_unique<CWebSocketInterface>(console.get(), nullptr))
{
    ws->setPort(0);
}

WsRig::~WsRig()
{
    ws.reset();
    console.reset();
    link->stop();
}

quint16 WsRig::port() const
{
    return ws->listening_port();
}

QByteArray input_report(unsigned char type, const QByteArray &payload)
{
    QByteArray report;
    report.append(static_cast<char>(payload.size() + 2));
    report.append(static_cast<char>(type));
    report.append(payload);
    return report;
}
