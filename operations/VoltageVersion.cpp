#include <cstring>
#include <string>

#include "base/LibraryVersion.h"
#include "device/Device.h"
#include "operations/DevicePause.h"
#include "operations/FirmwareVersionText.h"
#include "operations/OperationTrace.h"
#include "operations/PassThru.h"
#include "platform/PlatformServices.h"

namespace vtx {

using namespace trace;

uint32_t PassThru::passThruSetProgrammingVoltage(uint32_t DeviceID, uint32_t PinNumber,
                                                 uint32_t Voltage) {
    VTX_TRACE(op::kGroup, op::kEvent, "****passThruSetProgrammingVoltage()**** -S-",
              u32("devID", DeviceID), u32("PinNumber", PinNumber), hex("Voltage", Voltage),
              u32("lastError", lastError));
    if (!deviceLost()) {
        resetOutcome();
        // Any DeviceID is accepted while the device is open: only the device itself is checked.
        if (!passStandardGuards()) {
        } else if (PinNumber != J1962_PIN_15) {
            setStatus(ERR_PIN_INVALID);
        } else if (Voltage != SHORT_TO_GROUND && Voltage != VOLTAGE_OFF) {
            setFailed(text::kVoltageNotAdmitted);
        } else if (checkDevicePresent()) {
            // Sent beside the running thread: the interface serialises its own transfers, so the
            // packet never falls between a transfer header and the read that answers it.
            device()->setPin15(Voltage == SHORT_TO_GROUND ? Pin15State::ShortToGround
                                                          : Pin15State::VoltageOff);
        }
    }
    VTX_TRACE(op::kGroup, op::kEvent, "****passThruSetProgrammingVoltage()**** -E-",
              u32("lastError", lastError));
    return lastError;
}

uint32_t PassThru::passThruReadVersion(uint32_t DeviceID, char* pFirmwareVersion, char* pDllVersion,
                                       char* pApiVersion) {
    VTX_TRACE(op::kGroup, op::kEvent, "****passThruReadVersion()**** -S-", u32("devID", DeviceID),
              u32("lastError", lastError));
    std::string firmware;
    if (!deviceLost()) {
        resetOutcome();
        if (!checkDeviceArgument(DeviceID) || !checkConnection() || !checkThread()) {
        } else if (pFirmwareVersion == nullptr || pDllVersion == nullptr ||
                   pApiVersion == nullptr) {
            setStatus(ERR_NULL_PARAMETER);
        } else if (checkDevicePresent()) {
            std::string dllVersion;
            if (platform::readLibraryVersion(dllVersion)) {
                std::memcpy(pDllVersion, dllVersion.c_str(), dllVersion.size() + 1);
            }
            std::memcpy(pApiVersion, VTX_API_VERSION_STRING, sizeof VTX_API_VERSION_STRING);
            // The identification as the device reported it when it was opened; without one the
            // version and serial number read as 0. The thread is parked while the records are
            // read: a reconnect of the thread rewrites them.
            const DevicePause pause(*commThread, false);
            uint32_t versionWord = 0;
            uint32_t serial = 0;
            if (const auto identity = device()->identify(IdentitySource::Recorded)) {
                versionWord = identity->firmwareWord;
                serial = identity->serialNumber;
            }
            firmware = firmwareVersionText(device()->info().productCode, versionWord, serial);
            std::memcpy(pFirmwareVersion, firmware.data(), firmware.size());
            pFirmwareVersion[firmware.size()] = '\0';
        }
    }
    VTX_TRACE(op::kGroup, op::kEvent, "****passThruReadVersion()**** -E-", u32("devID", DeviceID),
              ansi("pFirmwareVersion", std::string_view(firmware.c_str())),
              u32("lastError", lastError));
    return lastError;
}

}  // namespace vtx
