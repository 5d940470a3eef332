#pragma once

// The console's reports as its manual describes them: the message types, the ids of its items and commands,
// the sizes of its member groups and the bit layouts inside the payloads. The emulator keeps these on its own,
// apart from the application's console code, so that the two check each other.

namespace emulator {

// Every report starts with a length byte (the meaningful bytes, itself included) and a type byte: the message
// type in bits 7-6, the id in bits 5-0.
enum class MessageType : unsigned char {
    command = 0, // host to console: set something
    request = 1, // host to console: send the state report of one item
    echo = 2,    // console to host: an LED command repeated
    state = 3,   // console to host: the state of one item
};

constexpr unsigned char type_byte(MessageType type, unsigned char id)
{
    return static_cast<unsigned char>((static_cast<unsigned>(type) << 6) | (id & 0x3F));
}

// What the console reports: one state report per item, asked for by a request with the same id.
namespace item {
enum Id : unsigned char {
    firmware_version = 0x01,
    led_colours = 0x02, // one steady colour per control LED
    led_blink = 0x03,   // per control LED: blinking flag, colour on, colour off, speed (blink_* below)
    control_keys = 0x04,
    comm = 0x0B,
    cough = 0x0C,
    voice_track = 0x0D,
    auto_on_config = 0x11,
    cue_reset_config = 0x12,
    on_air_config = 0x13,
    crm_mute_config = 0x14,
    crm_auto_cue_reset_config = 0x15,
    studio_remote_config = 0x16,
    cue_interlock_config = 0x17,
    gpo_config = 0x18,
    cue_colours_config = 0x19,
    on_colours_config = 0x1A,
    fader_reserve_config = 0x1B,
    silence_detection_config = 0x1C,
    phantom_config = 0x1D,
    mic_at_line_config = 0x1E,
    auto_off_config = 0x1F,
    on_state = 0x20,
    cue_state = 0x21,
    fader_state = 0x22,
    auto_cue_state = 0x23,
    source_select = 0x24,
    non_stop_state = 0x25,
    mic_on_state = 0x26,
    gpo_state = 0x27,
    on_air_state = 0x28,
    silence_detection_state = 0x29,
    module_active = 0x2A,
    crm_mute_state = 0x2B,
    track_state = 0x2C,
    phone_ringing = 0x2D,
    voip_connect = 0x2E,
    metering = 0x30,
    locked_on_config = 0x31,
    pgm_auto_off_config = 0x32,
    mic_on_mode_config = 0x33,
};
} // namespace item

// What the host may command. A command carries the id of the item it sets, except the five switches, which
// have ids of their own and are answered with the state of the item they switch.
namespace command {
enum Id : unsigned char {
    led_colour = item::led_colours,
    led_blink = item::led_blink,
    on = 0x05,
    cue = 0x06,
    auto_cue_announcer = 0x08,
    auto_cue_crm = 0x09,
    non_stop = 0x0A,
    comm = item::comm,
    cough = item::cough,
    voice_track = item::voice_track,
    auto_on = item::auto_on_config,
    cue_reset = item::cue_reset_config,
    on_air = item::on_air_config,
    crm_mute = item::crm_mute_config,
    crm_auto_cue_reset = item::crm_auto_cue_reset_config,
    studio_remote = item::studio_remote_config,
    cue_interlock = item::cue_interlock_config,
    gpo = item::gpo_config,
    cue_colours = item::cue_colours_config,
    on_colours = item::on_colours_config,
    fader_reserve = item::fader_reserve_config,
    silence_detection = item::silence_detection_config,
    phantom = item::phantom_config,
    mic_at_line = item::mic_at_line_config,
    auto_off = item::auto_off_config,
    track = item::track_state,
    locked_on = item::locked_on_config,
    pgm_auto_off = item::pgm_auto_off_config,
    mic_on_mode = item::mic_on_mode_config,
};
} // namespace command

// Member groups. Per-module items carry one byte per fader module; the microphone modules are modules 1-3.
constexpr int module_count = 8;
constexpr int mic_module_count = 3;
constexpr int cue_count = 11; // mod1-mod8, aux, non-stop, air
constexpr int aux_cue = 8;
constexpr int non_stop_cue = 9;
constexpr int air_cue = 10;
constexpr int auto_cue_targets = 2; // 0 control room, 1 announcer
constexpr int ctrl_key_count = 16;
constexpr int gpo_count = 2;
constexpr int on_air_count = 2;
// The member number that addresses every member of a group.
constexpr int all_members = 255;

// Switch actions sent with the switching commands.
enum SwitchAction { switch_off = 0, switch_on = 1, switch_toggle = 2 };
// Colour codes of the LEDs and keys, and the highest blink speed code (0 slow, 1 normal, 2 fast).
enum Colour { colour_off = 0, colour_red = 1, colour_green = 2 };
constexpr int max_blink_speed = 2;
// Track transport: 0 stop, 1 play, 2 end.
constexpr int max_track_state = 2;

// Blink table: four bytes per LED.
constexpr int blink_stride = 4;
enum BlinkField { blink_flag = 0, blink_colour_on = 1, blink_colour_off = 2, blink_speed = 3 };

// Cue reset configuration, one byte per module.
enum CueResetBit : unsigned char {
    cue_reset_enabled_by_line = 0x01,
    cue_reset_enabled_by_mic_usb_voip = 0x02,
    cue_reset_by_fader = 0x04,
    cue_reset_by_on = 0x08,
    cue_reset_by_fader_and_on = 0x10,
};
constexpr unsigned char cue_reset_bits = 0x1F;
// On-air configuration, one byte per module: for on-air output k, bit 2k for the line source, bit 2k+1 for the
// module's other source.
constexpr unsigned char on_air_bits = 0x0F;
// Studio remote configuration: bit 0 cough enable, bit 1 comm enable, bit 2 comm private.
constexpr unsigned char studio_remote_bits = 0x07;
// PGM auto off configuration: bit 0 enabled by line, bit 1 enabled by mic/USB/VoIP.
constexpr unsigned char pgm_auto_off_bits = 0x03;

// GPO configuration: four bytes per output.
constexpr int gpo_stride = 4;
enum GpoField { gpo_trigger = 0, gpo_mode = 1, gpo_type = 2, gpo_time = 3 };
enum GpoTrigger {
    trigger_off = 0,
    trigger_on_air1 = 1,
    trigger_on_air2 = 2,
    trigger_phone = 3,
    trigger_mic_on = 4,
    trigger_non_stop = 5,
    trigger_module1_active = 6, // up to module 8: 13
};
constexpr int max_gpo_trigger = trigger_module1_active + module_count - 1;
constexpr int gpo_inverted = 1;
constexpr int max_gpo_type = 3;

// Colour configurations: a nibble per cue bus or module (bytes 0 up, the even member in the low nibble) with
// the colour when on in bits 0-1 and when off in bits 2-3; the ON colours add the colour when on with the
// fader open, two bits per module in bytes 4 and 5.
struct ColourField {
    int index; // payload byte
    int shift; // lowest of its two bits
};
enum NibbleColour { nibble_colour_on = 0, nibble_colour_off = 2 };
constexpr ColourField nibble_colour(int member, NibbleColour which)
{
    return {member / 2, (member % 2) * 4 + which};
}
constexpr ColourField on_and_fader_colour(int mod)
{
    return {4 + mod / 4, 2 * (mod % 4)};
}

// Silence detection configuration.
enum SilenceField {
    silence_threshold = 0,
    silence_interval = 1,
    silence_unit = 2,
    silence_source = 3,
    silence_enable = 4
};
constexpr int max_silence_unit = 1;   // seconds, minutes
constexpr int max_silence_source = 2; // left, right, stereo

// MIC ON mode: what the MIC ON lamp follows.
enum MicOnMode { mic_on_follows_mics = 0, mic_on_follows_on_air1 = 1, mic_on_follows_on_air2 = 2 };

// Metering: six level bytes, pgm, phones and crm, left and right.
constexpr int metering_payload = 6;

} // namespace emulator
