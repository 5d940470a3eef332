// What the kernel still holds of a socket's output.
#include "mqtt/socketbacklog.h"

#include <linux/sockios.h>
#include <sys/ioctl.h>

namespace korvel::mqtt {

qsizetype unsent_bytes(int fd)
{
    int bytes = 0;
    if (fd < 0 || ioctl(fd, SIOCOUTQ, &bytes) != 0 || bytes < 0)
        return 0;
    return bytes;
}

} // namespace korvel::mqtt
