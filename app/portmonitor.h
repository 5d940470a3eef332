#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <functional>

class QTimer;

// Watches the sockets that must open on a port the user chose (the WebSocket server, the UDP bridge's listen
// socket). When one does not open it finds out why, says so once, and tries again every few seconds until it
// opens or another port is applied.
class PortMonitor : public QObject {
    Q_OBJECT

public:
    enum class Protocol { tcp, udp };
    // One watched socket: open(port) (re)opens it on the port, is_open() tells whether that worked.
    struct Socket {
        QString name; // for the log and the tray message, for example "WebSocket server"
        Protocol protocol;
        std::function<void(int port)> open;
        std::function<bool()> is_open;
    };

    explicit PortMonitor(QObject *parent = nullptr);

    // Adds a socket to watch; returns its id for apply() and the signals.
    int watch(Socket socket);
    // Opens the socket on port and checks the result. A port that does not differ from the last is tried again
    // all the same, and a problem already reported for it is not reported again.
    void apply(int id, int port);
    // Why the socket is not open ("port 19552 is in use"); empty while it is.
    QString problem(int id) const { return sockets.at(id).problem; }
    const QString &name(int id) const { return sockets.at(id).socket.name; }

    void set_retry_interval(int ms);
    static constexpr int default_retry_interval_ms = 3000;

    // Why a socket of this kind could not open on port, found by trying it.
    static QString diagnose(Protocol protocol, int port);

signals:
    // Once for each port and reason; again only when the port or the reason changes.
    void problem_found(int id, const QString &problem);
    void problem_solved(int id);

private:
    struct Watched {
        Socket socket;
        int port = 0;
        QString problem;
    };
    void check(int id, bool new_port);
    void retry();

    QList<Watched> sockets;
    QTimer *retry_timer;
};
