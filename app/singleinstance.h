#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

// One running copy per user session. The first start listens on a local socket named for the user; a later
// start finds it there, asks it to show its window and steps back. A socket left behind by a copy that
// crashed answers nobody and is taken over.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    explicit SingleInstance(const QString &instance, QObject *parent = nullptr);

    enum class Role { first, second };
    // first: this process runs and now listens for later starts (or, when it cannot listen, runs anyway:
    // a copy too many is better than none). second: a running copy has been asked to show its window.
    Role claim();

    // The socket's full path: in the user's runtime directory, so it is per user and per session.
    QString server_name() const { return name; }

    // What a later start sends.
    static constexpr char show_request[] = "show\n";
    static constexpr int connect_timeout_ms = 1000;

signals:
    void show_requested();

private:
    bool ask_running_copy();
    void on_new_connection();

    QString name;
    QLocalServer *server = nullptr;
};
