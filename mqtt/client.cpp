// The broker connection: libmosquitto driven by socket notifiers and timers on the GUI thread.
#include "mqtt/client.h"

#include "mqtt/socketbacklog.h"

#include <QDeadlineTimer>
#include <QDebug>
#include <QFile>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include <mosquitto.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

namespace korvel::mqtt {

// A JSON string, like every other payload of the bridge.
const QByteArray Client::status_connected = QByteArrayLiteral("\"connected\"");
const QByteArray Client::status_disconnected = QByteArrayLiteral("\"disconnected\"");
const QByteArray Client::status_offline = QByteArrayLiteral("\"offline\"");

namespace {

constexpr int status_qos = 1;
constexpr int state_qos = 1;
constexpr int reply_qos = 1;
constexpr int command_qos = 1;
constexpr int housekeeping_interval_ms = 1000;
// How long a stop waits for the goodbye to leave and for the broker to close.
constexpr int farewell_ms = 2000;

void await_broker_close(int descriptor, const QDeadlineTimer &deadline)
{
    // Closing with the broker's acknowledgements still unread makes the kernel reset the connection, and a
    // broker that meets the reset before it has read our DISCONNECT drops us as lost and speaks the will. The
    // broker closes once it has the DISCONNECT, so read (and drop) until it does.
    char sink[4096];
    while (descriptor >= 0 && !deadline.hasExpired()) {
        pollfd socket{descriptor, POLLIN, 0};
        if (::poll(&socket, 1, int(deadline.remainingTime())) <= 0)
            return;
        const ssize_t got = ::recv(descriptor, sink, sizeof sink, 0);
        if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK))
            return;
    }
}

QString lower_first(QString text)
{
    if (!text.isEmpty())
        text[0] = text[0].toLower();
    while (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text;
}

// The broker's answer to a refused CONNECT (MQTT 3.1.1 return codes).
QString refusal_text(int code)
{
    switch (code) {
    case 1:
        return QStringLiteral("connection refused: unacceptable protocol version");
    case 2:
        return QStringLiteral("connection refused: identifier rejected");
    case 3:
        return QStringLiteral("connection refused: server unavailable");
    case 4:
        return QStringLiteral("connection refused: bad user name or password");
    case 5:
        return QStringLiteral("connection refused: not authorised");
    default:
        return QStringLiteral("connection refused: code %1").arg(code);
    }
}

QString library_error_text(int rc, int saved_errno)
{
    if (rc == MOSQ_ERR_TLS)
        return QStringLiteral("TLS handshake failed");
    if (rc == MOSQ_ERR_ERRNO && saved_errno != 0)
        return lower_first(QString::fromLocal8Bit(std::strerror(saved_errno)));
    return lower_first(QString::fromUtf8(mosquitto_strerror(rc)));
}

// Why a file the TLS setup needs cannot be used; empty when it can be read.
QString unreadable(const QString &what, const QString &path)
{
    QFile file(path);
    if (file.open(QIODevice::ReadOnly))
        return QString();
    return QStringLiteral("invalid settings: cannot read the %1 \"%2\": %3")
        .arg(what, path, lower_first(file.errorString()));
}

bool valid_publish_topic(const QString &topic)
{
    return !topic.isEmpty() && mosquitto_pub_topic_check(topic.toUtf8().constData()) == MOSQ_ERR_SUCCESS;
}

} // namespace

Client::Client(QObject *parent)
    : QObject(parent)
    , housekeeping_timer(new QTimer(this))
    , retry_timer(new QTimer(this))
    , connect_timer(new QTimer(this))
{
    static std::once_flag library_ready;
    std::call_once(library_ready, [] { mosquitto_lib_init(); });

    housekeeping_timer->setInterval(housekeeping_interval_ms);
    retry_timer->setSingleShot(true);
    connect_timer->setSingleShot(true);
    connect_timer->setInterval(default_connect_timeout_ms);
    connect(housekeeping_timer, &QTimer::timeout, this, &Client::on_housekeeping);
    connect(retry_timer, &QTimer::timeout, this, &Client::on_retry);
    connect(connect_timer, &QTimer::timeout, this, &Client::on_connect_timeout);
}

Client::~Client()
{
    stop();
}

void Client::set_connect_timeout(int ms)
{
    connect_timer->setInterval(ms);
}

void Client::set_settings(const korvel::mqtt::Settings &settings)
{
    // What waits was addressed below the old prefix; status and state go out again below the new one.
    if (settings.effective_prefix() != config.effective_prefix())
        queue.clear();
    config = settings;
    if (link_state != State::Disconnected)
        start();
}

QString Client::topic(const QString &sub) const
{
    return prefix() + QLatin1Char('/') + sub;
}

void Client::start()
{
    destroy_client();
    failures_in_row = 0;
    queue.drop_unretained();

    const QString status_topic = topic(QStringLiteral("status"));
    if (config.host.trimmed().isEmpty()) {
        give_up(QStringLiteral("invalid settings: no broker host"));
        return;
    }
    if (config.effective_port() > 65535) {
        give_up(QStringLiteral("invalid settings: port %1").arg(config.effective_port()));
        return;
    }
    // A prefix with wildcards could be subscribed to but never published to.
    if (!valid_publish_topic(status_topic)) {
        give_up(QStringLiteral("invalid settings: topic prefix \"%1\"").arg(prefix()));
        return;
    }

    client = mosquitto_new(config.effective_client_id().toUtf8().constData(), true, this);
    if (!client) {
        give_up(QStringLiteral("invalid settings: client id \"%1\"").arg(config.effective_client_id()));
        return;
    }
    mosquitto_connect_callback_set(client, &Client::on_connect_cb);
    mosquitto_message_callback_set(client, &Client::on_message_cb);
    mosquitto_publish_callback_set(client, &Client::on_publish_cb);
    mosquitto_int_option(client, MOSQ_OPT_TCP_NODELAY, 1);
    if (!config.user.isEmpty())
        mosquitto_username_pw_set(client, config.user.toUtf8().constData(),
                                  config.password.isEmpty() ? nullptr : config.password.toUtf8().constData());
    mosquitto_log_callback_set(client, &Client::on_log_cb);
    if (config.tls && !set_up_tls())
        return;
    const QByteArray will_topic = status_topic.toUtf8();
    mosquitto_will_set(client, will_topic.constData(), int(status_offline.size()), status_offline.constData(),
                       status_qos, true);
    attempt();
}

bool Client::set_up_tls()
{
    if (config.client_cert.isEmpty() != config.client_key.isEmpty()) {
        give_up(config.client_key.isEmpty() ? QStringLiteral("invalid settings: a client certificate needs its key")
                                            : QStringLiteral("invalid settings: a client key needs its certificate"));
        return false;
    }
    for (const auto &[what, path] : {std::pair{"CA file", config.ca_file},
                                     {"client certificate", config.client_cert},
                                     {"client key", config.client_key}}) {
        const QString why = path.isEmpty() ? QString() : unreadable(QString::fromLatin1(what), path);
        if (!why.isEmpty()) {
            give_up(why);
            return false;
        }
    }
    const auto file_or_null = [](const QByteArray &path) { return path.isEmpty() ? nullptr : path.constData(); };
    const QByteArray ca_file = config.ca_file.toLocal8Bit();
    // A CA file of its own stands instead of the system's authorities, not beside them.
    const QByteArray ca_path = config.ca_file.isEmpty() ? config.ca_path.toLocal8Bit() : QByteArray();
    const QByteArray cert = config.client_cert.toLocal8Bit();
    const QByteArray key = config.client_key.toLocal8Bit();
    const int rc = mosquitto_tls_set(client, file_or_null(ca_file), file_or_null(ca_path), file_or_null(cert),
                                     file_or_null(key), nullptr);
    if (rc != MOSQ_ERR_SUCCESS) {
        give_up(QStringLiteral("invalid settings: TLS: %1").arg(library_error_text(rc, errno)));
        return false;
    }
    return true;
}

void Client::stop()
{
    retry_timer->stop();
    if (client && link_state == State::Connected) {
        // The library closes its socket as soon as the DISCONNECT is written. A second descriptor holds the
        // connection open until the broker has closed it (see await_broker_close).
        const int kept = ::fcntl(mosquitto_socket(client), F_DUPFD_CLOEXEC, 0);
        // A clean disconnect suppresses the last will, so say "offline" ourselves.
        const QByteArray status_topic = topic(QStringLiteral("status")).toUtf8();
        mosquitto_publish(client, nullptr, status_topic.constData(), int(status_offline.size()),
                          status_offline.constData(), status_qos, true);
        mosquitto_disconnect(client);
        flush_farewell(kept);
        if (kept >= 0)
            ::close(kept);
    }
    destroy_client();
    queue.drop_unretained();
    if (link_state != State::Disconnected)
        set_state(State::Disconnected, QString());
}

void Client::flush_farewell(int descriptor)
{
    // The library writes what it can at once; what the socket did not take yet (a busy link) would be lost
    // with the client, and the broker would speak the will instead.
    const QDeadlineTimer deadline(farewell_ms);
    while (mosquitto_want_write(client)) {
        pollfd socket{mosquitto_socket(client), POLLOUT, 0};
        if (socket.fd < 0 || deadline.hasExpired() || ::poll(&socket, 1, int(deadline.remainingTime())) <= 0)
            return;
        if (mosquitto_loop_write(client, 1) != MOSQ_ERR_SUCCESS)
            return;
    }
    await_broker_close(descriptor, deadline);
}

void Client::destroy_client()
{
    drop_notifiers();
    housekeeping_timer->stop();
    connect_timer->stop();
    in_library.clear();
    done_early.clear();
    commands.clear();
    connack = -1;
    if (client) {
        mosquitto_destroy(client);
        client = nullptr;
    }
}

void Client::attempt()
{
    if (!client)
        return;
    set_state(State::Connecting, QString());
    connack = -1;
    library_error.clear();
    tls_reason.clear();
    const QByteArray host = config.host.trimmed().toUtf8();
    errno = 0;
    const int rc = mosquitto_connect_async(client, host.constData(), config.effective_port(), keepalive_s);
    const int saved_errno = errno;
    if (rc != MOSQ_ERR_SUCCESS) {
        const QString tls = tls_failure(rc, saved_errno);
        link_failed(
            QStringLiteral("broker unreachable: %1").arg(tls.isEmpty() ? library_error_text(rc, saved_errno) : tls));
        return;
    }
    connect_timer->start();
    housekeeping_timer->start();
    sync_socket();
}

void Client::on_socket_activated()
{
    if (!client)
        return;
    // A zero timeout: the notifier already said the socket is ready. The library's own loop also drives a
    // TLS handshake, which its separate read and write calls do not.
    errno = 0;
    const int rc = mosquitto_loop(client, 0, 1);
    after_library_call(rc, errno);
}

void Client::on_housekeeping()
{
    if (!client)
        return;
    errno = 0;
    const int rc = mosquitto_loop_misc(client);
    after_library_call(rc, errno);
}

void Client::on_retry()
{
    attempt();
}

void Client::on_connect_timeout()
{
    if (link_state == State::Connecting)
        link_failed(
            QStringLiteral("broker unreachable: no answer within %1 s").arg(connect_timer->interval() / 1000.0));
}

void Client::after_library_call(int rc, int saved_errno)
{
    const QPointer<Client> alive(this);
    if (connack == 0 && link_state == State::Connecting) {
        on_broker_accepted();
        if (!alive || !client)
            return;
    }
    while (!commands.isEmpty() && link_state == State::Connected) {
        emit command_received(commands.takeFirst());
        if (!alive || !client)
            return;
    }
    const bool active = link_state == State::Connecting || link_state == State::Connected;
    if (active && (rc != MOSQ_ERR_SUCCESS || mosquitto_socket(client) < 0)) {
        QString why;
        if (connack > 0)
            why = refusal_text(connack);
        else if (const QString tls = tls_failure(rc, saved_errno); !tls.isEmpty())
            // Also when the broker's refusal of a missing client certificate comes after the handshake.
            why = (link_state == State::Connected ? QStringLiteral("connection lost: ")
                                                  : QStringLiteral("broker unreachable: ")) +
                  tls;
        else if (link_state == State::Connected && rc == MOSQ_ERR_CONN_LOST)
            why = QStringLiteral("connection lost");
        else if (link_state == State::Connected)
            why = QStringLiteral("connection lost: %1").arg(library_error_text(rc, saved_errno));
        else
            why = QStringLiteral("broker unreachable: %1").arg(library_error_text(rc, saved_errno));
        link_failed(why);
        return;
    }
    sync_socket();
    pump();
}

void Client::on_broker_accepted()
{
    connect_timer->stop();
    failures_in_row = 0;
    set_state(State::Connected, QString());
    const QByteArray command_topic = topic(QStringLiteral("command")).toUtf8();
    mosquitto_subscribe(client, nullptr, command_topic.constData(), command_qos);
    // The broker may have lost its retained messages (a restart without persistence): send them all again.
    queue.push(OutgoingMessage{topic(QStringLiteral("status")), current_status, status_qos, true});
    for (auto it = state_topics.cbegin(); it != state_topics.cend(); ++it)
        queue.push(OutgoingMessage{topic(QStringLiteral("state/") + it.key()), it.value(), state_qos, true});
    emit broker_connected();
}

void Client::link_failed(const QString &why)
{
    drop_notifiers();
    connect_timer->stop();
    housekeeping_timer->stop();
    in_library.clear();
    done_early.clear();
    commands.clear();
    // Live messages and events are stale by the time a new connection is up; retained ones are still due.
    queue.drop_unretained();
    if (why != last_logged) {
        qInfo().noquote() << "MQTT:" << why;
        last_logged = why;
    }
    set_state(State::Failed, why);
    retry_timer->start(retry_delay_ms(failures_in_row));
    ++failures_in_row;
}

void Client::give_up(const QString &why)
{
    link_failed(why);
    retry_timer->stop(); // the same settings would fail the same way
}

void Client::set_state(State s, const QString &why)
{
    if (s == State::Connected)
        last_logged.clear();
    if (s == link_state && why == failure)
        return;
    link_state = s;
    failure = why;
    emit state_changed(s, why);
}

void Client::sync_socket()
{
    const int fd = client ? mosquitto_socket(client) : -1;
    if (fd != notifier_fd) {
        drop_notifiers();
        if (fd >= 0) {
            notifier_fd = fd;
            read_notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
            write_notifier = new QSocketNotifier(fd, QSocketNotifier::Write, this);
            connect(read_notifier, &QSocketNotifier::activated, this, &Client::on_socket_activated);
            connect(write_notifier, &QSocketNotifier::activated, this, &Client::on_socket_activated);
        }
    }
    if (write_notifier)
        write_notifier->setEnabled(mosquitto_want_write(client));
}

void Client::drop_notifiers()
{
    // The library may already have closed the descriptor; disable before anything polls it again. Deleted
    // later, since this may run inside one of their own signals.
    for (QSocketNotifier *n : {read_notifier, write_notifier}) {
        if (n) {
            n->setEnabled(false);
            n->deleteLater();
        }
    }
    read_notifier = nullptr;
    write_notifier = nullptr;
    notifier_fd = -1;
}

bool Client::publish(const QString &topic, const QByteArray &payload, bool retained, int qos)
{
    if (!valid_publish_topic(topic) || qos < 0 || qos > 2)
        return false;
    const bool kept = queue.push(OutgoingMessage{topic, payload, qos, retained});
    pump();
    return kept;
}

bool Client::reply(const QByteArray &payload)
{
    return publish(topic(QStringLiteral("reply")), payload, false, reply_qos);
}

void Client::set_status(const QByteArray &status)
{
    current_status = status;
    publish(topic(QStringLiteral("status")), status, true, status_qos);
}

bool Client::publish_state(const QString &key, const QByteArray &json)
{
    const QString state_topic = topic(QStringLiteral("state/") + key);
    // A key with wildcards or levels of its own would not be one topic below state/.
    if (key.isEmpty() || key.contains(QLatin1Char('/')) || !valid_publish_topic(state_topic))
        return false;
    const auto found = state_topics.constFind(key);
    if (found != state_topics.cend() && *found == json)
        return true;
    state_topics.insert(key, json);
    return publish(state_topic, json, true, state_qos);
}

void Client::clear_state()
{
    const QStringList keys = state_topics.keys();
    state_topics.clear();
    for (const QString &key : keys)
        publish(topic(QStringLiteral("state/") + key), QByteArray(), true, state_qos);
}

void Client::pump()
{
    if (!client || link_state != State::Connected)
        return;
    while (!queue.empty() && in_library.size() < max_in_library && !mosquitto_want_write(client)) {
        // Meters written now would only wait in the kernel ahead of the next state change.
        if (korvel::mqtt::unsent_bytes(mosquitto_socket(client)) > max_unsent_bytes)
            queue.drop_live();
        std::optional<OutgoingMessage> next = queue.pop();
        if (!next)
            break;
        const OutgoingMessage &m = *next;
        const QByteArray t = m.topic.toUtf8();
        int mid = 0;
        const int rc = mosquitto_publish(client, &mid, t.constData(), int(m.payload.size()), m.payload.constData(),
                                         m.qos, m.retained);
        if (rc != MOSQ_ERR_SUCCESS)
            break; // a broken connection shows on the socket next
        // A QoS 0 message that went out at once was reported done inside the call.
        if (!done_early.remove(mid))
            in_library.insert(mid);
    }
    if (write_notifier)
        write_notifier->setEnabled(mosquitto_want_write(client));
}

QString Client::tls_failure(int rc, int saved_errno) const
{
    if (!config.tls)
        return QString();
    // The library's word for a TLS session that ended without a reason from OpenSSL: under TLS 1.3 a broker
    // refuses a missing client certificate after the handshake, and its alert may be lost to the reset.
    if (library_error.isEmpty() && tls_reason.isEmpty())
        return rc == MOSQ_ERR_ERRNO && saved_errno == EPROTO
                   ? QStringLiteral("TLS handshake failed: the broker closed the connection")
                   : QString();
    // "Error: Unable to load client key file "…"." and OpenSSL's "error:05800074:x509 certificate
    // routines::key values mismatch" give "unable to load client key file "…" (key values mismatch)".
    QString sentence = library_error;
    if (sentence.startsWith(QLatin1String("Error: ")))
        sentence.remove(0, 7);
    sentence = lower_first(sentence);
    const QString detail = sentence.isEmpty()     ? tls_reason
                           : tls_reason.isEmpty() ? sentence
                                                  : QStringLiteral("%1 (%2)").arg(sentence, tls_reason);
    return QStringLiteral("TLS handshake failed: ") + detail;
}

void Client::on_log_cb(mosquitto *, void *self, int level, const char *text)
{
    if (level != MOSQ_LOG_ERR)
        return;
    auto *me = static_cast<Client *>(self);
    const QString line = QString::fromUtf8(text);
    if (line.startsWith(QLatin1String("OpenSSL Error")))
        me->tls_reason = line.section(QLatin1Char(':'), -1).trimmed();
    else if (me->library_error.isEmpty())
        me->library_error = line;
}

void Client::on_connect_cb(mosquitto *, void *self, int rc)
{
    static_cast<Client *>(self)->connack = rc;
}

void Client::on_message_cb(mosquitto *, void *self, const mosquitto_message *message)
{
    auto *me = static_cast<Client *>(self);
    me->commands.append(QByteArray(static_cast<const char *>(message->payload), message->payloadlen));
}

void Client::on_publish_cb(mosquitto *, void *self, int mid)
{
    auto *me = static_cast<Client *>(self);
    if (!me->in_library.remove(mid))
        me->done_early.insert(mid);
}

} // namespace korvel::mqtt
