#pragma once

#include "console/meteringthrottle.h"
#include "console/reportid.h"
#include "protocol/dispatcher.h"
#include "protocol/snapshots.h"

#include <QJsonObject>
#include <QObject>
#include <QString>

#include <initializer_list>

class CKorvel;
class StartupState;

namespace korvel::protocol {

// The console's protocol for every transport at once: one per console, found or created by of(). It turns each
// console event into its finished notification, keeps whether the state is complete, builds the snapshots and
// carries out requests. It knows no socket, session or broker: a transport connects to message(), hands its
// requests to dispatcher() and sends what comes back.
class Core : public QObject {
    Q_OBJECT

public:
    // The console's core, created as the console's child on first use.
    static Core &of(CKorvel &console);

    const Dispatcher &dispatcher() const { return requests; }
    Snapshots &snapshots() { return state; }
    bool state_complete() const { return state.state_complete(); }

    // The "on_metering" notification of one set of levels.
    static QJsonObject metering_message(const MeterLevels &levels);

    // The notifications, as the console's events announce them. An item's event: its member (for an item with
    // members) and then its fields in the item's order, each left out at its marker.
    void announce(ReportId id, std::initializer_list<int> values);
    void announce_ctrl_led(int id, int color);
    void announce_ctrl_led_blink(int id, int color_on, int color_off, int blink_speed);
    void announce_metering(const MeterLevels &levels);
    void announce_link(bool open);
    void announce_state_complete();

signals:
    // Every notification, finished; topic is the subscription it needs (empty: none). Meters are also
    // levels(), for transports that pace them.
    void message(const QJsonObject &message, const QString &topic);
    void levels(const korvel::MeterLevels &levels);

private:
    explicit Core(CKorvel &console);
    template <typename... Args>
    void relay(ReportId id, void (CKorvel::*signal)(Args...));
    // Sends {name of member index: value}; nothing when index names no member of the list. An undefined value
    // leaves the member out ("data" is then an empty object).
    void announce_keyed(const char *msg, const QStringList &members, int index, const QJsonValue &value);
    void send(const QString &msg, const QJsonValue &data, const QString &topic = QString());

    CKorvel &console;
    StartupState *startup;
    Snapshots state;
    Dispatcher requests;
};

} // namespace korvel::protocol
