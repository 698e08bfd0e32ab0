// Driver detection for the WinUSB path over libusb: "installed" means libusb could be
// initialised and a matching device is attached or has been seen by this process. Otherwise the
// status says what is missing.
#pragma once

#include <cstdint>

namespace vtx::platform {

enum class UsbDriverStatus : uint8_t { Installed, NoLibusb, NoDevice, NoPermission };

// Looks once: enumerates the matching devices, and checks that the first one's node may be
// opened for reading and writing.
UsbDriverStatus usbDriverStatus();

// The "not installed" text for a status, within a J2534 error description's 80 characters
// (empty for Installed).
const char* usbDriverStatusText(UsbDriverStatus status);

}  // namespace vtx::platform
