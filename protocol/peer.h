#pragma once

#include <QStringList>

#include <optional>

namespace korvel::protocol {

// What a request needs of the one who sent it and the protocol does not own: the transport keeps each peer's
// subscriptions and metering interval (a WebSocket client's session; the MQTT bridge keeps none).
class Peer {
public:
    // The topics subscribed to, in subscription order; null: this peer takes no subscriptions.
    virtual QStringList *subscriptions() = 0;
    // Sets the interval of the peer's own meters, 0 for every report; false: the peer has no meters of its own
    // (then no reply goes back).
    virtual bool set_metering_interval(int ms) = 0;
    // The interval of the peer's own meters; none: it has none.
    virtual std::optional<int> metering_interval() = 0;

protected:
    ~Peer() = default;
};

} // namespace korvel::protocol
