#pragma once

#include <QByteArray>
#include <QByteArrayView>

class QAbstractSocket;

// Sending one serialised message to many connections without QWebSocket's per-connection work. QWebSocket
// converts the text to UTF-8, copies it, frames it and queues it for every connection, and its TCP socket
// then switches its write notifier on and off for every message; with a hundred clients at a thousand
// messages a second that cost more than the messages themselves. Here the frame is built once per message
// and written straight to each connection's TCP socket.
namespace korvel::websocket {

// The frame a server sends for a text message: FIN, opcode 1, no mask, the payload length in its shortest
// form, then the payload (RFC 6455, 5.2). The same bytes QWebSocket::sendTextMessage writes for a message
// that fits one frame.
QByteArray text_frame(QByteArrayView utf8);

// Writes a whole frame to a connected TCP socket, after whatever earlier writes still wait in its buffer:
// straight to the operating system when nothing waits, so no write notifier is involved; what the system does
// not take at once is queued in the socket's buffer and sent by Qt later, in order. Returns false when the
// socket cannot take it (not connected), having written nothing.
bool write_frame(QAbstractSocket &socket, const QByteArray &frame);

} // namespace korvel::websocket
