// The server, its clients and the delivery of every outgoing message.
#include "websocket/cwebsocketinterface.h"

#include "console/ckorvel.h"

#include <QWebSocket>
#include <QWebSocketServer>

// TODO(websocket): implement the server side.
CWebSocketInterface::CWebSocketInterface(CKorvel *console, QObject *parent)
    : QObject(parent)
    , server(new QWebSocketServer(QStringLiteral("Korvel Control WebSocket Server"), QWebSocketServer::NonSecureMode,
                                  this))
    , console(console)
{
}

void CWebSocketInterface::start() {}
void CWebSocketInterface::stop() {}
void CWebSocketInterface::setPort(int port) { this->port = port; }
void CWebSocketInterface::sendJSON(const QJsonObject &, const QString &, QWebSocket *) {}
bool CWebSocketInterface::is_listening() const { return server->isListening(); }
quint16 CWebSocketInterface::listening_port() const { return server->isListening() ? server->serverPort() : 0; }
QStringList &CWebSocketInterface::subscriptions(QWebSocket *client) { return clients[client]; }
void CWebSocketInterface::notify(const QString &, const QJsonValue &, const QString &) {}
void CWebSocketInterface::remove_client(QWebSocket *) {}
void CWebSocketInterface::onNewConnection() {}
void CWebSocketInterface::processTextMessage(QString) {}
void CWebSocketInterface::socketDisconnected() {}
void CWebSocketInterface::on_connected() {}
void CWebSocketInterface::on_disconnected() {}
