#pragma once

#include "emulator/emulateddevice.h"

#include <QByteArray>
#include <QList>

namespace consoletest {

// Bytes from hex text; spaces are skipped.
inline QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text));
}

// A 10-byte output report as the host builds it: the given bytes, then zeros.
inline QByteArray output(const char *text)
{
    QByteArray report = hex(text);
    if (report.size() < 10)
        report.append(QByteArray(10 - report.size(), '\0'));
    return report;
}

// Hands one output report to the device as hid_write does: report number 0x00 first.
inline void write(const QByteArray &report)
{
    const QByteArray buffer = QByteArray(1, '\0') + report;
    emulator::EmulatedDevice::instance().write(reinterpret_cast<const unsigned char *>(buffer.constData()),
                                               static_cast<size_t>(buffer.size()));
}

// Every input report waiting, oldest first.
inline QList<QByteArray> read_all()
{
    QList<QByteArray> reports;
    unsigned char buffer[128];
    for (int guard = 0; guard < 100000; ++guard) {
        const int n = emulator::EmulatedDevice::instance().read(buffer, sizeof buffer);
        if (n <= 0)
            break;
        reports.append(QByteArray(reinterpret_cast<const char *>(buffer), n));
    }
    return reports;
}

inline QList<QByteArray> hex_list(std::initializer_list<const char *> texts)
{
    QList<QByteArray> out;
    for (const char *text : texts)
        out.append(hex(text));
    return out;
}

} // namespace consoletest
