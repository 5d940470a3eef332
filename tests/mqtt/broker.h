#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A Mosquitto broker of its own for one test, on a free loopback port, with a configuration written into a
// temporary directory: anonymous clients by default, or what `options` say for the listener.
class Broker {
public:
    explicit Broker(const QByteArray &options = "allow_anonymous true\n");
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
    // Reads the broker's output until it has printed `text` or the time is up, without running an event loop
    // (so the test's own clients read nothing meanwhile); returns what it read.
    QString log_until(const QString &text, int timeout_ms = 10000);

private:
    QTemporaryDir dir;
    QProcess process;
    quint16 listen_port = 0;
};
