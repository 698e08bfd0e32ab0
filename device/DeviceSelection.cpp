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
PipeTransport* platformTransport = nullptr;         // guarded by processDevicesMutex
DeviceFileTransport* platformDeviceFile = nullptr;  // guarded by processDevicesMutex
// Written once at load, before any other thread of the library exists; read freely afterwards.
std::optional<SimulatedDeviceProvider> builtInSimulatedDevice;
// Stand for the simulated device where none is built in: never a device there.
AbsentPipeTransport* absentSimPipe = nullptr;              // guarded by processDevicesMutex
AbsentDeviceFileTransport* absentSimDeviceFile = nullptr;  // guarded by processDevicesMutex

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
    if (processDeviceChoice() == DeviceChoice::Sim) {
        if (const std::optional<SimulatedDeviceHost> host = hostSimulatedDevice()) {
            return *host->pipe;
        }
        if (builtInSimulatedDevice) {
            return builtInSimulatedDevice->pipe();
        }
        const std::lock_guard lock(processDevicesMutex);
        if (absentSimPipe == nullptr) {
            absentSimPipe = new AbsentPipeTransport();
        }
        return *absentSimPipe;
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
        if (builtInSimulatedDevice) {
            return builtInSimulatedDevice->deviceFile();
        }
        const std::lock_guard lock(processDevicesMutex);
        if (absentSimDeviceFile == nullptr) {
            absentSimDeviceFile = new AbsentDeviceFileTransport();
        }
        return *absentSimDeviceFile;
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
        delete absentSimPipe;
        absentSimPipe = nullptr;
        delete absentSimDeviceFile;
        absentSimDeviceFile = nullptr;
    }
    if (builtInSimulatedDevice) {
        builtInSimulatedDevice->shutdown();
    }
}

}  // namespace vtx
