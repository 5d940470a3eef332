#include "protocol/core.h"

#include "console/ckorvel.h"
#include "console/items.h"
#include "console/itemsignals.h"
#include "console/startupstate.h"
#include "console/valuelists.h"
#include "protocol/envelope.h"
#include "usb/cusbhid.h"

#include <QLatin1String>
#include <QVarLengthArray>

#include <span>
#include <tuple>

namespace korvel::protocol {

namespace {
using R = ReportId;

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

QJsonObject metering_data(const MeterLevels &levels)
{
    static_assert(std::tuple_size_v<MeterLevels> == 6);
    QJsonObject data;
    for (std::size_t i = 0; i < levels.size(); ++i)
        data.insert(metering_level_names.at(qsizetype(i)), double(levels[i]));
    return data;
}
} // namespace

Core &Core::of(CKorvel &console)
{
    if (auto *core = console.findChild<Core *>(QString(), Qt::FindDirectChildrenOnly))
        return *core;
    return *new Core(console);
}

Core::Core(CKorvel &console)
    : QObject(&console)
    , console(console)
    , startup(new StartupState(console.device_link(), this))
    , state(console, *startup)
    , requests(console, state)
{
    std::apply([this](auto... items) { (relay(items.id, decltype(items)::signal), ...); }, item_signals);
    connect(&console, &CKorvel::ctrl_led_event, this, &Core::announce_ctrl_led);
    connect(&console, &CKorvel::ctrl_led_blink_event, this, &Core::announce_ctrl_led_blink);
    connect(&console, &CKorvel::state_metering_event, this,
            [this](float pgm_l, float pgm_r, float phones_l, float phones_r, float crm_l, float crm_r) {
                announce_metering({pgm_l, pgm_r, phones_l, phones_r, crm_l, crm_r});
            });
    if (CUSBHID *link = console.device_link()) {
        connect(link, &CUSBHID::connected, this, [this] { announce_link(true); });
        connect(link, &CUSBHID::disconnected, this, [this] { announce_link(false); });
    }
    connect(startup, &StartupState::completed, this, &Core::announce_state_complete);
}

template <typename... Args>
void Core::relay(ReportId id, void (CKorvel::*signal)(Args...))
{
    connect(&console, signal, this, [this, id](Args... values) { announce(id, {values...}); });
}

void Core::send(const QString &msg, const QJsonValue &data, const QString &topic)
{
    emit message(notification(msg, data), topic);
}

void Core::announce_keyed(const char *msg, const QStringList &members, int index, const QJsonValue &value)
{
    // Only real members: not "*", not the unnamed voice-track positions, never past the list.
    if (index < 0 || index >= member_count(members) || members.at(index).isEmpty())
        return;
    QJsonObject data;
    if (!value.isUndefined())
        data.insert(members.at(index), value);
    send(QLatin1String(msg), data);
}

void Core::announce(ReportId id, std::initializer_list<int> values)
{
    const Item &row = item(id);
    if (id == R::source_select) {
        // The source is a module's own (its name) or the line input, whatever the code.
        const int mod = values.begin()[0];
        const QJsonValue name = has_position(module_source_names, mod) && values.begin()[1] != 0
                                    ? QJsonValue(module_source_names.at(mod))
                                    : QJsonValue(line_source_name);
        announce_keyed(row.notification, module_names, mod, name);
        return;
    }
    const int *fields = values.begin() + (row.members ? 1 : 0);
    Q_ASSERT(values.end() - fields == qsizetype(row.fields.size()));
    // One field is the value itself; several are an object of the changed ones.
    const QJsonValue value =
        row.fields.size() == 1 ? json_of(row.fields.front(), *fields) : changed_fields(row.fields, fields);
    if (row.members)
        announce_keyed(row.notification, *row.members, values.begin()[0], value);
    else if (!value.isUndefined())
        send(QLatin1String(row.notification), value);
}

void Core::announce_ctrl_led(int id, int color)
{
    announce_keyed(item(R::ctrl_led).notification, ctrl_key_names, id, word(led_color_names, color));
}

void Core::announce_ctrl_led_blink(int id, int color_on, int color_off, int blink_speed)
{
    const int values[] = {color_on, color_off, blink_speed};
    announce_keyed(item(R::ctrl_led_blink).notification, ctrl_key_names, id, changed_fields(fields::led_blink, values));
}

QJsonObject Core::metering_message(const MeterLevels &levels)
{
    return notification(QLatin1String(item(R::metering).notification), metering_data(levels));
}

void Core::announce_metering(const MeterLevels &levels)
{
    emit message(metering_message(levels), topics::metering);
    emit this->levels(levels);
}

void Core::announce_link(bool open)
{
    send(QStringLiteral("on_device_status"), open ? QStringLiteral("connected") : QStringLiteral("disconnected"));
}

void Core::announce_state_complete()
{
    // Its own "msg": clients that know only "connected" and "disconnected" are not disturbed.
    send(QStringLiteral("on_state_complete"), true);
}

} // namespace korvel::protocol
