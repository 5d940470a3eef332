#pragma once

#include <array>
#include <string_view>

namespace emulator {

// One item of the console's state as its state report carries it: the report id, the payload size, the
// first eight payload bytes (bytes past the eighth are zero) and what the values mean.
struct FactoryItem {
    unsigned char id;
    unsigned char size;
    std::array<unsigned char, 8> bytes;
    std::string_view what;
};

// The emulated console as it leaves the factory: every item it can report, in one place. Per-module items
// carry one byte per fader module (8); the microphone-module items use the first three of those bytes and
// keep the rest at zero, as the console numbers its microphone modules like its fader modules. The derived
// states (ids 0x26, 0x27, 0x28, 0x2A, 0x2B) agree with the rest: no module is on air at power-up.
inline constexpr std::array<FactoryItem, 40> factory_state{{
    {0x01, 3, {1, 4, 12}, "firmware version 1.4.12"},
    {0x02, 16, {}, "LED colour table: every control LED steady and off"},
    {0x03, 64, {}, "LED blink table: no LED blinking; blink colours off/off, speed slow"},
    {0x04, 2, {}, "control keys: none held"},
    {0x0B, 8, {}, "comm: off on the three microphone modules"},
    {0x0C, 8, {}, "cough: off on the three microphone modules"},
    {0x0D, 8, {}, "voice track: off on modules 1-3 and 8"},
    {0x11, 8, {}, "auto on: disabled on every module"},
    {0x12,
     8,
     {0x0B, 0x0B, 0x0B, 0x0B, 0x0B, 0x0B, 0x0B, 0x0B},
     "cue reset: a module's cue is cancelled when its ON key goes on, line and mic/usb/voip sources alike"},
    {0x13,
     8,
     {0x0E, 0x0E, 0x0E, 0x0C, 0x0C, 0x0C, 0x0C, 0x0C},
     "on-air: on-air 1 lights for a live microphone; on-air 2 for any live module"},
    {0x14, 8, {1, 1, 1}, "CRM mute: a live microphone mutes the control-room speakers"},
    {0x15, 8, {}, "CRM auto-cue reset: disabled"},
    {0x16, 8, {0x03, 0x03, 0x03}, "studio remote: cough and comm enabled, comm not private, on the microphones"},
    {0x17, 1, {0}, "cue interlock: off, several cue buses may be on at once"},
    {0x18,
     8,
     {1, 0, 0, 0, 3, 0, 0, 0},
     "GPO: gpo1 follows on-air 1, gpo2 the phone ringing; both non-inverted, continuous, time 0"},
    {0x19, 6, {0x22, 0x22, 0x22, 0x22, 0x22, 0x02}, "cue colours: every cue key green when on, off when off"},
    {0x1A,
     6,
     {0x22, 0x22, 0x22, 0x22, 0x55, 0x55},
     "ON colours: green when on, red when on with the fader open, off when off"},
    {0x1B, 8, {}, "fader reserve: off"},
    {0x1C, 5, {0xD8, 30, 0, 2, 0}, "silence detection: -40 dB for 30 seconds on the stereo sum, disabled"},
    {0x1D, 8, {}, "phantom power: off (safe for ribbon microphones)"},
    {0x1E, 8, {}, "mic at line: off"},
    {0x1F, 8, {}, "auto off: disabled on every module"},
    {0x20, 8, {}, "ON state: every module off"},
    {0x21, 2, {}, "cue state: every cue bus off"},
    {0x22, 8, {}, "fader state: every fader closed"},
    {0x23, 2, {}, "auto cue: control room and announcer off"},
    {0x24, 8, {1, 1, 1}, "source select: modules 1-3 on their microphones, modules 4-8 on line"},
    {0x25, 1, {0}, "non-stop: off"},
    {0x26, 1, {0}, "MIC ON: off"},
    {0x27, 2, {}, "GPO state: both outputs inactive"},
    {0x28, 2, {}, "on-air state: both outputs off"},
    {0x29, 1, {0}, "silence detection state: no alarm"},
    {0x2A, 8, {}, "module active: none"},
    {0x2B, 1, {0}, "CRM mute state: speakers not muted"},
    {0x2C, 8, {}, "track state: every module stopped"},
    {0x2D, 1, {0}, "phone ringing: no"},
    {0x2E, 1, {0}, "VoIP connect: not connected"},
    {0x31, 8, {}, "locked on: off"},
    {0x32, 8, {}, "PGM auto off: disabled"},
    {0x33, 1, {0}, "MIC ON mode: the MIC ON lamp follows the live microphones"},
}};

} // namespace emulator
