#include "device/DeviceSelection.h"

#include <cstdlib>
#include <memory>
#include <mutex>

#include "device/kerneldriver/AbsentDeviceFileTransport.h"
#include "device/winusb/AbsentPipeTransport.h"
#include "platform/PlatformServices.h"
#include "sim/SimWorld.h"

namespace vtx {

namespace {
// Created on first use under the mutex, freed only by releaseProcessDevices(): never by a
// static destructor, whose order against the library's unload is not ours to choose.
std::mutex processDevicesMutex;
PipeTransport* platformTransport = nullptr;         // guarded by processDevicesMutex
DeviceFileTransport* platformDeviceFile = nullptr;  // guarded by processDevicesMutex
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
