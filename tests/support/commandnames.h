#pragma once

#include <QStringList>

// The WebSocket commands as a client names them, written down independently of the dispatcher's tables.
namespace korveltest {

// The console commands whose "data" is an object keyed by member names.
inline const QStringList keyed_console_commands{
    "set_auto_cue",
    "set_ctrl_led",
    "set_cue",
    "set_on",
    "set_studio_remote",
    "set_track",
    "set_voicetrack",
    "set_config_auto_off",
    "set_config_locked_on",
    "set_config_pgm_auto_off",
    "set_config_auto_on",
    "set_config_crm_auto_cue_reset",
    "set_config_crm_mute",
    "set_config_cue",
    "set_config_cue_reset",
    "set_config_fader_reserve",
    "set_config_gpo",
    "set_config_mic_at_line",
    "set_config_on",
    "set_config_on_air",
    "set_config_phantom",
    "set_config_studio_remote",
};
// The console commands whose "data" is the value for the whole console.
inline const QStringList unkeyed_console_commands{"set_non_stop", "set_config_mic_on", "set_config_cue_interlock",
                                                  "set_config_silence_detection"};

// Every command, console commands first, in the order the dispatcher compares them.
inline const QStringList command_names{
    "set_auto_cue",
    "set_ctrl_led",
    "set_cue",
    "set_non_stop",
    "set_on",
    "set_studio_remote",
    "set_track",
    "set_voicetrack",
    "set_config_auto_off",
    "set_config_locked_on",
    "set_config_pgm_auto_off",
    "set_config_mic_on",
    "set_config_auto_on",
    "set_config_crm_auto_cue_reset",
    "set_config_crm_mute",
    "set_config_cue",
    "set_config_cue_interlock",
    "set_config_cue_reset",
    "set_config_fader_reserve",
    "set_config_gpo",
    "set_config_mic_at_line",
    "set_config_on",
    "set_config_on_air",
    "set_config_phantom",
    "set_config_silence_detection",
    "set_config_studio_remote",
    "subscribe",
    "unsubscribe",
    "get_subscriptions",
    "get_topics",
    "get_api_version",
    "get_config",
    "get_states",
    "get_all",
    "get_firmware",
    "set_metering_interval",
    "get_metering_interval",
};

} // namespace korveltest
