// The command dispatcher: the frame of every client message, subscriptions and queries.
#include "websocket/cwebsocketinterface.h"

#include "console/ckorvel.h"
#include "console/startupstate.h"
#include "console/valuelists.h"
#include "usb/cusbhid.h"
#include "websocket/consolecommand.h"
#include "websocket/requestid.h"
#include "websocket/session.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

namespace {
constexpr int api_version_major = 0;
constexpr int api_version_minor = 3;
constexpr int api_version_patch = 0;

// The "id" member of a client message, undefined when it has none or is not a JSON object.
QJsonValue id_of(const QJsonDocument &document)
{
    return document.object().value(QLatin1String("id"));
}
} // namespace

std::span<const CWebSocketInterface::Query> CWebSocketInterface::query_table()
{
    using korvel::websocket::Payload;
    using C = CWebSocketInterface;
    // clang-format off
    static const Query table[] = {
        // msg                 handler                  data                      reply               reply data
        {"subscribe",          &C::subscribe,           {Payload::topics},        nullptr,            {}},
        {"unsubscribe",        &C::unsubscribe,         {Payload::topics_or_all}, nullptr,            {}},
        {"get_subscriptions",  &C::get_subscriptions,   {},                       "subscriptions",    {Payload::topic_list}},
        {"get_topics",         &C::get_topics,          {},                       "topics",           {Payload::topic_list}},
        {"get_api_version",    &C::get_api_version,     {},                       "api_version",      {Payload::version}},
        {"get_config",         &C::snapshot_reply<&C::get_config>, {},                       "config",           {Payload::config}},
        {"get_states",         &C::snapshot_reply<&C::get_states>, {},                       "states",           {Payload::states}},
        {"get_all",            &C::snapshot_reply<&C::get_all_data>, {},                       "all",              {Payload::all}},
        {"get_firmware",       &C::get_firmware_reply,  {},                       "firmware",         {Payload::firmware}},
        {"get_state_complete", &C::get_state_complete,  {},                       "state_complete",   {Payload::flag}},
        {"set_metering_interval", &C::set_metering_interval, {Payload::number, 0, C::max_metering_interval}, "metering_interval", {Payload::number, 0, C::max_metering_interval}},
        {"get_metering_interval", &C::get_metering_interval, {},                       "metering_interval", {Payload::number, 0, C::max_metering_interval}},
        // Read by authenticate() before a connection has authenticated; an unknown command afterwards.
        {"authenticate",       nullptr,                 {Payload::text},          "authenticated",    {Payload::flag}},
        // Sent by the server by itself; "error" answers any client message it refuses.
        {nullptr,              nullptr,                 {},                       "hello",            {Payload::challenge}},
        {nullptr,              nullptr,                 {},                       "on_device_status", {Payload::device_status}},
        {nullptr,              nullptr,                 {},                       "on_state_complete", {Payload::flag}},
        {nullptr,              nullptr,                 {},                       "error",            {Payload::error}},
    };
    // clang-format on
    return table;
}

const CWebSocketInterface::Query *CWebSocketInterface::find_query(const QString &name)
{
    for (const Query &query : query_table()) {
        if (query.msg && query.handler && name == QLatin1String(query.msg))
            return &query;
    }
    return nullptr;
}

QJsonObject CWebSocketInterface::answer(const QString &msg, const QJsonValue &data) const
{
    QJsonObject message{{QStringLiteral("data"), data}, {QStringLiteral("msg"), msg}};
    // Only a message that carried an id gets one back, so replies to the others keep their exact bytes.
    if (!request_id.isUndefined())
        message.insert(QStringLiteral("id"), request_id);
    return message;
}

int CWebSocketInterface::parseJSON(QWebSocket *client, const QString &message, QString &error)
{
    request_id = QJsonValue(QJsonValue::Undefined);
    if (!console->device_link()->is_connected()) {
        // Read only for its id: the refusal is the same whatever the text holds.
        request_id = id_of(QJsonDocument::fromJson(message.toUtf8()));
        korvel::websocket::check_request_id(request_id, error);
        error = QStringLiteral("Device USB not connected!");
        return -1;
    }

    QJsonParseError parse_error;
    const QJsonDocument document = QJsonDocument::fromJson(message.toUtf8(), &parse_error);
    if (document.isNull()) {
        error = QStringLiteral("JSON syntax error, ") + parse_error.errorString();
        return -1;
    }
    request_id = id_of(document);
    if (!korvel::websocket::check_request_id(request_id, error))
        return -1;

    // A top-level array counts as an empty object.
    const QJsonObject request = document.object();
    const auto msg = request.constFind(QLatin1String("msg"));
    if (msg == request.constEnd()) {
        error = QStringLiteral("key not found: 'msg'");
        return -1;
    }

    // Only a string equal to a command name matches; anything else is quietly ignored.
    if (!msg->isString())
        return 0;
    const QString name = msg->toString();
    const QJsonValue data = request.value(QLatin1String("data"));
    if (const korvel::commands::Command *command = korvel::commands::find_command(name))
        return korvel::commands::carry_out(*console, *command, data, error);
    const Query *query = find_query(name);
    if (!query)
        return 0;
    // error may hold an earlier text: a refusal is told by the handler's own.
    QString refusal;
    const QJsonValue reply = (this->*query->handler)(client, data, refusal);
    if (!refusal.isEmpty()) {
        error = refusal;
        return -1;
    }
    // To the client that asked (or the sink of a message from elsewhere), and to nobody else.
    if (query->reply && !reply.isUndefined())
        send_reply(client, answer(QLatin1String(query->reply), reply));
    return 0;
}

// The subscription commands act on the sender's entry of the client table and never create one: an entry for
// a connection the server did not accept (or already released) would linger and be written to by every
// broadcast.
QJsonValue CWebSocketInterface::subscribe(QWebSocket *client, const QJsonValue &data, QString &)
{
    korvel::websocket::Session *session = session_of(client);
    if (!session)
        return QJsonValue(QJsonValue::Undefined);
    QStringList &list = session->subscriptions;
    const auto add = [&list](const QString &topic) {
        if (korvel::lookup_word(korvel::topic_names, topic) >= 0 && !list.contains(topic))
            list.append(topic);
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

QJsonValue CWebSocketInterface::unsubscribe(QWebSocket *client, const QJsonValue &data, QString &)
{
    korvel::websocket::Session *session = session_of(client);
    if (!session)
        return QJsonValue(QJsonValue::Undefined);
    QStringList &list = session->subscriptions;
    if (data.isArray()) {
        for (const QJsonValue &element : data.toArray()) {
            if (element.isString())
                list.removeAll(element.toString());
        }
    } else if (data.isString()) {
        const QString topic = data.toString();
        list.removeAll(topic);
        // "*" empties the list only as a plain string, not inside an array.
        if (topic == QLatin1String("*"))
            list.clear();
    }
    return QJsonValue(QJsonValue::Undefined);
}

QJsonValue CWebSocketInterface::get_subscriptions(QWebSocket *client, const QJsonValue &, QString &)
{
    const korvel::websocket::Session *session = session_of(client);
    return QJsonArray::fromStringList(session ? session->subscriptions : QStringList());
}

QJsonValue CWebSocketInterface::get_topics(QWebSocket *, const QJsonValue &, QString &)
{
    return QJsonArray::fromStringList(korvel::topic_names);
}

QJsonValue CWebSocketInterface::get_api_version(QWebSocket *, const QJsonValue &, QString &)
{
    return QStringLiteral("%1.%2.%3").arg(api_version_major).arg(api_version_minor).arg(api_version_patch);
}

QJsonValue CWebSocketInterface::get_firmware_reply(QWebSocket *, const QJsonValue &, QString &)
{
    QJsonObject data;
    get_firmware(data);
    // The version string itself, not an object. Should the builder leave it out, "data" is null rather than
    // missing (an undefined value would drop the member from the reply).
    const QJsonValue version = data.value(QLatin1String("firmware"));
    return version.isUndefined() ? QJsonValue() : version;
}

bool CWebSocketInterface::state_complete() const
{
    return startup->is_complete();
}

QJsonValue CWebSocketInterface::get_state_complete(QWebSocket *, const QJsonValue &, QString &)
{
    return state_complete();
}

void CWebSocketInterface::on_state_complete()
{
    // Its own "msg": clients that know only "connected" and "disconnected" are not disturbed.
    notify(QStringLiteral("on_state_complete"), true);
}
