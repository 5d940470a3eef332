#pragma once

#include "app/appidentity.h"
#include "app/mqttconfig.h"
#include "mqtt/client.h"

#include <QObject>
#include <QString>

#include <optional>

class CKorvel;
class QMenu;
class QSystemTrayIcon;
class QWidget;

namespace korvel::mqtt {
class Bridge;
}

namespace korvel::app {

class MqttPassword;

// The application's MQTT client: the stored settings, the password, and the broker connection made from them.
// The connection is created the first time the client is enabled and stopped (leaving "offline" on the broker)
// when it is disabled. A failure is announced once per reason until the connection is up again.
class MqttService : public QObject {
    Q_OBJECT

public:
    // keyring_service: the name the password is kept under in the keyring; client_name begins the default client
    // id (korvel::mqtt::Settings::client_id_for). The console is the one the bridge serves; it outlives the
    // service.
    MqttService(CKorvel &console, const QString &keyring_service, const QString &client_name, QObject *parent);

    // Reads the store (writing nothing back) and, when enabled, connects once the password is known.
    void start_from_store();
    // Stores the choice and restarts the connection with it, or stops it. new_password: only when the user
    // gave one (an empty one removes it); otherwise the password stays as it is.
    void apply(const MqttConfig &config, const std::optional<QString> &new_password);

    const MqttConfig &config() const { return current; }
    // Empty while it is being read.
    std::optional<QString> password() const { return known_password; }
    // Starts reading the password if it is not known and not being read; password_known follows.
    void ask_password();
    MqttPassword *password_keeper() const { return keeper; }
    // Null until the client is first enabled.
    korvel::mqtt::Client *interface() const { return mqtt; }
    korvel::mqtt::Bridge *mqtt_bridge() const { return bridge; }

    // The client id used when none is set: this program's own.
    QString default_client_id() const;
    // The topic prefix used when none is set: NAME/<host>, so the two programs of a machine never write each
    // other's retained state.
    QString default_prefix() const;

    // "Off", "Connecting…", "Connected to broker.example:1883", "Failed: <reason>".
    QString status_text() const;

signals:
    void status_changed(const QString &text);
    void password_known();
    // A failure worth a tray message: once per reason until the connection is up again.
    void problem(const QString &text);

private:
    void on_password_read(const QString &password);
    void on_state_changed(korvel::mqtt::Client::State state, const QString &reason);
    // Connects, reconnects or stops to match the current settings.
    void follow_config();
    // The connection (with these settings) and the bridge that feeds it, made once, the first time the client is
    // enabled.
    void create_interface(const korvel::mqtt::Settings &settings);

    QString client_name;
    CKorvel &console;
    MqttPassword *keeper;
    korvel::mqtt::Client *mqtt = nullptr;
    korvel::mqtt::Bridge *bridge = nullptr;
    MqttConfig current;
    std::optional<QString> known_password;
    // A read started before the user gave a new password must not bring back the old one.
    bool reading = false;
    bool read_outdated = false;
    // What the running connection was started with, so an unchanged choice does not restart it.
    std::optional<korvel::mqtt::Settings> running;
    QString reported;
};

// Creates the client from the stored settings and offers the "MQTT…" dialog from the tray menu (right after
// the entries already there) and from the settings window (Ctrl+Shift+M, and its context menu).
MqttService *install_mqtt(QWidget *window, QMenu *tray_menu, QSystemTrayIcon *tray, CKorvel &console,
                          const AppIdentity &identity);

} // namespace korvel::app
