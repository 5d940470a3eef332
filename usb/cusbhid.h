#pragma once

#include <QByteArray>
#include <QObject>

class OpenProblemReport;

class QTimer;
struct hid_device_;

// The one USB HID link to the console: opens it by vendor and product id, polls it every millisecond,
// hands every input report on and writes output reports. Optionally reopens the device every 100 ms.
class CUSBHID : public QObject {
    Q_OBJECT

public:
    CUSBHID(QObject *parent, int vid, int pid);

    bool is_connected() const { return device != nullptr; }
    bool is_auto_connect() const { return auto_connect; }
    void set_auto_connect(bool on);
    // Why the last open failed, told once per change; cleared by an open that succeeds.
    OpenProblemReport *open_problem() const { return problem; }

    // Writes one output report (without report number). Returns the library's result, or 0 while closed.
    int write(const QByteArray &data);

    // Upper bound of reports passed on per poll tick, so a flood cannot starve the event loop.
    static constexpr int max_reports_per_tick = 64;
    static constexpr int read_buffer_size = 128;
    static constexpr int poll_interval_ms = 1;
    static constexpr int auto_connect_interval_ms = 100;

signals:
    void connected();
    void disconnected();
    void data_ready(QByteArray data);
    void RX();
    void TX();

public slots:
    void hid_read_timer();
    int start(int vid, int pid);
    int start();
    int stop();

private:
    int open_device();
    void close_device();

    QTimer *read_timer;
    QTimer *auto_connect_timer;
    OpenProblemReport *problem;
    hid_device_ *device = nullptr;
    int vendor_id;
    int product_id;
    bool auto_connect = false;
};
