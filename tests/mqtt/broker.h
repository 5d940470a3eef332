#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A Mosquitto broker of its own for one test, on a free loopback port, with a configuration written into a
// temporary directory: anonymous clients, or only the one user of a password file.
class Broker {
public:
    struct Account {
        QString user;
        QString password;
    };

    Broker();
    explicit Broker(const Account &only_user);
    // A TLS listener with the given PEM certificate and key files.
    Broker(const QString &certificate, const QString &key);
    ~Broker();

    // Starts the broker and waits until it accepts connections; the port stays the same across restarts.
    bool start();
    void stop();
    // Freezes the broker (it stops reading its sockets) and lets it go on.
    void pause();
    void resume();
    quint16 port() const { return listen_port; }
    // What the broker printed since the last call.
    QString log();

private:
    bool write_config(const Account *account, const QByteArray &listener_options = {});

    QTemporaryDir dir;
    QProcess process;
    quint16 listen_port = 0;
    bool configured = false;
};
