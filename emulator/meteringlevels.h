#pragma once

#include <QtGlobal>

#include <array>

namespace emulator {

// What the console's meters listen to at one moment.
struct MeterInputs {
    std::array<bool, 8> on_air{}; // module i is ON with its fader open: it feeds the programme bus
    std::array<bool, 8> cued{};   // module i's cue bus is on: it feeds the phones, fader or not
    bool aux_cued = false;        // the aux cue bus
    bool non_stop_cued = false;   // the non-stop cue bus
    bool air_cued = false;        // the air cue bus: the programme in the phones
    bool crm_muted = false;       // a live microphone mutes the control-room speakers
};

// Six meters in report order: pgm_l, pgm_r, phones_l, phones_r, crm_l, crm_r, in dB from -50 to +13.75.
using MeterLevels = std::array<float, 6>;

// Lifelike levels at time ms: each module has a voice of its own that rises and falls; the buses sum what
// feeds them. The same inputs and time always give the same levels.
MeterLevels metering_levels(const MeterInputs &inputs, qint64 ms);

// The one-byte level of the metering report: low six bits whole dB from -50, top two bits quarter dB.
unsigned char encode_level(float level);
float decode_level(unsigned char byte);

} // namespace emulator
