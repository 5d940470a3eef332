#pragma once

#include <QByteArray>
#include <QPointer>
#include <QStringList>
#include <QTcpSocket>

class QWebSocket;
namespace korvel {
class MeteringThrottle;
}

namespace korvel::websocket {

// One accepted client: its WebSocket connection, the TCP socket under it (accepted by our own listener, so it is
// known from the start), the topics it subscribed to in subscription order, and the frames that wait for the end
// of the current pass of the event loop.
struct Session {
    QWebSocket *connection = nullptr;
    // Owned by the connection once the handshake is over; gone when the connection goes.
    QPointer<QTcpSocket> tcp;
    QStringList subscriptions;
    QByteArray pending;
    // With a password set, a session starts unauthenticated: it gets only answers to its own messages, no
    // notifications, until it answers the challenge it was sent.
    bool authenticated = true;
    QByteArray challenge;
    int failed_answers = 0;
    // Set while the client asked for its meters at most once per interval: they reach it through this (a child
    // of the connection) instead of with every report.
    korvel::MeteringThrottle *metering_throttle = nullptr;
};

} // namespace korvel::websocket
