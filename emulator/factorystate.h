#pragma once

#include "emulator/reports.h"

#include <array>
#include <string_view>

namespace emulator {

// One item of the console's state as its state report carries it: its id, the payload size, the
// first eight payload bytes (bytes past the eighth are zero) and what the values mean.
struct FactoryItem {
    item::Id id;
    unsigned char size;
    std::array<unsigned char, 8> bytes;
    std::string_view what;
};

// The emulated console as it leaves the factory: every item it can report, in one place. Per-module items
// carry one byte per fader module (8); the microphone-module items use the first three of those bytes and
// keep the rest at zero, as the console numbers its microphone modules like its fader modules. The derived
// states (MIC ON, GPO, on-air, module active, CRM mute) agree with the rest: no module is on air at power-up.
inline constexpr std::array<FactoryItem, 40> factory_state{{
    {item::firmware_version, 3, {1, 4, 12}, "firmware version 1.4.12"},
    {item::led_colours, 16, {}, "LED colour table: every control LED steady and off"},
    {item::led_blink, 64, {}, "LED blink table: no LED blinking; blink colours off/off, speed slow"},
    {item::control_keys, 2, {}, "control keys: none held"},
    {item::comm, 8, {}, "comm: off on the three microphone modules"},
    {item::cough, 8, {}, "cough: off on the three microphone modules"},
    {item::voice_track, 8, {}, "voice track: off on modules 1-3 and 8"},
    {item::auto_on_config, 8, {}, "auto on: disabled on every module"},
    {item::cue_reset_config,
     8,
     {0x0B, 0x0B, 0x0B, 0x0B, 0x0B, 0x0B, 0x0B, 0x0B},
     "cue reset: a module's cue is cancelled when its ON key goes on, line and mic/usb/voip sources alike"},
    {item::on_air_config,
     8,
     {0x0E, 0x0E, 0x0E, 0x0C, 0x0C, 0x0C, 0x0C, 0x0C},
     "on-air: on-air 1 lights for a live microphone; on-air 2 for any live module"},
    {item::crm_mute_config, 8, {1, 1, 1}, "CRM mute: a live microphone mutes the control-room speakers"},
    {item::crm_auto_cue_reset_config, 8, {}, "CRM auto-cue reset: disabled"},
    {item::studio_remote_config,
     8,
     {0x03, 0x03, 0x03},
     "studio remote: cough and comm enabled, comm not private, on the microphones"},
    {item::cue_interlock_config, 1, {0}, "cue interlock: off, several cue buses may be on at once"},
    {item::gpo_config,
     8,
     {1, 0, 0, 0, 3, 0, 0, 0},
     "GPO: gpo1 follows on-air 1, gpo2 the phone ringing; both non-inverted, continuous, time 0"},
    {item::cue_colours_config,
     6,
     {0x22, 0x22, 0x22, 0x22, 0x22, 0x02},
     "cue colours: every cue key green when on, off when off"},
    {item::on_colours_config,
     6,
     {0x22, 0x22, 0x22, 0x22, 0x55, 0x55},
     "ON colours: green when on, red when on with the fader open, off when off"},
    {item::fader_reserve_config, 8, {}, "fader reserve: off"},
    {item::silence_detection_config,
     5,
     {0xD8, 30, 0, 2, 0},
     "silence detection: -40 dB for 30 seconds on the stereo sum, disabled"},
    {item::phantom_config, 8, {}, "phantom power: off (safe for ribbon microphones)"},
    {item::mic_at_line_config, 8, {}, "mic at line: off"},
    {item::auto_off_config, 8, {}, "auto off: disabled on every module"},
    {item::on_state, 8, {}, "ON state: every module off"},
    {item::cue_state, 2, {}, "cue state: every cue bus off"},
    {item::fader_state, 8, {}, "fader state: every fader closed"},
    {item::auto_cue_state, 2, {}, "auto cue: control room and announcer off"},
    {item::source_select, 8, {1, 1, 1}, "source select: modules 1-3 on their microphones, modules 4-8 on line"},
    {item::non_stop_state, 1, {0}, "non-stop: off"},
    {item::mic_on_state, 1, {0}, "MIC ON: off"},
    {item::gpo_state, 2, {}, "GPO state: both outputs inactive"},
    {item::on_air_state, 2, {}, "on-air state: both outputs off"},
    {item::silence_detection_state, 1, {0}, "silence detection state: no alarm"},
    {item::module_active, 8, {}, "module active: none"},
    {item::crm_mute_state, 1, {0}, "CRM mute state: speakers not muted"},
    {item::track_state, 8, {}, "track state: every module stopped"},
    {item::phone_ringing, 1, {0}, "phone ringing: no"},
    {item::voip_connect, 1, {0}, "VoIP connect: not connected"},
    {item::locked_on_config, 8, {}, "locked on: off"},
    {item::pgm_auto_off_config, 8, {}, "PGM auto off: disabled"},
    {item::mic_on_mode_config, 1, {0}, "MIC ON mode: the MIC ON lamp follows the live microphones"},
}};

// Each item once, in ascending order, and described.
constexpr bool factory_state_is_sound()
{
    for (std::size_t i = 0; i < factory_state.size(); ++i) {
        const FactoryItem &f = factory_state[i];
        if (f.what.empty() || f.size == 0 || (i > 0 && factory_state[i - 1].id >= f.id))
            return false;
    }
    return true;
}
static_assert(factory_state_is_sound());

} // namespace emulator
