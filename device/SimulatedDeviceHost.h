// A program that carries the simulated device itself lends it to the library it loads: the
// end-to-end tests run the built library (the DLL under Wine) against a simulated device they
// watch and steer. Such a program exports a function of this name and type; a library loaded
// with VTXPTS_DEVICE=sim or sim-kernel then talks to the program's device through the two
// transports instead of building a simulated device of its own. Programs that do not export it
// (every application) change nothing.
#pragma once

#include "platform/DeviceFileTransport.h"
#include "platform/PipeTransport.h"

namespace vtx {

struct SimulatedDeviceHost {
    PipeTransport* pipe;
    DeviceFileTransport* deviceFile;
};

using SimulatedDeviceHostFunction = void (*)(SimulatedDeviceHost* host);

inline constexpr char kSimulatedDeviceHostSymbol[] = "vtxSimulatedDeviceHost";

}  // namespace vtx
