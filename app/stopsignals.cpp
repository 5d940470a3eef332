// SIGTERM and SIGINT read as events of the loop.
#include "app/stopsignals.h"

#include <QDebug>
#include <QSocketNotifier>

#include <sys/signalfd.h>
#include <unistd.h>

namespace korvel::app {

namespace {

sigset_t stop_set()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    return set;
}

} // namespace

StopSignals::StopSignals()
{
    const sigset_t set = stop_set();
    pthread_sigmask(SIG_BLOCK, &set, &previous);
    fd = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (fd < 0)
        qWarning().noquote() << "Cannot watch for SIGTERM and SIGINT:" << qt_error_string(errno);
}

StopSignals::~StopSignals()
{
    if (fd >= 0)
        ::close(fd);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

void StopSignals::on_signal(QObject *context, const std::function<void()> &stop)
{
    if (fd < 0)
        return;
    auto *notifier = new QSocketNotifier(fd, QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [descriptor = fd, stop] {
        signalfd_siginfo info;
        while (::read(descriptor, &info, sizeof info) == ssize_t(sizeof info)) {
            qInfo().noquote() << "Quitting on" << (info.ssi_signo == SIGTERM ? "SIGTERM" : "SIGINT");
            stop();
        }
    });
}

} // namespace korvel::app
