#pragma once

#include "console/meteringthrottle.h"

#include <QList>
#include <QObject>

#include <optional>

class QWebSocket;

namespace korvel::websocket {

class Delivery;
struct Session;

// Metering at each client's own interval ("set_metering_interval"): a throttle in the client's session holds
// the peaks of the reports in between and hands them to that client alone. Clients at interval 0 share the one
// frame of every report, which delivery sends them.
class MeteringPace : public QObject {
    Q_OBJECT

public:
    MeteringPace(Delivery &delivery, QObject *parent);

    // A client's interval; false, none: it has no session.
    bool set_interval(QWebSocket *client, int ms);
    std::optional<int> interval(QWebSocket *client) const;
    // Hands one report's levels to the throttles of the subscribed clients that have an interval.
    void pace(const korvel::MeterLevels &levels);
    // Back to every report, or the client goes: the throttle is detached and goes.
    void forget(Session &session);

private:
    // A throttle's peaks, to its client alone while it is subscribed to "metering".
    void send(QWebSocket *client, const korvel::MeterLevels &peaks);

    Delivery &delivery;
    // The clients with a metering interval of their own, each with its throttle in its session.
    QList<QWebSocket *> paced;
};

} // namespace korvel::websocket
