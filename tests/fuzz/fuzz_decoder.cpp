// Feeds any bytes to the report decoder, interleaved with commands that read the cache the reports built.
// Input: a sequence of records; each starts with a byte whose top bit picks the kind:
//   0x80 | n : a command, chosen by the next byte, arguments from the bytes after it;
//   n        : an input report of the next n bytes (n up to 127; truncated at the end of the input).
#include "console/ckorvel.h"
#include "emulator/emulateddevice.h"
#include "usb/cusbhid.h"
#include "usb/usbids.h"

#include <QCoreApplication>

#include <cstddef>
#include <cstdint>

namespace {
struct Fixture {
    Fixture()
        : usb(nullptr, korvel::usb::vendor_id, korvel::usb::product_id)
        , console(&usb, nullptr)
    {
        emulator::EmulatedDevice::instance().set_input_capacity(0);
        usb.start();
    }
    CUSBHID usb;
    CKorvel console;
};

int arg(const uint8_t *data, size_t size, size_t i)
{
    // Signed, so the -1 and 1 markers and 255 all occur.
    return i < size ? static_cast<int8_t>(data[i]) : -1;
}

void run_command(CKorvel &c, const uint8_t *d, size_t n)
{
    const int choice = n > 0 ? d[0] : 0;
    const auto a = [d, n](size_t i) { return arg(d, n, i + 1); };
    const int member = n > 1 && d[1] == 0x7F ? 255 : a(0);
    switch (choice % 10) {
    case 0: c.config_cue(member, a(1), a(2)); break;
    case 1: c.config_cue_reset(member, a(1), a(2), a(3), a(4), a(5)); break;
    case 2: c.config_gpo(member, a(1), a(2), a(3), a(4)); break;
    case 3: c.config_on(member, a(1), a(2), a(3)); break;
    case 4: c.config_pgm_auto_off(member, a(1), a(2)); break;
    case 5: c.config_on_air(member, a(1), a(2), a(3), a(4)); break;
    case 6: c.config_studio_remote(member, a(1), a(2), a(3)); break;
    case 7: c.ctrl_led_blink(member, a(1), a(2), a(3)); break;
    case 8: c.config_silence_detection(a(0), a(1), a(2), a(3), a(4)); break;
    default: c.on(member, a(1)); break;
    }
}
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
    // Each input starts from an empty cache, as after the link opens.
    fixture.console.on_disconnected();
    size_t i = 0;
    while (i < size) {
        const uint8_t head = data[i++];
        const size_t length = std::min<size_t>(head & 0x7F, size - i);
        if (head & 0x80)
            run_command(fixture.console, data + i, length);
        else
            fixture.console.on_data_ready(QByteArray(reinterpret_cast<const char *>(data + i), qsizetype(length)));
        i += length;
    }
    return 0;
}
