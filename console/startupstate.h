// Whether the state the console reported since the link opened is complete: every start-up request answered,
// or the bounded wait for the answers over.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>

class CUSBHID;

class StartupState : public QObject {
    Q_OBJECT

public:
    StartupState(CUSBHID *link, QObject *parent);

    bool is_complete() const { return complete; }

    // A console that never answers some request must not keep clients waiting for ever.
    static constexpr int max_wait_ms = 2000;

signals:
    // Once per opening of the link.
    void completed();

private slots:
    void on_connected();
    void on_disconnected();
    void on_data_ready(const QByteArray &data);

private:
    void finish();

    QTimer wait;
    quint64 answered = 0; // bit i: report id i has come in as a state report since the link opened
    bool waiting = false;
    bool complete = false;
};
