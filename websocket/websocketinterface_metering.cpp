// Metering at each client's own interval: "set_metering_interval" and "get_metering_interval", and the peaks a
// client's throttle hands on. Clients at interval 0 share the one frame of every report.
#include "websocket/cwebsocketinterface.h"

#include "console/valuelists.h"
#include "protocol/core.h"
#include "websocket/delivery.h"
#include "websocket/session.h"

#include <QVarLengthArray>
#include <QWebSocket>

using korvel::MeteringThrottle;
using korvel::MeterLevels;
using korvel::websocket::Session;

bool CWebSocketInterface::set_metering_interval(QWebSocket *client, int ms)
{
    Session *session = session_of(client);
    if (!session)
        return false;
    if (ms == 0) {
        if (MeteringThrottle *throttle = session->metering_throttle) {
            // What the interval holds goes out before every report does; the send may drop a slow client.
            throttle->set_interval(0);
            session = session_of(client);
            if (!session)
                return false;
            drop_metering_throttle(*session);
        }
    } else {
        if (!session->metering_throttle) {
            auto *throttle = new MeteringThrottle(client);
            connect(throttle, &MeteringThrottle::due, this,
                    [this, client](const MeterLevels &peaks) { send_paced_metering(client, peaks); });
            session->metering_throttle = throttle;
            paced_clients.append(client);
        }
        session->metering_throttle->set_interval(ms);
    }
    return true;
}

std::optional<int> CWebSocketInterface::metering_interval(QWebSocket *client)
{
    const Session *session = session_of(client);
    if (!session)
        return std::nullopt;
    return session->metering_throttle ? session->metering_throttle->interval() : 0;
}

void CWebSocketInterface::pace_metering(const MeterLevels &levels)
{
    if (paced_clients.isEmpty())
        return;
    // An add may send at once, and a send may drop a client too slow to read: the throttles are gathered first.
    // A dropped client's throttle is only detached and deleted later, so every pointer stays valid meanwhile.
    QVarLengthArray<MeteringThrottle *, 128> throttles;
    for (QWebSocket *client : std::as_const(paced_clients)) {
        const Session *session = session_of(client);
        if (session && session->metering_throttle && session->subscriptions.contains(korvel::topics::metering))
            throttles.append(session->metering_throttle);
    }
    for (MeteringThrottle *throttle : std::as_const(throttles))
        throttle->add(levels);
}

void CWebSocketInterface::send_paced_metering(QWebSocket *client, const MeterLevels &peaks)
{
    const Session *session = session_of(client);
    if (!session || !session->subscriptions.contains(korvel::topics::metering))
        return;
    sendJSON(korvel::protocol::Core::metering_message(peaks), QString(), client);
}

void CWebSocketInterface::drop_metering_throttle(Session &session)
{
    MeteringThrottle *throttle = std::exchange(session.metering_throttle, nullptr);
    if (!throttle)
        return;
    paced_clients.removeOne(session.connection);
    // Detached at once; deleted later, since this may run inside its own signal.
    throttle->disconnect(this);
    throttle->deleteLater();
}
