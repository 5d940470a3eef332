#pragma once

#include <QObject>
#include <QString>

namespace QKeychain {
class Job;
}

// Where the MQTT password is kept: in the desktop's keyring when one answers, otherwise in the settings store
// (under mqtt_password_key) with the store's file readable and writable by the user only. Never in both.
// The keyring is reached through QtKeychain's jobs, which finish later: nothing here blocks the event loop.
namespace korvel::app {

class MqttPassword : public QObject {
    Q_OBJECT

public:
    enum class Place { unknown, keyring, store };
    Q_ENUM(Place)

    // service: the keyring entry's service name (the application's name, so the emulated one has its own).
    MqttPassword(const QString &service, QObject *parent);

    // Finds the password; emits read_finished once it is known.
    void read();
    // Keeps the password (an empty one removes it); emits written once it is kept.
    void write(const QString &password);

    // Where the password went at the last read or write; unknown before the first.
    Place place() const { return where; }

    // The keyring entry's key; the same name as the store's key.
    static const QString keyring_key;

signals:
    void read_finished(const QString &password);
    void written();

private:
    void keep_in_store(const QString &password);
    void start(QKeychain::Job *job);

    QString service;
    Place where = Place::unknown;
};

} // namespace korvel::app
