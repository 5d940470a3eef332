// Configuration commands.
// TODO(websocket): implement.
#include "websocket/cwebsocketinterface.h"

int CWebSocketInterface::set_config_auto_off(QWebSocket *, const QJsonValue &, QString &) { return 0; }
int CWebSocketInterface::set_config_locked_on(QWebSocket *, const QJsonValue &, QString &) { return 0; }
int CWebSocketInterface::set_config_pgm_auto_off(QWebSocket *, const QJsonValue &, QString &) { return 0; }
int CWebSocketInterface::set_config_mic_on(QWebSocket *, const QJsonValue &, QString &) { return 0; }
int CWebSocketInterface::set_config_auto_on(QWebSocket *, const QJsonValue &, QString &) { return 0; }
int CWebSocketInterface::set_config_crm_auto_cue_reset(QWebSocket *, const QJsonValue &, QString &) { return 0; }
int CWebSocketInterface::set_config_crm_mute(QWebSocket *, const QJsonValue &, QString &) { return 0; }
int CWebSocketInterface::set_config_cue(QWebSocket *, const QJsonValue &, QString &) { return 0; }
int CWebSocketInterface::set_config_cue_interlock(QWebSocket *, const QJsonValue &, QString &) { return 0; }
int CWebSocketInterface::set_config_cue_reset(QWebSocket *, const QJsonValue &, QString &) { return 0; }
int CWebSocketInterface::set_config_fader_reserve(QWebSocket *, const QJsonValue &, QString &) { return 0; }
int CWebSocketInterface::set_config_gpo(QWebSocket *, const QJsonValue &, QString &) { return 0; }
int CWebSocketInterface::set_config_mic_at_line(QWebSocket *, const QJsonValue &, QString &) { return 0; }
int CWebSocketInterface::set_config_on(QWebSocket *, const QJsonValue &, QString &) { return 0; }
int CWebSocketInterface::set_config_on_air(QWebSocket *, const QJsonValue &, QString &) { return 0; }
int CWebSocketInterface::set_config_phantom(QWebSocket *, const QJsonValue &, QString &) { return 0; }
int CWebSocketInterface::set_config_silence_detection(QWebSocket *, const QJsonValue &, QString &) { return 0; }
int CWebSocketInterface::set_config_studio_remote(QWebSocket *, const QJsonValue &, QString &) { return 0; }
