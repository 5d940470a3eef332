#pragma once

// USB identity of the Korvel console. The udev rule in resources/ and the emulated console use the same values.
namespace korvel::usb {
inline constexpr int vendor_id = 0x1209;
inline constexpr int product_id = 0x4B43;
} // namespace korvel::usb
