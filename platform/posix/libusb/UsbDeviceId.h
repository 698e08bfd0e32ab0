// The USB vendor and product IDs by which the device is found: the placeholders of the driver
// packages and the udev rule unless VTXPTS_USB_ID names others.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace vtx::platform {

struct UsbDeviceId {
    // The placeholders the Windows driver packages and the udev rule carry (VID_0000&PID_0000).
    static constexpr uint16_t kDefaultVendor = 0x0000;
    static constexpr uint16_t kDefaultProduct = 0x0000;

    uint16_t vendor = kDefaultVendor;
    uint16_t product = kDefaultProduct;

    // "vvvv:pppp", each part one to four hexadecimal digits; nullopt for anything else.
    static std::optional<UsbDeviceId> parse(std::string_view text);
    // The IDs VTXPTS_USB_ID names, or the placeholders when it is unset or malformed.
    static UsbDeviceId fromEnvironment();

    bool matches(uint16_t vendorId, uint16_t productId) const {
        return vendorId == vendor && productId == product;
    }
};

}  // namespace vtx::platform
