// Notifications: one JSON message per console event.
// TODO(websocket): implement.
#include "websocket/cwebsocketinterface.h"

void CWebSocketInterface::on_ctrl_led_event(int, int) {}
void CWebSocketInterface::on_ctrl_led_blink_event(int, int, int, int) {}
void CWebSocketInterface::on_ctrl_switch_event(int, int) {}
void CWebSocketInterface::on_config_auto_on_event(int, int) {}
void CWebSocketInterface::on_config_cue_reset_event(int, int, int, int, int, int) {}
void CWebSocketInterface::on_config_on_air_event(int, int, int, int, int) {}
void CWebSocketInterface::on_config_crm_mute_event(int, int) {}
void CWebSocketInterface::on_config_crm_auto_cue_reset_event(int, int) {}
void CWebSocketInterface::on_config_studio_remote_event(int, int, int, int) {}
void CWebSocketInterface::on_config_cue_interlock_event(int) {}
void CWebSocketInterface::on_config_gpo_event(int, int, int, int, int) {}
void CWebSocketInterface::on_config_cue_event(int, int, int) {}
void CWebSocketInterface::on_config_on_event(int, int, int, int) {}
void CWebSocketInterface::on_config_fader_reserve_event(int, int) {}
void CWebSocketInterface::on_config_silence_detection_event(int, int, int, int, int) {}
void CWebSocketInterface::on_config_phantom_event(int, int) {}
void CWebSocketInterface::on_config_mic_at_line_event(int, int) {}
void CWebSocketInterface::on_config_auto_off_event(int, int) {}
void CWebSocketInterface::on_config_locked_on_event(int, int) {}
void CWebSocketInterface::on_config_pgm_auto_off_event(int, int, int) {}
void CWebSocketInterface::on_config_mic_on_event(int) {}
void CWebSocketInterface::on_state_on_event(int, int) {}
void CWebSocketInterface::on_state_cue_event(int, int) {}
void CWebSocketInterface::on_state_fader_event(int, int) {}
void CWebSocketInterface::on_state_auto_cue_event(int, int) {}
void CWebSocketInterface::on_state_src_sel_event(int, int) {}
void CWebSocketInterface::on_state_non_stop_event(int) {}
void CWebSocketInterface::on_state_mic_on_event(int) {}
void CWebSocketInterface::on_state_gpo_event(int, int) {}
void CWebSocketInterface::on_state_on_air_event(int, int) {}
void CWebSocketInterface::on_state_silence_detection_event(int) {}
void CWebSocketInterface::on_state_metering_event(float, float, float, float, float, float) {}
void CWebSocketInterface::on_state_module_event(int, int) {}
void CWebSocketInterface::on_state_crm_mute_event(int) {}
void CWebSocketInterface::on_state_track_event(int, int) {}
void CWebSocketInterface::on_state_comm_event(int, int) {}
void CWebSocketInterface::on_state_cough_event(int, int) {}
void CWebSocketInterface::on_state_vt_event(int, int) {}
void CWebSocketInterface::on_state_phone_ringing_event(int) {}
void CWebSocketInterface::on_state_connect_event(int) {}
