#include "api/PassThru.h"
#include "operations/OperationTrace.h"

namespace vtx {

using namespace trace;

uint32_t PassThru::passThruStartPeriodicMsg(uint32_t ChannelID, PASSTHRU_MSG* /*pMsg*/,
                                            uint32_t* pMsgID, uint32_t TimeInterval) {
    VTX_TRACE(op::kGroup, op::kEvent, "****passThruStartPeriodicMsg()**** -S-",
              u32("chID", ChannelID), hex("MsgID", op::valueAt(pMsgID)),
              u32("TimeInterval", TimeInterval), u32("lastError", lastError));
    if (!deviceLost()) {
        resetOutcome();
        (void)passStandardGuards();
    }
    VTX_TRACE(op::kGroup, op::kEvent, "****passThruStartPeriodicMsg()**** -E-",
              u32("lastError", lastError));
    return lastError;
}

uint32_t PassThru::passThruStopPeriodicMsg(uint32_t ChannelID, uint32_t MsgID) {
    VTX_TRACE(op::kGroup, op::kEvent, "****passThruStopPeriodicMsg()**** -S-",
              u32("chID", ChannelID), hex("MsgID", MsgID), u32("lastError", lastError));
    if (!deviceLost()) {
        resetOutcome();
        (void)passStandardGuards();
    }
    VTX_TRACE(op::kGroup, op::kEvent, "****passThruStopPeriodicMsg()**** -E-",
              u32("lastError", lastError));
    return lastError;
}

}  // namespace vtx
