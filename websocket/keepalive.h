#pragma once

#include <QtGlobal>

// TCP keep-alive on an accepted connection, so a peer whose machine vanished (power cut, cable pulled) is
// noticed without its cooperation and without WebSocket pings that hand-written clients might not answer.
namespace korvel::websocket {

struct KeepAlive {
    // Silence before the first probe, the time between probes and the unanswered probes that end the
    // connection: a vanished peer is gone after 20 + 6 x 5 = 50 s.
    int idle_s = 20;
    int interval_s = 5;
    int probes = 6;
    // The same bound for data the peer never acknowledges (keep-alive probes only start on an idle
    // connection, and notifications keep a connection busy).
    int total_s() const { return idle_s + interval_s * probes; }
};

// Switches keep-alive on for a connected TCP socket descriptor. False when the system refused an option.
bool enable_keep_alive(qintptr descriptor, const KeepAlive &times);

} // namespace korvel::websocket
