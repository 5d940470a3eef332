// Writes the JSON Schema of every WebSocket message (docs/websocket-api.json) from the tables the server itself
// runs on: the console commands (command_table[]), the item catalogue (snapshots and notifications) and the
// dispatcher's query table (everything else). Nothing here names a command.
#include "console/items.h"
#include "console/valuelists.h"
#include "protocol/consolecommand.h"
#include "protocol/dispatcher.h"
#include "protocol/requestid.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QSaveFile>

#include <algorithm>
#include <cstdio>

using namespace korvel;
using korvel::protocol::Data;
using korvel::protocol::Payload;

namespace {

QJsonObject words_schema(const QStringList &words)
{
    QJsonArray names;
    for (const QString &word : words) {
        // The unnamed gaps of a member list are no word a client can use.
        if (!word.isEmpty() && !names.contains(word))
            names.append(word);
    }
    return {{"type", "string"}, {"enum", names}};
}

QJsonObject integer(double min, double max)
{
    return {{"type", "integer"}, {"minimum", min}, {"maximum", max}};
}

QJsonObject any_of(const QJsonArray &schemas)
{
    return schemas.size() == 1 ? schemas.first().toObject() : QJsonObject{{"anyOf", schemas}};
}

QJsonObject array_of(const QJsonObject &items)
{
    return {{"type", "array"}, {"items", items}};
}

// An object of these members and no others.
QJsonObject object_of(const QJsonObject &properties, const QStringList &required = {})
{
    QJsonObject schema{{"type", "object"}, {"properties", properties}, {"additionalProperties", false}};
    if (!required.isEmpty())
        schema.insert("required", QJsonArray::fromStringList(required));
    return schema;
}

// Which side of the link a value is read on: a command takes the field's range, the server reports what the
// console's bits can hold.
enum class Side { client, server };

QJsonObject field_schema(const layout::Field &field, Side side)
{
    switch (field.kind) {
    case layout::Kind::flag:
        return {{"type", "boolean"}};
    case layout::Kind::word:
    case layout::Kind::colour:
        return words_schema(*layout::words_of(field));
    case layout::Kind::number:
        return side == Side::client ? integer(field.min, field.max) : integer(0, field.mask);
    case layout::Kind::signed_number:
        return side == Side::client ? integer(field.min, field.max) : integer(-(field.mask + 1) / 2, field.mask / 2);
    }
    return {};
}

// A word field is left out of what the server sends when the console reports a code without a word.
bool always_reported(const layout::Field &field)
{
    return field.kind != layout::Kind::word && field.kind != layout::Kind::colour;
}

// The fields of an item as an object by field name; all optional, or (a snapshot) those always reported required.
QJsonObject fields_object(std::span<const layout::Field> fields, Side side, bool snapshot)
{
    QJsonObject properties;
    QStringList required;
    for (const layout::Field &field : fields) {
        properties.insert(QLatin1String(field.name), field_schema(field, side));
        if (snapshot && always_reported(field))
            required.append(QLatin1String(field.name));
    }
    return object_of(properties, required);
}

// What the server sends for one member (or the whole console) of an item.
QJsonObject server_value(const Item &row, int member, bool snapshot)
{
    if (row.id == ReportId::source_select)
        return words_schema({line_source_name, module_source_names.at(member)});
    if (row.fields.size() == 1)
        return field_schema(row.fields.front(), Side::server);
    return fields_object(row.fields, Side::server, snapshot);
}

bool value_always_present(const Item &row)
{
    return row.fields.size() != 1 || always_reported(row.fields.front());
}

// An object keyed by member names, all of whose values have one schema.
QJsonObject keyed(const QStringList &names, const QJsonObject &value)
{
    return {{"type", "object"},
            {"propertyNames", QJsonObject{{"enum", QJsonArray::fromStringList(names)}}},
            {"additionalProperties", value}};
}

// The "data" of a snapshot key or notification that these rows share (the control LEDs are two items).
QJsonObject server_data(const QList<const Item *> &rows, bool snapshot)
{
    const Item &first = *rows.front();
    const auto value_of = [&](int member) {
        QJsonArray values;
        for (const Item *row : rows)
            values.append(server_value(*row, member, snapshot));
        return any_of(values);
    };
    if (!first.members)
        return value_of(0);
    QStringList names;
    QJsonObject properties;
    bool same = true;
    for (int i = 0; i < member_count(*first.members); ++i) {
        const QString &name = first.members->at(i);
        if (name.isEmpty())
            continue;
        names.append(name);
        properties.insert(name, value_of(i));
        same = same && properties.value(name) == properties.value(names.front());
    }
    QJsonObject schema = same ? keyed(names, value_of(0)) : object_of(properties);
    // A snapshot holds every member whose value is always reported; a notification names the one that changed.
    if (snapshot && std::all_of(rows.cbegin(), rows.cend(), [](const Item *row) { return value_always_present(*row); }))
        schema.insert("required", QJsonArray::fromStringList(names));
    if (!snapshot)
        schema.insert("maxProperties", 1);
    return schema;
}

QJsonObject metering_levels()
{
    QJsonObject properties;
    const QJsonObject level{{"type", "number"},
                            {"minimum", meter_level(0x00)},
                            {"maximum", meter_level(0xFF)},
                            {"multipleOf", meter_level(0x40) - meter_level(0x00)}};
    for (const QString &name : metering_level_names)
        properties.insert(name, level);
    return object_of(properties, metering_level_names);
}

QJsonObject studio_remote_snapshot_value()
{
    QStringList members = *item(studio_remote_switches[0].first).members;
    members.removeAll(QStringLiteral("*"));
    QJsonObject both;
    for (const auto &[id, name] : studio_remote_switches)
        both.insert(QLatin1String(name), field_schema(item(id).fields.front(), Side::server));
    QJsonObject schema = keyed(members, object_of(both, both.keys()));
    schema.insert("required", QJsonArray::fromStringList(members));
    return schema;
}

QJsonObject firmware_version()
{
    return {{"type", "string"}, {"pattern", "^[0-9]+\\.[0-9]+\\.[0-9]+$"}};
}

const QString snapshot_defs = QStringLiteral("#/$defs/snapshot_key/$defs/");

// The value of every snapshot key, by key.
QJsonObject snapshot_values()
{
    QMap<QString, QList<const Item *>> keys;
    for (const Item &row : catalogue) {
        if (row.snapshot)
            keys[QLatin1String(row.snapshot)].append(&row);
    }
    QJsonObject values;
    for (auto it = keys.constBegin(); it != keys.constEnd(); ++it)
        values.insert(it.key(), it.value().front()->id == ReportId::firmware ? firmware_version()
                                                                             : server_data(it.value(), true));
    values.insert(QLatin1String(studio_remote_snapshot), studio_remote_snapshot_value());
    return values;
}

// A snapshot: configuration keys begin with "config_". Every key is left out while its item has not been reported,
// so none is required.
QJsonObject snapshot(bool config, bool states)
{
    QJsonObject properties;
    for (const QString &key : snapshot_values().keys()) {
        if (key.startsWith(QLatin1String("config_")) ? config : states)
            properties.insert(key, QJsonObject{{"$ref", snapshot_defs + key}});
    }
    return object_of(properties);
}

QJsonObject topic_words(bool with_all)
{
    QStringList words = topic_names;
    if (with_all)
        words.append(QStringLiteral("*"));
    return words_schema(words);
}

QJsonObject payload_schema(const Data &data)
{
    switch (data.payload) {
    case Payload::ignored:
        return {};
    case Payload::flag:
        return {{"type", "boolean"}};
    case Payload::number:
        return integer(data.min, data.max);
    case Payload::text:
    case Payload::error:
        return {{"type", "string"}};
    case Payload::topics:
    case Payload::topics_or_all:
        return any_of({topic_words(data.payload == Payload::topics_or_all), array_of(topic_words(false))});
    case Payload::topic_list: {
        QJsonObject list = array_of(topic_words(false));
        list.insert("uniqueItems", true);
        return list;
    }
    case Payload::version:
        return firmware_version();
    case Payload::firmware:
        return any_of({firmware_version(), QJsonObject{{"type", "null"}}});
    case Payload::config:
        return snapshot(true, false);
    case Payload::states:
        return snapshot(false, true);
    case Payload::all:
        return snapshot(true, true);
    case Payload::challenge:
        return object_of({{"challenge", QJsonObject{{"type", "string"}}}, {"salt", QJsonObject{{"type", "string"}}}},
                         {"challenge", "salt"});
    case Payload::device_status:
        return words_schema({"connected", "disconnected"});
    }
    return {};
}

// One JSON type's reading of a command's value.
QJsonObject form_schema(const commands::Form &form)
{
    const std::span<const layout::Field> fields = item(form.item).fields;
    if (form.type != QJsonValue::Object)
        return field_schema(fields.front(), Side::client);
    QJsonObject schema = fields_object(fields, Side::client, false);
    if (form.needs_members)
        schema.insert("minProperties", 1);
    return schema;
}

QJsonObject command_value(const commands::Command &command)
{
    QJsonArray forms;
    if (command.custom) {
        // Each member switches an item of its own.
        QJsonObject switches;
        for (const auto &[id, name] : studio_remote_switches)
            switches.insert(QLatin1String(name), field_schema(item(id).fields.front(), Side::client));
        forms.append(object_of(switches));
    }
    for (const commands::Form &form : command.forms) {
        if (form.count > 0)
            forms.append(form_schema(form));
    }
    return any_of(forms);
}

QJsonObject command_data(const commands::Command &command)
{
    if (!command.keys)
        return command_value(command);
    QStringList names = *command.keys;
    names.removeAll(QString());
    return keyed(names, command_value(command));
}

// A message: "msg" fixed to its name, "data" as given (required unless any value does), "id" where it may be:
// a number, or a string short enough to echo (websocket/requestid.h).
QJsonObject message(const QString &msg, const QJsonObject &data, const char *id, bool data_required)
{
    QJsonObject properties{{"msg", QJsonObject{{"const", msg}}}, {"data", data}};
    if (id) {
        const QJsonArray forms{QJsonObject{{"type", "number"}},
                               QJsonObject{{"type", "string"}, {"maxLength", korvel::protocol::max_request_id_length}}};
        properties.insert("id", QJsonObject{{"description", id}, {"anyOf", forms}});
    }
    return object_of(properties, data_required ? QStringList{"data", "msg"} : QStringList{"msg"});
}

// A client's "id", and the same on the reply or error that answers it.
constexpr const char *request_id =
    "a number, or a string no longer than its maxLength; the replies and errors this message causes carry it";
constexpr const char *answered_id = "the \"id\" of the message this answers, when it had one";

// Any message of the side: one branch per "msg", taken by its name so that a refusal names what is wrong inside
// that message rather than in every other.
QJsonObject by_msg(const QString &side, const QStringList &names)
{
    QJsonArray branches;
    for (const QString &name : names) {
        // An object with this "msg"; anything else is refused once, by the checks after the branches.
        const QJsonObject is_it{{"type", "object"},
                                {"required", QJsonArray{"msg"}},
                                {"properties", QJsonObject{{"msg", QJsonObject{{"const", name}}}}}};
        branches.append(
            QJsonObject{{"if", is_it}, {"then", QJsonObject{{"$ref", "#/$defs/" + side + "/$defs/" + name}}}});
    }
    return {{"type", "object"},
            {"required", QJsonArray{"msg"}},
            {"properties", QJsonObject{{"msg", QJsonObject{{"enum", QJsonArray::fromStringList(names)}}}}},
            {"allOf", branches}};
}

// Names described twice: one "msg" for two different messages is a fault of the tables.
QStringList twice;

void describe(QJsonObject &messages, QStringList &names, const QString &name, const QJsonObject &schema)
{
    if (names.contains(name)) {
        // Two queries may share one reply ("metering_interval"); two different shapes under one name may not.
        if (messages.value(name).toObject() != schema)
            twice.append(name);
        return;
    }
    messages.insert(name, schema);
    names.append(name);
}

QJsonObject schema()
{
    QJsonObject client;
    QStringList client_names;
    for (const commands::Command &command : commands::command_table) {
        const QString name = QString::fromLatin1(command.name.data(), qsizetype(command.name.size()));
        describe(client, client_names, name, message(name, command_data(command), request_id, true));
    }

    QJsonObject server;
    QStringList server_names;
    for (const protocol::Dispatcher::Query &query : protocol::Dispatcher::query_table()) {
        if (query.msg) {
            const QString name = QLatin1String(query.msg);
            const bool data_required = query.data.payload != Payload::ignored;
            describe(client, client_names, name, message(name, payload_schema(query.data), request_id, data_required));
        }
        if (query.reply) {
            const QString name = QLatin1String(query.reply);
            // Replies and refusals carry the "id" of the message they answer; what the server sends by itself never.
            const bool with_id = query.msg || query.reply_data.payload == Payload::error;
            describe(server, server_names, name,
                     message(name, payload_schema(query.reply_data), with_id ? answered_id : nullptr, true));
        }
    }
    QMap<QString, QList<const Item *>> notifications;
    for (const Item &row : catalogue) {
        if (row.notification)
            notifications[QLatin1String(row.notification)].append(&row);
    }
    for (auto it = notifications.constBegin(); it != notifications.constEnd(); ++it) {
        const bool metering = it.value().front()->id == ReportId::metering;
        describe(server, server_names, it.key(),
                 message(it.key(), metering ? metering_levels() : server_data(it.value(), false), nullptr, true));
    }

    QJsonObject client_message = by_msg("client_message", client_names);
    client_message.insert("description", "A message a client sends to the server.");
    client_message.insert("$defs", client);
    QJsonObject server_message = by_msg("server_message", server_names);
    server_message.insert("description",
                          "A message the server sends to a client: a reply, an error or a notification.");
    server_message.insert("$defs", server);
    return {
        {"$schema", "https://json-schema.org/draft/2020-12/schema"},
        {"$id", "urn:korvel-control:websocket-api"},
        {"title", "Korvel Control WebSocket API"},
        {"description", "Every message of the Korvel Control WebSocket API. Generated by tools/websocket_schema "
                        "from the server's own tables: do not edit."},
        {"$defs", QJsonObject{{"client_message", client_message},
                              {"server_message", server_message},
                              {"snapshot_key", QJsonObject{{"$defs", snapshot_values()}}}}},
        {"anyOf",
         QJsonArray{QJsonObject{{"$ref", "#/$defs/client_message"}}, QJsonObject{{"$ref", "#/$defs/server_message"}}}},
    };
}

} // namespace

int main(int argc, char **argv)
{
    const QByteArray text = QJsonDocument(schema()).toJson(QJsonDocument::Indented);
    if (!twice.isEmpty()) {
        std::fprintf(stderr, "websocket_schema: more than one message called %s\n", qPrintable(twice.join(", ")));
        return 1;
    }
    if (argc < 2) {
        std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
        return 0;
    }
    QSaveFile file(QString::fromLocal8Bit(argv[1]));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size()) {
        std::fprintf(stderr, "websocket_schema: cannot write %s\n", argv[1]);
        return 1;
    }
    return file.commit() ? 0 : 1;
}
