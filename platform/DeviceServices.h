// The device's driver packages and transports on this platform.
#pragma once

#include <memory>

#include "base/InterfaceType.h"
#include "platform/DeviceFileTransport.h"
#include "platform/PipeTransport.h"

namespace vtx::platform {

// Whether the driver package of an interface type is installed for
// the device class. Windows asks SetupAPI and the driver store; POSIX looks for the kernel
// driver's device node (kernel driver) and for a USB back end (WinUSB).
bool isDriverPackageInstalled(InterfaceType type);

// Why the driver package of an interface type counts as missing, in words for the caller (a
// short text, at most 79 characters); empty where the platform has nothing to add to "not
// installed". Asked when an open finds no driver, never on a hot path.
const char* missingDriverReason(InterfaceType type);

// The platform's WinUSB-style pipe transport, or nullptr where there is none.
std::unique_ptr<PipeTransport> createPipeTransport();

// The platform's transport over the kernel driver's device file ("\\.\VTXUSBCAN" on Windows,
// the character device /dev/vtxusbcan on POSIX), or nullptr where there is none.
std::unique_ptr<DeviceFileTransport> createDeviceFileTransport();

}  // namespace vtx::platform
