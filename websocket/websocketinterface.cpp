// The server, its clients and the delivery of every outgoing message.
#include "websocket/cwebsocketinterface.h"

#include "console/startupstate.h"

#include "console/ckorvel.h"
#include "usb/cusbhid.h"
#include "websocket/framewriter.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QDebug>
#include <QHostAddress>
#include <QJsonDocument>
#include <QMetaMethod>
#include <QMetaObject>
#include <QWebSocket>
#include <QWebSocketServer>

#include <utility>

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
    startup = new StartupState(console->device_link(), this);
    connect(startup, &StartupState::completed, this, &CWebSocketInterface::on_state_complete);

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
    // Serialised once, and framed once for every recipient: the frame carries exactly the UTF-8 that
    // QWebSocket::sendTextMessage would send for the text.
    OutgoingMessage out;
    out.text = QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Indented));
    const QByteArray utf8 = out.text.toUtf8();
    out.bytes = utf8.size();
    out.frame = korvel::websocket::text_frame(utf8);

    if (target) {
        deliver(target, out);
        return;
    }
    // A client may be dropped while sending; walk a copy so the walk itself is never disturbed.
    const auto recipients = clients;
    for (auto it = recipients.cbegin(); it != recipients.cend(); ++it) {
        if (!topic.isEmpty() && !it.value().contains(topic))
            continue;
        deliver(it.key(), out);
    }
}

void CWebSocketInterface::deliver(QWebSocket *client, const OutgoingMessage &message)
{
    // Only clients still in the table: one dropped earlier in this call is closing and awaits deletion.
    if (!clients.contains(client))
        return;
    const auto transport = transports.find(client);
    const qint64 queued = transport != transports.end() ? transport->pending.size() : 0;
    // A client that stopped reading would otherwise let its unsent output grow without limit.
    if (client->bytesToWrite() + queued + message.bytes > max_pending_output) {
        drop_slow_client(client);
        return;
    }
    // The frame goes straight to the connection's TCP socket when it is known and the message fits one frame
    // (as QWebSocket would send it). Frames for one client within one pass of the event loop leave together,
    // in one write, once the pass is over.
    if (transport != transports.end() && transport->socket && client->state() == QAbstractSocket::ConnectedState &&
        static_cast<quint64>(message.bytes) <= client->outgoingFrameSize()) {
        if (transport->pending.isEmpty()) {
            transport->pending = message.frame;
            flush_queue.append(client);
            if (!flush_posted) {
                flush_posted = true;
                QMetaObject::invokeMethod(this, &CWebSocketInterface::flush_pending, Qt::QueuedConnection);
            }
        } else {
            transport->pending.append(message.frame);
        }
        return;
    }
    // Otherwise QWebSocket frames it, after what is still pending for the client.
    flush(client);
    client->sendTextMessage(message.text);
}

void CWebSocketInterface::flush(QWebSocket *client)
{
    const auto transport = transports.find(client);
    if (transport == transports.end() || transport->pending.isEmpty())
        return;
    const QByteArray frames = std::exchange(transport->pending, QByteArray());
    // A socket that is gone or no longer connected takes nothing, as QWebSocket would send nothing.
    if (transport->socket)
        korvel::websocket::write_frame(*transport->socket, frames);
}

void CWebSocketInterface::flush_pending()
{
    flush_posted = false;
    const QList<QWebSocket *> queue = std::exchange(flush_queue, {});
    // Only looked up, never dereferenced: a client removed meanwhile has no transport entry any more.
    for (QWebSocket *client : queue)
        flush(client);
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
    transports.remove(client);
    client->disconnect(this);
    client->deleteLater();
    emit connected_clients(client_count());
}

void CWebSocketInterface::attach_transport(QWebSocket *client)
{
    QAbstractSocket *tcp = korvel::websocket::transport_of(client, server);
    if (!tcp)
        return;
    // Notifications are small frames sent about once a millisecond; with Nagle's algorithm each would wait for
    // the client's acknowledgement of the one before (tens of milliseconds with delayed acknowledgements).
    tcp->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    transports.insert(client, Transport{tcp, QByteArray()});
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
    attach_transport(client);
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
        sendJSON(answer(QStringLiteral("error"), error), QString(), client);
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
