// The dispatcher: the frame of every request, subscriptions and queries.
#include "protocol/dispatcher.h"

#include "console/ckorvel.h"
#include "console/valuelists.h"
#include "protocol/consolecommand.h"
#include "protocol/envelope.h"
#include "protocol/jsonargs.h"
#include "protocol/peer.h"
#include "protocol/requestid.h"
#include "protocol/snapshotsource.h"
#include "usb/cusbhid.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QLocale>

#include <cmath>

namespace korvel::protocol {

namespace {
constexpr int api_version_major = 0;
constexpr int api_version_minor = 3;
constexpr int api_version_patch = 0;

const QString data_path = QStringLiteral("data");

// The "id" member of a request, undefined when it has none or is not a JSON object.
QJsonValue id_of(const QJsonDocument &document)
{
    return document.object().value(QLatin1String("id"));
}

// A whole number of milliseconds from 0 to the longest interval; a fraction is refused, not cut, since an
// interval the client did not give would be a surprise.
bool read_interval(const QJsonValue &data, int &ms, QString &error)
{
    if (data.isDouble()) {
        const double number = data.toDouble();
        if (number != std::trunc(number)) {
            error = jsonargs::invalid_value(QString::number(number, 'g', QLocale::FloatingPointShortest), data_path);
            return false;
        }
    }
    return jsonargs::read_number(data, 0, Dispatcher::max_metering_interval, data_path, ms, error);
}
} // namespace

std::optional<QJsonObject> Outcome::answer() const
{
    if (result < 0)
        return protocol::error(error, id);
    return reply;
}

Dispatcher::Dispatcher(CKorvel &console, SnapshotSource &snapshots)
    : console(console)
    , snapshots(snapshots)
{}

std::span<const Dispatcher::Query> Dispatcher::query_table()
{
    using D = Dispatcher;
    using S = SnapshotSource;
    // clang-format off
    static const Query table[] = {
        // msg                 handler                  data                      reply               reply data
        {"subscribe",          &D::subscribe,           {Payload::topics},        nullptr,            {}},
        {"unsubscribe",        &D::unsubscribe,         {Payload::topics_or_all}, nullptr,            {}},
        {"get_subscriptions",  &D::get_subscriptions,   {},                       "subscriptions",    {Payload::topic_list}},
        {"get_topics",         &D::get_topics,          {},                       "topics",           {Payload::topic_list}},
        {"get_api_version",    &D::get_api_version,     {},                       "api_version",      {Payload::version}},
        {"get_config",         &D::snapshot_reply<&S::get_config>, {},            "config",           {Payload::config}},
        {"get_states",         &D::snapshot_reply<&S::get_states>, {},            "states",           {Payload::states}},
        {"get_all",            &D::snapshot_reply<&S::get_all_data>, {},          "all",              {Payload::all}},
        {"get_firmware",       &D::get_firmware,        {},                       "firmware",         {Payload::firmware}},
        {"get_state_complete", &D::get_state_complete,  {},                       "state_complete",   {Payload::flag}},
        {"set_metering_interval", &D::set_metering_interval, {Payload::number, 0, D::max_metering_interval}, "metering_interval", {Payload::number, 0, D::max_metering_interval}},
        {"get_metering_interval", &D::get_metering_interval, {},                  "metering_interval", {Payload::number, 0, D::max_metering_interval}},
        // The WebSocket server's password exchange, read before a connection has authenticated; an unknown
        // command afterwards and on every other transport.
        {"authenticate",       nullptr,                 {Payload::text},          "authenticated",    {Payload::flag}},
        // Sent by a transport by itself; "error" answers any request it refuses.
        {nullptr,              nullptr,                 {},                       "hello",            {Payload::challenge}},
        {nullptr,              nullptr,                 {},                       "on_device_status", {Payload::device_status}},
        {nullptr,              nullptr,                 {},                       "on_state_complete", {Payload::flag}},
        {nullptr,              nullptr,                 {},                       "error",            {Payload::error}},
    };
    // clang-format on
    return table;
}

const Dispatcher::Query *Dispatcher::find_query(const QString &name)
{
    for (const Query &query : query_table()) {
        if (query.msg && query.handler && name == QLatin1String(query.msg))
            return &query;
    }
    return nullptr;
}

Outcome Dispatcher::carry_out(const QString &message, Peer &peer) const
{
    Outcome outcome;
    if (!console.device_link()->is_connected()) {
        // Read only for its id: the refusal is the same whatever the text holds.
        outcome.id = id_of(QJsonDocument::fromJson(message.toUtf8()));
        check_request_id(outcome.id, outcome.error);
        outcome.error = QStringLiteral("Device USB not connected!");
        outcome.result = -1;
        return outcome;
    }

    QJsonParseError parse_error;
    const QJsonDocument document = QJsonDocument::fromJson(message.toUtf8(), &parse_error);
    if (document.isNull()) {
        outcome.error = QStringLiteral("JSON syntax error, ") + parse_error.errorString();
        outcome.result = -1;
        return outcome;
    }
    outcome.id = id_of(document);
    if (!check_request_id(outcome.id, outcome.error)) {
        outcome.result = -1;
        return outcome;
    }

    // A top-level array counts as an empty object.
    const QJsonObject request = document.object();
    const auto msg = request.constFind(QLatin1String("msg"));
    if (msg == request.constEnd()) {
        outcome.error = QStringLiteral("key not found: 'msg'");
        outcome.result = -1;
        return outcome;
    }

    // Only a string equal to a command name matches; anything else is quietly ignored.
    if (!msg->isString())
        return outcome;
    const QString name = msg->toString();
    const QJsonValue data = request.value(QLatin1String("data"));
    if (const commands::Command *command = commands::find_command(name)) {
        outcome.result = commands::carry_out(console, *command, data, outcome.error);
        return outcome;
    }
    const Query *query = find_query(name);
    if (!query)
        return outcome;
    const QJsonValue reply = (this->*query->handler)(peer, data, outcome.error);
    if (!outcome.error.isEmpty()) {
        outcome.result = -1;
        return outcome;
    }
    if (query->reply && !reply.isUndefined())
        outcome.reply = protocol::reply(QLatin1String(query->reply), reply, outcome.id);
    return outcome;
}

// The subscription commands act on the peer's own list and never create one.
QJsonValue Dispatcher::subscribe(Peer &peer, const QJsonValue &data, QString &) const
{
    QStringList *list = peer.subscriptions();
    if (!list)
        return QJsonValue(QJsonValue::Undefined);
    const auto add = [list](const QString &topic) {
        if (lookup_word(topic_names, topic) >= 0 && !list->contains(topic))
            list->append(topic);
    };
    if (data.isArray()) {
        for (const QJsonValue &element : data.toArray()) {
            if (element.isString())
                add(element.toString());
        }
    } else if (data.isString()) {
        add(data.toString());
    }
    return QJsonValue(QJsonValue::Undefined);
}

QJsonValue Dispatcher::unsubscribe(Peer &peer, const QJsonValue &data, QString &) const
{
    QStringList *list = peer.subscriptions();
    if (!list)
        return QJsonValue(QJsonValue::Undefined);
    if (data.isArray()) {
        for (const QJsonValue &element : data.toArray()) {
            if (element.isString())
                list->removeAll(element.toString());
        }
    } else if (data.isString()) {
        const QString topic = data.toString();
        list->removeAll(topic);
        // "*" empties the list only as a plain string, not inside an array.
        if (topic == QLatin1String("*"))
            list->clear();
    }
    return QJsonValue(QJsonValue::Undefined);
}

QJsonValue Dispatcher::get_subscriptions(Peer &peer, const QJsonValue &, QString &) const
{
    const QStringList *list = peer.subscriptions();
    return QJsonArray::fromStringList(list ? *list : QStringList());
}

QJsonValue Dispatcher::get_topics(Peer &, const QJsonValue &, QString &) const
{
    return QJsonArray::fromStringList(topic_names);
}

QJsonValue Dispatcher::get_api_version(Peer &, const QJsonValue &, QString &) const
{
    return QStringLiteral("%1.%2.%3").arg(api_version_major).arg(api_version_minor).arg(api_version_patch);
}

template <void (SnapshotSource::*build)(QJsonObject &)>
QJsonValue Dispatcher::snapshot_reply(Peer &, const QJsonValue &, QString &) const
{
    QJsonObject data;
    (snapshots.*build)(data);
    return data;
}

QJsonValue Dispatcher::get_firmware(Peer &, const QJsonValue &, QString &) const
{
    QJsonObject data;
    snapshots.get_firmware(data);
    // The version string itself, not an object. Should the builder leave it out, "data" is null rather than
    // missing (an undefined value would drop the member from the reply).
    const QJsonValue version = data.value(QLatin1String("firmware"));
    return version.isUndefined() ? QJsonValue() : version;
}

QJsonValue Dispatcher::get_state_complete(Peer &, const QJsonValue &, QString &) const
{
    return snapshots.state_complete();
}

QJsonValue Dispatcher::set_metering_interval(Peer &peer, const QJsonValue &data, QString &error) const
{
    int ms = 0;
    if (!read_interval(data, ms, error) || !peer.set_metering_interval(ms))
        return QJsonValue(QJsonValue::Undefined);
    return ms;
}

QJsonValue Dispatcher::get_metering_interval(Peer &peer, const QJsonValue &, QString &) const
{
    const std::optional<int> ms = peer.metering_interval();
    return ms ? QJsonValue(*ms) : QJsonValue(QJsonValue::Undefined);
}

} // namespace korvel::protocol
