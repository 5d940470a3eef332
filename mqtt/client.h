#pragma once

#include "mqtt/outgoingqueue.h"
#include "mqtt/settings.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>

class QSocketNotifier;
class QTimer;
struct mosquitto;
struct mosquitto_message;
namespace korvel::mqtt {

// The bridge's connection to an MQTT broker, driven from the Qt event loop (socket notifiers on the client's
// socket, a timer for its housekeeping; no thread of its own). It keeps PREFIX/status retained, with the broker
// setting it to "offline" when the bridge vanishes, keeps a cache of retained state topics that it republishes
// after every reconnect, hands every message on PREFIX/command on, and retries a lost or refused connection
// with a growing delay.
class Client : public QObject {
    Q_OBJECT

public:
    enum class State { Disconnected, Connecting, Connected, Failed };
    Q_ENUM(State)

    explicit Client(QObject *parent);
    ~Client() override;

    // Takes effect at the next start(); a running connection is restarted with them.
    void set_settings(const korvel::mqtt::Settings &settings);
    const korvel::mqtt::Settings &settings() const { return config; }

    void start();
    // Leaves PREFIX/status "offline" and closes the connection; no retry follows.
    void stop();

    State state() const { return link_state; }
    // Why the last attempt failed or the connection was lost; empty while connecting or connected.
    QString reason() const { return failure; }
    QString prefix() const { return config.effective_prefix(); }
    // The topic `sub` below the prefix.
    QString topic(const QString &sub) const;

    // Queues one message; false when the topic is not a valid topic to publish to or the queue dropped it.
    bool publish(const QString &topic, const QByteArray &payload, bool retained, int qos);
    // An answer to a message of PREFIX/command, on PREFIX/reply.
    bool reply(const QByteArray &payload);

    // The retained PREFIX/status, sent now and after every reconnect.
    void set_status(const QByteArray &status);
    QByteArray status() const { return current_status; }

    // Retained PREFIX/state/KEY: sent only when the value differs from the one sent last.
    bool publish_state(const QString &key, const QByteArray &json);
    // Empties every state topic sent so far (an empty retained message each) and forgets them.
    void clear_state();
    const QMap<QString, QByteArray> &state_cache() const { return state_topics; }

    const korvel::mqtt::OutgoingQueue &outgoing() const { return queue; }

    // Delay before the retry that follows `failures` failed attempts in a row: 1 s, doubling, at most 30 s.
    static constexpr int retry_delay_ms(int failures)
    {
        int delay = first_retry_ms;
        for (int i = 0; i < failures && delay < last_retry_ms; ++i)
            delay *= 2;
        return delay < last_retry_ms ? delay : last_retry_ms;
    }
    static constexpr int first_retry_ms = 1000;
    static constexpr int last_retry_ms = 30000;
    // An attempt that has no answer from the broker within this time counts as failed.
    static constexpr int default_connect_timeout_ms = 10000;
    void set_connect_timeout(int ms);
    static constexpr int keepalive_s = 30;
    // Published messages the client library may hold at once; the rest wait in the bounded queue.
    static constexpr int max_in_library = 16;
    // While the socket holds more than this unacknowledged, live messages are dropped instead of written, so
    // a state change or event written next waits behind at most this much (half a second at 1 Mbit/s).
    static constexpr qsizetype max_unsent_bytes = 64 * 1024;

    // The payloads of PREFIX/status: the console's USB link, and the bridge gone (the last will).
    static const QByteArray status_connected;
    static const QByteArray status_disconnected;
    static const QByteArray status_offline;

signals:
    void state_changed(Client::State state, const QString &reason);
    // A connection to the broker is (again) up; status and state topics are already on their way.
    void broker_connected();
    // The payload of one message on PREFIX/command.
    void command_received(const QByteArray &payload);

private slots:
    void on_socket_activated();
    void on_housekeeping();
    void on_retry();
    void on_connect_timeout();

private:
    // Called by the client library from within its own calls; they only note what happened.
    static void on_connect_cb(mosquitto *, void *self, int rc);
    static void on_message_cb(mosquitto *, void *self, const mosquitto_message *message);
    static void on_publish_cb(mosquitto *, void *self, int mid);
    static void on_log_cb(mosquitto *, void *self, int level, const char *text);

    // Hands the TLS settings to the client; false (and given up) when they cannot work.
    bool set_up_tls();
    // "TLS handshake failed: <why>" when the library logged why a TLS connection failed; else empty.
    QString tls_failure(int rc, int saved_errno) const;
    // Writes what the library still holds for the broker, then waits for the broker to close the connection
    // (held open through `descriptor`), for a bounded time in all.
    void flush_farewell(int descriptor);
    void attempt();
    // Acts on what the library's callbacks noted and on the result of the library call that ran them.
    void after_library_call(int rc, int saved_errno);
    void link_failed(const QString &why);
    // Fails for settings that cannot work: no retry until they change.
    void give_up(const QString &why);
    void on_broker_accepted();
    void set_state(State s, const QString &why);
    void sync_socket();
    void drop_notifiers();
    void pump();
    void destroy_client();

    korvel::mqtt::Settings config;
    mosquitto *client = nullptr;
    State link_state = State::Disconnected;
    QString failure;
    QString last_logged;
    int failures_in_row = 0;

    int notifier_fd = -1;
    QSocketNotifier *read_notifier = nullptr;
    QSocketNotifier *write_notifier = nullptr;
    QTimer *housekeeping_timer;
    QTimer *retry_timer;
    QTimer *connect_timer;

    korvel::mqtt::OutgoingQueue queue;
    QSet<int> in_library;
    QSet<int> done_early;

    // Noted by the callbacks.
    int connack = -1;
    QList<QByteArray> commands;
    // Since the attempt began: the library's first error line, and OpenSSL's last reason for a TLS failure.
    QString library_error;
    QString tls_reason;

    QByteArray current_status = status_disconnected;
    QMap<QString, QByteArray> state_topics;
};

} // namespace korvel::mqtt
