#include "device/DeviceSelection.h"

#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>

#include "device/SimulatedDeviceHost.h"
#include "platform/AbsentDeviceFileTransport.h"
#include "platform/AbsentPipeTransport.h"
#include "platform/PlatformServices.h"
#include "sim/SimWorld.h"

namespace vtx {

namespace {
// Created on first use under the mutex, freed only by releaseProcessDevices(): never by a
// static destructor, whose order against the library's unload is not ours to choose.
std::mutex processDevicesMutex;
PipeTransport* platformTransport = nullptr;         // guarded by processDevicesMutex
DeviceFileTransport* platformDeviceFile = nullptr;  // guarded by processDevicesMutex

// The simulated device lent by the program that loaded the library, if it offers one.
std::optional<SimulatedDeviceHost> hostSimulatedDevice() {
    auto lend = reinterpret_cast<SimulatedDeviceHostFunction>(
        platform::hostProgramFunction(kSimulatedDeviceHostSymbol));
    if (lend == nullptr) {
        return std::nullopt;
    }
    SimulatedDeviceHost host{nullptr, nullptr};
    lend(&host);
    if (host.pipe == nullptr || host.deviceFile == nullptr) {
        return std::nullopt;
    }
    return host;
}
}  // namespace

DeviceChoice parseDeviceChoice(std::string_view text) {
    if (text == "sim") {
        return DeviceChoice::Sim;
    }
    if (text == "sim-kernel") {
        return DeviceChoice::SimKernel;
    }
    return DeviceChoice::Real;
}

DeviceChoice processDeviceChoice() {
    static const DeviceChoice choice = [] {
        const char* value = std::getenv("VTXPTS_DEVICE");
        return parseDeviceChoice(value != nullptr ? value : "");
    }();
    return choice;
}

PipeTransport& processPipeTransport() {
    if (processDeviceChoice() == DeviceChoice::Sim) {
        if (const std::optional<SimulatedDeviceHost> host = hostSimulatedDevice()) {
            return *host->pipe;
        }
        return sim::SimWorld::process().transport();
    }
    const std::lock_guard lock(processDevicesMutex);
    if (platformTransport == nullptr) {
        std::unique_ptr<PipeTransport> transport = platform::createPipeTransport();
        platformTransport = transport ? transport.release() : new AbsentPipeTransport();
    }
    return *platformTransport;
}

DeviceFileTransport& processDeviceFileTransport() {
    if (processDeviceChoice() == DeviceChoice::SimKernel) {
        if (const std::optional<SimulatedDeviceHost> host = hostSimulatedDevice()) {
            return *host->deviceFile;
        }
        return sim::SimWorld::process().deviceFile();
    }
    const std::lock_guard lock(processDevicesMutex);
    if (platformDeviceFile == nullptr) {
        std::unique_ptr<DeviceFileTransport> transport = platform::createDeviceFileTransport();
        platformDeviceFile = transport ? transport.release() : new AbsentDeviceFileTransport();
    }
    return *platformDeviceFile;
}

void releaseProcessDevices() {
    {
        const std::lock_guard lock(processDevicesMutex);
        delete platformTransport;
        platformTransport = nullptr;
        delete platformDeviceFile;
        platformDeviceFile = nullptr;
    }
    sim::SimWorld::shutdownProcess();
}

}  // namespace vtx
