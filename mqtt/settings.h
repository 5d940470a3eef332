#pragma once

#include <QString>

namespace korvel::mqtt {

// Where and how the bridge reaches its MQTT broker.
struct Settings {
    QString host;
    // 0 picks the usual port for the transport: plain_port, or tls_port with TLS.
    int port = 0;
    bool tls = false;
    // Directory of trusted certificate authorities for TLS: the system's by default. A CA file replaces it.
    QString ca_path = QStringLiteral("/etc/ssl/certs");
    // PEM files: the authority that signed the broker's certificate (a facility's own), and this client's
    // certificate and key for a broker that asks for one. Empty: none.
    QString ca_file;
    QString client_cert;
    QString client_key;
    QString user;
    QString password;
    // Every topic of this bridge lies below it; empty picks default_prefix().
    QString prefix;
    // Empty picks default_client_id().
    QString client_id;

    static constexpr int plain_port = 1883;
    static constexpr int tls_port = 8883;

    int effective_port() const { return port > 0 ? port : (tls ? tls_port : plain_port); }
    QString effective_prefix() const;
    QString effective_client_id() const;

    bool operator==(const Settings &) const = default;

    // "korvel/" and this machine's host name, so bridges of a facility do not meet on one broker.
    static QString default_prefix();
    static QString default_client_id();
    // NAME-<host>: each program of a machine its own id, since a broker lets one session per id live.
    static QString client_id_for(const QString &name);
    // NAME/<host>: default_prefix() is prefix_for("korvel").
    static QString prefix_for(const QString &name);
};

} // namespace korvel::mqtt
