// One simulated setup: the virtual CAN bus, the device on it behind its pipe transport and its
// device file, the test control, and (as configured) the simulated ECU and the traffic generator.
#pragma once

#include <memory>

#include "sim/SimConfig.h"
#include "sim/SimControl.h"
#include "sim/SimDevice.h"
#include "sim/SimDeviceFileTransport.h"
#include "sim/SimEcu.h"
#include "sim/SimPipeTransport.h"
#include "sim/TrafficGenerator.h"
#include "sim/VirtualCanBus.h"

namespace vtx::sim {

class SimWorld {
  public:
    explicit SimWorld(const SimConfig& config);
    ~SimWorld();
    SimWorld(const SimWorld&) = delete;
    SimWorld& operator=(const SimWorld&) = delete;

    const SimConfig& config() const { return config_; }
    VirtualCanBus& bus() { return bus_; }
    SimDevice& device() { return device_; }
    SimPipeTransport& transport() { return transport_; }
    SimDeviceFileTransport& deviceFile() { return deviceFile_; }
    SimControl& control() { return control_; }
    SimEcu* ecu() { return ecu_.get(); }                    // nullptr when configured off
    TrafficGenerator* traffic() { return traffic_.get(); }  // nullptr when configured off

    // The process's setup, built from the environment on first use. It lives until
    // shutdownProcess, which the library calls at unload once its threads have stopped.
    static SimWorld& process();
    static void shutdownProcess();

  private:
    const SimConfig config_;
    // Declared in build order; destroyed the other way round, the bus last.
    VirtualCanBus bus_;
    SimDevice device_;
    SimPipeTransport transport_;
    SimDeviceFileTransport deviceFile_;
    std::unique_ptr<SimEcu> ecu_;  // before the control, which reads it
    SimControl control_;
    std::unique_ptr<TrafficGenerator> traffic_;
};

}  // namespace vtx::sim
