#pragma once

#include "mqtt/bridge.h"
#include "mqtt/settings.h"

#include <QString>

class QSettings;

// What the user chose for the MQTT client, as kept in the settings store. The password is not among the stored
// keys: it lives in the desktop's keyring, or under password_key where there is none (see MqttPassword).
namespace korvel::app {

struct MqttConfig {
    bool enabled = false;
    QString host;
    // 0: the transport's usual port.
    int port = 0;
    bool tls = false;
    // PEM files for TLS; an empty CA file keeps the system's certificate authorities.
    QString ca_file;
    QString client_cert;
    QString client_key;
    QString user;
    // Empty: korvel::mqtt::Settings::default_prefix().
    QString prefix;
    // Empty: the program's own default, korvel::mqtt::Settings::client_id_for().
    QString client_id;
    // Metering messages a second; 0 sends every report the console makes.
    int metering_rate = default_metering_rate;

    static constexpr int default_metering_rate = korvel::mqtt::Bridge::default_metering_rate;
    static constexpr int max_metering_rate = korvel::mqtt::Bridge::max_metering_rate;
    static constexpr int max_port = 65535;

    // A stored value of the wrong type or out of range reads as the default.
    static MqttConfig load(const QSettings &settings);
    void save(QSettings &settings) const;

    // The broker settings the interface takes.
    korvel::mqtt::Settings broker(const QString &password) const;

    bool operator==(const MqttConfig &) const = default;
};

// The store's key for the password where no keyring keeps it.
extern const QString mqtt_password_key;

// Why a choice cannot be taken, one text per field; all empty when it can.
struct MqttConfigProblems {
    QString host;
    QString port;
    QString prefix;
    // A client certificate and its key come together.
    QString client_key;
    bool none() const { return host.isEmpty() && port.isEmpty() && prefix.isEmpty() && client_key.isEmpty(); }
};
MqttConfigProblems check(const MqttConfig &config);

} // namespace korvel::app
