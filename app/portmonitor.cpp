#include "app/portmonitor.h"

#include <QDebug>
#include <QHostAddress>
#include <QTcpServer>
#include <QTimer>
#include <QUdpSocket>

#include <algorithm>

PortMonitor::PortMonitor(QObject *parent)
    : QObject(parent)
    , retry_timer(new QTimer(this))
{
    retry_timer->setInterval(default_retry_interval_ms);
    connect(retry_timer, &QTimer::timeout, this, &PortMonitor::retry);
}

int PortMonitor::watch(Socket socket)
{
    sockets.append({std::move(socket), 0, QString()});
    return static_cast<int>(sockets.size() - 1);
}

void PortMonitor::apply(int id, int port)
{
    Watched &watched = sockets[id];
    const bool new_port = port != watched.port;
    watched.port = port;
    watched.socket.open(port);
    check(id, new_port);
}

void PortMonitor::set_retry_interval(int ms)
{
    retry_timer->setInterval(ms);
}

void PortMonitor::check(int id, bool new_port)
{
    Watched &watched = sockets[id];
    if (watched.socket.is_open()) {
        if (!watched.problem.isEmpty()) {
            watched.problem.clear();
            qInfo().noquote() << watched.socket.name << "opened port" << watched.port;
            emit problem_solved(id);
        }
    } else {
        const QString problem = diagnose(watched.socket.protocol, watched.port);
        // A new port's problem is news even when it reads like the last one's.
        if (new_port || problem != watched.problem) {
            watched.problem = problem;
            qWarning().noquote() << watched.socket.name + QStringLiteral(":") << problem;
            emit problem_found(id, problem);
        }
    }

    const bool any_problem =
        std::any_of(sockets.cbegin(), sockets.cend(), [](const Watched &w) { return !w.problem.isEmpty(); });
    if (any_problem && !retry_timer->isActive())
        retry_timer->start();
    else if (!any_problem)
        retry_timer->stop();
}

void PortMonitor::retry()
{
    for (int id = 0; id < sockets.size(); ++id) {
        if (!sockets.at(id).problem.isEmpty()) {
            sockets[id].socket.open(sockets.at(id).port);
            check(id, false);
        }
    }
}

QString PortMonitor::diagnose(Protocol protocol, int port)
{
    QAbstractSocket::SocketError error = QAbstractSocket::UnknownSocketError;
    QString text;
    // Tried the way the server and the bridge open their sockets: every IPv4 interface.
    if (protocol == Protocol::tcp) {
        QTcpServer probe;
        if (probe.listen(QHostAddress::AnyIPv4, static_cast<quint16>(port)))
            return tr("port %1 could not be opened").arg(port);
        error = probe.serverError();
        text = probe.errorString();
    } else {
        QUdpSocket probe;
        if (probe.bind(QHostAddress::AnyIPv4, static_cast<quint16>(port), QAbstractSocket::DontShareAddress))
            return tr("port %1 could not be opened").arg(port);
        error = probe.error();
        text = probe.errorString();
    }
    switch (error) {
    case QAbstractSocket::AddressInUseError:
        return tr("port %1 is in use").arg(port);
    case QAbstractSocket::SocketAccessError:
        return tr("port %1 is not open to this user").arg(port);
    default:
        return tr("port %1: %2").arg(port).arg(text);
    }
}
