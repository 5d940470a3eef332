// The door of the server: connection bounds, the handshake's time limit, pausing when descriptors run out, and
// the password back-off of each remote address.
#include "websocket/cwebsocketinterface.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>

namespace {
// Long enough for some descriptors to come free, short enough that a new client hardly notices.
constexpr int accept_pause_ms = 100;
constexpr qint64 accept_log_interval_ms = 60 * 1000;
} // namespace

void CWebSocketInterface::set_connection_limits(int max_connections, int max_per_address)
{
    guard.set_limits(max_connections, max_per_address);
}

bool CWebSocketInterface::admit(QTcpSocket *tcp)
{
    const QHostAddress address = tcp->peerAddress();
    if (!guard.admit(address).isEmpty()) {
        tcp->abort();
        tcp->deleteLater();
        return false;
    }
    guard.opened(address);
    // Counted until the socket goes. Through a child of its own: the WebSocket drops every connection of the
    // socket's signals when it takes the socket over.
    auto *lifetime = new QObject(tcp);
    connect(lifetime, &QObject::destroyed, this, [this, address] { guard.closed(address); });
    // A peer that never finishes its handshake would otherwise hold its connection (and a descriptor) for good.
    QPointer<QTcpSocket> watched(tcp);
    QTimer::singleShot(handshake_timeout_ms, tcp, [this, watched] {
        if (watched && handshaking.contains(watched))
            watched->abort();
    });
    return true;
}

void CWebSocketInterface::on_accept_error(QAbstractSocket::SocketError error)
{
    if (error != QAbstractSocket::SocketResourceError)
        return;
    static QElapsedTimer last_log;
    if (!last_log.isValid() || last_log.elapsed() >= accept_log_interval_ms) {
        last_log.start();
        qWarning().noquote() << "WebSocket server cannot accept connections:" << listener->errorString();
    }
    // The listener has paused itself; it resumes once a few descriptors may have come free.
    listener->pauseAccepting();
    QTimer::singleShot(accept_pause_ms, listener, [this] { listener->resumeAccepting(); });
}

bool CWebSocketInterface::count_failure(QWebSocket *client)
{
    if (!guard.failed(client->peerAddress()))
        return false;
    client->close(QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("authentication failed"));
    return true;
}
