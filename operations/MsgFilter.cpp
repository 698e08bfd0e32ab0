#include "api/PassThru.h"
#include "operations/OperationTrace.h"

namespace vtx {

using namespace trace;

namespace {
void traceFilterStart(uint32_t ChannelID, uint32_t FilterType, PASSTHRU_MSG* pMaskMsg,
                      PASSTHRU_MSG* pPatternMsg, PASSTHRU_MSG* pFlowControlMsg,
                      uint32_t lastError) {
    if (FilterType == FLOW_CONTROL_FILTER && pFlowControlMsg != nullptr) {
        VTX_TRACE(op::kGroup, op::kEvent, "****passThruStartMsgFilter()**** -S-",
                  u32("chID", ChannelID), u32("filterType", FilterType),
                  hex("pMaskMsg", op::canIdOf(pMaskMsg)),
                  hex("pPatternMsg", op::canIdOf(pPatternMsg)),
                  hex("pFlowControlMsg", op::canIdOf(pFlowControlMsg)),
                  hex("pMaskTxMsgFlags", op::txFlagsOf(pMaskMsg)),
                  hex("pPatternTxMsgFlags", op::txFlagsOf(pPatternMsg)),
                  hex("pFlowControlMsgTxFlags", op::txFlagsOf(pFlowControlMsg)),
                  u32("lastError", lastError));
    } else {
        VTX_TRACE(
            op::kGroup, op::kEvent, "****passThruStartMsgFilter()**** -S-", u32("chID", ChannelID),
            u32("filterType", FilterType), hex("pMaskMsg", op::canIdOf(pMaskMsg)),
            hex("pPatternMsg", op::canIdOf(pPatternMsg)),
            hex("pMaskMsgTxFlags", op::txFlagsOf(pMaskMsg)),
            hex("pPatternMsgTxFlags", op::txFlagsOf(pPatternMsg)), u32("lastError", lastError));
    }
}
}  // namespace

uint32_t PassThru::passThruStartMsgFilter(uint32_t ChannelID, uint32_t FilterType,
                                          PASSTHRU_MSG* pMaskMsg, PASSTHRU_MSG* pPatternMsg,
                                          PASSTHRU_MSG* pFlowControlMsg, uint32_t* pFilterID) {
    traceFilterStart(ChannelID, FilterType, pMaskMsg, pPatternMsg, pFlowControlMsg, lastError);
    if (!deviceLost()) {
        resetOutcome();
        (void)passStandardGuards();
    }
    const uint32_t numFilter = 0;  // filters of the channel; there is none without a channel
    VTX_TRACE(op::kGroup, op::kEvent, "****passThruStartMsgFilter()**** -E-",
              hex("pFilterID", op::valueAt(pFilterID)), u32("numFilter", numFilter),
              u32("lastError", lastError));
    return lastError;
}

uint32_t PassThru::passThruStopMsgFilter(uint32_t ChannelID, uint32_t FilterID) {
    VTX_TRACE(op::kGroup, op::kEvent, "****passThruStopMsgFilter()**** -S-", u32("chID", ChannelID),
              u32("filterID", FilterID), u32("lastError", lastError));
    uint32_t code = 0;
    uint32_t deviceMask = 0;
    if (!deviceLost()) {
        resetOutcome();
        (void)passStandardGuards();
    }
    VTX_TRACE(op::kGroup, op::kEvent, "****passThruStopMsgFilter()**** -E-", hex("code", code),
              hex("mask", deviceMask), u32("lastError", lastError));
    return lastError;
}

}  // namespace vtx
