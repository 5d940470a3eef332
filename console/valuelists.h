#pragma once

#include <QString>
#include <QStringList>

// The words that name the console's members and values. A word's position in its list is the number the
// console's reports carry. Member lists end with "*", which stands for all members (member number 255).
namespace korvel {

// Member names of the JSON colour objects.
namespace keys {
// Pointers to literals, not inline arrays: the address of an inline variable is not a constant expression in
// GCC's sanitizer builds, and the catalogue's compile-time checks compare these.
constexpr const char *color_on = "color_on";
constexpr const char *color_off = "color_off";
constexpr const char *color_on_and_fader = "color_on_and_fader";
constexpr const char *blink_speed = "blink_speed";
} // namespace keys

// Value lists of configuration items.
inline const QStringList gpo_trigger_names{"off",         "onair1",      "onair2",      "phone",       "micon",
                                           "nonstop",     "mod1_active", "mod2_active", "mod3_active", "mod4_active",
                                           "mod5_active", "mod6_active", "mod7_active", "mod8_active"};
inline const QStringList gpo_mode_names{"non_inverted", "inverted"};
inline const QStringList gpo_type_names{"continues", "pulse_by_on", "pulse_by_off", "pulse_by_on_off"};
inline const QStringList interval_unit_names{"seconds", "minutes"};
inline const QStringList silence_source_names{"left", "right", "stereo"};

// The WebSocket topics a client can subscribe to.
namespace topics {
inline const QString metering = QStringLiteral("metering");
} // namespace topics
inline const QStringList topic_names{topics::metering};

// Member lists.
inline const QStringList module_names{"mod1", "mod2", "mod3", "mod4", "mod5", "mod6", "mod7", "mod8", "*"};
inline const QStringList mic_module_names{"mod1", "mod2", "mod3", "*"};
// Positions 3 to 6 have no voice-track function; the gap keeps "mod8" at the console's number 7.
inline const QStringList voicetrack_module_names{"mod1", "mod2", "mod3", "", "", "", "", "mod8", "*"};
inline const QStringList cue_names{"mod1", "mod2", "mod3", "mod4",     "mod5", "mod6",
                                   "mod7", "mod8", "aux",  "non_stop", "air",  "*"};
inline const QStringList auto_cue_names{"crm", "announcer", "*"};
inline const QStringList ctrl_key_names{"a1", "a2", "a3", "a4", "a5", "a6", "a7", "a8", "b1",
                                        "b2", "b3", "b4", "b5", "b6", "b7", "b8", "*"};
inline const QStringList gpo_names{"gpo1", "gpo2", "*"};
inline const QStringList studio_remote_module_names{"mod1", "mod2", "mod3", "*"};
inline const QStringList on_air_names{"on_air1", "on_air2", "*"};

// Value lists of states and commands.
// A module's source: line, or the other source of that module.
inline const QString line_source_name{"line"};
inline const QStringList module_source_names{"mic", "mic", "mic", "usb", "usb", "usb", "usb", "voip"};
// The levels of a metering notification, in the order of the report's bytes.
inline const QStringList metering_level_names{"pgm_left",     "pgm_right", "phones_left",
                                              "phones_right", "crm_left",  "crm_right"};
inline const QStringList led_color_names{"off", "red", "green"};
inline const QStringList blink_speed_names{"slow", "normal", "fast"};
inline const QStringList switch_action_names{"off", "on", "toggle"};
inline const QStringList track_state_names{"stop", "play", "end"};
inline const QStringList mic_on_mode_names{"mic_on", "on_air1", "on_air2"};

// Member number that addresses every member of a kind.
inline constexpr int all_members = 255;

// Position of the first entry equal to word (exact, case-sensitive), or -1.
int lookup_word(const QStringList &list, const QString &word);
// The entry at position; the caller guarantees the position lies inside the list.
const QString &name_of(const QStringList &list, int position);
// Whether position names an entry of the list.
inline bool has_position(const QStringList &list, int position)
{
    return position >= 0 && position < list.size();
}
// Number of members of a member list: its size without the "*" entry.
int member_count(const QStringList &list);

} // namespace korvel
