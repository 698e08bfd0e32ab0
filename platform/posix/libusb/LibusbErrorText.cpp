#include "platform/posix/libusb/LibusbErrorText.h"

#include <libusb.h>

namespace vtx::platform {

namespace {
// A J2534 error description holds 80 characters with its terminator.
constexpr std::size_t kLongestText = 79;
}  // namespace

std::string openErrorText(int libusbError) {
    switch (libusbError) {
        case LIBUSB_ERROR_ACCESS:
            return "No permission for the USB device: udev rule 99-vtxpts.rules, group plugdev";
        case LIBUSB_ERROR_NO_DEVICE:
        case LIBUSB_ERROR_NOT_FOUND:
            return "The USB device is not connected";
        case LIBUSB_ERROR_BUSY:
            return "The USB device is in use by another program";
        default:
            return (std::string("The USB device cannot be opened: ") + libusb_strerror(libusbError))
                .substr(0, kLongestText);
    }
}

}  // namespace vtx::platform
