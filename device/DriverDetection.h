// Which driver family serves the device, asked once when the library is loaded. Nothing here
// touches the device: only the installed driver packages (or the simulated device's choice).
#pragma once

#include "base/InterfaceType.h"

namespace vtx {

// Whether the driver package of that interface type is installed for the device class.
bool isDriverInstalled(InterfaceType type);

// The interface type the library serves: the kernel driver when its package is installed,
// otherwise WinUSB when its package is, otherwise none.
InterfaceType detectInterfaceType();

// Why no driver family serves the device, in words for the caller; empty when there is nothing
// more to say than that none is installed.
const char* missingDriverReason();

}  // namespace vtx
