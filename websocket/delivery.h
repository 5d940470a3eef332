#pragma once

#include "websocket/session.h"

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QVarLengthArray>

#include <map>

class QTcpSocket;
class QWebSocket;

namespace korvel::websocket {

// The sessions of every accepted client and the delivery of outgoing messages to them: each message is
// serialised and framed once, the frame goes straight to each recipient's TCP socket, and the frames of one
// client within one pass of the event loop leave together in one write once the pass is over.
class Delivery : public QObject {
    Q_OBJECT

public:
    explicit Delivery(QObject *parent);

    // A client whose unsent output would exceed this is reported by too_slow(): it has stopped reading.
    static constexpr qint64 max_pending_output = 4 * 1024 * 1024;
    // The same over every client together, so many slow clients cannot take the machine's memory: past it,
    // the clients holding the most are reported by too_slow() first.
    static constexpr qint64 max_total_pending_output = 64 * 1024 * 1024;
    // Clients holding less than this are keeping up: not counted, and the total is not taken while every
    // recipient of a message keeps up.
    static constexpr qint64 backlog_threshold = 256 * 1024;

    Session &add(QWebSocket *connection, QTcpSocket *tcp);
    // Forgets a client, and whatever was pending for it.
    void remove(QWebSocket *connection);
    // Null for a connection without a session (never accepted, or already removed).
    Session *find(QWebSocket *connection);
    int count() const { return static_cast<int>(sessions.size()); }

    // Delivers to target alone when given, otherwise to every authenticated client (subscribed to topic, when
    // given; for "metering", only those without their own metering interval).
    void send(const QJsonObject &message, const QString &topic, QWebSocket *target);
    // Whether a message to every client (subscribed to topic, when given) would reach anyone.
    bool has_recipient(const QString &topic) const;

signals:
    // A client whose unsent output would pass max_pending_output; nothing more was queued for it. Emitted
    // once the walk over the recipients is over, so the slot may remove it.
    void too_slow(QWebSocket *connection);

private:
    // One message as every recipient gets it: the text, its UTF-8 size and its finished frame.
    struct Outgoing {
        QString text;
        QByteArray frame;
        qint64 bytes = 0;
    };
    // Whether a message to every client (subscribed to topic, when given) goes to this one.
    static bool takes(const Session &session, const QString &topic);
    // False when the client is too slow to take it.
    bool deliver(Session &session, const Outgoing &message);
    // Writes what is pending for one client; flush_pending() does so for every client with frames pending.
    void flush(Session &session);
    void flush_pending();
    // The unsent output of one client: in its socket and waiting for the end of the pass.
    static qint64 backlog(const Session &session);
    // Adds to slow the clients, most first, whose closing brings the total back under its bound.
    void bound_total(QVarLengthArray<QWebSocket *, 4> &slow);

    // Ordered by connection, as clients are served in a stable order.
    std::map<QWebSocket *, Session> sessions;
    QList<QWebSocket *> flush_queue;
    bool flush_posted = false;
};

} // namespace korvel::websocket
