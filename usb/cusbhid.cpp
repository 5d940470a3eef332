#include "usb/cusbhid.h"

#include "usb/openproblem.h"

#include <QTimer>
#include <QVarLengthArray>

#include <hidapi.h>

CUSBHID::CUSBHID(QObject *parent, int vid, int pid)
    : QObject(parent)
    , read_timer(new QTimer(this))
    , auto_connect_timer(new QTimer(this))
    , problem(new OpenProblemReport(this))
    , vendor_id(vid)
    , product_id(pid)
{
    connect(read_timer, &QTimer::timeout, this, &CUSBHID::hid_read_timer);
    connect(auto_connect_timer, &QTimer::timeout, this, qOverload<>(&CUSBHID::start));
}

void CUSBHID::set_auto_connect(bool on)
{
    auto_connect = on;
    if (on)
        auto_connect_timer->start(auto_connect_interval_ms);
    else
        auto_connect_timer->stop();
}

int CUSBHID::start(int vid, int pid)
{
    // The ids are replaced even when the open then fails.
    vendor_id = vid;
    product_id = pid;
    return start();
}

int CUSBHID::start()
{
    if (device)
        return -1;
    if (vendor_id == 0 || product_id == 0)
        return -1;
    return open_device();
}

int CUSBHID::open_device()
{
    device = hid_open(static_cast<unsigned short>(vendor_id & 0xFFFF), static_cast<unsigned short>(product_id & 0xFFFF),
                      nullptr);
    if (!device) {
        problem->set(OpenProblem::diagnose(vendor_id, product_id));
        return -1;
    }
    problem->set({});
    hid_set_nonblocking(device, 1);
    read_timer->start(poll_interval_ms);
    emit connected();
    return 0;
}

int CUSBHID::stop()
{
    if (!device)
        return -1;
    close_device();
    return 0;
}

void CUSBHID::close_device()
{
    read_timer->stop();
    hid_close(device);
    hid_exit();
    device = nullptr;
    emit disconnected();
}

int CUSBHID::write(const QByteArray &data)
{
    if (!device)
        return 0;
    // Report number 0 in front: the console does not number its reports.
    QVarLengthArray<unsigned char, 64> buffer(data.size() + 1);
    buffer[0] = 0x00;
    std::copy(data.cbegin(), data.cend(), buffer.begin() + 1);
    const int result = hid_write(device, buffer.data(), static_cast<size_t>(buffer.size()));
    emit TX();
    return result;
}

void CUSBHID::hid_read_timer()
{
    // A 1 ms timer drops the ticks it delivers late, so drain what is waiting instead of one report per tick.
    unsigned char buffer[read_buffer_size];
    for (int i = 0; i < max_reports_per_tick && device; ++i) {
        const int n = hid_read(device, buffer, sizeof buffer);
        if (n > 0) {
            emit data_ready(QByteArray(reinterpret_cast<const char *>(buffer), n));
            emit RX();
        } else {
            if (n < 0 && device)
                close_device();
            return;
        }
    }
}
