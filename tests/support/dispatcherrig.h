#pragma once

#include "console/ckorvel.h"
#include "emulator/emulateddevice.h"
#include "usb/cusbhid.h"
#include "usb/usbids.h"
#include "websocket/cwebsocketinterface.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QString>

// The chain a client message goes through: the WebSocket interface on the console object on the device link,
// the link open on the emulated console. The dispatcher is called directly.
struct DispatcherRig {
    CUSBHID link{nullptr, korvel::usb::vendor_id, korvel::usb::product_id};
    CKorvel console{&link, nullptr};
    CWebSocketInterface websocket{&console, nullptr};

    // Opens the link; the console object then asks for the 38 state reports.
    bool open()
    {
        if (link.start() != 0)
            return false;
        return emulator::EmulatedDevice::instance().writes().size() == 38;
    }
    // Feeds input reports as if the console had sent them (the first of an id fills the cache as it is).
    void feed(const QByteArrayList &reports)
    {
        for (const QByteArray &report : reports)
            console.on_data_ready(report);
    }
};

// One output report as the emulated console records it: report number 0x00, then the report padded with
// zeros to its 10 bytes. hex holds the meaningful bytes, length byte first ("04 05 02 01").
inline QByteArray written(const char *hex)
{
    QByteArray report = QByteArray::fromHex(hex);
    report.resize(CKorvel::output_report_length, '\0');
    return QByteArray(1, '\0') + report;
}

// An input report from hex ("0A D2 01 00 ...").
inline QByteArray input(const char *hex)
{
    return QByteArray::fromHex(hex);
}
