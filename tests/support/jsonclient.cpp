#include "jsonclient.h"

#include "websocket/cwebsocketinterface.h"

#include <QJsonDocument>
#include <QTest>
#include <QUrl>

#include <algorithm>

namespace e2e {

namespace {

// Not a name the application ever sends.
const QString marker_msg = QStringLiteral("e2e_sync_marker");

int marker_id(const QString &text)
{
    const QJsonObject object = parse(text);
    return object.value(QLatin1String("msg")).toString() == marker_msg ? object.value(QLatin1String("data")).toInt()
                                                                       : -1;
}

} // namespace

QJsonObject parse(const QString &text)
{
    return QJsonDocument::fromJson(text.toUtf8()).object();
}

JsonClient::JsonClient(QObject *parent)
    : QObject(parent)
{
    connect(&socket, &QWebSocket::textMessageReceived, this, [this](const QString &text) { received.append(text); });
}

bool JsonClient::open(quint16 port, int timeout_ms)
{
    socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(port)));
    return QTest::qWaitFor([this] { return socket.state() == QAbstractSocket::ConnectedState; }, timeout_ms);
}

void JsonClient::send(const QJsonObject &message)
{
    send(QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
}

QStringList JsonClient::texts() const
{
    QStringList result;
    for (const QString &text : received) {
        if (marker_id(text) < 0)
            result.append(text);
    }
    return result;
}

QList<QJsonObject> JsonClient::messages() const
{
    QList<QJsonObject> result;
    for (const QString &text : texts())
        result.append(parse(text));
    return result;
}

QList<QJsonObject> JsonClient::messages(const QString &msg) const
{
    QList<QJsonObject> result;
    for (const QJsonObject &message : messages()) {
        if (message.value(QLatin1String("msg")).toString() == msg)
            result.append(message);
    }
    return result;
}

QJsonObject JsonClient::wait_for(const QString &msg, int timeout_ms)
{
    const int index = taken.value(msg);
    if (!QTest::qWaitFor([&] { return messages(msg).size() > index; }, timeout_ms))
        return {};
    taken[msg] = index + 1;
    return messages(msg).at(index);
}

bool JsonClient::has_marker(int id) const
{
    return std::any_of(received.cbegin(), received.cend(), [id](const QString &text) { return marker_id(text) == id; });
}

bool sync_clients(CWebSocketInterface &server, const QList<JsonClient *> &clients, QWebSocket *target, int timeout_ms)
{
    static int next_id = 0;
    const int id = next_id++;
    server.sendJSON(QJsonObject{{"data", id}, {"msg", marker_msg}}, QString(), target);
    return QTest::qWaitFor(
        [&] {
            return std::all_of(clients.cbegin(), clients.cend(), [id](JsonClient *c) { return c->has_marker(id); });
        },
        timeout_ms);
}

} // namespace e2e
