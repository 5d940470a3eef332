// The server, its clients and the delivery of every outgoing message.
#include "websocket/cwebsocketinterface.h"

#include "console/ckorvel.h"
#include "usb/cusbhid.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QDebug>
#include <QHostAddress>
#include <QJsonDocument>
#include <QMetaMethod>
#include <QWebSocket>
#include <QWebSocketServer>

CWebSocketInterface::CWebSocketInterface(CKorvel *console, QObject *parent)
    : QObject(parent)
    , server(nullptr)
    , console(console)
{
    // Every console event "x_event" goes to the slot "on_x_event" of the same signature.
    const QMetaObject &events = CKorvel::staticMetaObject;
    const QMetaObject *handlers = metaObject();
    for (int i = events.methodOffset(); i < events.methodCount(); ++i) {
        const QMetaMethod signal = events.method(i);
        if (signal.methodType() != QMetaMethod::Signal || !signal.name().endsWith("_event"))
            continue;
        const int slot = handlers->indexOfSlot("on_" + signal.methodSignature());
        if (slot < 0) {
            qWarning().noquote() << "No WebSocket notification for" << signal.methodSignature();
            continue;
        }
        connect(console, signal, this, handlers->method(slot));
    }

    if (CUSBHID *link = console->device_link()) {
        connect(link, &CUSBHID::connected, this, &CWebSocketInterface::on_connected);
        connect(link, &CUSBHID::disconnected, this, &CWebSocketInterface::on_disconnected);
    }

    server =
        new QWebSocketServer(QStringLiteral("Korvel Control WebSocket Server"), QWebSocketServer::NonSecureMode, this);
    connect(server, &QWebSocketServer::newConnection, this, &CWebSocketInterface::onNewConnection);
}

void CWebSocketInterface::start()
{
    // A number that is no TCP port would otherwise be cut to 16 bits and listen on some other port.
    if (port < 0 || port > 65535)
        return;
    if (server->listen(QHostAddress::AnyIPv4, static_cast<quint16>(port)))
        qDebug().noquote() << "WebSocket Server is listening on port:" << port;
}

void CWebSocketInterface::stop()
{
    server->close();
}

void CWebSocketInterface::setPort(int port)
{
    this->port = port;
    server->close();
    start();
}

bool CWebSocketInterface::is_listening() const
{
    return server->isListening();
}

quint16 CWebSocketInterface::listening_port() const
{
    return server->isListening() ? server->serverPort() : 0;
}

QStringList &CWebSocketInterface::subscriptions(QWebSocket *client)
{
    return clients[client];
}

void CWebSocketInterface::sendJSON(const QJsonObject &message, const QString &topic, QWebSocket *target)
{
    // Clients accepted earlier are served whether or not the server still listens: only new connections need it.
    const QByteArray utf8 = QJsonDocument(message).toJson(QJsonDocument::Indented);
    const QString text = QString::fromUtf8(utf8);

    if (target) {
        deliver(target, text, utf8.size());
        return;
    }
    // A client may be dropped while sending; walk a copy so the walk itself is never disturbed.
    const auto recipients = clients;
    for (auto it = recipients.cbegin(); it != recipients.cend(); ++it) {
        if (!topic.isEmpty() && !it.value().contains(topic))
            continue;
        deliver(it.key(), text, utf8.size());
    }
}

void CWebSocketInterface::deliver(QWebSocket *client, const QString &text, qint64 bytes)
{
    // Only clients still in the table: one dropped earlier in this call is closing and awaits deletion.
    if (!clients.contains(client))
        return;
    // A client that stopped reading would otherwise let its unsent output grow without limit.
    if (client->bytesToWrite() + bytes > max_pending_output) {
        drop_slow_client(client);
        return;
    }
    client->sendTextMessage(text);
}

void CWebSocketInterface::drop_slow_client(QWebSocket *client)
{
    qDebug().noquote() << "WebSocket client too slow, closed:" << client << "unsent bytes:" << client->bytesToWrite();
    // Detach first, so neither the close nor the socket's later disconnected() reaches this object again.
    client->disconnect(this);
    client->close(QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("client too slow: output buffer full"));
    remove_client(client);
}

void CWebSocketInterface::notify(const QString &msg, const QJsonValue &data, const QString &topic)
{
    sendJSON(QJsonObject{{QStringLiteral("data"), data}, {QStringLiteral("msg"), msg}}, topic, nullptr);
}

void CWebSocketInterface::remove_client(QWebSocket *client)
{
    clients.remove(client);
    client->disconnect(this);
    client->deleteLater();
    emit connected_clients(client_count());
}

void CWebSocketInterface::send_without_delay(QWebSocket *client)
{
    // Notifications are small frames sent about once a millisecond; with Nagle's algorithm each would wait for
    // the client's acknowledgement of the one before (tens of milliseconds with delayed acknowledgements).
    // QWebSocket does not offer its TCP socket's options; the socket is a descendant of the server (or, in
    // other Qt versions, of the connection), known by its peer.
    QList<QAbstractSocket *> sockets = client->findChildren<QAbstractSocket *>();
    sockets += server->findChildren<QAbstractSocket *>();
    for (QAbstractSocket *tcp : std::as_const(sockets)) {
        if (tcp->peerPort() == client->peerPort() && tcp->peerAddress() == client->peerAddress()) {
            tcp->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            return;
        }
    }
}

void CWebSocketInterface::onNewConnection()
{
    qDebug().noquote() << "New websocket connection...";
    QWebSocket *client = server->nextPendingConnection();
    if (!client)
        return;
    // The server hands connections over without a parent; they belong to this interface until released.
    client->setParent(this);
    // No command comes near this; a larger message closes the connection with "message too big" (1009).
    client->setMaxAllowedIncomingFrameSize(max_incoming_message);
    client->setMaxAllowedIncomingMessageSize(max_incoming_message);
    send_without_delay(client);
    connect(client, &QWebSocket::textMessageReceived, this, &CWebSocketInterface::processTextMessage);
    connect(client, &QWebSocket::disconnected, this, &CWebSocketInterface::socketDisconnected);
    clients.insert(client, QStringList());
    emit connected_clients(client_count());
}

void CWebSocketInterface::processTextMessage(QString message)
{
    auto *client = qobject_cast<QWebSocket *>(sender());
    if (!client)
        return;
    QString error;
    if (parseJSON(client, message, error) < 0)
        sendJSON(QJsonObject{{QStringLiteral("data"), error}, {QStringLiteral("msg"), QStringLiteral("error")}},
                 QString(), client);
}

void CWebSocketInterface::socketDisconnected()
{
    auto *client = qobject_cast<QWebSocket *>(sender());
    qDebug().noquote() << "socketDisconnected:" << client;
    if (client)
        remove_client(client);
    else
        emit connected_clients(client_count());
}

void CWebSocketInterface::on_connected()
{
    notify(QStringLiteral("on_device_status"), QStringLiteral("connected"));
}

void CWebSocketInterface::on_disconnected()
{
    notify(QStringLiteral("on_device_status"), QStringLiteral("disconnected"));
}
