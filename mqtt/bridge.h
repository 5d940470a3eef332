// The bridge between the console, the protocol and the MQTT broker: what the console reports goes out on the
// broker's topics, what arrives on PREFIX/command is carried out like a WebSocket client's message.
#pragma once

#include "console/meteringthrottle.h"

#include <QByteArray>
#include <QJsonObject>
#include <QObject>
#include <QString>

class CKorvel;
class QJsonValue;
class QTimer;

namespace korvel::protocol {
class Core;
} // namespace korvel::protocol

namespace korvel::mqtt {

class Client;

// Feeds one broker connection from one console:
// - PREFIX/status follows the USB link (it owns the link status: create no other one beside it);
// - PREFIX/state/KEY, retained, one topic per key of the "get_all" snapshot, once the console's state is
//   complete and again whenever a notification changed the key's value;
// - PREFIX/event, every notification of the protocol core but the level meters;
// - PREFIX/metering, the levels metering_rate() times a second with peak hold;
// - PREFIX/command, carried out by the protocol's dispatcher, its replies and errors on PREFIX/reply.
// Every payload is the JSON the WebSocket clients get, in compact form.
class Bridge : public QObject {
    Q_OBJECT

public:
    Bridge(CKorvel *console, Client *mqtt, QObject *parent);

    // Level messages per second, exactly on average while the console reports more often (never more than it
    // reports), each with the peaks since the one before; 0 sends one for every metering report of the
    // console. Values outside 0..max_metering_rate are brought inside.
    void set_metering_rate(int per_second);
    int metering_rate() const { return rate; }
    static constexpr int default_metering_rate = 20;
    static constexpr int max_metering_rate = 1000;

    // The compact JSON text of a value (a bare string, number or boolean included), as the topics carry it.
    static QByteArray json_text(const QJsonValue &value);

private slots:
    void on_message(const QJsonObject &message, const QString &topic);
    void on_levels_due(const korvel::MeterLevels &peaks);
    void on_command(const QByteArray &payload);
    void refresh_state();

private:
    protocol::Core &core;
    Client *mqtt;
    // Coalesces the state refreshes asked for within one pass of the event loop.
    QTimer *refresh_timer;
    // What the refresh rebuilds: the keys of these items (a bit per report id), or the whole snapshot. Whole
    // after the link's notices, and for as long as a whole snapshot lacked keys: the first report of an item is
    // silent, so a key that comes late has no notification of its own.
    quint64 changed_items = 0;
    bool whole = true;
    MeteringThrottle *throttle;
    // The value of each state key as last handed to the interface.
    QJsonObject published;
    int rate = default_metering_rate;
};

} // namespace korvel::mqtt
