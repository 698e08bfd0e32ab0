#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "base/LibraryVersion.h"
#include "device/Device.h"
#include "operations/FirmwareVersionText.h"
#include "operations/OperationTrace.h"
#include "operations/PassThru.h"
#include "platform/ModuleServices.h"
#include "trace/TracePlaces.h"

namespace vtx {

using namespace trace;

uint32_t PassThru::passThruSetProgrammingVoltage(uint32_t DeviceID, uint32_t PinNumber,
                                                 uint32_t Voltage) {
    return runOperation(
        OnLostDevice::Answer,
        [&] {
            VTX_TRACE(op::kGroup, op::kEvent, place::kSetVoltageStarted, u32("devID", DeviceID),
                      u32("PinNumber", PinNumber), hex("Voltage", Voltage),
                      u32("lastError", lastError()));
        },
        [&](std::unique_lock<std::mutex>& call) { setPinVoltage(call, PinNumber, Voltage); },
        [&] {
            VTX_TRACE(op::kGroup, op::kEvent, place::kSetVoltageEnded,
                      u32("lastError", lastError()));
        });
}

// Any DeviceID is accepted while the device is open: only the device itself is checked. The
// pin settles after the call lock is released: the wait touches nothing of the library's, and
// other threads' calls go on meanwhile.
void PassThru::setPinVoltage(std::unique_lock<std::mutex>& call, uint32_t PinNumber,
                             uint32_t Voltage) {
    if (!passStandardGuards()) {
        return;
    }
    if (PinNumber != J1962_PIN_15) {
        return setStatus(ERR_PIN_INVALID);
    }
    if (Voltage != SHORT_TO_GROUND && Voltage != VOLTAGE_OFF) {
        return setFailed(text::kVoltageNotAdmitted);
    }
    // Sent by the device's thread; the pin settles while this call waits, not the thread.
    std::chrono::milliseconds settle{0};
    onDevice(ReplyTimeout::Zero, [&] {
        if (checkDevicePresent()) {
            settle = device()->setPin15(Voltage == SHORT_TO_GROUND ? Pin15State::ShortToGround
                                                                   : Pin15State::VoltageOff);
        }
    });
    call.unlock();
    std::this_thread::sleep_for(settle);
}

uint32_t PassThru::passThruReadVersion(uint32_t DeviceID, char* pFirmwareVersion, char* pDllVersion,
                                       char* pApiVersion) {
    std::string firmware;
    return runOperation(
        OnLostDevice::Answer,
        [&] {
            VTX_TRACE(op::kGroup, op::kEvent, place::kReadVersionStarted, u32("devID", DeviceID),
                      u32("lastError", lastError()));
        },
        [&] { firmware = readVersions(DeviceID, pFirmwareVersion, pDllVersion, pApiVersion); },
        [&] {
            VTX_TRACE(op::kGroup, op::kEvent, place::kReadVersionEnded, u32("devID", DeviceID),
                      ansi("pFirmwareVersion", std::string_view(firmware.c_str())),
                      u32("lastError", lastError()));
        });
}

// The firmware version text given to the caller (empty when none was).
std::string PassThru::readVersions(uint32_t DeviceID, char* pFirmwareVersion, char* pDllVersion,
                                   char* pApiVersion) {
    if (!checkDeviceArgument(DeviceID) || !checkConnection() || !checkThread()) {
        return {};
    }
    if (pFirmwareVersion == nullptr || pDllVersion == nullptr || pApiVersion == nullptr) {
        setStatus(ERR_NULL_PARAMETER);
        return {};
    }
    if (!checkDevicePresent()) {
        return {};
    }
    std::string dllVersion;
    if (platform::readLibraryVersion(dllVersion)) {
        std::memcpy(pDllVersion, dllVersion.c_str(), dllVersion.size() + 1);
    }
    std::memcpy(pApiVersion, VTX_API_VERSION_STRING, sizeof VTX_API_VERSION_STRING);
    // The identification as the device reported it when it was opened; without one the version
    // and serial number read as 0. The records are read on the device's thread: its reconnect
    // rewrites them.
    std::string firmware;
    onDevice(ReplyTimeout::Zero, [&] {
        uint32_t versionWord = 0;
        uint32_t serial = 0;
        if (const auto identity = device()->identify(IdentitySource::Recorded)) {
            versionWord = identity->firmwareWord;
            serial = identity->serialNumber;
        }
        firmware = firmwareVersionText(device()->info().productCode, versionWord, serial);
    });
    std::memcpy(pFirmwareVersion, firmware.data(), firmware.size());
    pFirmwareVersion[firmware.size()] = '\0';
    return firmware;
}

}  // namespace vtx
