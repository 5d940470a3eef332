// Simple commands: one output report each, every argument sent as its low 8 bits.
#include "console/ckorvel.h"

void CKorvel::ctrl_led(int id, int color)
{
    send(0x02, {id, color});
}
void CKorvel::ctrl_led_blink_write(unsigned char id, unsigned char color_on, unsigned char color_off,
                                   unsigned char blink_speed)
{
    send(0x03, {id, color_on, color_off, blink_speed});
}
void CKorvel::on(int mod, int state)
{
    send(0x05, {mod, state});
}
void CKorvel::cue(int cue, int state)
{
    send(0x06, {cue, state});
}
void CKorvel::auto_cue_ann(int state)
{
    send(0x08, {state});
}
void CKorvel::auto_cue_crm(int state)
{
    send(0x09, {state});
}
void CKorvel::non_stop(int state)
{
    send(0x0A, {state});
}
void CKorvel::comm(int mod, int state)
{
    send(0x0B, {mod, state});
}
void CKorvel::cough(int mod, int state)
{
    send(0x0C, {mod, state});
}
void CKorvel::voicetrack(int mod, int state)
{
    send(0x0D, {mod, state});
}
void CKorvel::config_auto_on(int mod, int state)
{
    send(0x11, {mod, state});
}
void CKorvel::config_cue_reset_write(unsigned char mod, unsigned char flags)
{
    send(0x12, {mod, flags});
}
void CKorvel::config_on_air_write(unsigned char mod, unsigned char flags)
{
    send(0x13, {mod, flags});
}
void CKorvel::config_crm_mute(int mod, int state)
{
    send(0x14, {mod, state});
}
void CKorvel::config_crm_auto_cue_reset(int mod, int state)
{
    send(0x15, {mod, state});
}
void CKorvel::config_studio_remote_write(unsigned char mod, unsigned char flags)
{
    send(0x16, {mod, flags});
}
void CKorvel::config_cue_interlock(int state)
{
    send(0x17, {state});
}
void CKorvel::config_gpo_write(unsigned char gpo, unsigned char trigger, unsigned char mode, unsigned char type,
                               unsigned char time)
{
    send(0x18, {gpo, trigger, mode, type, time});
}
void CKorvel::config_cue_write(unsigned char cue, unsigned char color_on, unsigned char color_off)
{
    send(0x19, {cue, color_on, color_off});
}
void CKorvel::config_on_write(unsigned char mod, unsigned char color_on, unsigned char color_on_and_fader,
                              unsigned char color_off)
{
    send(0x1A, {mod, color_on, color_on_and_fader, color_off});
}
void CKorvel::config_fader_reserve(int mod, int state)
{
    send(0x1B, {mod, state});
}
void CKorvel::config_silence_detection_write(unsigned char threshold, unsigned char interval,
                                             unsigned char interval_unit, unsigned char source, unsigned char enable)
{
    send(0x1C, {threshold, interval, interval_unit, source, enable});
}
void CKorvel::config_phantom(int mod, int state)
{
    send(0x1D, {mod, state});
}
void CKorvel::config_mic_at_line(int mod, int state)
{
    send(0x1E, {mod, state});
}
void CKorvel::config_auto_off(int mod, int state)
{
    send(0x1F, {mod, state});
}
void CKorvel::track(int mod, int state)
{
    send(0x2C, {mod, state});
}
void CKorvel::config_locked_on(int mod, int state)
{
    send(0x31, {mod, state});
}
void CKorvel::config_pgm_auto_off_write(unsigned char mod, unsigned char flags)
{
    send(0x32, {mod, flags});
}
void CKorvel::config_mic_on(int trigger)
{
    send(0x33, {trigger});
}
