#pragma once

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QWebSocket>

class CWebSocketInterface;

namespace e2e {

// A WebSocket client on loopback that records every text message it receives, in arrival order.
class JsonClient : public QObject {
    Q_OBJECT

public:
    explicit JsonClient(QObject *parent = nullptr);

    // Connects to 127.0.0.1:port and waits for the opening handshake to finish.
    bool open(quint16 port, int timeout_ms = 10000);
    void send(const QString &text) { socket.sendTextMessage(text); }
    void send(const QJsonObject &message);

    // The texts received so far, synchronisation markers left out.
    QStringList texts() const;
    // The same, parsed.
    QList<QJsonObject> messages() const;
    // Received messages with this "msg", in order.
    QList<QJsonObject> messages(const QString &msg) const;
    // Forgets everything received so far.
    void clear()
    {
        received.clear();
        taken.clear();
    }

    // Waits until a message with this "msg" has arrived (counting those already there) and returns the first
    // one not yet returned by an earlier call; an empty object on timeout.
    QJsonObject wait_for(const QString &msg, int timeout_ms = 10000);

    bool has_marker(int id) const;

    QWebSocket socket;

private:
    QStringList received;
    QMap<QString, int> taken;
};

// Sends a marker from the server to every client (or to target alone, the server's side of one connection) and
// waits until each of clients has it: whatever the server sent them before is then in their records. The
// markers never show in texts() or messages().
bool sync_clients(CWebSocketInterface &server, const QList<JsonClient *> &clients, QWebSocket *target = nullptr,
                  int timeout_ms = 10000);

// The JSON text of a message, parsed; an empty object when it is not one.
QJsonObject parse(const QString &text);

} // namespace e2e
