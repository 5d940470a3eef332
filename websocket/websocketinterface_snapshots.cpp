// State and configuration snapshots from the report cache.
// TODO(websocket): implement.
#include "websocket/cwebsocketinterface.h"

void CWebSocketInterface::get_states(QJsonObject &) {}
void CWebSocketInterface::get_config(QJsonObject &) {}
void CWebSocketInterface::get_firmware(QJsonObject &) {}
void CWebSocketInterface::get_ctrl_led(QJsonObject &) {}
void CWebSocketInterface::get_ctrl_key(QJsonObject &) {}
void CWebSocketInterface::get_on(QJsonObject &) {}
void CWebSocketInterface::get_cue(QJsonObject &) {}
void CWebSocketInterface::get_fader(QJsonObject &) {}
void CWebSocketInterface::get_auto_cue(QJsonObject &) {}
void CWebSocketInterface::get_src_sel(QJsonObject &) {}
void CWebSocketInterface::get_non_stop(QJsonObject &) {}
void CWebSocketInterface::get_mic_on(QJsonObject &) {}
void CWebSocketInterface::get_gpo(QJsonObject &) {}
void CWebSocketInterface::get_on_air(QJsonObject &) {}
void CWebSocketInterface::get_silence_detection(QJsonObject &) {}
void CWebSocketInterface::get_module(QJsonObject &) {}
void CWebSocketInterface::get_crm_mute(QJsonObject &) {}
void CWebSocketInterface::get_track(QJsonObject &) {}
void CWebSocketInterface::get_studio_remote(QJsonObject &) {}
void CWebSocketInterface::get_voicetrack(QJsonObject &) {}
void CWebSocketInterface::get_phone_ringing(QJsonObject &) {}
void CWebSocketInterface::get_voip_connect(QJsonObject &) {}
void CWebSocketInterface::get_config_auto_on(QJsonObject &) {}
void CWebSocketInterface::get_config_cue_reset(QJsonObject &) {}
void CWebSocketInterface::get_config_on_air(QJsonObject &) {}
void CWebSocketInterface::get_config_crm_mute(QJsonObject &) {}
void CWebSocketInterface::get_config_crm_auto_cue_reset(QJsonObject &) {}
void CWebSocketInterface::get_config_studio_remote(QJsonObject &) {}
void CWebSocketInterface::get_config_cue_interlock(QJsonObject &) {}
void CWebSocketInterface::get_config_gpo(QJsonObject &) {}
void CWebSocketInterface::get_config_cue(QJsonObject &) {}
void CWebSocketInterface::get_config_on(QJsonObject &) {}
void CWebSocketInterface::get_config_fader_reserve(QJsonObject &) {}
void CWebSocketInterface::get_config_silence_detection(QJsonObject &) {}
void CWebSocketInterface::get_config_phantom(QJsonObject &) {}
void CWebSocketInterface::get_config_mic_at_line(QJsonObject &) {}
void CWebSocketInterface::get_config_auto_off(QJsonObject &) {}
void CWebSocketInterface::get_config_locked_on(QJsonObject &) {}
void CWebSocketInterface::get_config_pgm_auto_off(QJsonObject &) {}
void CWebSocketInterface::get_config_mic_on(QJsonObject &) {}
