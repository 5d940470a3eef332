// Starts and stops a real Mosquitto broker for the MQTT tests.
#include "broker.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <signal.h>

Broker::Broker(const QByteArray &options)
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    listen_port = probe.serverPort();
    // Run as root, the broker would otherwise switch to its own user and lose access to the test's files.
    QFile file(dir.filePath("mosquitto.conf"));
    if (file.open(QIODevice::WriteOnly))
        file.write("user root\npersistence false\nlog_dest stderr\nlistener " + QByteArray::number(listen_port) +
                   " 127.0.0.1\n" + options);
}

Broker::~Broker()
{
    stop();
}

bool Broker::start()
{
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

void Broker::pause()
{
    ::kill(pid_t(process.processId()), SIGSTOP);
}

void Broker::resume()
{
    ::kill(pid_t(process.processId()), SIGCONT);
}

QString Broker::log()
{
    // Also without an event loop (a test without an application object) the pipe is read.
    while (process.waitForReadyRead(0)) {
    }
    return QString::fromLocal8Bit(process.readAll());
}

QString Broker::log_until(const QString &text, int timeout_ms)
{
    QString out;
    const QDeadlineTimer deadline(timeout_ms);
    while (!(out += QString::fromLocal8Bit(process.readAll())).contains(text) && !deadline.hasExpired())
        process.waitForReadyRead(int(deadline.remainingTime()));
    return out;
}
