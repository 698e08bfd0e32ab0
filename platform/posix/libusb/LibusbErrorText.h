// Words for the caller when the device cannot be reached over libusb.
#pragma once

#include <string>

namespace vtx::platform {

// Why opening or claiming the device failed, from libusb's error code. Refused access names
// the udev rule that grants it.
std::string openErrorText(int libusbError);

}  // namespace vtx::platform
