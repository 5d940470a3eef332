#pragma once

#include <QtGlobal>

// The console's report ids and the type byte that frames every report.
namespace korvel {

// The low six bits of a type byte. An item's state report, its echo, the request for it and the command that
// sets it share its id; the switching commands have ids of their own.
enum class ReportId : quint8 {
    firmware = 0x01,
    ctrl_led = 0x02,
    ctrl_led_blink = 0x03,
    ctrl_key = 0x04,
    switch_on = 0x05,
    switch_cue = 0x06,
    auto_cue_ann = 0x08,
    auto_cue_crm = 0x09,
    switch_non_stop = 0x0A,
    comm = 0x0B,
    cough = 0x0C,
    voicetrack = 0x0D,
    config_auto_on = 0x11,
    config_cue_reset = 0x12,
    config_on_air = 0x13,
    config_crm_mute = 0x14,
    config_crm_auto_cue_reset = 0x15,
    config_studio_remote = 0x16,
    config_cue_interlock = 0x17,
    config_gpo = 0x18,
    config_cue = 0x19,
    config_on = 0x1A,
    config_fader_reserve = 0x1B,
    config_silence_detection = 0x1C,
    config_phantom = 0x1D,
    config_mic_at_line = 0x1E,
    config_auto_off = 0x1F,
    on = 0x20,
    cue = 0x21,
    fader = 0x22,
    auto_cue = 0x23,
    source_select = 0x24,
    non_stop = 0x25,
    mic_on = 0x26,
    gpo = 0x27,
    on_air = 0x28,
    silence_detection = 0x29,
    module_active = 0x2A,
    crm_mute = 0x2B,
    track = 0x2C,
    phone_ringing = 0x2D,
    voip_connect = 0x2E,
    metering = 0x30,
    config_locked_on = 0x31,
    config_pgm_auto_off = 0x32,
    config_mic_on = 0x33,
};

// The top two bits of a type byte.
enum class Message : quint8 { command = 0, request = 1, echo = 2, state = 3 };

constexpr unsigned char type_byte(Message message, ReportId id)
{
    return static_cast<unsigned char>(static_cast<unsigned>(message) << 6 | static_cast<unsigned>(id));
}
constexpr Message message_of(unsigned char type)
{
    return static_cast<Message>(type >> 6);
}
constexpr ReportId id_of(unsigned char type)
{
    return static_cast<ReportId>(type & 0x3F);
}

} // namespace korvel
