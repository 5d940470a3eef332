// The door of the server: connection bounds, the handshake's time limit, pausing when descriptors run out, and
// the password back-off of each remote address.
#include "websocket/cwebsocketinterface.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>

#include <cerrno>

#include <sys/socket.h>
#include <unistd.h>

namespace {
// Long enough for some descriptors to come free, short enough that a new client hardly notices.
constexpr int accept_pause_ms = 100;
constexpr int accept_batch = 64;
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

void CWebSocketInterface::watch_listener()
{
    // Qt's listener stays paused: it would accept on its own notifier.
    listener->pauseAccepting();
    accepting = new QSocketNotifier(listener->socketDescriptor(), QSocketNotifier::Read, this);
    connect(accepting, &QSocketNotifier::activated, this, &CWebSocketInterface::accept_pending);
}

void CWebSocketInterface::close_listener()
{
    // The notifier goes before its descriptor is closed.
    delete accepting;
    accepting = nullptr;
    listener->close();
}

void CWebSocketInterface::accept_pending()
{
    const int descriptor = static_cast<int>(listener->socketDescriptor());
    // A few at a time, so a flood of connections leaves the clients already served their turn.
    for (int i = 0; i < accept_batch; ++i) {
        const int accepted = ::accept4(descriptor, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (accepted < 0) {
            const int error = errno;
            if (error == EINTR || error == ECONNABORTED)
                continue;
            if (error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM) {
                static QElapsedTimer last_log;
                if (!last_log.isValid() || last_log.elapsed() >= accept_log_interval_ms) {
                    last_log.start();
                    qWarning().noquote() << "WebSocket server cannot accept connections:" << qt_error_string(error);
                }
                // The connection stays queued; a moment later a few descriptors may have come free.
                accepting->setEnabled(false);
                QTimer::singleShot(accept_pause_ms, accepting, [notifier = accepting] { notifier->setEnabled(true); });
            }
            return;
        }
        auto *tcp = new QTcpSocket(listener);
        if (!tcp->setSocketDescriptor(accepted)) {
            ::close(accepted);
            delete tcp;
            continue;
        }
        take_connection(tcp);
    }
}

bool CWebSocketInterface::count_failure(QWebSocket *client)
{
    if (!guard.failed(client->peerAddress()))
        return false;
    client->close(QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("authentication failed"));
    return true;
}
