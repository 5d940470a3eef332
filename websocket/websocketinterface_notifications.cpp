// Notifications: one JSON message per console event. The catalogue's items need one line each; the control
// LEDs, the source selection and metering are built by hand.
#include "websocket/cwebsocketinterface.h"

#include "console/items.h"
#include "console/valuelists.h"

#include <QLatin1String>

using namespace korvel;
using R = korvel::ReportId;

namespace {
// The word of a code, or undefined (the field is left out) when the list has no such entry.
QJsonValue word(const QStringList &words, int code)
{
    return has_position(words, code) ? QJsonValue(words.at(code)) : QJsonValue(QJsonValue::Undefined);
}

// A field's value as a client reads it; undefined for a code without a word.
QJsonValue json_of(const layout::Field &field, int value)
{
    switch (field.kind) {
    case layout::Kind::flag:
        return value != 0;
    case layout::Kind::number:
    case layout::Kind::signed_number:
        return value;
    case layout::Kind::word:
    case layout::Kind::colour:
        break;
    }
    return word(*layout::words_of(field), value);
}

// The changed fields of an event by name; a field at its marker, or without a word, is left out.
QJsonObject changed_fields(std::span<const layout::Field> fields, const int *values)
{
    QJsonObject object;
    for (std::size_t k = 0; k < fields.size(); ++k) {
        if (values[k] == fields[k].marker)
            continue;
        if (const QJsonValue value = json_of(fields[k], values[k]); !value.isUndefined())
            object.insert(QLatin1String(fields[k].name), value);
    }
    return object;
}
} // namespace

void CWebSocketInterface::notify_keyed(const QString &msg, const QStringList &members, int index,
                                       const QJsonValue &value)
{
    // Only real members: not "*", not the unnamed voice-track positions, never past the list.
    if (index < 0 || index >= member_count(members) || members.at(index).isEmpty())
        return;
    QJsonObject data;
    if (!value.isUndefined())
        data.insert(members.at(index), value);
    notify(msg, data);
}

void CWebSocketInterface::notify_item(ReportId id, int member, std::initializer_list<int> fields)
{
    const Item &row = item(id);
    Q_ASSERT(fields.size() == row.fields.size());
    const QString msg = QLatin1String(row.notification);
    // One field is the value itself; several are an object of the changed ones.
    const QJsonValue value =
        fields.size() == 1 ? json_of(row.fields.front(), *fields.begin()) : changed_fields(row.fields, fields.begin());
    if (row.members)
        notify_keyed(msg, *row.members, member, value);
    else if (!value.isUndefined())
        notify(msg, value);
}

void CWebSocketInterface::on_ctrl_led_event(int id, int color)
{
    notify_keyed(QLatin1String(item(R::ctrl_led).notification), ctrl_key_names, id, word(led_color_names, color));
}

void CWebSocketInterface::on_ctrl_led_blink_event(int id, int color_on, int color_off, int blink_speed)
{
    const int values[] = {color_on, color_off, blink_speed};
    notify_keyed(QLatin1String(item(R::ctrl_led_blink).notification), ctrl_key_names, id,
                 changed_fields(fields::led_blink, values));
}

void CWebSocketInterface::on_state_src_sel_event(int mod, int source)
{
    // notify_keyed drops modules outside the list, so mod indexes module_source_names only when valid.
    const QJsonValue name = has_position(module_source_names, mod) && source != 0
                                ? QJsonValue(module_source_names.at(mod))
                                : QJsonValue(line_source_name);
    notify_keyed(QLatin1String(item(R::source_select).notification), module_names, mod, name);
}

QJsonObject CWebSocketInterface::notification(const QString &msg, const QJsonValue &data)
{
    return korvel::protocol::notification(msg, data);
}

QJsonObject CWebSocketInterface::metering_message(const MeterLevels &levels)
{
    return notification(QLatin1String(item(R::metering).notification), metering_data(levels));
}

void CWebSocketInterface::on_state_metering_event(float pgm_l, float pgm_r, float phones_l, float phones_r, float crm_l,
                                                  float crm_r)
{
    const MeterLevels levels{pgm_l, pgm_r, phones_l, phones_r, crm_l, crm_r};
    const QString &topic = korvel::topics::metering;
    // One frame for every subscriber that takes every report; the others get theirs at their own interval.
    if (paced_clients.isEmpty()) {
        notify(QLatin1String(item(R::metering).notification), metering_data(levels), topic);
        return;
    }
    // With every subscriber at an interval of its own, nobody takes the shared frame: it is not even built.
    if (has_metering_recipient())
        notify(QLatin1String(item(R::metering).notification), metering_data(levels), topic);
    pace_metering(levels);
}
