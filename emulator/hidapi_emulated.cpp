// The hidapi C API over the emulated console. Linked instead of the system library, this is how the emulated
// application and the tests talk to a console that is not there. Each call forwards to EmulatedDevice.
#include "emulator/emulateddevice.h"
#include "usb/usbids.h"

#include <hidapi.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>

struct hid_device_ {
    bool nonblocking = false;
};

namespace {
emulator::EmulatedDevice &device()
{
    return emulator::EmulatedDevice::instance();
}

// Copies text into the caller's buffer of maxlen characters, cut short where needed and always terminated.
int copy_string(wchar_t *string, size_t maxlen, const wchar_t *text)
{
    if (!string || maxlen == 0)
        return -1;
    std::wcsncpy(string, text, maxlen);
    string[maxlen - 1] = L'\0';
    return 0;
}
} // namespace

extern "C" {

int HID_API_EXPORT HID_API_CALL hid_init(void)
{
    device().library_init();
    return 0;
}

int HID_API_EXPORT HID_API_CALL hid_exit(void)
{
    device().library_exit();
    return 0;
}

// Lists the console while it is plugged in (whether or not it may be opened), as the system library does.
struct hid_device_info HID_API_EXPORT *HID_API_CALL hid_enumerate(unsigned short vendor_id, unsigned short product_id)
{
    const bool listed = device().present() && (vendor_id == 0 || vendor_id == korvel::usb::vendor_id) &&
                        (product_id == 0 || product_id == korvel::usb::product_id);
    if (!listed)
        return nullptr;
    auto *info = new hid_device_info{};
    info->path = strdup(emulator::EmulatedDevice::path);
    info->vendor_id = static_cast<unsigned short>(korvel::usb::vendor_id);
    info->product_id = static_cast<unsigned short>(korvel::usb::product_id);
    info->product_string = wcsdup(L"Korvel (emulated)");
    info->manufacturer_string = wcsdup(L"Velmora");
    info->serial_number = wcsdup(L"");
    return info;
}

void HID_API_EXPORT HID_API_CALL hid_free_enumeration(struct hid_device_info *devs)
{
    while (devs) {
        hid_device_info *next = devs->next;
        std::free(devs->path);
        std::free(devs->product_string);
        std::free(devs->manufacturer_string);
        std::free(devs->serial_number);
        delete devs;
        devs = next;
    }
}

HID_API_EXPORT hid_device *HID_API_CALL hid_open(unsigned short vendor_id, unsigned short product_id, const wchar_t *)
{
    if (!device().open(vendor_id, product_id))
        return nullptr;
    return new hid_device_;
}

HID_API_EXPORT hid_device *HID_API_CALL hid_open_path(const char *)
{
    return nullptr;
}

int HID_API_EXPORT HID_API_CALL hid_write(hid_device *dev, const unsigned char *data, size_t length)
{
    if (!dev || !data)
        return -1;
    return device().write(data, length);
}

int HID_API_EXPORT HID_API_CALL hid_read_timeout(hid_device *dev, unsigned char *data, size_t length, int)
{
    // Never blocks: the emulated console's reports are either waiting or not.
    if (!dev || !data)
        return -1;
    return device().read(data, length);
}

int HID_API_EXPORT HID_API_CALL hid_read(hid_device *dev, unsigned char *data, size_t length)
{
    return hid_read_timeout(dev, data, length, dev && dev->nonblocking ? 0 : -1);
}

int HID_API_EXPORT HID_API_CALL hid_set_nonblocking(hid_device *dev, int nonblock)
{
    if (!dev)
        return -1;
    dev->nonblocking = nonblock != 0;
    device().set_nonblocking(dev->nonblocking);
    return 0;
}

int HID_API_EXPORT HID_API_CALL hid_send_feature_report(hid_device *, const unsigned char *, size_t)
{
    return -1;
}

int HID_API_EXPORT HID_API_CALL hid_get_feature_report(hid_device *, unsigned char *, size_t)
{
    return -1;
}

int HID_API_EXPORT HID_API_CALL hid_get_input_report(hid_device *, unsigned char *, size_t)
{
    return -1;
}

void HID_API_EXPORT HID_API_CALL hid_close(hid_device *dev)
{
    if (!dev)
        return;
    device().close();
    delete dev;
}

int HID_API_EXPORT_CALL hid_get_manufacturer_string(hid_device *, wchar_t *string, size_t maxlen)
{
    return copy_string(string, maxlen, L"Velmora");
}

int HID_API_EXPORT_CALL hid_get_product_string(hid_device *, wchar_t *string, size_t maxlen)
{
    return copy_string(string, maxlen, L"Korvel (emulated)");
}

int HID_API_EXPORT_CALL hid_get_serial_number_string(hid_device *, wchar_t *string, size_t maxlen)
{
    return copy_string(string, maxlen, L"");
}

int HID_API_EXPORT_CALL hid_get_indexed_string(hid_device *, int, wchar_t *, size_t)
{
    return -1;
}

// For no device: what the last hid_open said, as the system library keeps its last global error.
HID_API_EXPORT const wchar_t *HID_API_CALL hid_error(hid_device *dev)
{
    if (dev)
        return L"Success";
    return device().last_error().c_str();
}

} // extern "C"
