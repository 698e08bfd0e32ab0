#pragma once

#include <cstdint>
#include <optional>

#include "device/CommParameters.h"

namespace vtx {

// Whether the controller is reprogrammed when nothing in the request differs from what it runs.
// Always also lets the bit rate of a running controller change.
enum class Reprogramming : uint8_t { WhenChanged, Always };

// What the library asks of the CAN controller. Every field left at its default keeps what the
// device has; the acceptance values and the bit rate also take the special values of
// CommParameters.h (kOpenFilter, kControllerOff).
struct ControllerRequest {
    uint32_t acceptanceId = kKeepValue;    // cut to the identifier width
    uint32_t acceptanceMask = kKeepValue;  // 1 = bit not compared
    uint32_t bitRateKbps = kKeepValue;     // 100, 125, 250, 500 or 1000
    uint8_t outputBus = kKeepBus;          // 0 or 1; the second needs a device offering two
    bool extendedIds = false;              // the filter is for 29-bit identifiers
    bool bothIdWidths = false;             // 11-bit and 29-bit identifiers alike
    bool canFd = false;                    // refused: the controller is classic CAN only
    uint32_t secondBus = 0;                // carried and traced only
    Reprogramming reprogramming = Reprogramming::WhenChanged;
    // When set, this record replaces the device's settings whole (sample point, jump width and
    // resistor included) before the fields above, which then repeat its values, are applied.
    std::optional<CommParameters> replacement = std::nullopt;

    // A request that puts back a record read through Device::settings(), changed or not, and
    // reprograms the controller with it.
    static ControllerRequest replacing(const CommParameters& settings) {
        ControllerRequest request;
        request.acceptanceId = settings.Id;
        request.acceptanceMask = settings.Mk;
        request.bitRateKbps = settings.baudrate;
        request.outputBus = settings.Bus;
        request.extendedIds = settings.Ext != 0;
        request.bothIdWidths = settings.canIdBoth != 0;
        request.canFd = settings.fd != 0;
        request.secondBus = settings.Bus2;
        request.reprogramming = Reprogramming::Always;
        request.replacement = settings;
        return request;
    }
};

}  // namespace vtx
