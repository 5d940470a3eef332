#pragma once

#include "console/reportid.h"
#include "console/reportlayout.h"
#include "console/valuelists.h"

#include <QtGlobal>

#include <algorithm>
#include <array>
#include <span>
#include <string_view>
#include <utility>

// The console's items: for each, its report id, its members, its fields and the JSON names under which the
// WebSocket API shows it. The decoder, the encoder, the commands, the notifications and the snapshots all read
// this one catalogue.
namespace korvel {

struct Item {
    ReportId id;
    const QStringList *members; // null: one for the whole console
    // In the order of the console operation's and the event's parameters.
    std::span<const layout::Field> fields;
    const char *snapshot;     // its key in the snapshots; null: none
    const char *notification; // the "msg" of its notification; null: none
    // The command carries the fields as the flag bits of one byte, each at its bit in the state report.
    bool packed = false;
};

namespace fields {
using layout::Field;
using layout::Kind;
using namespace layout;
inline constexpr Field flag_per_member[] = {member_byte()};
inline constexpr Field flag_per_bit[] = {member_bit()};
inline constexpr Field console_flag[] = {console_byte()};
inline constexpr Field switch_per_member[] = {member_byte(Kind::word, &switch_action_names)};
inline constexpr Field console_switch[] = {console_byte(0, Kind::word, &switch_action_names)};
inline constexpr Field track_state[] = {member_byte(Kind::word, &track_state_names)};
inline constexpr Field source[] = {member_byte(Kind::number)};
inline constexpr Field mic_on_mode[] = {console_byte(0, Kind::word, &mic_on_mode_names)};
inline constexpr Field firmware[] = {console_byte(0, Kind::number), console_byte(1, Kind::number),
                                     console_byte(2, Kind::number)};
// The LED colour table and the blink table (layout::led_blinking_flag).
inline constexpr Field led_colour[] = {member_byte(Kind::colour)};
inline constexpr Field led_blink[] = {record_byte(keys::color_on, 1, 4, Kind::colour),
                                      record_byte(keys::color_off, 2, 4, Kind::colour),
                                      record_byte(keys::blink_speed, 3, 4, Kind::word, &blink_speed_names)};
inline constexpr Field cue_reset[] = {flag_bit("enabled_by_line", 0), flag_bit("enabled_by_mic_usb_voip", 1),
                                      flag_bit("reset_by_fader", 2), flag_bit("reset_by_on", 3),
                                      flag_bit("reset_by_fader_and_on", 4)};
inline constexpr Field on_air[] = {
    flag_bit("on_air1_enabled_by_line", 0), flag_bit("on_air1_enabled_by_mic_usb_voip", 1),
    flag_bit("on_air2_enabled_by_line", 2), flag_bit("on_air2_enabled_by_mic_usb_voip", 3)};
inline constexpr Field studio_remote[] = {flag_bit("cough_enable", 0), flag_bit("comm_enable", 1),
                                          flag_bit("comm_private", 2)};
inline constexpr Field pgm_auto_off[] = {flag_bit("enabled_by_line", 0), flag_bit("enabled_by_mic_usb_voip", 1)};
// Four bytes per GPO.
inline constexpr Field gpo[] = {
    record_byte("trigger", 0, 4, Kind::word, &gpo_trigger_names),
    record_byte("mode", 1, 4, Kind::word, &gpo_mode_names),
    record_byte("type", 2, 4, Kind::word, &gpo_type_names),
    {.name = "time", .kind = Kind::number, .min = 10, .max = 255, .offset = 3, .stride = 4},
};
// A nibble per cue, even cues in the low nibble.
inline constexpr Field cue_colours[] = {colour(keys::color_on, 0, 2, 0), colour(keys::color_off, 0, 2, 2)};
// The nibble per module in bytes 0-3, the fader colour four modules to a byte from byte 4.
inline constexpr Field on_colours[] = {colour(keys::color_on, 0, 2, 0), colour(keys::color_on_and_fader, 4, 4, 0),
                                       colour(keys::color_off, 0, 2, 2)};
// 1 marks the threshold unchanged: -1 is a threshold the console accepts.
inline constexpr Field silence_detection[] = {
    {.name = "threshold", .kind = Kind::signed_number, .min = -40, .max = 0, .stride = 0, .marker = 1},
    {.name = "interval", .kind = Kind::number, .min = 2, .max = 255, .offset = 1, .stride = 0},
    {.name = "interval_unit", .kind = Kind::word, .words = &interval_unit_names, .offset = 2, .stride = 0},
    {.name = "source", .kind = Kind::word, .words = &silence_source_names, .offset = 3, .stride = 0},
    {.name = "enable", .offset = 4, .stride = 0},
};
} // namespace fields

// clang-format off
inline constexpr Item catalogue[] = {
    // id                                   members                     fields                       snapshot                     notification
    {ReportId::firmware,                  nullptr,                     fields::firmware,            "firmware",                  nullptr},
    {ReportId::ctrl_led,                  &ctrl_key_names,             fields::led_colour,          "ctrl_led",                  "on_ctrl_led"},
    {ReportId::ctrl_led_blink,            &ctrl_key_names,             fields::led_blink,           "ctrl_led",                  "on_ctrl_led"},
    {ReportId::ctrl_key,                  &ctrl_key_names,             fields::flag_per_bit,        "ctrl_key",                  "on_ctrl_key"},
    {ReportId::switch_on,                 &module_names,               fields::switch_per_member,   nullptr,                     nullptr},
    {ReportId::switch_cue,                &cue_names,                  fields::switch_per_member,   nullptr,                     nullptr},
    {ReportId::auto_cue_ann,              nullptr,                     fields::console_switch,      nullptr,                     nullptr},
    {ReportId::auto_cue_crm,              nullptr,                     fields::console_switch,      nullptr,                     nullptr},
    {ReportId::switch_non_stop,           nullptr,                     fields::console_switch,      nullptr,                     nullptr},
    {ReportId::comm,                      &mic_module_names,           fields::flag_per_member,     nullptr,                     "on_comm"},
    {ReportId::cough,                     &mic_module_names,           fields::flag_per_member,     nullptr,                     "on_cough"},
    {ReportId::voicetrack,                &voicetrack_module_names,    fields::flag_per_member,     "voicetrack",                "on_voicetrack"},
    {ReportId::config_auto_on,            &module_names,               fields::flag_per_member,     "config_auto_on",            "on_config_auto_on"},
    {ReportId::config_cue_reset,          &module_names,               fields::cue_reset,           "config_cue_reset",          "on_config_cue_reset",          true},
    {ReportId::config_on_air,             &module_names,               fields::on_air,              "config_on_air",             "on_config_on_air",             true},
    {ReportId::config_crm_mute,           &mic_module_names,           fields::flag_per_member,     "config_crm_mute",           "on_config_crm_mute"},
    {ReportId::config_crm_auto_cue_reset, &mic_module_names,           fields::flag_per_member,     "config_crm_auto_cue_reset", "on_config_crm_auto_cue_reset"},
    {ReportId::config_studio_remote,      &studio_remote_module_names, fields::studio_remote,       "config_studio_remote",      "on_config_studio_remote",      true},
    {ReportId::config_cue_interlock,      nullptr,                     fields::console_flag,        "config_cue_interlock",      "on_config_cue_interlock"},
    {ReportId::config_gpo,                &gpo_names,                  fields::gpo,                 "config_gpo",                "on_config_gpo"},
    {ReportId::config_cue,                &cue_names,                  fields::cue_colours,         "config_cue",                "on_config_cue"},
    {ReportId::config_on,                 &module_names,               fields::on_colours,          "config_on",                 "on_config_on"},
    {ReportId::config_fader_reserve,      &module_names,               fields::flag_per_member,     "config_fader_reserve",      "on_config_fader_reserve"},
    {ReportId::config_silence_detection,  nullptr,                     fields::silence_detection,   "config_silence_detection",  "on_config_silence_detection"},
    {ReportId::config_phantom,            &mic_module_names,           fields::flag_per_member,     "config_phantom",            "on_config_phantom"},
    {ReportId::config_mic_at_line,        &mic_module_names,           fields::flag_per_member,     "config_mic_at_line",        "on_config_mic_at_line"},
    {ReportId::config_auto_off,           &module_names,               fields::flag_per_member,     "config_auto_off",           "on_config_auto_off"},
    {ReportId::on,                        &module_names,               fields::flag_per_member,     "on",                        "on_on"},
    {ReportId::cue,                       &cue_names,                  fields::flag_per_bit,        "cue",                       "on_cue"},
    {ReportId::fader,                     &module_names,               fields::flag_per_member,     "fader",                     "on_fader"},
    {ReportId::auto_cue,                  &auto_cue_names,             fields::flag_per_member,     "auto_cue",                  "on_auto_cue"},
    {ReportId::source_select,             &module_names,               fields::source,              "source_select",             "on_source_select"},
    {ReportId::non_stop,                  nullptr,                     fields::console_flag,        "non_stop",                  "on_non_stop"},
    {ReportId::mic_on,                    nullptr,                     fields::console_flag,        "mic_on",                    "on_mic_on"},
    {ReportId::gpo,                       &gpo_names,                  fields::flag_per_member,     "gpo",                       "on_gpo"},
    {ReportId::on_air,                    &on_air_names,               fields::flag_per_member,     "on_air",                    "on_on_air"},
    {ReportId::silence_detection,         nullptr,                     fields::console_flag,        "silence_detection",         "on_silence_detection"},
    {ReportId::module_active,             &module_names,               fields::flag_per_member,     "module_active",             "on_module_active"},
    {ReportId::crm_mute,                  nullptr,                     fields::console_flag,        "crm_mute",                  "on_crm_mute"},
    {ReportId::track,                     &module_names,               fields::track_state,         "track",                     "on_track"},
    {ReportId::phone_ringing,             nullptr,                     fields::console_flag,        "phone_ringing",             "on_phone_ringing"},
    {ReportId::voip_connect,              nullptr,                     fields::console_flag,        "voip_connect",              "on_voip_connect"},
    {ReportId::metering,                  nullptr,                     {},                          nullptr,                     "on_metering"},
    {ReportId::config_locked_on,          &module_names,               fields::flag_per_member,     "config_locked_on",          "on_config_locked_on"},
    {ReportId::config_pgm_auto_off,       &module_names,               fields::pgm_auto_off,        "config_pgm_auto_off",       "on_config_pgm_auto_off",       true},
    {ReportId::config_mic_on,             nullptr,                     fields::mic_on_mode,         "config_mic_on",             "on_config_mic_on"},
};
// clang-format on

// Row of each report id in the catalogue, or -1.
inline constexpr auto catalogue_row = [] {
    std::array<qint8, 64> rows{};
    rows.fill(-1);
    for (std::size_t i = 0; i < std::size(catalogue); ++i)
        rows[static_cast<quint8>(catalogue[i].id)] = static_cast<qint8>(i);
    return rows;
}();

// The item of a report id; a compile-time error where no row describes it.
constexpr const Item &item(ReportId id)
{
    const qint8 row = catalogue_row[static_cast<quint8>(id) % catalogue_row.size()];
    if (row < 0)
        throw "no catalogue row for this report id";
    return catalogue[row];
}

// The item of a report id, or null.
constexpr const Item *find_item(unsigned char id)
{
    const qint8 row = id < catalogue_row.size() ? catalogue_row[id] : -1;
    return row < 0 ? nullptr : &catalogue[row];
}

// Position of the field called name in the item's fields; a compile-time error where it has none.
constexpr int field_position(ReportId id, std::string_view name)
{
    const Item &row = item(id);
    for (std::size_t k = 0; k < row.fields.size(); ++k) {
        if (row.fields[k].name && name == row.fields[k].name)
            return static_cast<int>(k);
    }
    throw "the item has no field of this name";
}

// The bytes a cached payload must hold for every field of every member.
inline qsizetype payload_size(const Item &row)
{
    const int members = row.members ? member_count(*row.members) : 1;
    qsizetype size = 0;
    for (const layout::Field &field : row.fields) {
        for (int i = 0; i < members; ++i)
            size = std::max(size, layout::locate(field, i).byte + 1);
    }
    return size;
}

// The studio remote's two switches, each an item of its own, under the names its snapshot and command use.
inline constexpr std::pair<ReportId, const char *> studio_remote_switches[] = {{ReportId::comm, "comm"},
                                                                               {ReportId::cough, "cough"}};
inline constexpr const char *studio_remote_snapshot = "studio_remote";

// The keys of the "all" snapshot of a console that has reported everything: each item's snapshot key once (the
// LED tables share one), and the studio remote's.
constexpr int snapshot_key_count()
{
    int keys = 1;
    for (std::size_t i = 0; i < std::size(catalogue); ++i) {
        const char *key = catalogue[i].snapshot;
        bool first = key != nullptr;
        for (std::size_t j = 0; first && j < i; ++j)
            first = !catalogue[j].snapshot || std::string_view(key) != catalogue[j].snapshot;
        keys += first ? 1 : 0;
    }
    return keys;
}

// The level in dB of one byte of a metering report: whole steps from -50 in the low six bits, quarter steps in
// the top two.
constexpr float meter_level(quint8 byte)
{
    return static_cast<float>(byte & 0x3F) - 50.0f + static_cast<float>(byte >> 6) / 4.0f;
}

namespace detail {
constexpr bool catalogue_is_consistent()
{
    for (const Item &row : catalogue) {
        // One row per id: a second row of an id would be unreachable.
        if (&item(row.id) != &row)
            return false;
        if (row.fields.size() > std::size_t{layout::max_fields} || (row.packed && row.fields.size() < 2))
            return false;
        // A field without a name is the value itself: only where it is the item's one field.
        for (const layout::Field &field : row.fields) {
            if (row.notification && !field.name && row.fields.size() != 1)
                return false;
        }
    }
    return true;
}
static_assert(catalogue_is_consistent());
} // namespace detail

} // namespace korvel
