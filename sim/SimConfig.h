// How one simulated setup is built: the bus rate, the USB latency, and which other nodes share
// the bus. The library's process-wide setup takes it from the environment:
//   VTXPTS_SIM_BUSRATE         bus bit rate in bit/s, 1000 to 1000000 (default 500000)
//   VTXPTS_SIM_USB_LATENCY_US  cost of each pipe transfer in microseconds, 0 to 1000000
//                              (default 125)
//   VTXPTS_SIM_ECU             0: no simulated ECU; unset or anything else: the ECU is there
//   VTXPTS_SIM_ECU_BS          the block size the ECU grants a tester's multi-frame request,
//                              0 to 255 (default 0: no limit)
//   VTXPTS_SIM_ECU_STMIN       the separation time code it grants: 0 to 127 ms, or 241 to 249
//                              for 100 to 900 µs (default 0)
//   VTXPTS_SIM_TRAFFIC         frames per second, or "max" for a saturated bus (default: none)
//   VTXPTS_SIM_TRAFFIC_ID      the traffic's identifier as candump writes it: 3 hexadecimal
//                              digits for 11 bits, at most 7FF (default 100), or 8 for 29 bits,
//                              at most 1FFFFFFF
//   VTXPTS_SIM_STUFFING        1: frames take their stuff bits on the bus too; unset or anything
//                              else: their nominal bits only
// An unreadable value keeps the default.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

#include "sim/CanFrameBits.h"
#include "sim/SimDevice.h"
#include "sim/SimIsoTpReceiver.h"
#include "sim/TrafficGenerator.h"

namespace vtx::sim {

struct SimConfig {
    static constexpr uint32_t kDefaultBusRate = 500'000;
    static constexpr std::chrono::microseconds kDefaultUsbLatency{125};

    uint32_t busRate = kDefaultBusRate;
    BitStuffing stuffing = BitStuffing::None;
    std::chrono::microseconds usbLatency = kDefaultUsbLatency;
    bool ecu = true;
    SimIsoTpReceiver::FlowControlSettings ecuFlowControl;
    std::optional<TrafficGenerator::Rate> traffic;
    TrafficGenerator::Identifier trafficIdentifier;
    SimDeviceOptions device;

    // Looks each variable up by name; nullptr means unset.
    using Lookup = std::function<const char*(const char* name)>;
    static SimConfig fromVariables(const Lookup& lookup);
    static SimConfig fromEnvironment();
};

}  // namespace vtx::sim
