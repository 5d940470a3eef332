#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <deque>
#include <list>
#include <optional>

namespace korvel::mqtt {

struct OutgoingMessage {
    QString topic;
    QByteArray payload;
    int qos = 0;
    bool retained = false;
};

// Messages waiting for the broker connection to take them, held within a byte budget. When the budget is
// exceeded, the live stream (QoS 0, not retained: the level meters) loses its oldest message first, then the
// other unretained messages lose theirs. Retained messages are never dropped: a newer one for a topic
// replaces the waiting one in place, since the broker keeps only the last anyway, so they are bounded by the
// number of retained topics. Messages leave in the order they first came in.
class OutgoingQueue {
public:
    static constexpr qsizetype default_budget_bytes = 1024 * 1024;
    // Book-keeping charged per message on top of topic and payload, so a flood of empty messages is bounded too.
    static constexpr qsizetype overhead_bytes = 64;

    explicit OutgoingQueue(qsizetype budget_bytes = default_budget_bytes)
        : budget(budget_bytes)
    {}

    // Queues the message; false when it was itself dropped at once to keep the budget.
    bool push(OutgoingMessage message);
    std::optional<OutgoingMessage> pop();

    // Forgets every unretained message (they are stale once the connection is gone); retained ones stay.
    void drop_unretained();
    // Forgets the waiting live messages, counted as dropped: they would be stale by the time they got through.
    void drop_live();
    void clear();

    bool empty() const { return live.empty() && normal.empty() && retained.empty(); }
    qsizetype size() const { return qsizetype(live.size() + normal.size() + retained.size()); }
    qsizetype bytes() const { return used; }
    qsizetype budget_bytes() const { return budget; }
    // Messages dropped to keep the budget since construction.
    quint64 dropped() const { return dropped_count; }

    static qsizetype cost(const OutgoingMessage &m) { return m.topic.size() * 2 + m.payload.size() + overhead_bytes; }

private:
    struct Entry {
        quint64 seq;
        OutgoingMessage message;
    };
    using RetainedList = std::list<Entry>;

    // Drops unretained messages, oldest live first, until the budget holds or only retained ones remain.
    void enforce_budget();

    qsizetype budget;
    qsizetype used = 0;
    quint64 next_seq = 0;
    quint64 dropped_count = 0;
    std::deque<Entry> live;
    std::deque<Entry> normal;
    RetainedList retained;
    QHash<QString, RetainedList::iterator> retained_by_topic;
};

} // namespace korvel::mqtt
