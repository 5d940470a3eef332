// State and configuration snapshots from the report cache, read through the catalogue's layouts.
//
// A payload the console has not sent, or one too short for every field of every member, leaves the builder's key
// out rather than guessing; a code with no word in its list leaves its field (or its member) out.
#include "websocket/cwebsocketinterface.h"

#include "console/ckorvel.h"
#include "console/items.h"
#include "console/valuelists.h"

#include <QLatin1String>

#include <functional>
#include <optional>

using namespace korvel;
using R = korvel::ReportId;

namespace {
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

void put(QJsonObject &object, const QString &key, const QJsonValue &value)
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
        put(object, QLatin1String(field.name), json_of(field, payload, member));
    return object;
}

// One key per named member of a member list ("*" and the unnamed positions excluded).
QJsonObject per_member(const QStringList &members, const std::function<QJsonValue(int)> &value_of)
{
    QJsonObject object;
    for (int i = 0; i < member_count(members); ++i) {
        if (!members.at(i).isEmpty())
            put(object, members.at(i), value_of(i));
    }
    return object;
}

// The cached payload of an item when it reaches every field of every member (cached() never creates an entry).
std::optional<QByteArray> entry(const CKorvel *console, const Item &row)
{
    QByteArray payload = console->cached(static_cast<unsigned char>(row.id));
    if (payload.size() < payload_size(row))
        return std::nullopt;
    return payload;
}
} // namespace

void CWebSocketInterface::put_snapshot(QJsonObject &data, ReportId id) const
{
    const Item &row = item(id);
    const auto payload = entry(console, row);
    if (!payload)
        return;
    const QLatin1String key(row.snapshot);
    if (row.members)
        data.insert(key, per_member(*row.members, [&](int i) { return value_of(row, *payload, i); }));
    else
        put(data, key, value_of(row, *payload, 0));
}

void CWebSocketInterface::get_states(QJsonObject &data)
{
    get_ctrl_led(data);
    get_ctrl_key(data);
    get_on(data);
    get_cue(data);
    get_fader(data);
    get_auto_cue(data);
    get_src_sel(data);
    get_non_stop(data);
    get_mic_on(data);
    get_gpo(data);
    get_on_air(data);
    get_silence_detection(data);
    get_module(data);
    get_crm_mute(data);
    get_track(data);
    get_studio_remote(data);
    get_voicetrack(data);
    get_phone_ringing(data);
    get_voip_connect(data);
    get_firmware(data);
}

void CWebSocketInterface::get_config(QJsonObject &data)
{
    get_config_auto_on(data);
    get_config_cue_reset(data);
    get_config_on_air(data);
    get_config_crm_mute(data);
    get_config_crm_auto_cue_reset(data);
    get_config_studio_remote(data);
    get_config_cue_interlock(data);
    get_config_gpo(data);
    get_config_cue(data);
    get_config_on(data);
    get_config_fader_reserve(data);
    get_config_silence_detection(data);
    get_config_phantom(data);
    get_config_mic_at_line(data);
    get_config_auto_off(data);
    get_config_locked_on(data);
    get_config_pgm_auto_off(data);
    get_config_mic_on(data);
}

void CWebSocketInterface::get_all_data(QJsonObject &data)
{
    get_config(data);
    get_states(data);
}

void CWebSocketInterface::get_item_snapshot(QJsonObject &data, ReportId id)
{
    switch (id) {
    case R::firmware:
        get_firmware(data);
        return;
    case R::ctrl_led:
    case R::ctrl_led_blink:
        get_ctrl_led(data);
        return;
    case R::source_select:
        get_src_sel(data);
        return;
    case R::comm:
    case R::cough:
        get_studio_remote(data);
        return;
    default:
        break;
    }
    if (item(id).snapshot)
        put_snapshot(data, id);
}

void CWebSocketInterface::get_firmware(QJsonObject &data)
{
    const Item &row = item(R::firmware);
    if (const auto version = entry(console, row)) {
        const auto number = [&](int k) { return layout::read(row.fields[k], *version, 0).value_or(0); };
        data.insert(QLatin1String(row.snapshot),
                    QStringLiteral("%1.%2.%3").arg(number(0)).arg(number(1)).arg(number(2)));
    }
}

void CWebSocketInterface::get_ctrl_led(QJsonObject &data)
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

void CWebSocketInterface::get_src_sel(QJsonObject &data)
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
void CWebSocketInterface::get_studio_remote(QJsonObject &data)
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
