#include "api/ElapsedTimer.h"
#include "api/PassThru.h"
#include "operations/OperationTrace.h"

namespace vtx {

using namespace trace;

uint32_t PassThru::passThruReadMsgs(uint32_t ChannelID, PASSTHRU_MSG* /*pMsg*/, uint32_t* pNumMsgs,
                                    uint32_t Timeout) {
    const ElapsedTimer timer;
    const uint32_t wanted = op::valueAt(pNumMsgs);
    VTX_TRACE(op::kGroup, op::kEvent, "****passThruReadMsgs()**** -S-", u32("chID", ChannelID),
              u32("pNumMsgs", wanted), u32("Timeout", Timeout), u32("lastError", lastError));
    if (!deviceLost()) {
        resetOutcome();
        (void)passStandardGuards();
    }
    VTX_TRACE(op::kGroup, op::kEvent, "****passThruReadMsgs()**** -E-", u32("chID", ChannelID),
              u32("pNumMsgs", wanted), u32("numMsgs", op::valueAt(pNumMsgs)),
              u32("t", timer.elapsed()), u32("lastError", lastError));
    return lastError;
}

uint32_t PassThru::passThruWriteMsgs(uint32_t ChannelID, PASSTHRU_MSG* /*pMsg*/, uint32_t* pNumMsgs,
                                     uint32_t Timeout) {
    const ElapsedTimer timer;
    const uint32_t offered = op::valueAt(pNumMsgs);
    VTX_TRACE(op::kGroup, op::kEvent, "****passThruWriteMsgs()**** -S-", u32("chID", ChannelID),
              u32("pNumMsgs", offered), u32("Timeout", Timeout), u32("lastError", lastError));
    if (!deviceLost()) {
        resetOutcome();
        (void)passStandardGuards();
    }
    VTX_TRACE(op::kGroup, op::kEvent, "****passThruWriteMsgs()**** -E-", u32("chID", ChannelID),
              u32("pNumMsgs", offered), u32("numMsgs", op::valueAt(pNumMsgs)),
              u32("t", timer.elapsed()), u32("lastError", lastError));
    return lastError;
}

}  // namespace vtx
