#include "websocket/framewriter.h"

#include <QAbstractSocket>
#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <sys/socket.h>
#endif

namespace korvel::websocket {

namespace {
constexpr char fin_text = char(0x81);
constexpr int length_16 = 126;
constexpr int length_64 = 127;
} // namespace

QByteArray text_frame(QByteArrayView utf8)
{
    const auto size = static_cast<quint64>(utf8.size());
    QByteArray frame;
    frame.reserve(utf8.size() + 10);
    frame.append(fin_text);
    if (size < length_16) {
        frame.append(char(size));
    } else if (size <= 0xFFFF) {
        frame.append(char(length_16));
        frame.append(char(size >> 8));
        frame.append(char(size & 0xFF));
    } else {
        frame.append(char(length_64));
        for (int shift = 56; shift >= 0; shift -= 8)
            frame.append(char((size >> shift) & 0xFF));
    }
    frame.append(utf8);
    return frame;
}

bool write_frame(QAbstractSocket &socket, const QByteArray &frame)
{
    if (socket.state() != QAbstractSocket::ConnectedState)
        return false;
#if defined(Q_OS_UNIX) && defined(MSG_NOSIGNAL)
    // Straight to the system only when nothing queued earlier would be overtaken. (Elsewhere, and where a
    // write to a closed connection would raise SIGPIPE, Qt's buffer takes every frame.)
    if (socket.bytesToWrite() == 0 && socket.socketDescriptor() >= 0) {
        const auto sent = ::send(static_cast<int>(socket.socketDescriptor()), frame.constData(),
                                 static_cast<size_t>(frame.size()), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent == frame.size())
            return true;
        if (sent > 0) {
            socket.write(frame.sliced(sent));
            return true;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return true; // the connection is failing; its read side will report the disconnection
    }
#endif
    socket.write(frame);
    return true;
}

} // namespace korvel::websocket
