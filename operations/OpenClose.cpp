#include "api/PassThru.h"
#include "channel/Channel.h"
#include "comm/CommInterfaceThread.h"
#include "operations/OperationTrace.h"

namespace vtx {

using namespace trace;

uint32_t PassThru::passThruOpen(void* /*pName*/, uint32_t* /*pDeviceID*/) {
    VTX_TRACE(op::kGroup, op::kEvent, "****passThruOpen()**** -S-", u32("lastError", lastError));
    // Open has no device-lost rule: it always starts afresh.
    resetOutcome();
    if (!commThread) {
        createCommThread();
    }
    VTX_TRACE(op::kGroup, op::kEvent, "****passThruOpen()**** -E-", u32("deviceId", deviceId),
              u32("lastError", lastError));
    return lastError;
}

// Creating the thread creates the device interface of the installed driver family. With no
// family installed it fails with the driver text; the device interfaces themselves are not part
// of the library yet, so every interface type ends there for now.
bool PassThru::createCommThread() {
    setFailed(text::kDriverNotInstalled);
    return false;
}

uint32_t PassThru::passThruClose(uint32_t DeviceID) {
    VTX_TRACE(op::kGroup, op::kEvent, "****passThruClose()**** -S-", u32("devID", DeviceID),
              u32("lastError", lastError));
    const uint32_t previous = lastError;
    resetOutcome();
    // After a lost device close checks nothing and reports success; otherwise a failed check
    // only skips switching the device off. The reset happens in every case.
    if (previous != ERR_DEVICE_NOT_CONNECTED) {
        (void)(checkDeviceArgument(DeviceID) && checkConnection() && checkThread());
    }
    closeReset();
    VTX_TRACE(op::kGroup, op::kEvent, "****passThruClose()**** -E-", u32("devID", deviceId),
              u32("lastError", lastError));
    return lastError;
}

// Leaves nothing open; the outcome stays as it is.
void PassThru::closeReset() {
    deviceId = 0;
    currentBaudrate = 0;
    connectFlags = 0;
    connectionOpen = false;
    listChannels.clear();
    commThread.reset();
}

}  // namespace vtx
