// Feeds any text to the WebSocket command dispatcher while the console is connected; every refusal must be
// one of the dispatcher's defined error texts.
#include "console/ckorvel.h"
#include "emulator/emulateddevice.h"
#include "usb/cusbhid.h"
#include "usb/usbids.h"
#include "websocket/cwebsocketinterface.h"

#include <QCoreApplication>
#include <QRegularExpression>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {
struct Fixture {
    Fixture()
        : usb(nullptr, korvel::usb::vendor_id, korvel::usb::product_id)
        , console(&usb, nullptr)
        , websocket(&console, nullptr)
    {
        usb.start();
    }
    CUSBHID usb;
    CKorvel console;
    CWebSocketInterface websocket;
};

const QRegularExpression refusal(QStringLiteral(
    "^(JSON syntax error, .*|key not found: 'msg'|invalid key: '.*'|invalid data type for key: '.*', expected: "
    "(String|Bool|Number|Object|String \\(static\\) or Object \\(blinking\\))|invalid data value '.*' for key: "
    "'.*')$"),
    QRegularExpression::DotMatchesEverythingOption);
} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static Fixture fixture;
    emulator::EmulatedDevice::instance().clear_writes();
    QString error;
    const int result =
        fixture.websocket.parseJSON(nullptr, QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size)), error);
    if (result != 0 && result != -1)
        std::abort();
    if (result == -1 && !refusal.match(error).hasMatch())
        std::abort();
    return 0;
}
