// Starts and stops a real Mosquitto broker for the MQTT tests.
#include "broker.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <signal.h>

namespace {
quint16 free_port()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}
} // namespace

Broker::Broker()
{
    configured = write_config(nullptr);
}

Broker::Broker(const Account &only_user)
{
    configured = write_config(&only_user);
}

Broker::Broker(const QString &certificate, const QString &key)
{
    configured = write_config(nullptr, "certfile " + certificate.toUtf8() + "\nkeyfile " + key.toUtf8() + "\n");
}

Broker::~Broker()
{
    stop();
}

bool Broker::write_config(const Account *account, const QByteArray &listener_options)
{
    if (!dir.isValid())
        return false;
    listen_port = free_port();
    QByteArray conf;
    // Run as root, the broker would otherwise switch to its own user and lose access to the directory.
    conf += "user root\n";
    conf += "listener " + QByteArray::number(listen_port) + " 127.0.0.1\n";
    conf += listener_options;
    conf += "persistence false\n";
    conf += "log_dest stderr\n";
    if (account) {
        const QString passwords = dir.filePath("passwords");
        const int rc = QProcess::execute("mosquitto_passwd", {"-c", "-b", passwords, account->user, account->password});
        if (rc != 0)
            return false;
        conf += "allow_anonymous false\n";
        conf += "password_file " + passwords.toUtf8() + "\n";
    } else {
        conf += "allow_anonymous true\n";
    }
    QFile file(dir.filePath("mosquitto.conf"));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(conf);
    return true;
}

bool Broker::start()
{
    if (!configured)
        return false;
    const QString program = QStandardPaths::findExecutable("mosquitto", {"/usr/sbin", "/usr/local/sbin", "/usr/bin"});
    if (program.isEmpty())
        return false;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, {"-c", dir.filePath("mosquitto.conf")});
    if (!process.waitForStarted())
        return false;
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired() && process.state() == QProcess::Running) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, listen_port);
        if (socket.waitForConnected(200))
            return true;
        QThread::msleep(20);
    }
    return false;
}

void Broker::stop()
{
    if (process.state() == QProcess::NotRunning)
        return;
    resume(); // a frozen broker would not hear the request to end
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

QString Broker::log()
{
    return QString::fromLocal8Bit(process.readAll());
}

void Broker::pause()
{
    ::kill(pid_t(process.processId()), SIGSTOP);
}

void Broker::resume()
{
    ::kill(pid_t(process.processId()), SIGCONT);
}
