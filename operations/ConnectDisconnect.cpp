#include <algorithm>

#include "base/BitRates.h"
#include "channel/Channel.h"
#include "device/Device.h"
#include "operations/OperationTrace.h"
#include "operations/PassThru.h"
#include "trace/TracePlaces.h"

namespace vtx {

using namespace trace;

namespace {
constexpr std::size_t kMaxChannels = 2;
}  // namespace

uint32_t PassThru::passThruConnect(uint32_t DeviceID, uint32_t ProtocolID, uint32_t Flags,
                                   uint32_t BaudRate, uint32_t* pChannelID) {
    return runOperation(
        OnLostDevice::Answer,
        [&] {
            VTX_TRACE(op::kGroup, op::kEvent, place::kConnectStarted, u32("devID", DeviceID),
                      u32("protID", ProtocolID), hex("flags", Flags), u32("baudrate", BaudRate),
                      u32("lastError", lastError()));
        },
        [&] { connectChannel(DeviceID, ProtocolID, Flags, BaudRate, pChannelID); },
        [&] {
            VTX_TRACE(op::kGroup, op::kEvent, place::kConnectEnded, u32("devID", deviceId),
                      u32("chlID", op::valueAt(pChannelID)), u32("lastError", lastError()));
        });
}

void PassThru::connectChannel(uint32_t DeviceID, uint32_t ProtocolID, uint32_t Flags,
                              uint32_t BaudRate, uint32_t* pChannelID) {
    // Connect checks the thread before the connection.
    if (!checkDeviceArgument(DeviceID) || !checkThread() || !checkConnection()) {
        return;
    }
    if (const ProtocolVerdict verdict = checkConnect(ProtocolID, Flags); !verdict.accepted()) {
        return setStatus(verdict.status);
    }
    if (!isAdmittedChannelBitRate(BaudRate)) {
        return setStatus(ERR_INVALID_BAUDRATE);
    }
    if (pChannelID == nullptr) {
        return setStatus(ERR_NULL_PARAMETER);
    }
    // One channel of each protocol, two at most, on the one controller.
    if (channels.size() >= kMaxChannels || channels.hasProtocol(ProtocolID)) {
        return setStatus(ERR_CHANNEL_IN_USE);
    }
    if (currentBaudrate != 0 && currentBaudrate * 1000 != BaudRate) {
        // The bit rate stays fixed from the first connect until the device is closed.
        return setFailed(text::kBitrateAlreadySet);
    }
    if (!checkDevicePresent()) {
        return;
    }
    // The thread walks the channels: the channel joins them on the thread, between two ticks.
    auto channel = std::make_unique<Channel>(
        commThread.get(), createChannelProtocol(ProtocolID, Flags), Flags, BaudRate / 1000);
    onDevice(ReplyTimeout::Zero, [&] {
        *pChannelID = channels.add(std::move(channel)).channelID();
        currentBaudrate = BaudRate / 1000;
        if (!device()->configure({.acceptanceId = kOpenFilter,
                                  .acceptanceMask = kOpenFilter,
                                  .bitRateKbps = currentBaudrate,
                                  .outputBus = 0,
                                  .extendedIds = onlyExtendedIds(),
                                  .bothIdWidths = bothIdWidths()})) {
            setFailed(text::kWriteSettingsFailed);
        }
    });
}

uint32_t PassThru::passThruDisconnect(uint32_t ChannelID) {
    return runOperation(
        OnLostDevice::Answer,
        [&] {
            VTX_TRACE(op::kGroup, op::kEvent, place::kDisconnectStarted, u32("chID", ChannelID),
                      u32("lastError", lastError()));
        },
        [&] { disconnectChannel(ChannelID); },
        [&] {
            VTX_TRACE(op::kGroup, op::kEvent, place::kDisconnectEnded, u32("devID", deviceId),
                      u32("lastError", lastError()));
        });
}

void PassThru::disconnectChannel(uint32_t ChannelID) {
    if (!passStandardGuards()) {
        return;
    }
    if (channels.find(ChannelID) == nullptr) {
        return setStatus(ERR_INVALID_CHANNEL_ID);
    }
    // On the thread, which walks the channels: the channel leaves them between two ticks.
    onDevice(ReplyTimeout::Short, [&] {
        if (!checkDevicePresent()) {
            return;
        }
        channels.endAndDrain(WaitInterruption::ChannelDisconnected, ChannelID);
        channels.remove(ChannelID);
        if (channels.empty()) {
            device()->stopController();
            device()->clearBuffers();
            return;
        }
        // The other channel keeps the controller, filtering for its own filters only.
        programAcceptance();
    });
}

// 29-bit identifiers only when every channel carries only those; flags of a disconnected channel
// do not carry over.
bool PassThru::onlyExtendedIds() const {
    return !channels.empty() &&
           std::all_of(channels.begin(), channels.end(), [](const std::unique_ptr<Channel>& c) {
               return (c->flags() & CAN_29BIT_ID) != 0;
           });
}

// Both widths when a channel asks for both, or when one channel carries 11-bit identifiers and
// another 29-bit ones.
bool PassThru::bothIdWidths() const {
    bool standard = false;
    bool extended = false;
    for (const std::unique_ptr<Channel>& channel : channels) {
        if ((channel->flags() & CAN_ID_BOTH) != 0) {
            return true;
        }
        ((channel->flags() & CAN_29BIT_ID) != 0 ? extended : standard) = true;
    }
    return standard && extended;
}

}  // namespace vtx
