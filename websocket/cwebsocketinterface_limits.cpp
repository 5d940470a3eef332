// The door of the server: connection bounds, the handshake's time limit, pausing when descriptors run out, the
// password back-off of each remote address, and the split of upgrades from the panel's page requests.
#include "websocket/cwebsocketinterface.h"

#include "panel/requesthead.h"
#include "panel/responder.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>

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
    connect(lifetime, &QObject::destroyed, this, [this, address] {
        guard.closed(address);
        // A page request never reaches take_handshaken(), which would otherwise be the only one to forget it.
        handshaking.removeIf([](const QPointer<QTcpSocket> &socket) { return socket.isNull(); });
    });
    // A peer that never finishes its handshake would otherwise hold its connection (and a descriptor) for good.
    QPointer<QTcpSocket> watched(tcp);
    QTimer::singleShot(handshake_timeout_ms, tcp, [this, watched] {
        if (watched && handshaking.contains(watched))
            watched->abort();
    });
    return true;
}

void CWebSocketInterface::at_door(QTcpSocket *tcp)
{
    const QByteArray bytes = tcp->peek(korvel::panel::max_head_size);
    const std::optional<qsizetype> size = korvel::panel::head_size(bytes);
    if (!size) {
        if (bytes.size() >= korvel::panel::max_head_size)
            tcp->abort();
        return;
    }
    const QByteArray head = bytes.left(*size);
    if (korvel::panel::asks_websocket(head)) {
        // Handed over as accepted: the server finds the whole handshake waiting in the socket, answers it, and
        // closes and deletes the socket itself when it fails.
        disconnect(tcp, nullptr, this, nullptr);
        if (const auto request = korvel::panel::parse_head(head))
            tcp->setProperty(request_host_property, request->field("Host").value_or(QByteArray()));
        server->handleConnection(tcp);
        return;
    }
    disconnect(tcp, &QTcpSocket::readyRead, this, nullptr);
    // Answered and closed; the handshake's time limit still bounds a peer that does not read the answer.
    static const korvel::panel::Site nothing;
    tcp->write(korvel::panel::respond(head, serve_panel ? korvel::panel::Site::panel() : nothing));
    tcp->disconnectFromHost();
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
