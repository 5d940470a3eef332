#include "emulator/meteringlevels.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace emulator {

namespace {

constexpr float floor_db = -50.0f;
constexpr float ceiling_db = 13.75f;

// Typical speaking or programme level of each module: microphones a little lower than playout.
constexpr std::array<float, 8> module_base_db{-14.0f, -15.0f, -13.0f, -10.0f, -9.0f, -11.0f, -8.0f, -12.0f};
constexpr float aux_base_db = -16.0f;
constexpr float non_stop_base_db = -12.0f;

// A small, stable hash of (time slot, voice): the grain of the movement without any random state.
float jitter(qint64 slot, int voice)
{
    auto x = static_cast<quint32>(slot) * 2654435761u ^ static_cast<quint32>(voice + 1) * 40503u;
    x ^= x >> 15;
    x *= 2246822519u;
    x ^= x >> 13;
    return static_cast<float>(x % 1000u) / 1000.0f - 0.5f; // -0.5 .. 0.5
}

// One voice: a slow phrase swell, a faster syllable ripple, and grain every 40 ms.
float voice_db(float base, int voice, qint64 ms, int channel)
{
    const double t = static_cast<double>(ms) / 1000.0;
    const double phrase = std::sin(2.0 * std::numbers::pi * t / (1.7 + 0.31 * voice) + voice);
    const double syllable = std::sin(2.0 * std::numbers::pi * t / (0.23 + 0.037 * voice) + 2 * voice);
    const float stereo = channel == 0 ? 0.4f * static_cast<float>(voice % 3) : -0.3f * static_cast<float>(voice % 2);
    return base + 5.0f * static_cast<float>(phrase) + 3.0f * static_cast<float>(syllable) +
           3.0f * jitter(ms / 40, voice * 2 + channel) + stereo;
}

float power(float db)
{
    return std::pow(10.0f, db / 10.0f);
}

float to_db(float power_sum)
{
    if (power_sum <= 0.0f)
        return floor_db;
    return std::clamp(10.0f * std::log10(power_sum), floor_db, ceiling_db);
}

} // namespace

MeterLevels metering_levels(const MeterInputs &inputs, qint64 ms)
{
    MeterLevels levels;
    levels.fill(floor_db);
    bool any_cue = inputs.aux_cued || inputs.non_stop_cued || inputs.air_cued;
    for (bool cued : inputs.cued)
        any_cue = any_cue || cued;

    for (int channel = 0; channel < 2; ++channel) {
        float pgm = 0.0f;
        float cue = 0.0f;
        for (int mod = 0; mod < 8; ++mod) {
            const auto i = static_cast<std::size_t>(mod);
            if (!inputs.on_air[i] && !inputs.cued[i])
                continue;
            const float p = power(voice_db(module_base_db[i], mod, ms, channel));
            if (inputs.on_air[i])
                pgm += p;
            if (inputs.cued[i])
                cue += p;
        }
        if (inputs.aux_cued)
            cue += power(voice_db(aux_base_db, 8, ms, channel));
        if (inputs.non_stop_cued)
            cue += power(voice_db(non_stop_base_db, 9, ms, channel));
        if (inputs.air_cued)
            cue += pgm;

        const auto c = static_cast<std::size_t>(channel);
        levels[c] = to_db(pgm);
        // The phones carry the cue mix while any cue bus is on, the programme otherwise.
        levels[2 + c] = to_db(any_cue ? cue : pgm);
        levels[4 + c] = inputs.crm_muted ? floor_db : to_db(pgm);
    }
    return levels;
}

unsigned char encode_level(float level)
{
    const float clamped = std::clamp(level, floor_db, ceiling_db);
    const float whole = std::floor(clamped);
    const int quarters = std::clamp(static_cast<int>((clamped - whole) * 4.0f), 0, 3);
    const int steps = static_cast<int>(whole) + 50; // 0 .. 63
    return static_cast<unsigned char>((steps & 0x3F) | (quarters << 6));
}

float decode_level(unsigned char byte)
{
    return static_cast<float>(byte & 0x3F) - 50.0f + static_cast<float>(byte >> 6) / 4.0f;
}

} // namespace emulator
