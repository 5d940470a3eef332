#pragma once

#include "protocol/payload.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <optional>
#include <span>

class CKorvel;

namespace korvel::protocol {

class Peer;
class SnapshotSource;

// What became of one request.
struct Outcome {
    // 0: done or ignored; -1: refused, with error set.
    int result = 0;
    // The request's "id"; undefined when it had none (or one that may not be echoed).
    QJsonValue id = QJsonValue(QJsonValue::Undefined);
    // The reply to the sender alone; none for commands, subscriptions and ignored messages.
    std::optional<QJsonObject> reply;
    QString error;

    // What goes back to the sender: the error of a refusal, else the reply when there is one.
    std::optional<QJsonObject> answer() const;
};

// Carries out the requests of every transport the same way: the link check, the JSON frame, the "id", the
// console commands (protocol/consolecommand.h) and the queries below. The answer is returned, never sent.
class Dispatcher {
public:
    Dispatcher(CKorvel &console, SnapshotSource &snapshots);

    // Carries out one request text from peer.
    Outcome carry_out(const QString &message, Peer &peer) const;

    // The longest metering interval a peer may ask for, in milliseconds; 0 is every report.
    static constexpr int max_metering_interval = 1000;

    // A subscription or query: answers "data" with the reply's "data" (undefined: no reply), or sets error to
    // refuse it.
    using Handler = QJsonValue (Dispatcher::*)(Peer &peer, const QJsonValue &data, QString &error) const;
    // One message that is not a console command, and its reply.
    struct Query {
        const char *msg; // what the client sends; null: a message a transport sends by itself
        Handler handler; // null: not carried out here (a transport's own, or none)
        Data data;
        const char *reply; // the reply's "msg"; null: none
        Data reply_data;
    };
    // Every message that is not a console command; a new query is one row here and its handler.
    static std::span<const Query> query_table();

private:
    // The query row of a subscription or query command (exact, case-sensitive), or null.
    static const Query *find_query(const QString &name);

    QJsonValue subscribe(Peer &peer, const QJsonValue &data, QString &error) const;
    QJsonValue unsubscribe(Peer &peer, const QJsonValue &data, QString &error) const;
    QJsonValue get_subscriptions(Peer &peer, const QJsonValue &data, QString &error) const;
    QJsonValue get_topics(Peer &peer, const QJsonValue &data, QString &error) const;
    QJsonValue get_api_version(Peer &peer, const QJsonValue &data, QString &error) const;
    // A snapshot builder's object as a query's reply data.
    template <void (SnapshotSource::*build)(QJsonObject &)>
    QJsonValue snapshot_reply(Peer &peer, const QJsonValue &data, QString &error) const;
    QJsonValue get_firmware(Peer &peer, const QJsonValue &data, QString &error) const;
    QJsonValue get_state_complete(Peer &peer, const QJsonValue &data, QString &error) const;
    QJsonValue set_metering_interval(Peer &peer, const QJsonValue &data, QString &error) const;
    QJsonValue get_metering_interval(Peer &peer, const QJsonValue &data, QString &error) const;

    CKorvel &console;
    SnapshotSource &snapshots;
};

} // namespace korvel::protocol
