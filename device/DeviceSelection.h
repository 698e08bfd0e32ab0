// Which device the library talks to: the real one through the installed driver, or the
// simulated one (VTXPTS_DEVICE=sim behind the WinUSB path, sim-kernel behind the kernel-driver
// path). Read once, when the library is loaded; the transports are process-wide, like the
// handles of a real device.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/DeviceFileTransport.h"
#include "platform/PipeTransport.h"

namespace vtx {

enum class DeviceChoice : uint8_t { Real, Sim, SimKernel };

// "sim" and "sim-kernel" select the simulated device; unset, empty or anything else the real
// drivers.
DeviceChoice parseDeviceChoice(std::string_view text);

// The choice of this process, read from the environment on first use.
DeviceChoice processDeviceChoice();

// The pipe transport of this process: the simulated device's, the platform's, or one that finds
// no device where the platform has none.
PipeTransport& processPipeTransport();

// The device-file transport of this process: the simulated device's (sim-kernel), the
// platform's, or one that never opens where the platform has none.
DeviceFileTransport& processDeviceFileTransport();

// At unload, after every thread of the library has ended: frees the process-wide transports and
// the simulated device.
void releaseProcessDevices();

}  // namespace vtx
