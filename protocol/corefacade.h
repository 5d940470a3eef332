#pragma once

#include "console/reportid.h"

#include <QJsonObject>
#include <QObject>

#include <initializer_list>

class CKorvel;

namespace korvel::protocol {

class Core;

// The protocol core under the names integrators know from the WebSocket server: a snapshot builder per key and a
// notification slot per console event, each one call into the core. A transport that offers them derives from
// this; the WebSocket server does.
class CoreFacade : public QObject {
    Q_OBJECT

public:
    // State and configuration snapshots: each builder sets its keys of data from the report cache.
    void get_states(QJsonObject &data);
    void get_config(QJsonObject &data);
    // Both of them: the "data" of the "all" reply.
    void get_all_data(QJsonObject &data);
    bool state_complete() const;
    void get_firmware(QJsonObject &data) { snapshot(data, ReportId::firmware); }
    void get_ctrl_led(QJsonObject &data) { snapshot(data, ReportId::ctrl_led); }
    void get_ctrl_key(QJsonObject &data) { snapshot(data, ReportId::ctrl_key); }
    void get_on(QJsonObject &data) { snapshot(data, ReportId::on); }
    void get_cue(QJsonObject &data) { snapshot(data, ReportId::cue); }
    void get_fader(QJsonObject &data) { snapshot(data, ReportId::fader); }
    void get_auto_cue(QJsonObject &data) { snapshot(data, ReportId::auto_cue); }
    void get_src_sel(QJsonObject &data) { snapshot(data, ReportId::source_select); }
    void get_non_stop(QJsonObject &data) { snapshot(data, ReportId::non_stop); }
    void get_mic_on(QJsonObject &data) { snapshot(data, ReportId::mic_on); }
    void get_gpo(QJsonObject &data) { snapshot(data, ReportId::gpo); }
    void get_on_air(QJsonObject &data) { snapshot(data, ReportId::on_air); }
    void get_silence_detection(QJsonObject &data) { snapshot(data, ReportId::silence_detection); }
    void get_module(QJsonObject &data) { snapshot(data, ReportId::module_active); }
    void get_crm_mute(QJsonObject &data) { snapshot(data, ReportId::crm_mute); }
    void get_track(QJsonObject &data) { snapshot(data, ReportId::track); }
    void get_studio_remote(QJsonObject &data) { snapshot(data, ReportId::comm); }
    void get_voicetrack(QJsonObject &data) { snapshot(data, ReportId::voicetrack); }
    void get_phone_ringing(QJsonObject &data) { snapshot(data, ReportId::phone_ringing); }
    void get_voip_connect(QJsonObject &data) { snapshot(data, ReportId::voip_connect); }
    void get_config_auto_on(QJsonObject &data) { snapshot(data, ReportId::config_auto_on); }
    void get_config_cue_reset(QJsonObject &data) { snapshot(data, ReportId::config_cue_reset); }
    void get_config_on_air(QJsonObject &data) { snapshot(data, ReportId::config_on_air); }
    void get_config_crm_mute(QJsonObject &data) { snapshot(data, ReportId::config_crm_mute); }
    void get_config_crm_auto_cue_reset(QJsonObject &data) { snapshot(data, ReportId::config_crm_auto_cue_reset); }
    void get_config_studio_remote(QJsonObject &data) { snapshot(data, ReportId::config_studio_remote); }
    void get_config_cue_interlock(QJsonObject &data) { snapshot(data, ReportId::config_cue_interlock); }
    void get_config_gpo(QJsonObject &data) { snapshot(data, ReportId::config_gpo); }
    void get_config_cue(QJsonObject &data) { snapshot(data, ReportId::config_cue); }
    void get_config_on(QJsonObject &data) { snapshot(data, ReportId::config_on); }
    void get_config_fader_reserve(QJsonObject &data) { snapshot(data, ReportId::config_fader_reserve); }
    void get_config_silence_detection(QJsonObject &data) { snapshot(data, ReportId::config_silence_detection); }
    void get_config_phantom(QJsonObject &data) { snapshot(data, ReportId::config_phantom); }
    void get_config_mic_at_line(QJsonObject &data) { snapshot(data, ReportId::config_mic_at_line); }
    void get_config_auto_off(QJsonObject &data) { snapshot(data, ReportId::config_auto_off); }
    void get_config_locked_on(QJsonObject &data) { snapshot(data, ReportId::config_locked_on); }
    void get_config_pgm_auto_off(QJsonObject &data) { snapshot(data, ReportId::config_pgm_auto_off); }
    void get_config_mic_on(QJsonObject &data) { snapshot(data, ReportId::config_mic_on); }

public slots:
    // One notification per console event, built by the core and sent to every transport. The core receives
    // the console's events itself: these are for callers that announce an event by hand.

    void on_ctrl_led_event(int id, int color);
    void on_ctrl_led_blink_event(int id, int color_on, int color_off, int blink_speed);
    void on_ctrl_switch_event(int id, int state) { announce(ReportId::ctrl_key, {id, state}); }
    void on_config_auto_on_event(int mod, int state) { announce(ReportId::config_auto_on, {mod, state}); }
    void on_config_cue_reset_event(int mod, int enabled_by_line, int enabled_by_mic_usb_voip, int reset_by_fader,
                                   int reset_by_on, int reset_by_fader_and_on)
    {
        announce(ReportId::config_cue_reset,
                 {mod, enabled_by_line, enabled_by_mic_usb_voip, reset_by_fader, reset_by_on, reset_by_fader_and_on});
    }
    void on_config_on_air_event(int mod, int on_air1_enabled_by_line, int on_air1_enabled_by_mic_usb_voip,
                                int on_air2_enabled_by_line, int on_air2_enabled_by_mic_usb_voip)
    {
        announce(ReportId::config_on_air, {mod, on_air1_enabled_by_line, on_air1_enabled_by_mic_usb_voip,
                                           on_air2_enabled_by_line, on_air2_enabled_by_mic_usb_voip});
    }
    void on_config_crm_mute_event(int mod, int state) { announce(ReportId::config_crm_mute, {mod, state}); }
    void on_config_crm_auto_cue_reset_event(int mod, int state)
    {
        announce(ReportId::config_crm_auto_cue_reset, {mod, state});
    }
    void on_config_studio_remote_event(int mod, int cough_enable, int comm_enable, int comm_private)
    {
        announce(ReportId::config_studio_remote, {mod, cough_enable, comm_enable, comm_private});
    }
    void on_config_cue_interlock_event(int state) { announce(ReportId::config_cue_interlock, {state}); }
    void on_config_gpo_event(int gpo, int trigger, int mode, int type, int time)
    {
        announce(ReportId::config_gpo, {gpo, trigger, mode, type, time});
    }
    void on_config_cue_event(int cue, int color_on, int color_off)
    {
        announce(ReportId::config_cue, {cue, color_on, color_off});
    }
    void on_config_on_event(int mod, int color_on, int color_on_and_fader, int color_off)
    {
        announce(ReportId::config_on, {mod, color_on, color_on_and_fader, color_off});
    }
    void on_config_fader_reserve_event(int mod, int state) { announce(ReportId::config_fader_reserve, {mod, state}); }
    void on_config_silence_detection_event(int threshold, int interval, int interval_unit, int source, int enable)
    {
        announce(ReportId::config_silence_detection, {threshold, interval, interval_unit, source, enable});
    }
    void on_config_phantom_event(int mod, int state) { announce(ReportId::config_phantom, {mod, state}); }
    void on_config_mic_at_line_event(int mod, int state) { announce(ReportId::config_mic_at_line, {mod, state}); }
    void on_config_auto_off_event(int mod, int state) { announce(ReportId::config_auto_off, {mod, state}); }
    void on_config_locked_on_event(int mod, int state) { announce(ReportId::config_locked_on, {mod, state}); }
    void on_config_pgm_auto_off_event(int mod, int enabled_by_line, int enabled_by_mic_usb_voip)
    {
        announce(ReportId::config_pgm_auto_off, {mod, enabled_by_line, enabled_by_mic_usb_voip});
    }
    void on_config_mic_on_event(int trigger) { announce(ReportId::config_mic_on, {trigger}); }
    void on_state_on_event(int mod, int state) { announce(ReportId::on, {mod, state}); }
    void on_state_cue_event(int cue, int state) { announce(ReportId::cue, {cue, state}); }
    void on_state_fader_event(int mod, int state) { announce(ReportId::fader, {mod, state}); }
    void on_state_auto_cue_event(int auto_cue, int state) { announce(ReportId::auto_cue, {auto_cue, state}); }
    void on_state_src_sel_event(int mod, int source);
    void on_state_non_stop_event(int state) { announce(ReportId::non_stop, {state}); }
    void on_state_mic_on_event(int state) { announce(ReportId::mic_on, {state}); }
    void on_state_gpo_event(int gpo, int state) { announce(ReportId::gpo, {gpo, state}); }
    void on_state_on_air_event(int on_air, int state) { announce(ReportId::on_air, {on_air, state}); }
    void on_state_silence_detection_event(int state) { announce(ReportId::silence_detection, {state}); }
    void on_state_metering_event(float pgm_l, float pgm_r, float phones_l, float phones_r, float crm_l, float crm_r);
    void on_state_module_event(int mod, int state) { announce(ReportId::module_active, {mod, state}); }
    void on_state_crm_mute_event(int state) { announce(ReportId::crm_mute, {state}); }
    void on_state_track_event(int mod, int state) { announce(ReportId::track, {mod, state}); }
    void on_state_comm_event(int mod, int state) { announce(ReportId::comm, {mod, state}); }
    void on_state_cough_event(int mod, int state) { announce(ReportId::cough, {mod, state}); }
    void on_state_vt_event(int mod, int state) { announce(ReportId::voicetrack, {mod, state}); }
    void on_state_phone_ringing_event(int state) { announce(ReportId::phone_ringing, {state}); }
    void on_state_connect_event(int state) { announce(ReportId::voip_connect, {state}); }
    void on_connected();
    void on_disconnected();

protected:
    CoreFacade(CKorvel &console, QObject *parent);
    ~CoreFacade() override = default;

    Core &core;

private:
    void announce(ReportId id, std::initializer_list<int> values);
    void snapshot(QJsonObject &data, ReportId id);
};

} // namespace korvel::protocol
