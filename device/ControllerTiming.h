#pragma once

#include <cstdint>

#include "device/CommParameters.h"
#include "device/DeviceInfo.h"

namespace vtx {

// The bit timing the enable command carries, as this device needs it: a fixed table for the
// second output bus and for the first firmware generation of the "VTX20", otherwise calculated
// for the controller at the device's clock.
struct ControllerTiming {
    uint32_t clock = 0;
    uint32_t brp = 0;
    uint32_t tseg1 = 0;  // 0 on the second output bus's table
    uint32_t tseg2 = 0;
    uint32_t sjw = 0;
    uint32_t samplePoint = 0;  // per mille
    uint8_t btr0 = 0;
    uint8_t btr1 = 0;
};

// False when the calculation finds no timing for the bit rate.
bool controllerTimingFor(const CommParameters& params, const DeviceInfo& info,
                         ControllerTiming& out);

}  // namespace vtx
