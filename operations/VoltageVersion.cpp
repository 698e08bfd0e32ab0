#include "api/PassThru.h"
#include "operations/OperationTrace.h"

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
        (void)passStandardGuards();
    }
    VTX_TRACE(op::kGroup, op::kEvent, "****passThruSetProgrammingVoltage()**** -E-",
              u32("lastError", lastError));
    return lastError;
}

uint32_t PassThru::passThruReadVersion(uint32_t DeviceID, char* /*pFirmwareVersion*/,
                                       char* /*pDllVersion*/, char* /*pApiVersion*/) {
    VTX_TRACE(op::kGroup, op::kEvent, "****passThruReadVersion()**** -S-", u32("devID", DeviceID),
              u32("lastError", lastError));
    const char* firmwareVersion = "";
    if (!deviceLost()) {
        resetOutcome();
        (void)(checkDeviceArgument(DeviceID) && checkConnection() && checkThread());
    }
    VTX_TRACE(op::kGroup, op::kEvent, "****passThruReadVersion()**** -E-", u32("devID", DeviceID),
              ansi("pFirmwareVersion", firmwareVersion), u32("lastError", lastError));
    return lastError;
}

}  // namespace vtx
