#include "emulator/emulateddevice.h"

#include "usb/usbids.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace emulator {

EmulatedDevice &EmulatedDevice::instance()
{
    static EmulatedDevice device;
    return device;
}

void EmulatedDevice::reset()
{
    *this = EmulatedDevice();
}

void EmulatedDevice::unplug()
{
    present_ = false;
    fail_read = true;
}

void EmulatedDevice::queue_input(const QByteArray &report)
{
    input.push_back(report);
    while (static_cast<int>(input.size()) > input_capacity_) {
        input.pop_front();
        ++dropped;
    }
}

bool EmulatedDevice::open(unsigned short vid, unsigned short pid)
{
    last_vid = vid;
    last_pid = pid;
    if (!present_ || vid != korvel::usb::vendor_id || pid != korvel::usb::product_id) {
        ++failed_opens;
        // hidapi's own words when nothing matches.
        error = L"Device with requested VID/PID/(SerialNumber) not found";
        return false;
    }
    if (refusal_ != Refusal::none) {
        ++failed_opens;
        // As hidapi's hidraw back end words a failed open(2) of the device node.
        const char *reason = std::strerror(refusal_ == Refusal::not_permitted ? EACCES : EBUSY);
        const std::string text = std::string("Failed to open a device with path '") + path + "': " + reason;
        error = std::wstring(text.cbegin(), text.cend());
        return false;
    }
    error = L"Success";
    ++opens;
    ++open_handles;
    fail_read = false;
    if (model_)
        model_->opened(*this);
    return true;
}

void EmulatedDevice::close()
{
    ++closes;
    open_handles = std::max(0, open_handles - 1);
}

int EmulatedDevice::read(unsigned char *data, size_t length)
{
    ++reads;
    if (fail_read) {
        fail_read = false;
        input.clear();
        return -1;
    }
    if (model_)
        model_->before_read(*this);
    if (input.empty())
        return 0;
    const QByteArray report = input.front();
    input.pop_front();
    const size_t n = std::min(length, static_cast<size_t>(report.size()));
    std::memcpy(data, report.constData(), n);
    if (model_)
        model_->delivered(data, static_cast<int>(n), *this);
    return static_cast<int>(n);
}

int EmulatedDevice::write(const unsigned char *data, size_t length)
{
    const QByteArray buffer(reinterpret_cast<const char *>(data), static_cast<qsizetype>(length));
    written.append(buffer);
    if (write_fails)
        return -1;
    // Report number 0: only the bytes after it reach the console.
    if (model_ && length > 1)
        model_->output_report(buffer.mid(1), *this);
    return static_cast<int>(length);
}

} // namespace emulator
