#pragma once

#include "console/reportid.h"
#include "net/defaultports.h"
#include "protocol/corefacade.h"
#include "protocol/dispatcher.h"
#include "protocol/envelope.h"
#include "websocket/authentication.h"
#include "websocket/connectionguard.h"
#include "websocket/keepalive.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QHostAddress>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <initializer_list>
#include <optional>
#include <utility>

class CKorvel;
class QSocketNotifier;
class QTcpServer;
class QTcpSocket;
class QWebSocket;
class QWebSocketCorsAuthenticator;
class QWebSocketServer;
namespace korvel::protocol {
class Core;
} // namespace korvel::protocol
namespace korvel::websocket {
class Delivery;
class MeteringPace;
struct Session;
} // namespace korvel::websocket

// The console offered over WebSocket: the listener and its clients, their sessions, origins, password and meters.
// What the console says and what a request does come from the protocol core (protocol/core.h): this server
// delivers the core's notifications, hands the core each client's requests and sends back what it answers.
//
// Split by concern: cwebsocketinterface.cpp (server, clients, sendJSON), _limits.cpp (the door),
// _dispatcher.cpp (the clients as the dispatcher's peers); meteringpace.h (each client's metering interval).
// The get_* builders and on_* slots are the core's (protocol/corefacade.h).
class CWebSocketInterface : public korvel::protocol::CoreFacade {
    Q_OBJECT

public:
    CWebSocketInterface(CKorvel *console, QObject *parent);

    void start();
    void stop();
    void setPort(int port);
    // Serialises the message once; delivers it to target, or to every client (subscribed to topic, if given).
    void sendJSON(const QJsonObject &message, const QString &topic, QWebSocket *target);
    // Carries out one client message; a query's reply goes to client (none when null). 0: done or ignored;
    // -1: refused, with error set.
    int parseJSON(QWebSocket *client, const QString &message, QString &error);

    bool is_listening() const;
    // The port actually listened on (the stored port, or the system's choice for port 0); 0 while closed.
    quint16 listening_port() const;
    int client_count() const;

    // Access control; each is off by default, which leaves every exchange as it always was.
    // The address listened on: every IPv4 interface (the default), or one address. Restarts listening.
    void set_listen_address(const QHostAddress &address);
    QHostAddress listen_address() const { return listen_on; }
    // Web origins allowed to connect. Empty: any. Clients that send no Origin header are never refused. While
    // the panel is served, its own origin is allowed too (panel/ownorigin.h).
    void set_allowed_origins(const QStringList &origins);
    // Whether a plain HTTP request on the port gets the browser panel (panel/), or 404 for every path. On by
    // default; upgrades to WebSocket are the same either way.
    void set_serve_panel(bool serve) { serve_panel = serve; }
    bool serves_panel() const { return serve_panel; }
    // The Origin headers of the handshakes since start, each once, in the order first seen: the most recent
    // max_seen_origins of them (the first max_seen_origins are also logged).
    static constexpr int max_seen_origins = 64;
    QStringList seen_origins() const { return origins_seen; }
    // The stored secret (see websocket/authentication.h) and its salt; an empty secret: no password. Applies to
    // connections accepted from now on.
    void set_password_secret(const QByteArray &secret, const QByteArray &salt);
    bool has_password() const { return !password_secret.isEmpty(); }
    // Where each connection's challenge comes from: the system's secure random source unless replaced, which
    // only reproducible records of the exchange (the captured examples) have reason to do.
    using ChallengeSource = std::function<QByteArray()>;
    void set_challenge_source(ChallengeSource source) { challenge_source = std::move(source); }
    // How long a new connection has to authenticate, and the keep-alive times of new connections.
    void set_authentication_timeout(int ms) { authentication_timeout_ms = ms; }
    void set_keep_alive(const korvel::websocket::KeepAlive &times) { keep_alive = times; }
    // Unanswered challenges after which a connection is closed.
    static constexpr int max_failed_answers = 3;
    // Bounds on the open connections, in all and per remote address (websocket/connectionguard.h); below 1: the
    // default. Connections over either are closed at once, before their handshake is read.
    void set_connection_limits(int max_connections, int max_per_address);
    // How long a new TCP connection has to finish its WebSocket handshake.
    void set_handshake_timeout(int ms) { handshake_timeout_ms = ms; }
    static constexpr int default_handshake_timeout_ms = 5000;
    // Before a connection has authenticated, no message it may send needs more; a larger one closes it.
    static constexpr qint64 max_unauthenticated_message = 4 * 1024;

    // Far above any valid command; larger messages close their connection with "message too big".
    static constexpr qint64 max_incoming_message = korvel::protocol::max_request_size;

signals:
    void connected_clients(int clients);
    // A handshake carried an Origin header not seen since start.
    void origin_seen(const QString &origin);

public slots:
    void onNewConnection();
    void processTextMessage(QString message);
    void socketDisconnected();

private:
    // A client as the dispatcher's peer (cwebsocketinterface_dispatcher.cpp).
    class ClientPeer;
    // Carries out one message of client (null: of nobody, whose replies go nowhere).
    korvel::protocol::Outcome dispatch(QWebSocket *client, const QString &message);
    // The session of a client, null for a connection that has none (never accepted, or already released).
    korvel::websocket::Session *session_of(QWebSocket *client);
    // One of the core's notifications, to every client subscribed to its topic (every client: none).
    void deliver(const QJsonObject &message, const QString &topic);
    void remove_client(QWebSocket *client);
    // A TCP connection accepted from the listener: its request head is awaited (at_door), then it goes to the
    // WebSocket server for its opening handshake, or gets the panel's HTTP answer and is closed.
    void take_connection(QTcpSocket *tcp);
    void at_door(QTcpSocket *tcp);
    // The TCP socket under a connection whose handshake just finished, from the sockets in handshake.
    QTcpSocket *take_handshaken(QWebSocket *client);
    // Closes a client that stopped reading and removes it like any disconnection.
    void drop_slow_client(QWebSocket *client);
    // Refuses a handshake whose Origin is not on a non-empty list of allowed origins, nor the panel's own.
    void check_origin(QWebSocketCorsAuthenticator *authenticator);
    // The bounds and the back-off at the door (cwebsocketinterface_limits.cpp). Whether the guard lets a freshly
    // accepted connection in; one it refuses is closed and goes.
    bool admit(QTcpSocket *tcp);
    // The server accepts its connections itself, from a notifier on the listening socket: Qt's own loop sees
    // no error when the process runs out of descriptors and polls again at once (a spin). accept_pending()
    // pauses instead; watch_listener() follows each listen, close_listener() goes before each close.
    void watch_listener();
    void close_listener();
    void accept_pending();
    // A wrong or refused message before authenticating, counted against the client's address; an address
    // that has failed too often loses the connection (true: closed).
    bool count_failure(QWebSocket *client);
    // Sends a new connection its challenge, when a password is set.
    void challenge(korvel::websocket::Session &session);
    // A message of a connection that has not authenticated yet: its answer to the challenge, or refused.
    void authenticate(korvel::websocket::Session &session, const QString &message);
    void send_error(QWebSocket *client, const QString &error);

    // Our own listener accepts the TCP connections, so every session knows its socket; the WebSocket server
    // only performs the opening handshake on them.
    QTcpServer *listener;
    QSocketNotifier *accepting = nullptr;
    QWebSocketServer *server;
    QList<QPointer<QTcpSocket>> handshaking;
    korvel::websocket::Delivery *delivery;
    korvel::websocket::MeteringPace *metering_pace;
    QHostAddress listen_on{QHostAddress::AnyIPv4};
    QStringList allowed_origins;
    bool serve_panel = true;
    // The Host field of an upgrade request, noted on its socket at the door for the origin check.
    static constexpr const char *request_host_property = "korvel_request_host";
    QStringList origins_seen;
    int origins_logged = 0;
    QByteArray password_secret;
    QByteArray password_salt;
    ChallengeSource challenge_source = korvel::websocket::random_token;
    int authentication_timeout_ms = 10000;
    korvel::websocket::KeepAlive keep_alive;
    korvel::websocket::ConnectionGuard guard;
    int handshake_timeout_ms = default_handshake_timeout_ms;
    int port = korvel::ports::websocket;
};
