// The MQTT password in the keyring, or in the user-only settings file where there is no keyring.
#include "app/mqttpassword.h"

#include "app/mqttconfig.h"
#include "app/privatestore.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <qt6keychain/keychain.h>

namespace korvel::app {

const QString MqttPassword::keyring_key = mqtt_password_key;

MqttPassword::MqttPassword(const QString &service, QObject *parent)
    : QObject(parent)
    , service(service)
{}

void MqttPassword::start(QKeychain::Job *job)
{
    job->setAutoDelete(true);
    job->setKey(keyring_key);
    job->start();
}

void MqttPassword::read()
{
    {
        const QSettings settings;
        if (settings.contains(mqtt_password_key)) {
            where = Place::store;
            const QString password = settings.value(mqtt_password_key).toString();
            // Said after the caller has had the chance to connect, as a keyring read would be.
            QMetaObject::invokeMethod(
                this, [this, password] { emit read_finished(password); }, Qt::QueuedConnection);
            return;
        }
    }
    auto *job = new QKeychain::ReadPasswordJob(service, this);
    connect(job, &QKeychain::Job::finished, this, [this](QKeychain::Job *done) {
        QString password;
        if (done->error() == QKeychain::NoError) {
            where = Place::keyring;
            password = static_cast<QKeychain::ReadPasswordJob *>(done)->textData();
        } else {
            // No entry in an answering keyring, or no keyring at all: either way no password yet.
            where = done->error() == QKeychain::EntryNotFound ? Place::keyring : Place::store;
        }
        emit read_finished(password);
    });
    start(job);
}

void MqttPassword::write(const QString &password)
{
    if (password.isEmpty()) {
        QSettings settings;
        settings.remove(mqtt_password_key);
        settings.sync();
        auto *job = new QKeychain::DeletePasswordJob(service, this);
        connect(job, &QKeychain::Job::finished, this, [this](QKeychain::Job *done) {
            const bool answered = done->error() == QKeychain::NoError || done->error() == QKeychain::EntryNotFound;
            where = answered ? Place::keyring : Place::store;
            emit written();
        });
        start(job);
        return;
    }
    auto *job = new QKeychain::WritePasswordJob(service, this);
    job->setTextData(password);
    connect(job, &QKeychain::Job::finished, this, [this, password](QKeychain::Job *done) {
        if (done->error() == QKeychain::NoError) {
            where = Place::keyring;
            QSettings settings;
            settings.remove(mqtt_password_key);
            settings.sync();
        } else {
            keep_in_store(password);
        }
        emit written();
    });
    start(job);
}

void MqttPassword::keep_in_store(const QString &password)
{
    where = Place::store;
    QSettings settings;
    // The file is made private before the password goes in, so it is never readable by others with it.
    if (!restrict_store(settings)) {
        qWarning().noquote() << "MQTT: cannot make" << settings.fileName() << "private; the password is not kept";
        return;
    }
    settings.setValue(mqtt_password_key, password);
    if (!restrict_store(settings))
        qWarning().noquote() << "Cannot write the settings to" << settings.fileName();
}

} // namespace korvel::app
