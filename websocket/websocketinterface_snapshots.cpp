// State and configuration snapshots from the report cache.
//
// Every builder reads fixed positions of cached payloads. A payload the console has not sent, or one too short
// for those positions, leaves the builder's key out rather than guessing; a code with no word in its list leaves
// its field out.
#include "websocket/cwebsocketinterface.h"

#include "console/ckorvel.h"
#include "console/valuelists.h"

#include <QLatin1String>

#include <functional>
#include <initializer_list>
#include <optional>

using namespace korvel;

namespace {
// Report ids of the cache entries the snapshots read.
enum Id : unsigned char {
    firmware_id = 0x01,
    led_colour_id = 0x02,
    led_blink_id = 0x03,
    ctrl_key_id = 0x04,
    comm_id = 0x0B,
    cough_id = 0x0C,
    voicetrack_id = 0x0D,
    config_auto_on_id = 0x11,
    config_cue_reset_id = 0x12,
    config_on_air_id = 0x13,
    config_crm_mute_id = 0x14,
    config_crm_auto_cue_reset_id = 0x15,
    config_studio_remote_id = 0x16,
    config_cue_interlock_id = 0x17,
    config_gpo_id = 0x18,
    config_cue_id = 0x19,
    config_on_id = 0x1A,
    config_fader_reserve_id = 0x1B,
    config_silence_detection_id = 0x1C,
    config_phantom_id = 0x1D,
    config_mic_at_line_id = 0x1E,
    config_auto_off_id = 0x1F,
    on_id = 0x20,
    cue_id = 0x21,
    fader_id = 0x22,
    auto_cue_id = 0x23,
    src_sel_id = 0x24,
    non_stop_id = 0x25,
    mic_on_id = 0x26,
    gpo_id = 0x27,
    on_air_id = 0x28,
    silence_detection_id = 0x29,
    module_id = 0x2A,
    crm_mute_id = 0x2B,
    track_id = 0x2C,
    phone_ringing_id = 0x2D,
    voip_connect_id = 0x2E,
    config_locked_on_id = 0x31,
    config_pgm_auto_off_id = 0x32,
    config_mic_on_id = 0x33,
};

// Sizes of the two LED tables the decoder keeps.
constexpr qsizetype led_colour_table_size = 16;
constexpr qsizetype led_blink_table_size = 64;

unsigned byte_at(const QByteArray &payload, qsizetype i)
{
    return static_cast<unsigned char>(payload.at(i));
}

bool bit(unsigned value, int k)
{
    return (value >> k) & 1U;
}

// Bit i of the 16-bit little-endian word in bytes 0-1.
bool word_bit(const QByteArray &payload, int i)
{
    return bit(byte_at(payload, 0) | (byte_at(payload, 1) << 8), i);
}

// The word of a code, or undefined (the field or member is left out) when the list has no such entry.
QJsonValue word(const QStringList &words, unsigned code)
{
    return code < static_cast<unsigned>(words.size()) ? QJsonValue(words.at(code)) : QJsonValue(QJsonValue::Undefined);
}

void put(QJsonObject &object, const QString &key, const QJsonValue &value)
{
    if (!value.isUndefined())
        object.insert(key, value);
}

// Booleans of the bits 0, 1, 2, ... of one byte, one per key.
QJsonObject bit_flags(unsigned value, std::initializer_list<const char *> keys)
{
    QJsonObject object;
    int k = 0;
    for (const char *key : keys)
        object.insert(QLatin1String(key), bit(value, k++));
    return object;
}

// One key per member of a member list ("*" excluded), the value computed from the member's position.
QJsonObject per_member(const QStringList &members, const std::function<QJsonValue(int)> &value_of)
{
    QJsonObject object;
    for (int i = 0; i < member_count(members); ++i)
        put(object, members.at(i), value_of(i));
    return object;
}

// The cached payload of id when it holds at least size bytes (cached() never creates an entry).
std::optional<QByteArray> entry(const CKorvel *console, unsigned char id, qsizetype size)
{
    QByteArray payload = console->cached(id);
    if (payload.size() < size)
        return std::nullopt;
    return payload;
}

// Builders of the common shapes, each setting key only when the entry is long enough.
void bool_per_member(QJsonObject &data, const char *key, const std::optional<QByteArray> &payload,
                     const QStringList &members)
{
    if (payload)
        data.insert(QLatin1String(key), per_member(members, [&](int i) { return byte_at(*payload, i) != 0; }));
}

void bool_of_byte0(QJsonObject &data, const char *key, const std::optional<QByteArray> &payload)
{
    if (payload)
        data.insert(QLatin1String(key), byte_at(*payload, 0) != 0);
}
} // namespace

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

void CWebSocketInterface::get_firmware(QJsonObject &data)
{
    if (const auto version = entry(console, firmware_id, 3))
        data.insert(
            QLatin1String("firmware"),
            QStringLiteral("%1.%2.%3").arg(byte_at(*version, 0)).arg(byte_at(*version, 1)).arg(byte_at(*version, 2)));
}

void CWebSocketInterface::get_ctrl_led(QJsonObject &data)
{
    const auto colour = entry(console, led_colour_id, led_colour_table_size);
    const auto blink = entry(console, led_blink_id, led_blink_table_size);
    if (!colour || !blink)
        return;
    data.insert(QLatin1String("ctrl_led"), per_member(ctrl_key_names, [&](int i) -> QJsonValue {
                    if (byte_at(*blink, 4 * i) == 0)
                        return word(led_color_names, byte_at(*colour, i));
                    QJsonObject blinking;
                    put(blinking, QStringLiteral("color_on"), word(led_color_names, byte_at(*blink, 4 * i + 1)));
                    put(blinking, QStringLiteral("color_off"), word(led_color_names, byte_at(*blink, 4 * i + 2)));
                    put(blinking, QStringLiteral("blink_speed"), word(blink_speed_names, byte_at(*blink, 4 * i + 3)));
                    return blinking;
                }));
}

void CWebSocketInterface::get_ctrl_key(QJsonObject &data)
{
    if (const auto keys = entry(console, ctrl_key_id, 2))
        data.insert(QLatin1String("ctrl_key"), per_member(ctrl_key_names, [&](int i) { return word_bit(*keys, i); }));
}

void CWebSocketInterface::get_on(QJsonObject &data)
{
    bool_per_member(data, "on", entry(console, on_id, member_count(module_names)), module_names);
}

void CWebSocketInterface::get_cue(QJsonObject &data)
{
    if (const auto cues = entry(console, cue_id, 2))
        data.insert(QLatin1String("cue"), per_member(cue_names, [&](int i) { return word_bit(*cues, i); }));
}

void CWebSocketInterface::get_fader(QJsonObject &data)
{
    bool_per_member(data, "fader", entry(console, fader_id, member_count(module_names)), module_names);
}

void CWebSocketInterface::get_auto_cue(QJsonObject &data)
{
    bool_per_member(data, "auto_cue", entry(console, auto_cue_id, member_count(auto_cue_names)), auto_cue_names);
}

void CWebSocketInterface::get_src_sel(QJsonObject &data)
{
    const auto sources = entry(console, src_sel_id, member_count(module_names));
    if (!sources)
        return;
    data.insert(QLatin1String("source_select"), per_member(module_names, [&](int i) {
                    return byte_at(*sources, i) == 0 ? QStringLiteral("line") : module_source_names.at(i);
                }));
}

void CWebSocketInterface::get_non_stop(QJsonObject &data)
{
    bool_of_byte0(data, "non_stop", entry(console, non_stop_id, 1));
}

void CWebSocketInterface::get_mic_on(QJsonObject &data)
{
    bool_of_byte0(data, "mic_on", entry(console, mic_on_id, 1));
}

void CWebSocketInterface::get_gpo(QJsonObject &data)
{
    bool_per_member(data, "gpo", entry(console, gpo_id, member_count(gpo_names)), gpo_names);
}

void CWebSocketInterface::get_on_air(QJsonObject &data)
{
    bool_per_member(data, "on_air", entry(console, on_air_id, member_count(on_air_names)), on_air_names);
}

void CWebSocketInterface::get_silence_detection(QJsonObject &data)
{
    bool_of_byte0(data, "silence_detection", entry(console, silence_detection_id, 1));
}

void CWebSocketInterface::get_module(QJsonObject &data)
{
    bool_per_member(data, "module_active", entry(console, module_id, member_count(module_names)), module_names);
}

void CWebSocketInterface::get_crm_mute(QJsonObject &data)
{
    bool_of_byte0(data, "crm_mute", entry(console, crm_mute_id, 1));
}

void CWebSocketInterface::get_track(QJsonObject &data)
{
    const auto tracks = entry(console, track_id, member_count(module_names));
    if (tracks)
        data.insert(QLatin1String("track"),
                    per_member(module_names, [&](int i) { return word(track_state_names, byte_at(*tracks, i)); }));
}

void CWebSocketInterface::get_studio_remote(QJsonObject &data)
{
    const qsizetype size = member_count(mic_module_names);
    const auto comm = entry(console, comm_id, size);
    const auto cough = entry(console, cough_id, size);
    if (!comm || !cough)
        return;
    data.insert(QLatin1String("studio_remote"), per_member(mic_module_names, [&](int i) {
                    return QJsonObject{{QLatin1String("comm"), byte_at(*comm, i) != 0},
                                       {QLatin1String("cough"), byte_at(*cough, i) != 0}};
                }));
}

void CWebSocketInterface::get_voicetrack(QJsonObject &data)
{
    const auto tracks = entry(console, voicetrack_id, member_count(voicetrack_module_names));
    if (!tracks)
        return;
    // Positions without a name have no voice-track function and get no key.
    QJsonObject object;
    for (int i = 0; i < member_count(voicetrack_module_names); ++i) {
        if (!voicetrack_module_names.at(i).isEmpty())
            object.insert(voicetrack_module_names.at(i), byte_at(*tracks, i) != 0);
    }
    data.insert(QLatin1String("voicetrack"), object);
}

void CWebSocketInterface::get_phone_ringing(QJsonObject &data)
{
    bool_of_byte0(data, "phone_ringing", entry(console, phone_ringing_id, 1));
}

void CWebSocketInterface::get_voip_connect(QJsonObject &data)
{
    bool_of_byte0(data, "voip_connect", entry(console, voip_connect_id, 1));
}

void CWebSocketInterface::get_config_auto_on(QJsonObject &data)
{
    bool_per_member(data, "config_auto_on", entry(console, config_auto_on_id, member_count(module_names)),
                    module_names);
}

void CWebSocketInterface::get_config_cue_reset(QJsonObject &data)
{
    const auto config = entry(console, config_cue_reset_id, member_count(module_names));
    if (!config)
        return;
    data.insert(QLatin1String("config_cue_reset"), per_member(module_names, [&](int i) {
                    return bit_flags(byte_at(*config, i), {"enabled_by_line", "enabled_by_mic_usb_voip",
                                                           "reset_by_fader", "reset_by_on", "reset_by_fader_and_on"});
                }));
}

void CWebSocketInterface::get_config_on_air(QJsonObject &data)
{
    const auto config = entry(console, config_on_air_id, member_count(module_names));
    if (!config)
        return;
    data.insert(QLatin1String("config_on_air"), per_member(module_names, [&](int i) {
                    return bit_flags(byte_at(*config, i),
                                     {"on_air1_enabled_by_line", "on_air1_enabled_by_mic_usb_voip",
                                      "on_air2_enabled_by_line", "on_air2_enabled_by_mic_usb_voip"});
                }));
}

void CWebSocketInterface::get_config_crm_mute(QJsonObject &data)
{
    bool_per_member(data, "config_crm_mute", entry(console, config_crm_mute_id, member_count(mic_module_names)),
                    mic_module_names);
}

void CWebSocketInterface::get_config_crm_auto_cue_reset(QJsonObject &data)
{
    bool_per_member(data, "config_crm_auto_cue_reset",
                    entry(console, config_crm_auto_cue_reset_id, member_count(mic_module_names)), mic_module_names);
}

void CWebSocketInterface::get_config_studio_remote(QJsonObject &data)
{
    const auto config = entry(console, config_studio_remote_id, member_count(mic_module_names));
    if (!config)
        return;
    data.insert(QLatin1String("config_studio_remote"), per_member(mic_module_names, [&](int i) {
                    return bit_flags(byte_at(*config, i), {"cough_enable", "comm_enable", "comm_private"});
                }));
}

void CWebSocketInterface::get_config_cue_interlock(QJsonObject &data)
{
    bool_of_byte0(data, "config_cue_interlock", entry(console, config_cue_interlock_id, 1));
}

void CWebSocketInterface::get_config_gpo(QJsonObject &data)
{
    const auto config = entry(console, config_gpo_id, 4 * member_count(gpo_names));
    if (!config)
        return;
    const QJsonObject gpos = per_member(gpo_names, [&](int i) {
        QJsonObject gpo;
        put(gpo, QStringLiteral("trigger"), word(gpo_trigger_names, byte_at(*config, 4 * i)));
        put(gpo, QStringLiteral("mode"), word(gpo_mode_names, byte_at(*config, 4 * i + 1)));
        put(gpo, QStringLiteral("type"), word(gpo_type_names, byte_at(*config, 4 * i + 2)));
        gpo.insert(QLatin1String("time"), static_cast<int>(byte_at(*config, 4 * i + 3)));
        return gpo;
    });
    if (!gpos.isEmpty())
        data.insert(QLatin1String("config_gpo"), gpos);
}

void CWebSocketInterface::get_config_cue(QJsonObject &data)
{
    // Two cues per byte, the even one in the low nibble.
    const qsizetype cues = member_count(cue_names);
    const auto config = entry(console, config_cue_id, (cues + 1) / 2);
    if (!config)
        return;
    data.insert(QLatin1String("config_cue"), per_member(cue_names, [&](int i) {
                    const unsigned nibble = byte_at(*config, i / 2) >> (4 * (i % 2));
                    QJsonObject colours;
                    put(colours, QStringLiteral("color_on"), word(led_color_names, nibble & 3U));
                    put(colours, QStringLiteral("color_off"), word(led_color_names, (nibble >> 2) & 3U));
                    return colours;
                }));
}

void CWebSocketInterface::get_config_on(QJsonObject &data)
{
    // color_on and color_off in a nibble per module (bytes 0-3), color_on_and_fader in 2 bits per module
    // (bytes 4-5).
    const auto config = entry(console, config_on_id, 6);
    if (!config)
        return;
    data.insert(QLatin1String("config_on"), per_member(module_names, [&](int i) {
                    const unsigned nibble = byte_at(*config, i / 2) >> (4 * (i % 2));
                    const unsigned fader = byte_at(*config, 4 + i / 4) >> (2 * (i % 4));
                    QJsonObject colours;
                    put(colours, QStringLiteral("color_on"), word(led_color_names, nibble & 3U));
                    put(colours, QStringLiteral("color_on_and_fader"), word(led_color_names, fader & 3U));
                    put(colours, QStringLiteral("color_off"), word(led_color_names, (nibble >> 2) & 3U));
                    return colours;
                }));
}

void CWebSocketInterface::get_config_fader_reserve(QJsonObject &data)
{
    bool_per_member(data, "config_fader_reserve", entry(console, config_fader_reserve_id, member_count(module_names)),
                    module_names);
}

void CWebSocketInterface::get_config_silence_detection(QJsonObject &data)
{
    const auto config = entry(console, config_silence_detection_id, 5);
    if (!config)
        return;
    QJsonObject silence;
    silence.insert(QLatin1String("threshold"), static_cast<int>(static_cast<signed char>(config->at(0))));
    silence.insert(QLatin1String("interval"), static_cast<int>(byte_at(*config, 1)));
    put(silence, QStringLiteral("interval_unit"), word(interval_unit_names, byte_at(*config, 2)));
    put(silence, QStringLiteral("source"), word(silence_source_names, byte_at(*config, 3)));
    silence.insert(QLatin1String("enable"), byte_at(*config, 4) != 0);
    data.insert(QLatin1String("config_silence_detection"), silence);
}

void CWebSocketInterface::get_config_phantom(QJsonObject &data)
{
    bool_per_member(data, "config_phantom", entry(console, config_phantom_id, member_count(mic_module_names)),
                    mic_module_names);
}

void CWebSocketInterface::get_config_mic_at_line(QJsonObject &data)
{
    bool_per_member(data, "config_mic_at_line", entry(console, config_mic_at_line_id, member_count(mic_module_names)),
                    mic_module_names);
}

void CWebSocketInterface::get_config_auto_off(QJsonObject &data)
{
    bool_per_member(data, "config_auto_off", entry(console, config_auto_off_id, member_count(module_names)),
                    module_names);
}

void CWebSocketInterface::get_config_locked_on(QJsonObject &data)
{
    bool_per_member(data, "config_locked_on", entry(console, config_locked_on_id, member_count(module_names)),
                    module_names);
}

void CWebSocketInterface::get_config_pgm_auto_off(QJsonObject &data)
{
    const auto config = entry(console, config_pgm_auto_off_id, member_count(module_names));
    if (!config)
        return;
    data.insert(QLatin1String("config_pgm_auto_off"), per_member(module_names, [&](int i) {
                    return bit_flags(byte_at(*config, i), {"enabled_by_line", "enabled_by_mic_usb_voip"});
                }));
}

void CWebSocketInterface::get_config_mic_on(QJsonObject &data)
{
    if (const auto mode = entry(console, config_mic_on_id, 1))
        put(data, QStringLiteral("config_mic_on"), word(mic_on_mode_names, byte_at(*mode, 0)));
}
