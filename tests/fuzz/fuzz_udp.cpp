// Feeds any datagrams, from a few senders, to the UDP bridge, interleaved with console reports it forwards.
// The bridge must write exactly the output report a valid datagram carries (one no longer than the console's
// output report) and nothing for any other.
// Input: a sequence of records; each starts with a byte h whose low two bits pick the kind:
//   0: a datagram from sender (h >> 2) & 7 (see senders), its length in the next byte, then its bytes;
//   1: a console report of the length in the next byte, then its bytes, forwarded to the live clients;
//   2: the client timeout becomes 0 (h & 4) or the default, so the next report may expire every client;
//   3: the link is closed (h & 4) or opened again.
#include "console/ckorvel.h"
#include "emulator/emulateddevice.h"
#include "udp/cudpinterface.h"
#include "usb/cusbhid.h"
#include "usb/usbids.h"

#include <QCoreApplication>
#include <QHostAddress>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace {
// Every destination is on loopback and the discard port, so forwarding never leaves the machine.
constexpr int discard_port = 9;

const QHostAddress &sender(int index)
{
    static const QHostAddress senders[] = {
        QHostAddress(),
        QHostAddress(QStringLiteral("127.0.0.1")),
        QHostAddress(QStringLiteral("127.0.0.2")),
        QHostAddress(QStringLiteral("127.0.0.10")),
        QHostAddress(QStringLiteral("::1")),
        QHostAddress(QStringLiteral("::ffff:127.0.0.3")),
        QHostAddress(QHostAddress::LocalHost),
        QHostAddress(QStringLiteral("127.255.255.254")),
    };
    return senders[index & 7];
}

bool is_valid(const QByteArray &datagram, const QHostAddress &from)
{
    return !from.isNull() && datagram.size() >= 4 && datagram.at(0) == CUDPInterface::marker &&
           datagram.at(1) == CUDPInterface::marker;
}

bool is_keep_alive(const QByteArray &datagram)
{
    return datagram.at(2) == 'K' && datagram.at(3) == 'A';
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static CUSBHID usb(nullptr, korvel::usb::vendor_id, korvel::usb::product_id);
    auto &device = emulator::EmulatedDevice::instance();
    device.clear_writes();
    if (!usb.is_connected())
        usb.start();
    // A bridge of its own per input: no client carries over from one input to the next.
    const auto bridge = std::make_unique<CUDPInterface>(&usb, nullptr);
    bridge->setTxPorts(discard_port, discard_port, discard_port);

    size_t i = 0;
    while (i < size) {
        const uint8_t head = data[i++];
        switch (head & 3) {
        case 0:
        case 1: {
            size_t length = 0;
            if (i < size) {
                length = data[i++];
                length = std::min(length, size - i);
            }
            const QByteArray bytes(reinterpret_cast<const char *>(data + i), qsizetype(length));
            i += length;
            if ((head & 3) == 1) {
                bridge->on_usb_data_ready(bytes);
                break;
            }
            const QHostAddress &from = sender(head >> 2);
            const qsizetype writes_before = device.writes().size();
            bridge->handle_datagram(bytes, from);
            const bool writes = is_valid(bytes, from) && !is_keep_alive(bytes) && usb.is_connected() &&
                                bytes.size() - 2 <= CKorvel::output_report_length;
            if (device.writes().size() != writes_before + (writes ? 1 : 0))
                std::abort();
            if (writes && device.writes().last() != QByteArray(1, '\0') + bytes.mid(2))
                std::abort();
            break;
        }
        case 2:
            bridge->set_client_timeout((head & 4) ? 0 : CUDPInterface::default_client_timeout_ms);
            break;
        default:
            if (head & 4)
                usb.stop();
            else
                usb.start();
            break;
        }
    }
    return 0;
}
