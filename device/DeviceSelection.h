// Which device the library talks to: the real one through the installed driver, or the
// simulated one (VTXPTS_DEVICE=sim behind the WinUSB path, sim-kernel behind the kernel-driver
// path). Read once, when the library is loaded; the transports are process-wide, like the
// handles of a real device. The simulated device is not known here: a build that carries it
// registers its transports (registerSimulatedDevice); a program that carries one lends it
// (SimulatedDeviceHost.h), and that wins.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/DeviceFileTransport.h"
#include "platform/PipeTransport.h"

namespace vtx {

enum class DeviceChoice : uint8_t { Real, Sim, SimKernel };

// A simulated device built into the library: its two transports, created on first use, and its
// teardown at unload.
struct SimulatedDeviceProvider {
    PipeTransport& (*pipe)();
    DeviceFileTransport& (*deviceFile)();
    void (*shutdown)();
};

// Called once by the library's top layer at load, before any device is chosen.
void registerSimulatedDevice(const SimulatedDeviceProvider& provider);

// "sim" and "sim-kernel" select the simulated device; unset, empty or anything else the real
// drivers.
DeviceChoice parseDeviceChoice(std::string_view text);

// The choice of this process, read from the environment on first use.
DeviceChoice processDeviceChoice();

// The pipe transport of this process: the simulated device's, the platform's, or one that finds
// no device where the platform has none (or where sim is chosen and no simulated device is
// built in or lent).
PipeTransport& processPipeTransport();

// The device-file transport of this process: the simulated device's (sim-kernel), the
// platform's, or one that never opens where the platform has none.
DeviceFileTransport& processDeviceFileTransport();

// At unload, after every thread of the library has ended: frees the process-wide transports and
// shuts the registered simulated device down.
void releaseProcessDevices();

}  // namespace vtx
