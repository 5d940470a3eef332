#pragma once

#include <QObject>

#include <signal.h>

#include <functional>

namespace korvel::app {

// SIGTERM (logout, shutdown, `systemctl --user stop`) and SIGINT (Ctrl+C) as a request to quit. Both are blocked
// from construction on and read from a signalfd by the event loop, so nothing runs inside a signal handler and
// the application quits the normal way. Construct it in the main thread before any other thread starts: threads
// inherit the blocked set, so none of them takes the signals instead. Destroying it puts the previous mask back.
class StopSignals {
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals &) = delete;
    StopSignals &operator=(const StopSignals &) = delete;

    // From now on (and for a signal that came earlier), runs stop from context's event loop on each signal,
    // while context lives. Needs the application object.
    void on_signal(QObject *context, const std::function<void()> &stop);

private:
    sigset_t previous;
    int fd = -1;
};

} // namespace korvel::app
