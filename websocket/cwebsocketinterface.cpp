// The server, its clients and the delivery of every outgoing message.
#include "websocket/cwebsocketinterface.h"

#include "console/ckorvel.h"
#include "panel/ownorigin.h"
#include "protocol/core.h"
#include "websocket/authentication.h"
#include "websocket/delivery.h"
#include "websocket/meteringpace.h"

#include <QAbstractSocket>
#include <QDebug>
#include <QHostAddress>
#include <QHostInfo>
#include <QJsonDocument>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketCorsAuthenticator>
#include <QWebSocketServer>

#include <utility>

using korvel::websocket::Delivery;
using korvel::websocket::MeteringPace;
using korvel::websocket::Session;

namespace {
// The server reads each handshake on its socket's readyRead, so while it asks about the origin that socket is
// its sender: how the origin check finds the Host the door noted on the socket.
class HandshakeServer : public QWebSocketServer {
public:
    using QWebSocketServer::QWebSocketServer;
    QTcpSocket *socket_in_handshake() const { return qobject_cast<QTcpSocket *>(sender()); }
};
} // namespace

CWebSocketInterface::CWebSocketInterface(CKorvel *console, QObject *parent)
    : CoreFacade(*console, parent)
    , listener(nullptr)
    , server(nullptr)
    , delivery(new Delivery(this))
    , metering_pace(new MeteringPace(*delivery, this))
{
    // Every notification to the clients that take it; a client with a metering interval of its own gets the
    // levels at its own pace instead.
    connect(&core, &korvel::protocol::Core::message, this, &CWebSocketInterface::deliver);
    connect(&core, &korvel::protocol::Core::levels, metering_pace, &MeteringPace::pace);

    server =
        new HandshakeServer(QStringLiteral("Korvel Control WebSocket Server"), QWebSocketServer::NonSecureMode, this);
    connect(server, &QWebSocketServer::newConnection, this, &CWebSocketInterface::onNewConnection);
    connect(server, &QWebSocketServer::originAuthenticationRequired, this, &CWebSocketInterface::check_origin);

    listener = new QTcpServer(this);
    connect(delivery, &Delivery::too_slow, this, &CWebSocketInterface::drop_slow_client);
}

void CWebSocketInterface::start()
{
    // A number that is no TCP port would otherwise be cut to 16 bits and listen on some other port.
    if (port < 0 || port > 65535)
        return;
    if (listener->listen(listen_on, static_cast<quint16>(port))) {
        watch_listener();
        qDebug().noquote() << "WebSocket Server is listening on port:" << port;
    }
}

void CWebSocketInterface::stop()
{
    close_listener();
}

void CWebSocketInterface::setPort(int port)
{
    this->port = port;
    close_listener();
    start();
}

void CWebSocketInterface::set_listen_address(const QHostAddress &address)
{
    listen_on = address;
    // A closed server stays closed: listening starts with setPort.
    if (listener->isListening()) {
        close_listener();
        start();
    }
}

void CWebSocketInterface::set_allowed_origins(const QStringList &origins)
{
    allowed_origins = origins;
}

void CWebSocketInterface::set_password_secret(const QByteArray &secret, const QByteArray &salt)
{
    password_secret = secret;
    password_salt = salt;
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

void CWebSocketInterface::deliver(const QJsonObject &message, const QString &topic)
{
    sendJSON(message, topic, nullptr);
}

void CWebSocketInterface::drop_slow_client(QWebSocket *client)
{
    qDebug().noquote() << "WebSocket client too slow, closed:" << client << "unsent bytes:" << client->bytesToWrite();
    // Detach first, so neither the close nor the socket's later disconnected() reaches this object again.
    client->disconnect(this);
    client->close(QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("client too slow: output buffer full"));
    remove_client(client);
}

void CWebSocketInterface::remove_client(QWebSocket *client)
{
    if (Session *session = session_of(client))
        metering_pace->forget(*session);
    delivery->remove(client);
    client->disconnect(this);
    client->deleteLater();
    emit connected_clients(client_count());
}

void CWebSocketInterface::take_connection(QTcpSocket *tcp)
{
    if (!admit(tcp))
        return;
    // Notifications are small frames sent about once a millisecond; with Nagle's algorithm each would wait
    // for the client's acknowledgement of the one before (tens of milliseconds with delayed acknowledgements).
    tcp->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    korvel::websocket::enable_keep_alive(tcp->socketDescriptor(), keep_alive);
    handshaking.append(tcp);
    // Until its request head is complete, at_door() only peeks: the handshake stays in the socket for the server.
    connect(tcp, &QTcpSocket::readyRead, this, [this, tcp] { at_door(tcp); });
    connect(tcp, &QTcpSocket::disconnected, this, [tcp] { tcp->deleteLater(); });
    at_door(tcp);
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
    Session &session = delivery->add(client, tcp);
    connect(client, &QWebSocket::textMessageReceived, this, &CWebSocketInterface::processTextMessage);
    connect(client, &QWebSocket::disconnected, this, &CWebSocketInterface::socketDisconnected);
    if (has_password()) {
        client->setMaxAllowedIncomingFrameSize(max_unauthenticated_message);
        client->setMaxAllowedIncomingMessageSize(max_unauthenticated_message);
        challenge(session);
    }
    emit connected_clients(client_count());
}

void CWebSocketInterface::check_origin(QWebSocketCorsAuthenticator *authenticator)
{
    // Browsers always send their page's origin; scripts and playout systems usually send none and are let in.
    const QString origin = authenticator->origin();
    if (origin.isEmpty())
        return;
    // Bounded, so a client sending a new Origin with every handshake cannot grow the list or the log at will;
    // the most recent are kept, so junk sent earlier never hides a real new panel.
    if (!origins_seen.contains(origin)) {
        origins_seen.append(origin);
        if (origins_seen.size() > max_seen_origins)
            origins_seen.removeFirst();
        if (origins_logged < max_seen_origins) {
            ++origins_logged;
            qDebug().noquote() << "WebSocket origin seen:" << origin;
        }
        emit origin_seen(origin);
    }
    if (allowed_origins.isEmpty() || allowed_origins.contains(origin, Qt::CaseInsensitive))
        return;
    const QTcpSocket *tcp = static_cast<HandshakeServer *>(server)->socket_in_handshake();
    const bool own = serve_panel && tcp &&
                     korvel::panel::is_own_origin(origin, tcp->property(request_host_property).toByteArray(),
                                                  listening_port(), QHostInfo::localHostName());
    if (!own)
        authenticator->setAllowed(false);
}

void CWebSocketInterface::challenge(Session &session)
{
    session.authenticated = false;
    session.challenge = challenge_source();
    const QJsonObject data{{QStringLiteral("challenge"), QString::fromLatin1(session.challenge)},
                           {QStringLiteral("salt"), QString::fromLatin1(password_salt)}};
    sendJSON(QJsonObject{{QStringLiteral("data"), data}, {QStringLiteral("msg"), QStringLiteral("hello")}}, QString(),
             session.connection);
    QWebSocket *client = session.connection;
    // The connection is the timer's context: a connection released earlier takes its timer with it.
    QTimer::singleShot(authentication_timeout_ms, client, [this, client] {
        const Session *late = session_of(client);
        if (late && !late->authenticated)
            client->close(QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("authentication timeout"));
    });
}

void CWebSocketInterface::authenticate(Session &session, const QString &message)
{
    const QJsonObject request = QJsonDocument::fromJson(message.toUtf8()).object();
    if (request.value(QLatin1String("msg")).toString() != QLatin1String("authenticate")) {
        send_error(session.connection, QStringLiteral("authentication required"));
        count_failure(session.connection);
        return;
    }
    const QByteArray expected = korvel::websocket::expected_answer(password_secret, session.challenge);
    const QByteArray given = request.value(QLatin1String("data")).toString().toUtf8();
    if (korvel::websocket::answers_match(given, expected)) {
        session.authenticated = true;
        session.challenge.clear();
        guard.succeeded(session.connection->peerAddress());
        session.connection->setMaxAllowedIncomingFrameSize(max_incoming_message);
        session.connection->setMaxAllowedIncomingMessageSize(max_incoming_message);
        sendJSON(QJsonObject{{QStringLiteral("data"), true}, {QStringLiteral("msg"), QStringLiteral("authenticated")}},
                 QString(), session.connection);
        return;
    }
    if (count_failure(session.connection))
        return;
    if (++session.failed_answers >= max_failed_answers) {
        session.connection->close(QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("authentication failed"));
        return;
    }
    send_error(session.connection, QStringLiteral("authentication failed"));
}

void CWebSocketInterface::send_error(QWebSocket *client, const QString &error)
{
    sendJSON(korvel::protocol::error(error, QJsonValue(QJsonValue::Undefined)), QString(), client);
}

void CWebSocketInterface::processTextMessage(QString message)
{
    auto *client = qobject_cast<QWebSocket *>(sender());
    if (!client)
        return;
    if (Session *session = session_of(client); session && !session->authenticated) {
        authenticate(*session, message);
        return;
    }
    if (const std::optional<QJsonObject> answer = dispatch(client, message).answer())
        sendJSON(*answer, QString(), client);
}

void CWebSocketInterface::socketDisconnected()
{
    auto *client = qobject_cast<QWebSocket *>(sender());
    qDebug().noquote() << "socketDisconnected:" << client;
    // A message too big for a connection that has not authenticated counts as a wrong answer.
    if (const Session *session = client ? session_of(client) : nullptr;
        session && !session->authenticated && client->closeCode() == QWebSocketProtocol::CloseCodeTooMuchData)
        guard.failed(client->peerAddress());
    if (client)
        remove_client(client);
    else
        emit connected_clients(client_count());
}
