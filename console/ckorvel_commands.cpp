// The console operations: simple commands send one output report, every argument as its low 8 bits; the
// read-modify-write ones fill in the fields a caller leaves out (ckorvel_rmw.cpp).
#include "console/ckorvel.h"
#include "console/items.h"

using R = korvel::ReportId;

void CKorvel::ctrl_led(int id, int color)
{
    set(R::ctrl_led, id, {color});
}
void CKorvel::ctrl_led_blink_write(unsigned char id, unsigned char color_on, unsigned char color_off,
                                   unsigned char blink_speed)
{
    send(korvel::type_byte(korvel::Message::command, R::ctrl_led_blink), {id, color_on, color_off, blink_speed});
}
void CKorvel::on(int mod, int state)
{
    set(R::switch_on, mod, {state});
}
void CKorvel::cue(int cue, int state)
{
    set(R::switch_cue, cue, {state});
}
void CKorvel::auto_cue_ann(int state)
{
    set(R::auto_cue_ann, 0, {state});
}
void CKorvel::auto_cue_crm(int state)
{
    set(R::auto_cue_crm, 0, {state});
}
void CKorvel::non_stop(int state)
{
    set(R::switch_non_stop, 0, {state});
}
void CKorvel::comm(int mod, int state)
{
    set(R::comm, mod, {state});
}
void CKorvel::cough(int mod, int state)
{
    set(R::cough, mod, {state});
}
void CKorvel::voicetrack(int mod, int state)
{
    set(R::voicetrack, mod, {state});
}
void CKorvel::config_auto_on(int mod, int state)
{
    set(R::config_auto_on, mod, {state});
}
void CKorvel::config_cue_reset_write(unsigned char mod, unsigned char flags)
{
    send(korvel::type_byte(korvel::Message::command, R::config_cue_reset), {mod, flags});
}
void CKorvel::config_on_air_write(unsigned char mod, unsigned char flags)
{
    send(korvel::type_byte(korvel::Message::command, R::config_on_air), {mod, flags});
}
void CKorvel::config_crm_mute(int mod, int state)
{
    set(R::config_crm_mute, mod, {state});
}
void CKorvel::config_crm_auto_cue_reset(int mod, int state)
{
    set(R::config_crm_auto_cue_reset, mod, {state});
}
void CKorvel::config_studio_remote_write(unsigned char mod, unsigned char flags)
{
    send(korvel::type_byte(korvel::Message::command, R::config_studio_remote), {mod, flags});
}
void CKorvel::config_cue_interlock(int state)
{
    set(R::config_cue_interlock, 0, {state});
}
void CKorvel::config_gpo_write(unsigned char gpo, unsigned char trigger, unsigned char mode, unsigned char type,
                               unsigned char time)
{
    send(korvel::type_byte(korvel::Message::command, R::config_gpo), {gpo, trigger, mode, type, time});
}
void CKorvel::config_cue_write(unsigned char cue, unsigned char color_on, unsigned char color_off)
{
    send(korvel::type_byte(korvel::Message::command, R::config_cue), {cue, color_on, color_off});
}
void CKorvel::config_on_write(unsigned char mod, unsigned char color_on, unsigned char color_on_and_fader,
                              unsigned char color_off)
{
    send(korvel::type_byte(korvel::Message::command, R::config_on), {mod, color_on, color_on_and_fader, color_off});
}
void CKorvel::config_fader_reserve(int mod, int state)
{
    set(R::config_fader_reserve, mod, {state});
}
void CKorvel::config_silence_detection_write(unsigned char threshold, unsigned char interval,
                                             unsigned char interval_unit, unsigned char source, unsigned char enable)
{
    send(korvel::type_byte(korvel::Message::command, R::config_silence_detection),
         {threshold, interval, interval_unit, source, enable});
}
void CKorvel::config_phantom(int mod, int state)
{
    set(R::config_phantom, mod, {state});
}
void CKorvel::config_mic_at_line(int mod, int state)
{
    set(R::config_mic_at_line, mod, {state});
}
void CKorvel::config_auto_off(int mod, int state)
{
    set(R::config_auto_off, mod, {state});
}
void CKorvel::track(int mod, int state)
{
    set(R::track, mod, {state});
}
void CKorvel::config_locked_on(int mod, int state)
{
    set(R::config_locked_on, mod, {state});
}
void CKorvel::config_pgm_auto_off_write(unsigned char mod, unsigned char flags)
{
    send(korvel::type_byte(korvel::Message::command, R::config_pgm_auto_off), {mod, flags});
}
void CKorvel::config_mic_on(int trigger)
{
    set(R::config_mic_on, 0, {trigger});
}
