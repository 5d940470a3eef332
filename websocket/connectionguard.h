#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QString>

#include <functional>

// Who may open a WebSocket connection now: bounds on the open connections (in all and per remote address) and
// a back-off for addresses that keep failing the password, so one peer can neither take every connection nor
// guess at the studio's expense. Each refusal is logged at most once a minute per address.
namespace korvel::websocket {

class ConnectionGuard {
public:
    // Milliseconds on a monotonic clock; replaceable so the back-off can be followed without waiting for it.
    using Clock = std::function<qint64()>;
    ConnectionGuard();

    static constexpr int default_max_connections = 512;
    static constexpr int default_max_per_address = 32;
    // Failed answers from one address within the window after which its new connections are closed, first for
    // the shortest time, doubling at each renewed block up to the longest.
    static constexpr int max_failures = 5;
    static constexpr qint64 failure_window_ms = 60 * 1000;
    static constexpr qint64 first_block_ms = 1000;
    static constexpr qint64 longest_block_ms = 5 * 60 * 1000;
    static constexpr qint64 log_interval_ms = 60 * 1000;

    // Values below 1 keep the defaults.
    void set_limits(int max_connections, int max_per_address);
    int max_connections() const { return total_limit; }
    int max_per_address() const { return address_limit; }
    void set_clock(Clock clock) { now = std::move(clock); }

    // Whether a new connection from address may be opened; an empty text if so, else why not (also logged,
    // at most once a minute per address).
    QString admit(const QHostAddress &address);
    // The life of an admitted connection.
    void opened(const QHostAddress &address);
    void closed(const QHostAddress &address);
    int open_connections() const { return total_open; }
    // A wrong or refused answer before authenticating; true when the address is now blocked.
    bool failed(const QHostAddress &address);
    // The right answer: the address starts again from the shortest block.
    void succeeded(const QHostAddress &address);
    bool is_blocked(const QHostAddress &address) const;

private:
    struct Peer {
        int open = 0;
        int failures = 0;
        qint64 window_start = 0;
        qint64 blocked_until = 0;
        qint64 next_block_ms = first_block_ms;
        qint64 last_log = -log_interval_ms;
    };
    // The key of an address: IPv4-mapped IPv6 addresses count as their IPv4 address.
    static QString key_of(const QHostAddress &address);
    // Drops what no longer says anything (no connection, no failures to remember), so the table stays small.
    void forget_if_idle(const QString &key);
    QString refuse(const QString &key, Peer &peer, const QString &reason);

    QHash<QString, Peer> peers;
    int total_open = 0;
    int total_limit = default_max_connections;
    int address_limit = default_max_per_address;
    QElapsedTimer started;
    Clock now;
};

} // namespace korvel::websocket
