// The bounded queue of messages waiting for the broker.
#include "mqtt/outgoingqueue.h"

namespace korvel::mqtt {

bool OutgoingQueue::push(OutgoingMessage message)
{
    used += cost(message);
    quint64 seq = next_seq++;
    if (message.retained) {
        const auto found = retained_by_topic.find(message.topic);
        if (found != retained_by_topic.end()) {
            used -= cost((*found)->message);
            (*found)->message = std::move(message);
            enforce_budget();
            return true;
        }
        retained.push_back(Entry{seq, std::move(message)});
        retained_by_topic.insert(retained.back().message.topic, std::prev(retained.end()));
        enforce_budget();
        return true;
    }
    const bool is_live = message.qos == 0;
    auto &lane = is_live ? live : normal;
    lane.push_back(Entry{seq, std::move(message)});
    enforce_budget();
    // The newest message of its lane goes last, so it survived if anything with its sequence number is left.
    return !lane.empty() && lane.back().seq == seq;
}

void OutgoingQueue::enforce_budget()
{
    while (used > budget) {
        auto &lane = !live.empty() ? live : normal;
        if (lane.empty())
            return;
        used -= cost(lane.front().message);
        lane.pop_front();
        ++dropped_count;
    }
}

std::optional<OutgoingMessage> OutgoingQueue::pop()
{
    // The lane whose head came in first.
    const quint64 none = ~quint64(0);
    const quint64 live_seq = live.empty() ? none : live.front().seq;
    const quint64 normal_seq = normal.empty() ? none : normal.front().seq;
    const quint64 retained_seq = retained.empty() ? none : retained.front().seq;
    if (live_seq == none && normal_seq == none && retained_seq == none)
        return std::nullopt;

    OutgoingMessage out;
    if (retained_seq < live_seq && retained_seq < normal_seq) {
        out = std::move(retained.front().message);
        retained_by_topic.remove(out.topic);
        retained.pop_front();
    } else {
        auto &lane = live_seq < normal_seq ? live : normal;
        out = std::move(lane.front().message);
        lane.pop_front();
    }
    used -= cost(out);
    return out;
}

void OutgoingQueue::drop_unretained()
{
    for (const auto *lane : {&live, &normal})
        for (const Entry &e : *lane)
            used -= cost(e.message);
    live.clear();
    normal.clear();
}

void OutgoingQueue::drop_live()
{
    for (const Entry &e : live)
        used -= cost(e.message);
    dropped_count += live.size();
    live.clear();
}

void OutgoingQueue::clear()
{
    live.clear();
    normal.clear();
    retained.clear();
    retained_by_topic.clear();
    used = 0;
}

} // namespace korvel::mqtt
