// A test's own MQTT client.
#include "probe.h"

#include <QTest>

#include <mosquitto.h>

Probe::Probe(quint16 port, const QString &filter, const QString &tls_authority, const QString &user,
             const QString &password, const QString &client_cert, const QString &client_key)
{
    mosquitto_lib_init();
    client = mosquitto_new(nullptr, true, this);
    mosquitto_message_callback_set(client, [](mosquitto *, void *self, const mosquitto_message *m) {
        auto *me = static_cast<Probe *>(self);
        const QString topic = QString::fromUtf8(m->topic);
        const QByteArray payload(static_cast<const char *>(m->payload), m->payloadlen);
        me->messages.append(Message{topic, payload, m->retain});
        me->last.insert(topic, payload);
        if (m->retain)
            me->retained.insert(topic, payload);
    });
    mosquitto_subscribe_callback_set(
        client, [](mosquitto *, void *self, int, int, const int *) { static_cast<Probe *>(self)->subscribed = true; });
    if (!user.isEmpty())
        mosquitto_username_pw_set(client, user.toUtf8().constData(), password.toUtf8().constData());
    if (!tls_authority.isEmpty())
        mosquitto_tls_set(client, tls_authority.toLocal8Bit().constData(), nullptr,
                          client_cert.isEmpty() ? nullptr : client_cert.toLocal8Bit().constData(),
                          client_key.isEmpty() ? nullptr : client_key.toLocal8Bit().constData(), nullptr);
    if (mosquitto_connect(client, "127.0.0.1", port, 60) != MOSQ_ERR_SUCCESS)
        return;
    mosquitto_subscribe(client, nullptr, filter.toUtf8().constData(), 1);
    wait_for([this] { return subscribed; }, 5000);
}

Probe::~Probe()
{
    mosquitto_disconnect(client);
    mosquitto_destroy(client);
}

bool Probe::wait_for(const std::function<bool()> &done, int timeout_ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeout_ms)
            return false;
        // The library reads one packet per call when it has nothing to send: read on while messages come, so
        // the probe keeps up with a fast publisher and the broker has no reason to drop anything for it.
        for (qsizetype before = -1; before != messages.size();) {
            before = messages.size();
            mosquitto_loop(client, 0, 1);
        }
        QTest::qWait(5);
    }
    return true;
}

void Probe::publish(const QString &topic, const QByteArray &payload)
{
    mosquitto_publish(client, nullptr, topic.toUtf8().constData(), int(payload.size()), payload.constData(), 1, false);
    mosquitto_loop(client, 0, 1);
}

int Probe::count(const QString &topic) const
{
    int n = 0;
    for (const Message &m : messages)
        n += m.topic == topic;
    return n;
}
