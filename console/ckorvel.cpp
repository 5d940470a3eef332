#include "console/ckorvel.h"

#include "usb/cusbhid.h"

#include <QDebug>

namespace {
// Request type bytes sent on every open, in this order: firmware, LEDs and keys, the configuration tables,
// the states, then comm, cough and voice track.
constexpr unsigned char startup_requests[] = {
    0x41, 0x42, 0x43, 0x44,                                                                   //
    0x51, 0x52, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5A, 0x5B, 0x5C, 0x5D, 0x5E, 0x5F, //
    0x71, 0x72, 0x73,                                                                         //
    0x60, 0x61, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x6B, 0x6C,             //
    0x4B, 0x4C, 0x4D,                                                                         //
};
static_assert(sizeof startup_requests == 38);
} // namespace

CKorvel::CKorvel(CUSBHID *usb, QObject *parent)
    : QObject(parent)
    , usb(usb)
{
    connect(usb, &CUSBHID::connected, this, &CKorvel::on_connected);
    connect(usb, &CUSBHID::disconnected, this, &CKorvel::on_disconnected);
    connect(usb, &CUSBHID::data_ready, this, &CKorvel::on_data_ready);
}

void CKorvel::on_connected()
{
    qDebug().noquote() << "USB Connected!";
    for (const unsigned char id : startup_requests)
        request(id);
}

void CKorvel::on_disconnected()
{
    qDebug().noquote() << "USB Disconnected";
    cache.clear();
    ++cache_generation;
}

void CKorvel::request(unsigned char id)
{
    send(id, {});
}

void CKorvel::send(unsigned char type, std::initializer_list<int> args)
{
    send(type, args.begin(), static_cast<int>(args.size()));
}

void CKorvel::send(unsigned char type, const int *args, int count)
{
    Q_ASSERT(count >= 0 && count <= output_report_length - 2);
    QByteArray report(output_report_length, '\0');
    report[0] = static_cast<char>(2 + count);
    report[1] = static_cast<char>(type);
    for (int i = 0; i < count; ++i)
        report[2 + i] = static_cast<char>(args[i] & 0xFF);
    usb->write(report);
}
