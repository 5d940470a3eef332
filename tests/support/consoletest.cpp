#include "consoletest.h"

#include "emulator/emulateddevice.h"
#include "usb/usbids.h"

namespace consoletest {

QStringList written_reports()
{
    QStringList reports;
    for (const QByteArray &write : emulator::EmulatedDevice::instance().writes()) {
        if (write.size() == 1 + CKorvel::output_report_length && write.at(0) == 0)
            reports << hex(write.mid(1));
        else
            reports << QStringLiteral("malformed: ") + hex(write);
    }
    return reports;
}

OpenConsole::OpenConsole()
    : usb(nullptr, korvel::usb::vendor_id, korvel::usb::product_id)
    , korvel(&usb, nullptr)
{
    usb.start();
    emulator::EmulatedDevice::instance().clear_writes();
}

} // namespace consoletest
