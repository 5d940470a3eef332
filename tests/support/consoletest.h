#pragma once

#include "console/ckorvel.h"
#include "usb/cusbhid.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// Helpers shared by the console protocol tests.
namespace consoletest {

// Bytes from hex text; spaces are skipped.
inline QByteArray bytes(const char *hex)
{
    return QByteArray::fromHex(hex);
}

inline QString hex(const QByteArray &data)
{
    return QString::fromLatin1(data.toHex(' ').toUpper());
}

// An input report from its type byte and payload in hex, with the length byte in front.
inline QByteArray report(const char *type_and_payload)
{
    QByteArray data = bytes(type_and_payload);
    data.prepend(static_cast<char>(data.size() + 1));
    return data;
}

// The output reports written since the last clear, as hex text without the leading report number. A write that
// is not 11 bytes starting with the report number 0x00 shows as "malformed: " and its bytes, so it never
// compares equal to an expected report.
QStringList written_reports();

// A console object on a link that is open to the emulated console; the start-up requests are already cleared.
class OpenConsole {
public:
    OpenConsole();

    CUSBHID usb;
    CKorvel korvel;

    void feed(const char *type_and_payload) { korvel.on_data_ready(report(type_and_payload)); }
};

} // namespace consoletest
