#include "protocol/snapshots.h"

#include "console/ckorvel.h"
#include "console/items.h"
#include "console/startupstate.h"
#include "console/valuelists.h"

#include <QJsonObject>
#include <QLatin1String>

#include <functional>
#include <optional>

namespace korvel::protocol {

namespace {
using R = ReportId;

// A field's value of one member as a snapshot shows it; undefined for a code without a word. A payload
// checked by entry() always reaches the field.
QJsonValue json_of(const layout::Field &field, QByteArrayView payload, int member)
{
    const int bits = layout::read(field, payload, member).value_or(0);
    switch (field.kind) {
    case layout::Kind::flag:
        return bits != 0;
    case layout::Kind::number:
    case layout::Kind::signed_number:
        return layout::announced(field, bits);
    case layout::Kind::word:
    case layout::Kind::colour:
        break;
    }
    const QStringList &words = *layout::words_of(field);
    return has_position(words, bits) ? QJsonValue(words.at(bits)) : QJsonValue(QJsonValue::Undefined);
}

void put_value(QJsonObject &object, const QString &key, const QJsonValue &value)
{
    if (!value.isUndefined())
        object.insert(key, value);
}

// One field is the value itself; several are an object by field name.
QJsonValue value_of(const Item &row, QByteArrayView payload, int member)
{
    if (row.fields.size() == 1)
        return json_of(row.fields.front(), payload, member);
    QJsonObject object;
    for (const layout::Field &field : row.fields)
        put_value(object, QLatin1String(field.name), json_of(field, payload, member));
    return object;
}

// One key per named member of a member list ("*" and the unnamed positions excluded).
QJsonObject per_member(const QStringList &members, const std::function<QJsonValue(int)> &value_of)
{
    QJsonObject object;
    for (int i = 0; i < member_count(members); ++i) {
        if (!members.at(i).isEmpty())
            put_value(object, members.at(i), value_of(i));
    }
    return object;
}

// The cached payload of an item when it reaches every field of every member (cached() never creates an entry).
std::optional<QByteArray> entry(const CKorvel &console, const Item &row)
{
    QByteArray payload = console.cached(static_cast<unsigned char>(row.id));
    if (payload.size() < payload_size(row))
        return std::nullopt;
    return payload;
}

void put_regular(QJsonObject &data, const CKorvel &console, const Item &row)
{
    const auto payload = entry(console, row);
    if (!payload)
        return;
    const QLatin1String key(row.snapshot);
    if (row.members)
        data.insert(key, per_member(*row.members, [&](int i) { return value_of(row, *payload, i); }));
    else
        put_value(data, key, value_of(row, *payload, 0));
}

void put_firmware(QJsonObject &data, const CKorvel &console)
{
    const Item &row = item(R::firmware);
    if (const auto version = entry(console, row)) {
        const auto number = [&](int k) { return layout::read(row.fields[k], *version, 0).value_or(0); };
        data.insert(QLatin1String(row.snapshot),
                    QStringLiteral("%1.%2.%3").arg(number(0)).arg(number(1)).arg(number(2)));
    }
}

// Each LED from the table of its mode: the blink table where its blinking flag is set, else the colour table.
void put_ctrl_led(QJsonObject &data, const CKorvel &console)
{
    const Item &steady = item(R::ctrl_led);
    const Item &blinking = item(R::ctrl_led_blink);
    const auto colour = entry(console, steady);
    const auto blink = entry(console, blinking);
    if (!colour || !blink)
        return;
    data.insert(QLatin1String(steady.snapshot), per_member(ctrl_key_names, [&](int i) {
                    return layout::read(layout::led_blinking_flag, *blink, i).value_or(0) == 0
                               ? value_of(steady, *colour, i)
                               : value_of(blinking, *blink, i);
                }));
}

void put_src_sel(QJsonObject &data, const CKorvel &console)
{
    const Item &row = item(R::source_select);
    if (const auto sources = entry(console, row))
        data.insert(QLatin1String(row.snapshot), per_member(module_names, [&](int i) {
                        return layout::read(row.fields.front(), *sources, i).value_or(0) == 0
                                   ? line_source_name
                                   : module_source_names.at(i);
                    }));
}

// The comm and cough states, two items, under one key.
void put_studio_remote(QJsonObject &data, const CKorvel &console)
{
    QJsonObject switches[std::size(studio_remote_switches)];
    for (std::size_t s = 0; s < std::size(studio_remote_switches); ++s) {
        const Item &row = item(studio_remote_switches[s].first);
        const auto payload = entry(console, row);
        if (!payload)
            return;
        switches[s] = per_member(*row.members, [&](int i) { return value_of(row, *payload, i); });
    }
    data.insert(QLatin1String(studio_remote_snapshot), per_member(mic_module_names, [&](int i) {
                    QJsonObject both;
                    for (std::size_t s = 0; s < std::size(studio_remote_switches); ++s)
                        both.insert(QLatin1String(studio_remote_switches[s].second),
                                    switches[s].value(mic_module_names.at(i)));
                    return both;
                }));
}

// The hand-written builder of an item's key, or null for a regular item.
using Builder = void (*)(QJsonObject &, const CKorvel &);
Builder irregular_builder(ReportId id)
{
    switch (id) {
    case R::firmware:
        return put_firmware;
    case R::ctrl_led:
    case R::ctrl_led_blink:
        return put_ctrl_led;
    case R::source_select:
        return put_src_sel;
    case R::comm:
    case R::cough:
        return put_studio_remote;
    default:
        return nullptr;
    }
}

// The item that stands for a key several items feed: the key is built once, at that item's row.
bool stands_for_key(ReportId id)
{
    return id != R::ctrl_led_blink && id != R::cough;
}

bool is_config_key(const char *key)
{
    return QLatin1String(key).startsWith(QLatin1String("config_"));
}
} // namespace

Snapshots::Snapshots(const CKorvel &console, const StartupState &startup)
    : console(console)
    , startup(startup)
{}

void Snapshots::put(QJsonObject &data, ReportId id) const
{
    if (const Builder irregular = irregular_builder(id))
        irregular(data, console);
    else if (item(id).snapshot)
        put_regular(data, console, item(id));
}

void Snapshots::put_keys(QJsonObject &data, bool config) const
{
    for (const Item &row : catalogue) {
        // Comm and cough have no key of their own: together they are the studio remote's.
        const char *key = row.id == R::comm ? studio_remote_snapshot : row.snapshot;
        if (key && stands_for_key(row.id) && is_config_key(key) == config)
            put(data, row.id);
    }
}

void Snapshots::get_states(QJsonObject &data)
{
    put_keys(data, false);
}

void Snapshots::get_config(QJsonObject &data)
{
    put_keys(data, true);
}

void Snapshots::get_all_data(QJsonObject &data)
{
    put_keys(data, true);
    put_keys(data, false);
}

bool Snapshots::state_complete() const
{
    return startup.is_complete();
}

} // namespace korvel::protocol
