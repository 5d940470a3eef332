// Control commands.
// TODO(websocket): implement.
#include "websocket/cwebsocketinterface.h"

int CWebSocketInterface::set_auto_cue(QWebSocket *, const QJsonValue &, QString &) { return 0; }
int CWebSocketInterface::set_ctrl_led(QWebSocket *, const QJsonValue &, QString &) { return 0; }
int CWebSocketInterface::set_cue(QWebSocket *, const QJsonValue &, QString &) { return 0; }
int CWebSocketInterface::set_non_stop(QWebSocket *, const QJsonValue &, QString &) { return 0; }
int CWebSocketInterface::set_on(QWebSocket *, const QJsonValue &, QString &) { return 0; }
int CWebSocketInterface::set_studio_remote(QWebSocket *, const QJsonValue &, QString &) { return 0; }
int CWebSocketInterface::set_track(QWebSocket *, const QJsonValue &, QString &) { return 0; }
int CWebSocketInterface::set_voicetrack(QWebSocket *, const QJsonValue &, QString &) { return 0; }
