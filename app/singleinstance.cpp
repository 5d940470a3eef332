#include "app/singleinstance.h"

#include <QDebug>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

SingleInstance::SingleInstance(const QString &instance, QObject *parent)
    : QObject(parent)
{
    // QStandardPaths falls back to a private directory of the user's own when XDG_RUNTIME_DIR is unset.
    QString directory = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (directory.isEmpty())
        directory = QDir::tempPath();
    name = QDir(directory).filePath(instance + QStringLiteral(".socket"));
}

SingleInstance::Role SingleInstance::claim()
{
    if (ask_running_copy())
        return Role::second;

    server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(name)) {
        if (server->serverError() == QAbstractSocket::AddressInUseError) {
            // Either a copy started in the same moment, or a crashed copy's socket file: ask once more, and
            // take the name over only when nobody answers.
            if (ask_running_copy())
                return Role::second;
            QLocalServer::removeServer(name);
        }
        if (!server->listen(name)) {
            qWarning().noquote() << "Cannot watch for a second start:" << server->errorString();
            return Role::first;
        }
    }
    connect(server, &QLocalServer::newConnection, this, &SingleInstance::on_new_connection);
    return Role::first;
}

bool SingleInstance::ask_running_copy()
{
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(connect_timeout_ms))
        return false;
    // A copy that accepts the connection is running, whether or not the request then goes through.
    socket.write(show_request);
    socket.waitForBytesWritten(connect_timeout_ms);
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState)
        socket.waitForDisconnected(connect_timeout_ms);
    return true;
}

void SingleInstance::on_new_connection()
{
    while (QLocalSocket *socket = server->nextPendingConnection()) {
        const auto read = [this, socket] {
            while (socket->canReadLine()) {
                if (socket->readLine() == show_request)
                    emit show_requested();
            }
            // Nothing longer is ever sent: a peer that floods the socket is cut off.
            if (socket->bytesAvailable() > 64)
                socket->abort();
        };
        connect(socket, &QLocalSocket::readyRead, this, read);
        connect(socket, &QLocalSocket::disconnected, this, [socket, read] {
            read();
            socket->deleteLater();
        });
    }
}
