#include "sim/SimWorld.h"

#include <mutex>
#include <utility>

namespace vtx::sim {

namespace {
// The process's setup. A plain pointer: no static destructor ever tears it down behind the
// library's back.
std::mutex processMutex;
SimWorld* processWorld = nullptr;  // guarded by processMutex

std::unique_ptr<SimEcu> makeEcu(const SimConfig& config, VirtualCanBus& bus) {
    if (!config.ecu) {
        return nullptr;
    }
    return std::make_unique<SimEcu>(bus, config.ecuFlowControl);
}
}  // namespace

SimWorld::SimWorld(const SimConfig& config)
    : config_(config),
      bus_(config.busRate, config.stuffing),
      device_(bus_, config.device),
      transport_(device_, config.usbLatency),
      deviceFile_(device_, config.usbLatency),
      ecu_(makeEcu(config, bus_)),
      control_(bus_, device_, transport_, ecu_.get()) {
    if (config.traffic) {
        traffic_ =
            std::make_unique<TrafficGenerator>(bus_, *config.traffic, config.trafficIdentifier);
    }
}

SimWorld::~SimWorld() = default;

SimWorld& SimWorld::process() {
    std::lock_guard lock(processMutex);
    if (processWorld == nullptr) {
        processWorld = new SimWorld(SimConfig::fromEnvironment());
    }
    return *processWorld;
}

void SimWorld::shutdownProcess() {
    SimWorld* world = nullptr;
    {
        std::lock_guard lock(processMutex);
        world = std::exchange(processWorld, nullptr);
    }
    delete world;
}

}  // namespace vtx::sim
