// The console's state, events, meters and commands on the broker's topics.
#include "mqtt/bridge.h"

#include "console/ckorvel.h"
#include "console/items.h"
#include "mqtt/client.h"
#include "mqtt/linkstatus.h"
#include "protocol/core.h"
#include "protocol/envelope.h"
#include "protocol/peer.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLatin1String>
#include <QTimer>

#include <bit>
#include <optional>

namespace korvel::mqtt {

namespace {
constexpr int event_qos = 1;
// Meters are live: a lost one is replaced by the next, and they are the first the outgoing queue drops.
constexpr int metering_qos = 0;

// The broker's side of a request: no subscriptions of its own (every event is published) and no meters of its
// own (they have their topic and rate), so those requests change nothing and only get_subscriptions answers.
class BrokerPeer final : public protocol::Peer {
public:
    QStringList *subscriptions() override { return nullptr; }
    bool set_metering_interval(int) override { return false; }
    std::optional<int> metering_interval() override { return std::nullopt; }
};

// The item whose notifications carry msg; none for the link's notices, which are no item's.
std::optional<ReportId> item_notifying(const QString &msg)
{
    static const QHash<QString, ReportId> items = [] {
        QHash<QString, ReportId> by_msg;
        for (const Item &row : catalogue) {
            if (row.notification)
                by_msg.insert(QLatin1String(row.notification), row.id);
        }
        return by_msg;
    }();
    const auto it = items.constFind(msg);
    return it == items.constEnd() ? std::nullopt : std::optional(*it);
}

quint64 bit_of(ReportId id)
{
    return quint64{1} << static_cast<unsigned>(id);
}
} // namespace

Bridge::Bridge(CKorvel *console, Client *mqtt, QObject *parent)
    : QObject(parent)
    , core(protocol::Core::of(*console))
    , mqtt(mqtt)
    , refresh_timer(new QTimer(this))
    , throttle(new MeteringThrottle(this))
{
    new LinkStatus(console, mqtt, this);
    refresh_timer->setSingleShot(true);
    refresh_timer->setInterval(0);
    connect(refresh_timer, &QTimer::timeout, this, &Bridge::refresh_state);
    connect(&core, &protocol::Core::message, this, &Bridge::on_message);
    connect(&core, &protocol::Core::levels, throttle, &MeteringThrottle::add);
    connect(mqtt, &Client::command_received, this, &Bridge::on_command);
    connect(throttle, &MeteringThrottle::due, this, &Bridge::on_levels_due);
    throttle->set_rate(rate);
    // Created on a console whose state is already complete: nothing announces it again.
    if (core.state_complete())
        refresh_timer->start();
}

void Bridge::set_metering_rate(int per_second)
{
    rate = qBound(0, per_second, max_metering_rate);
    throttle->set_rate(rate);
}

void Bridge::on_levels_due(const MeterLevels &peaks)
{
    // Meters held back while the broker is away would only be stale when it comes back.
    if (mqtt->state() != Client::State::Connected)
        return;
    mqtt->publish(mqtt->topic(QStringLiteral("metering")), json_text(protocol::Core::metering_message(peaks)), false,
                  metering_qos);
}

QByteArray Bridge::json_text(const QJsonValue &value)
{
    if (value.isObject())
        return QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact);
    if (value.isArray())
        return QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact);
    // A document holds only objects and arrays: a bare value is the inside of a one-element array.
    const QByteArray wrapped = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return wrapped.mid(1, wrapped.size() - 2);
}

void Bridge::on_message(const QJsonObject &message, const QString &topic)
{
    // The meters have their own topic, at their own rate.
    if (topic == topics::metering)
        return;
    const QString msg = message.value(QLatin1String("msg")).toString();
    mqtt->publish(mqtt->topic(QStringLiteral("event")), json_text(message), false, event_qos);
    // Read once the decoder has cached the report, after the pass: several notifications of it are read once.
    if (const auto id = item_notifying(msg))
        changed_items |= bit_of(*id);
    else
        whole = true;
    refresh_timer->start();
}

void Bridge::refresh_state()
{
    // Until the console has answered its start-up requests a late subscriber would take a part for the whole.
    if (!core.state_complete())
        return;
    QJsonObject data;
    if (whole) {
        core.snapshots().get_all_data(data);
        whole = data.size() < snapshot_key_count();
    } else {
        for (quint64 items = changed_items; items != 0; items &= items - 1)
            core.snapshots().put(data, static_cast<ReportId>(std::countr_zero(items)));
    }
    changed_items = 0;
    const auto &sent = mqtt->state_cache();
    for (auto it = data.constBegin(); it != data.constEnd(); ++it) {
        // A key may be as it was: comparing values costs far less than writing their text. A key the
        // interface no longer holds (emptied with the link) is news whatever it was before.
        if (sent.contains(it.key()) && published.value(it.key()) == it.value())
            continue;
        published.insert(it.key(), it.value());
        // Sent only when its text differs from the one sent last.
        mqtt->publish_state(it.key(), json_text(it.value()));
    }
}

void Bridge::on_command(const QByteArray &payload)
{
    // No command comes near the bound, and a broker may pass on far larger messages.
    if (payload.size() > protocol::max_request_size) {
        mqtt->reply(json_text(protocol::notification(QStringLiteral("error"), QStringLiteral("message too big"))));
        return;
    }
    BrokerPeer peer;
    if (const std::optional<QJsonObject> answer =
            core.dispatcher().carry_out(QString::fromUtf8(payload), peer).answer())
        mqtt->reply(json_text(*answer));
}

} // namespace korvel::mqtt
