#include "websocket/meteringpace.h"

#include "console/valuelists.h"
#include "protocol/core.h"
#include "websocket/delivery.h"
#include "websocket/session.h"

#include <QVarLengthArray>
#include <QWebSocket>

namespace korvel::websocket {

MeteringPace::MeteringPace(Delivery &delivery, QObject *parent)
    : QObject(parent)
    , delivery(delivery)
{}

bool MeteringPace::set_interval(QWebSocket *client, int ms)
{
    Session *session = delivery.find(client);
    if (!session)
        return false;
    if (ms == 0) {
        if (MeteringThrottle *throttle = session->metering_throttle) {
            // What the interval holds goes out before every report does; the send may drop a slow client.
            throttle->set_interval(0);
            session = delivery.find(client);
            if (!session)
                return false;
            forget(*session);
        }
    } else {
        if (!session->metering_throttle) {
            auto *throttle = new MeteringThrottle(client);
            connect(throttle, &MeteringThrottle::due, this,
                    [this, client](const MeterLevels &peaks) { send(client, peaks); });
            session->metering_throttle = throttle;
            paced.append(client);
        }
        session->metering_throttle->set_interval(ms);
    }
    return true;
}

std::optional<int> MeteringPace::interval(QWebSocket *client) const
{
    const Session *session = delivery.find(client);
    if (!session)
        return std::nullopt;
    return session->metering_throttle ? session->metering_throttle->interval() : 0;
}

void MeteringPace::pace(const MeterLevels &levels)
{
    if (paced.isEmpty())
        return;
    // An add may send at once, and a send may drop a client too slow to read: the throttles are gathered first.
    // A dropped client's throttle is only detached and deleted later, so every pointer stays valid meanwhile.
    QVarLengthArray<MeteringThrottle *, 128> throttles;
    for (QWebSocket *client : std::as_const(paced)) {
        const Session *session = delivery.find(client);
        if (session && session->metering_throttle && session->subscriptions.contains(topics::metering))
            throttles.append(session->metering_throttle);
    }
    for (MeteringThrottle *throttle : std::as_const(throttles))
        throttle->add(levels);
}

void MeteringPace::send(QWebSocket *client, const MeterLevels &peaks)
{
    const Session *session = delivery.find(client);
    if (!session || !session->subscriptions.contains(topics::metering))
        return;
    delivery.send(protocol::Core::metering_message(peaks), QString(), client);
}

void MeteringPace::forget(Session &session)
{
    MeteringThrottle *throttle = std::exchange(session.metering_throttle, nullptr);
    if (!throttle)
        return;
    paced.removeOne(session.connection);
    // Detached at once; deleted later, since this may run inside its own signal.
    throttle->disconnect(this);
    throttle->deleteLater();
}

} // namespace korvel::websocket
