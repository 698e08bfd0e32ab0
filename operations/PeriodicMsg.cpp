#include "channel/Channel.h"
#include "operations/OperationTrace.h"
#include "operations/PassThru.h"

namespace vtx {

using namespace trace;

namespace {
constexpr uint32_t kMinInterval = 5;
constexpr uint32_t kMaxInterval = 65535;
}  // namespace

uint32_t PassThru::passThruStartPeriodicMsg(uint32_t ChannelID, PASSTHRU_MSG* pMsg,
                                            uint32_t* pMsgID, uint32_t TimeInterval) {
    VTX_TRACE(op::kGroup, op::kEvent, "****passThruStartPeriodicMsg()**** -S-",
              u32("chID", ChannelID), hex("MsgID", op::valueAt(pMsgID)),
              u32("TimeInterval", TimeInterval), u32("lastError", lastError));
    if (!deviceLost()) {
        resetOutcome();
        Channel* channel = guardedChannel(ChannelID);
        if (channel == nullptr) {
        } else if (pMsg == nullptr || pMsgID == nullptr) {
            setStatus(ERR_NULL_PARAMETER);
        } else if (TimeInterval < kMinInterval || TimeInterval > kMaxInterval) {
            setStatus(ERR_INVALID_TIME_INTERVAL);
        } else if (pMsg->ProtocolID != channel->protocolID()) {
            setStatus(ERR_MSG_PROTOCOL_ID);
        } else if ((pMsg->TxFlags & ~CAN_29BIT_ID) != 0) {
            setStatus(ERR_NOT_SUPPORTED);
        } else if (pMsg->ProtocolID == CAN && (pMsg->DataSize < 4 || pMsg->DataSize > 12)) {
            setStatus(ERR_INVALID_MSG);
        } else if (checkDevicePresent()) {
            _periodic record;
            record.message = *pMsg;
            record.TimeInterval = TimeInterval;
            const uint32_t msgId = channel->addPeriodic(record);
            if (msgId == 0) {
                setStatus(ERR_EXCEEDED_LIMIT);
            } else {
                *pMsgID = msgId;
            }
        }
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
        Channel* channel = guardedChannel(ChannelID);
        if (channel == nullptr) {
        } else if (!channel->hasPeriodic(MsgID)) {
            setStatus(ERR_INVALID_MSG_ID);
        } else if (checkDevicePresent()) {
            channel->removePeriodic(MsgID);
        }
    }
    VTX_TRACE(op::kGroup, op::kEvent, "****passThruStopPeriodicMsg()**** -E-",
              u32("lastError", lastError));
    return lastError;
}

}  // namespace vtx
