#include "base/ErrorTexts.h"
#include "channel/Channel.h"
#include "operations/OperationTrace.h"
#include "operations/PassThru.h"
#include "trace/TracePlaces.h"
#include "trace/TraceTimer.h"

namespace vtx {

using namespace trace;

namespace {

// What a timed write of transfers tells the caller about the message that kept it short.
const char* shortfallText(const std::optional<TransmitResult>& givenUp) {
    if (!givenUp) {
        return text::kTransferTimedOut;
    }
    switch (*givenUp) {
        case TransmitResult::FlowControlTimeout:
            return text::kNoFlowControlInTime;
        case TransmitResult::WaitLimitExceeded:
            return text::kWaitFrameLimit;
        case TransmitResult::ReceiverOverflow:
            return text::kReceiverOverflow;
        case TransmitResult::InvalidFlowControl:
            return text::kInvalidFlowControl;
        case TransmitResult::Cleared:
        case TransmitResult::Sent:
            break;
    }
    return text::kTransferCleared;
}

// What a read or write that another call cut short tells the caller; null when none did.
const char* interruptionText(WaitInterruption interrupted) {
    switch (interrupted) {
        case WaitInterruption::ChannelDisconnected:
            return text::kChannelDisconnectedWhileWaiting;
        case WaitInterruption::DeviceClosed:
            return text::kDeviceClosedWhileWaiting;
        case WaitInterruption::ReceiveBufferCleared:
            return text::kReceiveBufferClearedWhileWaiting;
        case WaitInterruption::None:
            break;
    }
    return nullptr;
}

// The status of a call whose channel ended while it waited: the channel's or the device's ID
// is no longer valid.
uint32_t endedChannelStatus(WaitInterruption interrupted) {
    return interrupted == WaitInterruption::DeviceClosed ? ERR_INVALID_DEVICE_ID
                                                         : ERR_INVALID_CHANNEL_ID;
}

}  // namespace

// The checks read and write share; the channel when the transfer goes ahead. A count of 0 ends
// the call with success and nothing done.
Channel* PassThru::channelForTransfer(uint32_t ChannelID, PASSTHRU_MSG* pMsg, uint32_t* pNumMsgs) {
    Channel* channel = guardedChannel(ChannelID);
    if (channel == nullptr) {
        return nullptr;
    }
    if (pMsg == nullptr || pNumMsgs == nullptr) {
        setStatus(ERR_NULL_PARAMETER);
        return nullptr;
    }
    if (*pNumMsgs == 0 || !checkDevicePresent()) {
        return nullptr;
    }
    return channel;
}

uint32_t PassThru::passThruReadMsgs(uint32_t ChannelID, PASSTHRU_MSG* pMsg, uint32_t* pNumMsgs,
                                    uint32_t Timeout) {
    const trace::TraceTimer timer(op::kGroup);
    const uint32_t wanted = op::valueAt(pNumMsgs);
    return runOperation(
        OnLostDevice::Answer,
        [&] {
            VTX_TRACE(op::kGroup, op::kEvent, place::kReadMessagesStarted, u32("chID", ChannelID),
                      u32("pNumMsgs", wanted), u32("Timeout", Timeout),
                      u32("lastError", lastError()));
        },
        [&](std::unique_lock<std::mutex>& call) {
            readMessages(call, ChannelID, pMsg, pNumMsgs, Timeout);
        },
        [&] {
            VTX_TRACE(op::kGroup, op::kEvent, place::kReadMessagesEnded, u32("chID", ChannelID),
                      u32("pNumMsgs", wanted), u32("numMsgs", op::valueAt(pNumMsgs)),
                      u32("t", timer.elapsed()), u32("lastError", lastError()));
        });
}

// The wait happens outside the call lock: the channel counts the call in, so that a disconnect
// or close wakes it and waits for it to leave before the channel goes.
void PassThru::readMessages(std::unique_lock<std::mutex>& call, uint32_t ChannelID,
                            PASSTHRU_MSG* pMsg, uint32_t* pNumMsgs, uint32_t Timeout) {
    Channel* channel = channelForTransfer(ChannelID, pMsg, pNumMsgs);
    if (channel == nullptr) {
        return;
    }
    const WaitingCalls::Entry inside(channel->waitingCalls(), call);
    const uint32_t wanted = *pNumMsgs;
    const WaitInterruption interrupted = channel->readMessages(pMsg, pNumMsgs, Timeout);
    uint32_t status = STATUS_NOERROR;
    if (endsTheChannel(interrupted)) {
        status = endedChannelStatus(interrupted);
    } else if (*pNumMsgs == 0) {
        status = ERR_BUFFER_EMPTY;
    } else if (*pNumMsgs < wanted && Timeout != 0) {
        status = ERR_TIMEOUT;
    }
    if (status == STATUS_NOERROR) {
        return;
    }
    if (const char* text = interruptionText(interrupted)) {
        return setExplained(status, text);
    }
    setStatus(status);
}

uint32_t PassThru::passThruWriteMsgs(uint32_t ChannelID, PASSTHRU_MSG* pMsg, uint32_t* pNumMsgs,
                                     uint32_t Timeout) {
    const trace::TraceTimer timer(op::kGroup);
    const uint32_t offered = op::valueAt(pNumMsgs);
    return runOperation(
        OnLostDevice::Answer,
        [&] {
            VTX_TRACE(op::kGroup, op::kEvent, place::kWriteMessagesStarted, u32("chID", ChannelID),
                      u32("pNumMsgs", offered), u32("Timeout", Timeout),
                      u32("lastError", lastError()));
        },
        [&](std::unique_lock<std::mutex>& call) {
            writeMessages(call, ChannelID, pMsg, pNumMsgs, Timeout);
        },
        [&] {
            VTX_TRACE(op::kGroup, op::kEvent, place::kWriteMessagesEnded, u32("chID", ChannelID),
                      u32("pNumMsgs", offered), u32("numMsgs", op::valueAt(pNumMsgs)),
                      u32("t", timer.elapsed()), u32("lastError", lastError()));
        });
}

// A timed write waits outside the call lock, counted in by its channel as a read is.
void PassThru::writeMessages(std::unique_lock<std::mutex>& call, uint32_t ChannelID,
                             PASSTHRU_MSG* pMsg, uint32_t* pNumMsgs, uint32_t Timeout) {
    Channel* channel = channelForTransfer(ChannelID, pMsg, pNumMsgs);
    if (channel == nullptr) {
        return;
    }
    const uint32_t offered = *pNumMsgs;
    // The first message the channel's protocol cannot send ends the call; nothing is sent.
    for (uint32_t i = 0; i < offered; ++i) {
        if (const ProtocolVerdict verdict = channel->checkTransmit(pMsg[i]); !verdict.accepted()) {
            return refuse(verdict);
        }
    }
    const WaitingCalls::Entry inside(channel->waitingCalls(), call);
    const TransferShortfall shortfall = channel->writeMessages(pMsg, pNumMsgs, Timeout);
    if (*pNumMsgs == offered) {
        return;
    }
    if (const char* text = interruptionText(shortfall.interrupted)) {
        return setExplained(endedChannelStatus(shortfall.interrupted), text);
    }
    if (shortfall.queueFull) {
        return setStatus(ERR_BUFFER_FULL);
    }
    // A timed write of transfers sent short: the receiver's flow control (or the lack of it) or
    // the timeout kept the messages back, never a full buffer. A frame-per-message channel's
    // timed write that the device took nothing of found the buffer full.
    if (Timeout != 0 && channel->sendsTransfers()) {
        return setExplained(ERR_TIMEOUT, shortfallText(shortfall.givenUp));
    }
    if (*pNumMsgs == 0) {
        setStatus(ERR_BUFFER_FULL);
    } else {
        setStatus(Timeout != 0 ? ERR_TIMEOUT : ERR_BUFFER_FULL);
    }
}

}  // namespace vtx
