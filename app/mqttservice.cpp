// The MQTT client in the application: settings in, connection made, failures shown once.
#include "app/mqttservice.h"

#include "app/mqttdialog.h"
#include "app/mqttpassword.h"
#include "app/privatestore.h"
#include "app/traytitle.h"
#include "mqtt/bridge.h"

#include <QAction>
#include <QDebug>
#include <QMenu>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QWidget>

namespace korvel::app {

namespace {

QString broker_address(const korvel::mqtt::Settings &settings)
{
    return QStringLiteral("%1:%2").arg(settings.host.trimmed()).arg(settings.effective_port());
}

} // namespace

MqttService::MqttService(CKorvel &console, const QString &keyring_service, const QString &client_name, QObject *parent)
    : QObject(parent)
    , client_name(client_name)
    , console(console)
    , keeper(new MqttPassword(keyring_service, this))
{
    connect(keeper, &MqttPassword::read_finished, this, &MqttService::on_password_read);
}

void MqttService::start_from_store()
{
    current = MqttConfig::load(QSettings());
    if (!current.enabled)
        return;
    // Without a user name no password is sent, so there is no keyring to wait for.
    if (current.user.isEmpty())
        follow_config();
    else
        ask_password();
    emit status_changed(status_text());
}

void MqttService::ask_password()
{
    if (known_password || reading)
        return;
    reading = true;
    keeper->read();
}

void MqttService::on_password_read(const QString &password)
{
    reading = false;
    if (read_outdated) {
        read_outdated = false;
        return;
    }
    known_password = password;
    emit password_known();
    follow_config();
}

void MqttService::apply(const MqttConfig &config, const std::optional<QString> &new_password)
{
    current = config;
    QSettings settings;
    current.save(settings);
    restrict_store(settings);
    if (settings.status() != QSettings::NoError)
        qWarning().noquote() << "Cannot write the settings to" << settings.fileName();
    if (new_password) {
        read_outdated = reading;
        known_password = *new_password;
        keeper->write(*new_password);
    }
    follow_config();
}

void MqttService::follow_config()
{
    if (!current.enabled) {
        running.reset();
        if (mqtt)
            mqtt->stop();
        emit status_changed(status_text());
        return;
    }
    // A password that is still being read is waited for; the connection follows on_password_read().
    if (!known_password && !current.user.isEmpty()) {
        ask_password();
        emit status_changed(status_text());
        return;
    }
    korvel::mqtt::Settings wanted = current.broker(known_password.value_or(QString()));
    if (wanted.client_id.isEmpty())
        wanted.client_id = default_client_id();
    if (wanted.prefix.trimmed().isEmpty())
        wanted.prefix = default_prefix();
    create_interface(wanted);
    bridge->set_metering_rate(current.metering_rate);
    if (running && *running == wanted && mqtt->state() != korvel::mqtt::Client::State::Disconnected)
        return;
    running = wanted;
    mqtt->set_settings(wanted);
    if (mqtt->state() == korvel::mqtt::Client::State::Disconnected)
        mqtt->start();
}

void MqttService::create_interface(const korvel::mqtt::Settings &settings)
{
    if (mqtt)
        return;
    mqtt = new korvel::mqtt::Client(this);
    // Before the bridge: its link status is published at once, and must go below the configured prefix.
    mqtt->set_settings(settings);
    connect(mqtt, &korvel::mqtt::Client::state_changed, this, &MqttService::on_state_changed);
    // The console's state, events, meters and commands on the broker; it also keeps PREFIX/status.
    bridge = new korvel::mqtt::Bridge(&console, mqtt, this);
}

void MqttService::on_state_changed(korvel::mqtt::Client::State state, const QString &reason)
{
    if (state == korvel::mqtt::Client::State::Failed && reason != reported) {
        // The interface has logged the reason; the tray shows it once.
        reported = reason;
        emit problem(QStringLiteral("MQTT: ") + reason);
    } else if (state == korvel::mqtt::Client::State::Connected) {
        reported.clear();
        qInfo().noquote() << "MQTT: connected to" << broker_address(mqtt->settings());
    }
    emit status_changed(status_text());
}

QString MqttService::default_client_id() const
{
    return korvel::mqtt::Settings::client_id_for(client_name);
}

QString MqttService::default_prefix() const
{
    return korvel::mqtt::Settings::prefix_for(client_name);
}

QString MqttService::status_text() const
{
    if (current.enabled && !known_password && !current.user.isEmpty())
        return tr("Reading the password from the keyring…");
    if (!mqtt)
        return tr("Off");
    switch (mqtt->state()) {
    case korvel::mqtt::Client::State::Disconnected:
        return tr("Off");
    case korvel::mqtt::Client::State::Connecting:
        return tr("Connecting…");
    case korvel::mqtt::Client::State::Connected:
        return tr("Connected to %1").arg(broker_address(mqtt->settings()));
    case korvel::mqtt::Client::State::Failed:
        return tr("Failed: %1").arg(mqtt->reason());
    }
    return QString();
}

MqttService *install_mqtt(QWidget *window, QMenu *tray_menu, QSystemTrayIcon *tray, CKorvel &console,
                          const AppIdentity &identity)
{
    auto *service = new MqttService(console, identity.application, identity.mqtt_client, window);
    if (tray) {
        QObject::connect(service, &MqttService::problem, tray, [tray](const QString &text) {
            tray->showMessage(tray_title(tray), text, QSystemTrayIcon::Warning, tray_message_ms);
        });
    }
    service->start_from_store();

    auto *action = new QAction(QObject::tr("MQTT…"), window);
    action->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+M")));
    action->setShortcutContext(Qt::WindowShortcut);
    QObject::connect(action, &QAction::triggered, window, [window, service] {
        MqttDialog dialog(service, window);
        dialog.exec();
    });
    tray_menu->addAction(action);
    // On the settings window: its shortcut, and a right click anywhere on it; its widgets stay as they are.
    window->addAction(action);
    window->setContextMenuPolicy(Qt::ActionsContextMenu);
    return service;
}

} // namespace korvel::app
