#pragma once

#include <QObject>
#include <QStringList>
#include <QWebSocket>

#include <memory>

class CKorvel;
class CUSBHID;
class CWebSocketInterface;

// A WebSocket client on loopback that records every text message it receives, in order.
class WsTestClient : public QObject {
    Q_OBJECT

public:
    explicit WsTestClient(QObject *parent = nullptr);

    // Connects to the server on 127.0.0.1 and waits for the handshake to finish.
    bool open(quint16 port);
    // Closes from the client's side and waits until the connection is gone.
    bool close();
    void send(const QString &text) { socket.sendTextMessage(text); }
    // Sends text and waits for the next message; returns it (empty on timeout).
    QString ask(const QString &text);

    // Every text received so far, test barriers left out; clears the record.
    QStringList take();
    bool has_barrier(int id) const;

    QWebSocket socket;
    QStringList texts;
};

// Broadcasts a marker through the server and waits until every client has it: everything the server sent
// them before is then in their record.
bool sync_clients(CWebSocketInterface &ws, const QList<WsTestClient *> &clients);

// The console side of a server under test: device link on the emulated console, console object, interface
// listening on a port chosen by the system.
struct WsRig {
    WsRig();
    ~WsRig();
    quint16 port() const;

    std::unique_ptr<CUSBHID> link;
    std::unique_ptr<CKorvel> console;
    std::unique_ptr<CWebSocketInterface> ws;
};

// An input report as the device link delivers it: length byte, type byte, payload.
QByteArray input_report(unsigned char type, const QByteArray &payload);
