// The server, its clients and the delivery of every outgoing message.
#include "websocket/cwebsocketinterface.h"

#include "console/ckorvel.h"
#include "usb/cusbhid.h"
#include "websocket/delivery.h"

#include <QAbstractSocket>
#include <QDebug>
#include <QHostAddress>
#include <QMetaMethod>
#include <QMetaObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWebSocket>
#include <QWebSocketServer>

using korvel::websocket::Delivery;
using korvel::websocket::Session;

CWebSocketInterface::CWebSocketInterface(CKorvel *console, QObject *parent)
    : QObject(parent)
    , listener(nullptr)
    , server(nullptr)
    , delivery(nullptr)
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

    listener = new QTcpServer(this);
    connect(listener, &QTcpServer::newConnection, this, &CWebSocketInterface::onTcpConnection);
    delivery = new Delivery(this);
    connect(delivery, &Delivery::too_slow, this, &CWebSocketInterface::drop_slow_client);
}

void CWebSocketInterface::start()
{
    // A number that is no TCP port would otherwise be cut to 16 bits and listen on some other port.
    if (port < 0 || port > 65535)
        return;
    if (listener->listen(QHostAddress::AnyIPv4, static_cast<quint16>(port)))
        qDebug().noquote() << "WebSocket Server is listening on port:" << port;
}

void CWebSocketInterface::stop()
{
    listener->close();
}

void CWebSocketInterface::setPort(int port)
{
    this->port = port;
    listener->close();
    start();
}

bool CWebSocketInterface::is_listening() const
{
    return listener->isListening();
}

quint16 CWebSocketInterface::listening_port() const
{
    return listener->isListening() ? listener->serverPort() : 0;
}

int CWebSocketInterface::client_count() const
{
    return delivery->count();
}

Session *CWebSocketInterface::session_of(QWebSocket *client)
{
    return delivery->find(client);
}

void CWebSocketInterface::sendJSON(const QJsonObject &message, const QString &topic, QWebSocket *target)
{
    // Clients accepted earlier are served whether or not the listener still listens: only new connections need it.
    delivery->send(message, topic, target);
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
    delivery->remove(client);
    client->disconnect(this);
    client->deleteLater();
    emit connected_clients(client_count());
}

void CWebSocketInterface::onTcpConnection()
{
    while (QTcpSocket *tcp = listener->nextPendingConnection()) {
        // Notifications are small frames sent about once a millisecond; with Nagle's algorithm each would wait
        // for the client's acknowledgement of the one before (tens of milliseconds with delayed acknowledgements).
        tcp->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        handshaking.append(tcp);
        // The server answers the handshake, and closes and deletes the socket itself when it fails.
        server->handleConnection(tcp);
    }
}

QTcpSocket *CWebSocketInterface::take_handshaken(QWebSocket *client)
{
    QTcpSocket *found = nullptr;
    // A socket is in handshake only until it is upgraded or deleted; one connection has one address pair.
    handshaking.removeIf([&](const QPointer<QTcpSocket> &tcp) {
        if (!tcp)
            return true;
        if (found || tcp->peerPort() != client->peerPort() || tcp->localPort() != client->localPort() ||
            tcp->peerAddress() != client->peerAddress())
            return false;
        found = tcp;
        return true;
    });
    return found;
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
    QTcpSocket *tcp = take_handshaken(client);
    // The socket goes with its connection (the listener would otherwise keep it until it is destroyed itself).
    if (tcp)
        tcp->setParent(client);
    delivery->add(client, tcp);
    connect(client, &QWebSocket::textMessageReceived, this, &CWebSocketInterface::processTextMessage);
    connect(client, &QWebSocket::disconnected, this, &CWebSocketInterface::socketDisconnected);
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
