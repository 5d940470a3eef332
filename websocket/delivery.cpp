// The client sessions and the road of every outgoing message to their TCP sockets.
#include "websocket/delivery.h"

#include "console/valuelists.h"
#include "websocket/framewriter.h"

#include <QJsonDocument>
#include <QMetaObject>
#include <QVarLengthArray>
#include <QWebSocket>

#include <algorithm>
#include <utility>
#include <vector>

namespace korvel::websocket {

Delivery::Delivery(QObject *parent)
    : QObject(parent)
{}

Session &Delivery::add(QWebSocket *connection, QTcpSocket *tcp)
{
    Session &session = sessions[connection];
    session = Session{};
    session.connection = connection;
    session.tcp = tcp;
    return session;
}

void Delivery::remove(QWebSocket *connection)
{
    // A queued flush only looks the connection up, so it finds nothing once the session is gone.
    sessions.erase(connection);
}

Session *Delivery::find(QWebSocket *connection)
{
    const auto it = sessions.find(connection);
    return it != sessions.end() ? &it->second : nullptr;
}

void Delivery::send(const QJsonObject &message, const QString &topic, QWebSocket *target)
{
    // Serialised once, and framed once for every recipient: the frame carries exactly the UTF-8 that
    // QWebSocket::sendTextMessage would send for the text. Not at all when nobody takes it (meters nobody
    // reads at every report).
    Outgoing out;
    const auto outgoing = [&]() -> const Outgoing & {
        if (out.frame.isEmpty()) {
            out.text = QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Indented));
            const QByteArray utf8 = out.text.toUtf8();
            out.bytes = utf8.size();
            out.frame = text_frame(utf8);
        }
        return out;
    };

    QVarLengthArray<QWebSocket *, 4> slow;
    // Whether a recipient is behind: only then can the total be past its bound.
    bool behind = false;
    if (target) {
        // Only clients with a session: one removed earlier is closing and awaits deletion.
        Session *session = find(target);
        if (session && !deliver(*session, outgoing()))
            slow.append(target);
        behind = session && backlog(*session) >= backlog_threshold;
    } else {
        for (auto &[connection, session] : sessions) {
            if (!takes(session, topic))
                continue;
            if (!deliver(session, outgoing()))
                slow.append(connection);
            behind = behind || backlog(session) >= backlog_threshold;
        }
    }
    if (behind)
        bound_total(slow);
    for (QWebSocket *connection : std::as_const(slow))
        emit too_slow(connection);
}

qint64 Delivery::backlog(const Session &session)
{
    return session.connection->bytesToWrite() + session.pending.size();
}

void Delivery::bound_total(QVarLengthArray<QWebSocket *, 4> &slow)
{
    // Only clients that are behind count.
    qint64 total = 0;
    std::vector<std::pair<qint64, QWebSocket *>> behind;
    for (const auto &[connection, session] : sessions) {
        const qint64 held = backlog(session);
        if (held < backlog_threshold || slow.contains(connection))
            continue;
        total += held;
        behind.emplace_back(held, connection);
    }
    if (total <= max_total_pending_output)
        return;
    std::sort(behind.begin(), behind.end(), [](const auto &a, const auto &b) { return a.first > b.first; });
    for (const auto &[held, connection] : behind) {
        if (total <= max_total_pending_output)
            break;
        slow.append(connection);
        total -= held;
    }
}

bool Delivery::takes(const Session &session, const QString &topic)
{
    if (!session.authenticated)
        return false;
    if (!topic.isEmpty() && !session.subscriptions.contains(topic))
        return false;
    // A client with its own metering interval gets its meters from its throttle.
    return !(session.metering_throttle && topic == korvel::topics::metering);
}

bool Delivery::has_recipient(const QString &topic) const
{
    return std::any_of(sessions.cbegin(), sessions.cend(),
                       [&](const auto &entry) { return takes(entry.second, topic); });
}

bool Delivery::deliver(Session &session, const Outgoing &message)
{
    QWebSocket *client = session.connection;
    // A client that stopped reading would otherwise let its unsent output grow without limit.
    if (client->bytesToWrite() + session.pending.size() + message.bytes > max_pending_output)
        return false;
    // The frame goes straight to the TCP socket when the message fits one frame (as QWebSocket would send it).
    if (session.tcp && client->state() == QAbstractSocket::ConnectedState &&
        static_cast<quint64>(message.bytes) <= client->outgoingFrameSize()) {
        if (session.pending.isEmpty()) {
            session.pending = message.frame;
            flush_queue.append(client);
            if (!flush_posted) {
                flush_posted = true;
                QMetaObject::invokeMethod(this, &Delivery::flush_pending, Qt::QueuedConnection);
            }
        } else {
            session.pending.append(message.frame);
        }
        return true;
    }
    // Otherwise QWebSocket frames it, after what is still pending for the client.
    flush(session);
    client->sendTextMessage(message.text);
    return true;
}

void Delivery::flush(Session &session)
{
    if (session.pending.isEmpty())
        return;
    const QByteArray frames = std::exchange(session.pending, QByteArray());
    // A socket that is gone or no longer connected takes nothing, as QWebSocket would send nothing.
    if (session.tcp)
        write_frame(*session.tcp, frames);
}

void Delivery::flush_pending()
{
    flush_posted = false;
    const QList<QWebSocket *> queue = std::exchange(flush_queue, {});
    // Only looked up, never dereferenced: a client removed meanwhile has no session any more.
    for (QWebSocket *client : queue) {
        if (Session *session = find(client))
            flush(*session);
    }
}

} // namespace korvel::websocket
