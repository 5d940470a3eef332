// The bounds on WebSocket connections and the password back-off of each remote address.
#include "websocket/connectionguard.h"

#include <QDebug>

#include <algorithm>

namespace korvel::websocket {

ConnectionGuard::ConnectionGuard()
{
    started.start();
    now = [this] { return started.elapsed(); };
}

void ConnectionGuard::set_limits(int max_connections, int max_per_address)
{
    total_limit = max_connections > 0 ? max_connections : default_max_connections;
    address_limit = max_per_address > 0 ? max_per_address : default_max_per_address;
}

QString ConnectionGuard::key_of(const QHostAddress &address)
{
    bool mapped = false;
    const quint32 ipv4 = address.toIPv4Address(&mapped);
    return mapped ? QHostAddress(ipv4).toString() : address.toString();
}

QString ConnectionGuard::admit(const QHostAddress &address)
{
    const QString key = key_of(address);
    Peer &peer = peers[key];
    if (peer.blocked_until > now())
        return refuse(key, peer, QStringLiteral("too many failed password answers"));
    if (total_open >= total_limit)
        return refuse(key, peer, QStringLiteral("connection limit reached (%1)").arg(total_limit));
    if (peer.open >= address_limit)
        return refuse(key, peer, QStringLiteral("connection limit per address reached (%1)").arg(address_limit));
    return QString();
}

QString ConnectionGuard::refuse(const QString &key, Peer &peer, const QString &reason)
{
    const qint64 t = now();
    if (t - peer.last_log >= log_interval_ms) {
        peer.last_log = t;
        qWarning().noquote() << "WebSocket connection refused:" << key << reason;
    }
    const QString why = reason;
    forget_if_idle(key);
    return why;
}

void ConnectionGuard::opened(const QHostAddress &address)
{
    ++peers[key_of(address)].open;
    ++total_open;
}

void ConnectionGuard::closed(const QHostAddress &address)
{
    const QString key = key_of(address);
    const auto it = peers.find(key);
    if (it == peers.end() || it->open == 0)
        return;
    --it->open;
    --total_open;
    forget_if_idle(key);
}

bool ConnectionGuard::failed(const QHostAddress &address)
{
    Peer &peer = peers[key_of(address)];
    const qint64 t = now();
    if (t - peer.window_start >= failure_window_ms || peer.failures == 0) {
        peer.window_start = t;
        peer.failures = 0;
    }
    if (++peer.failures >= max_failures && peer.blocked_until <= t) {
        peer.blocked_until = t + peer.next_block_ms;
        peer.next_block_ms = std::min(peer.next_block_ms * 2, longest_block_ms);
        peer.failures = 0;
    }
    return peer.blocked_until > t;
}

void ConnectionGuard::succeeded(const QHostAddress &address)
{
    const QString key = key_of(address);
    const auto it = peers.find(key);
    if (it == peers.end())
        return;
    it->failures = 0;
    it->next_block_ms = first_block_ms;
}

bool ConnectionGuard::is_blocked(const QHostAddress &address) const
{
    const auto it = peers.constFind(key_of(address));
    return it != peers.cend() && it->blocked_until > now();
}

void ConnectionGuard::forget_if_idle(const QString &key)
{
    const auto it = peers.find(key);
    if (it == peers.end())
        return;
    // An address that still has connections, failures within their window, a back-off or a recent log line
    // is kept; the others would only grow the table with every address a peer makes up.
    const qint64 t = now();
    const bool remembered = it->open > 0 || it->blocked_until > t || it->next_block_ms != first_block_ms ||
                            (it->failures > 0 && t - it->window_start < failure_window_ms) ||
                            t - it->last_log < log_interval_ms;
    if (!remembered)
        peers.erase(it);
}

} // namespace korvel::websocket
