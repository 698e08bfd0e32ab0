#include "api/PassThru.h"
#include "operations/OperationTrace.h"

namespace vtx {

using namespace trace;

uint32_t PassThru::passThruConnect(uint32_t DeviceID, uint32_t ProtocolID, uint32_t Flags,
                                   uint32_t BaudRate, uint32_t* pChannelID) {
    VTX_TRACE(op::kGroup, op::kEvent, "****passThruConnect()**** -S-", u32("devID", DeviceID),
              u32("protID", ProtocolID), hex("flags", Flags), u32("baudrate", BaudRate),
              u32("lastError", lastError));
    if (!deviceLost()) {
        resetOutcome();
        // Connect checks the thread before the connection.
        (void)(checkDeviceArgument(DeviceID) && checkThread() && checkConnection());
    }
    VTX_TRACE(op::kGroup, op::kEvent, "****passThruConnect()**** -E-", u32("devID", deviceId),
              u32("chlID", op::valueAt(pChannelID)), u32("lastError", lastError));
    return lastError;
}

uint32_t PassThru::passThruDisconnect(uint32_t ChannelID) {
    VTX_TRACE(op::kGroup, op::kEvent, "****passThruDisconnect()**** -S-", u32("chID", ChannelID),
              u32("lastError", lastError));
    if (!deviceLost()) {
        resetOutcome();
        (void)passStandardGuards();
    }
    VTX_TRACE(op::kGroup, op::kEvent, "****passThruDisconnect()**** -E-", u32("devID", deviceId),
              u32("lastError", lastError));
    return lastError;
}

}  // namespace vtx
