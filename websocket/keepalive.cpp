// Keep-alive options on a TCP socket descriptor.
#include "websocket/keepalive.h"

#ifdef Q_OS_LINUX
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace korvel::websocket {

bool enable_keep_alive(qintptr descriptor, const KeepAlive &times)
{
#ifdef Q_OS_LINUX
    if (descriptor < 0)
        return false;
    const int fd = static_cast<int>(descriptor);
    const int on = 1;
    const int user_timeout_ms = times.total_s() * 1000;
    bool ok = ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) == 0;
    ok = ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &times.idle_s, sizeof times.idle_s) == 0 && ok;
    ok = ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &times.interval_s, sizeof times.interval_s) == 0 && ok;
    ok = ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &times.probes, sizeof times.probes) == 0 && ok;
    ok = ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &user_timeout_ms, sizeof user_timeout_ms) == 0 && ok;
    return ok;
#else
    Q_UNUSED(descriptor);
    Q_UNUSED(times);
    return false;
#endif
}

} // namespace korvel::websocket
