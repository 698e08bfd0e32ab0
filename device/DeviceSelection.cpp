#include "device/DeviceSelection.h"

#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>

#include "device/SimulatedDeviceHost.h"
#include "platform/AbsentDeviceFileTransport.h"
#include "platform/AbsentPipeTransport.h"
#include "platform/DeviceServices.h"
#include "platform/ModuleServices.h"

namespace vtx {

namespace {
// Created on first use under the mutex, freed only by releaseProcessDevices(): never by a
// static destructor, whose order against the library's unload is not ours to choose.
std::mutex processDevicesMutex;
// The platform's transports, or ones that never find a device where the platform has none or
// where the simulated device is chosen and none is built in or lent.
PipeTransport* platformTransport = nullptr;         // guarded by processDevicesMutex
DeviceFileTransport* platformDeviceFile = nullptr;  // guarded by processDevicesMutex
// Written once at load, before any other thread of the library exists; read freely afterwards.
std::optional<SimulatedDeviceProvider> builtInSimulatedDevice;

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
// The transport in slot, created on first use by create; one that never finds a device when
// there is no create or it has none.
template <typename Transport, typename AbsentTransport>
Transport& processTransport(Transport*& slot, std::unique_ptr<Transport> (*create)()) {
    const std::lock_guard lock(processDevicesMutex);
    if (slot == nullptr) {
        std::unique_ptr<Transport> transport = create != nullptr ? create() : nullptr;
        slot = transport ? transport.release() : new AbsentTransport();
    }
    return *slot;
}
}  // namespace

void registerSimulatedDevice(const SimulatedDeviceProvider& provider) {
    builtInSimulatedDevice = provider;
}

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
    const bool simulated = processDeviceChoice() == DeviceChoice::Sim;
    if (simulated) {
        if (const std::optional<SimulatedDeviceHost> host = hostSimulatedDevice()) {
            return *host->pipe;
        }
        if (builtInSimulatedDevice) {
            return builtInSimulatedDevice->pipe();
        }
    }
    return processTransport<PipeTransport, AbsentPipeTransport>(
        platformTransport, simulated ? nullptr : &platform::createPipeTransport);
}

DeviceFileTransport& processDeviceFileTransport() {
    const bool simulated = processDeviceChoice() == DeviceChoice::SimKernel;
    if (simulated) {
        if (const std::optional<SimulatedDeviceHost> host = hostSimulatedDevice()) {
            return *host->deviceFile;
        }
        if (builtInSimulatedDevice) {
            return builtInSimulatedDevice->deviceFile();
        }
    }
    return processTransport<DeviceFileTransport, AbsentDeviceFileTransport>(
        platformDeviceFile, simulated ? nullptr : &platform::createDeviceFileTransport);
}

void releaseProcessDevices() {
    {
        const std::lock_guard lock(processDevicesMutex);
        delete platformTransport;
        platformTransport = nullptr;
        delete platformDeviceFile;
        platformDeviceFile = nullptr;
    }
    if (builtInSimulatedDevice) {
        builtInSimulatedDevice->shutdown();
    }
}

}  // namespace vtx
