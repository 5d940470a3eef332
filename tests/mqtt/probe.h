#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

#include <functional>

struct mosquitto;

// An independent MQTT client for the tests (libmosquitto, its own connection): subscribes to one filter and
// records what arrives. It runs only while a test waits through it, which also keeps the Qt event loop going.
class Probe {
public:
    struct Message {
        QString topic;
        QByteArray payload;
        bool retained;
    };

    // With a certificate authority file, over TLS to 127.0.0.1 (with a client certificate and key when given);
    // with a user name, logged in.
    Probe(quint16 port, const QString &filter, const QString &tls_authority = {}, const QString &user = {},
          const QString &password = {}, const QString &client_cert = {}, const QString &client_key = {});
    ~Probe();

    bool ready() const { return subscribed; }
    // Runs the client and the event loop until done() holds or the time is up; returns done().
    bool wait_for(const std::function<bool()> &done, int timeout_ms = 10000);
    void publish(const QString &topic, const QByteArray &payload);

    QList<Message> messages;
    // The retained messages the broker handed over when subscribing, by topic, as a late subscriber sees them.
    QMap<QString, QByteArray> retained;
    // The last payload seen on each topic, retained or live.
    QMap<QString, QByteArray> last;

    int count(const QString &topic) const;

private:
    mosquitto *client = nullptr;
    bool subscribed = false;
};
