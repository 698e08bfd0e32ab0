#include "platform/posix/libusb/UsbDriverStatus.h"

#include <unistd.h>

#include <string>
#include <vector>

#include "platform/posix/libusb/LibusbContext.h"

namespace vtx::platform {

namespace {
// The usbfs node of a path "usb:BUS:ADDRESS" on Linux; macOS has none to check.
bool nodeAccessible(const std::string& path) {
#ifdef __linux__
    constexpr std::size_t kPrefix = 4;  // "usb:"
    constexpr std::size_t kBusDigits = 3;
    const std::string node = "/dev/bus/usb/" + path.substr(kPrefix, kBusDigits) + "/" +
                             path.substr(kPrefix + kBusDigits + 1);
    return access(node.c_str(), R_OK | W_OK) == 0;
#else
    (void)path;
    return true;
#endif
}
}  // namespace

UsbDriverStatus usbDriverStatus() {
    const std::shared_ptr<LibusbContext> context = LibusbContext::acquire();
    if (!context) {
        return UsbDriverStatus::NoLibusb;
    }
    const std::vector<std::string> paths = context->matchingPaths();
    if (paths.empty()) {
        return LibusbContext::matchingDeviceSeen() ? UsbDriverStatus::Installed
                                                   : UsbDriverStatus::NoDevice;
    }
    return nodeAccessible(paths.front()) ? UsbDriverStatus::Installed
                                         : UsbDriverStatus::NoPermission;
}

const char* usbDriverStatusText(UsbDriverStatus status) {
    switch (status) {
        case UsbDriverStatus::Installed:
            return "";
        case UsbDriverStatus::NoLibusb:
            return "The interface driver is not installed: libusb cannot be initialised";
        case UsbDriverStatus::NoDevice:
            return "The interface driver is not installed: no USB device with its IDs";
        case UsbDriverStatus::NoPermission:
            return "The interface driver is not installed: no USB permission (99-vtxpts.rules)";
    }
    return "";
}

}  // namespace vtx::platform
