#include "channel/Channel.h"
#include "operations/OperationTrace.h"
#include "operations/PassThru.h"
#include "trace/TracePlaces.h"

namespace vtx {

using namespace trace;

namespace {
constexpr uint32_t kMinInterval = 5;
constexpr uint32_t kMaxInterval = 65535;
}  // namespace

uint32_t PassThru::passThruStartPeriodicMsg(uint32_t ChannelID, PASSTHRU_MSG* pMsg,
                                            uint32_t* pMsgID, uint32_t TimeInterval) {
    return runOperation(
        OnLostDevice::Answer,
        [&] {
            VTX_TRACE(op::kGroup, op::kEvent, place::kStartPeriodicStarted, u32("chID", ChannelID),
                      hex("MsgID", op::valueAt(pMsgID)), u32("TimeInterval", TimeInterval),
                      u32("lastError", lastError()));
        },
        [&] { startPeriodic(ChannelID, pMsg, pMsgID, TimeInterval); },
        [&] {
            VTX_TRACE(op::kGroup, op::kEvent, place::kStartPeriodicEnded,
                      u32("lastError", lastError()));
        });
}

void PassThru::startPeriodic(uint32_t ChannelID, PASSTHRU_MSG* pMsg, uint32_t* pMsgID,
                             uint32_t TimeInterval) {
    Channel* channel = guardedChannel(ChannelID);
    if (channel == nullptr) {
        return;
    }
    if (pMsg == nullptr || pMsgID == nullptr) {
        return setStatus(ERR_NULL_PARAMETER);
    }
    if (TimeInterval < kMinInterval || TimeInterval > kMaxInterval) {
        return setStatus(ERR_INVALID_TIME_INTERVAL);
    }
    if (const ProtocolVerdict verdict = channel->checkPeriodic(*pMsg); !verdict.accepted()) {
        return refuse(verdict);
    }
    if (!checkDevicePresent()) {
        return;
    }
    const uint32_t msgId = channel->addPeriodic(*pMsg, TimeInterval);
    if (msgId == 0) {
        return setStatus(ERR_EXCEEDED_LIMIT);
    }
    *pMsgID = msgId;
}

uint32_t PassThru::passThruStopPeriodicMsg(uint32_t ChannelID, uint32_t MsgID) {
    return runOperation(
        OnLostDevice::Answer,
        [&] {
            VTX_TRACE(op::kGroup, op::kEvent, place::kStopPeriodicStarted, u32("chID", ChannelID),
                      hex("MsgID", MsgID), u32("lastError", lastError()));
        },
        [&] { stopPeriodic(ChannelID, MsgID); },
        [&] {
            VTX_TRACE(op::kGroup, op::kEvent, place::kStopPeriodicEnded,
                      u32("lastError", lastError()));
        });
}

void PassThru::stopPeriodic(uint32_t ChannelID, uint32_t MsgID) {
    Channel* channel = guardedChannel(ChannelID);
    if (channel == nullptr) {
        return;
    }
    if (!channel->hasPeriodic(MsgID)) {
        return setStatus(ERR_INVALID_MSG_ID);
    }
    if (checkDevicePresent()) {
        channel->removePeriodic(MsgID);
    }
}

}  // namespace vtx
