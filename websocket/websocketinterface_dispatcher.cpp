// The command dispatcher: the frame of every client message, subscriptions and queries.
#include "websocket/cwebsocketinterface.h"

#include "console/ckorvel.h"
#include "console/startupstate.h"
#include "console/valuelists.h"
#include "usb/cusbhid.h"
#include "websocket/consolecommand.h"
#include "websocket/session.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

#include <utility>

namespace {
constexpr int api_version_major = 0;
constexpr int api_version_minor = 3;
constexpr int api_version_patch = 0;

// Sends a query's answer to the client that asked, and to nobody else.
void reply(CWebSocketInterface &websocket, QWebSocket *client, const QString &msg, const QJsonValue &data)
{
    websocket.send_reply(client, websocket.answer(msg, data));
}

// The "id" member of a client message, undefined when it has none or is not a JSON object.
QJsonValue id_of(const QJsonDocument &document)
{
    return document.object().value(QLatin1String("id"));
}
} // namespace

CWebSocketInterface::QueryHandler CWebSocketInterface::find_query(const QString &name)
{
    static const std::pair<QString, QueryHandler> table[] = {
        {"subscribe", &CWebSocketInterface::subscribe},
        {"unsubscribe", &CWebSocketInterface::unsubscribe},
        {"get_subscriptions", &CWebSocketInterface::get_subscriptions},
        {"get_topics", &CWebSocketInterface::get_topics},
        {"get_api_version", &CWebSocketInterface::get_api_version},
        {"get_config", &CWebSocketInterface::get_config_reply},
        {"get_states", &CWebSocketInterface::get_states_reply},
        {"get_all", &CWebSocketInterface::get_all},
        {"get_firmware", &CWebSocketInterface::get_firmware_reply},
        {"get_state_complete", &CWebSocketInterface::get_state_complete},
        {"set_metering_interval", &CWebSocketInterface::set_metering_interval},
        {"get_metering_interval", &CWebSocketInterface::get_metering_interval},
    };
    for (const auto &[query, handler] : table) {
        if (query == name)
            return handler;
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
    if (const QueryHandler handler = find_query(name))
        return (this->*handler)(client, data, error);
    return 0;
}

// The subscription commands act on the sender's entry of the client table and never create one: an entry for
// a connection the server did not accept (or already released) would linger and be written to by every
// broadcast.
int CWebSocketInterface::subscribe(QWebSocket *client, const QJsonValue &data, QString &)
{
    korvel::websocket::Session *session = session_of(client);
    if (!session)
        return 0;
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
    return 0;
}

int CWebSocketInterface::unsubscribe(QWebSocket *client, const QJsonValue &data, QString &)
{
    korvel::websocket::Session *session = session_of(client);
    if (!session)
        return 0;
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
    return 0;
}

int CWebSocketInterface::get_subscriptions(QWebSocket *client, const QJsonValue &, QString &)
{
    const korvel::websocket::Session *session = session_of(client);
    reply(*this, client, "subscriptions", QJsonArray::fromStringList(session ? session->subscriptions : QStringList()));
    return 0;
}

int CWebSocketInterface::get_topics(QWebSocket *client, const QJsonValue &, QString &)
{
    reply(*this, client, "topics", QJsonArray::fromStringList(korvel::topic_names));
    return 0;
}

int CWebSocketInterface::get_api_version(QWebSocket *client, const QJsonValue &, QString &)
{
    const QString version =
        QStringLiteral("%1.%2.%3").arg(api_version_major).arg(api_version_minor).arg(api_version_patch);
    reply(*this, client, "api_version", version);
    return 0;
}

int CWebSocketInterface::get_config_reply(QWebSocket *client, const QJsonValue &, QString &)
{
    QJsonObject data;
    get_config(data);
    reply(*this, client, "config", data);
    return 0;
}

int CWebSocketInterface::get_states_reply(QWebSocket *client, const QJsonValue &, QString &)
{
    QJsonObject data;
    get_states(data);
    reply(*this, client, "states", data);
    return 0;
}

int CWebSocketInterface::get_all(QWebSocket *client, const QJsonValue &, QString &)
{
    QJsonObject data;
    get_all_data(data);
    reply(*this, client, "all", data);
    return 0;
}

int CWebSocketInterface::get_firmware_reply(QWebSocket *client, const QJsonValue &, QString &)
{
    QJsonObject data;
    get_firmware(data);
    // The version string itself, not an object. Should the builder leave it out, "data" is null rather than
    // missing (an undefined value would drop the member from the reply).
    const QJsonValue version = data.value(QLatin1String("firmware"));
    reply(*this, client, "firmware", version.isUndefined() ? QJsonValue() : version);
    return 0;
}

bool CWebSocketInterface::state_complete() const
{
    return startup->is_complete();
}

int CWebSocketInterface::get_state_complete(QWebSocket *client, const QJsonValue &, QString &)
{
    reply(*this, client, "state_complete", state_complete());
    return 0;
}

void CWebSocketInterface::on_state_complete()
{
    // Its own "msg": clients that know only "connected" and "disconnected" are not disturbed.
    notify(QStringLiteral("on_state_complete"), true);
}
