#include "channel/Channel.h"
#include "device/Device.h"
#include "operations/DevicePause.h"
#include "operations/OperationTrace.h"
#include "operations/PassThru.h"

namespace vtx {

using namespace trace;

namespace {
bool isAdmittedBaudRate(uint32_t baudRate) {
    return baudRate == 125000 || baudRate == 250000 || baudRate == 500000 || baudRate == 1000000;
}
}  // namespace

uint32_t PassThru::passThruConnect(uint32_t DeviceID, uint32_t ProtocolID, uint32_t Flags,
                                   uint32_t BaudRate, uint32_t* pChannelID) {
    VTX_TRACE(op::kGroup, op::kEvent, "****passThruConnect()**** -S-", u32("devID", DeviceID),
              u32("protID", ProtocolID), hex("flags", Flags), u32("baudrate", BaudRate),
              u32("lastError", lastError));
    if (!deviceLost()) {
        resetOutcome();
        // Connect checks the thread before the connection.
        if (!checkDeviceArgument(DeviceID) || !checkThread() || !checkConnection()) {
        } else if (ProtocolID != CAN) {
            setStatus(ERR_NOT_SUPPORTED);
        } else if ((Flags & ~(CAN_29BIT_ID | CAN_ID_BOTH)) != 0) {
            setStatus(ERR_INVALID_FLAGS);
        } else if (!isAdmittedBaudRate(BaudRate)) {
            setStatus(ERR_INVALID_BAUDRATE);
        } else if (pChannelID == nullptr) {
            setStatus(ERR_NULL_PARAMETER);
        } else if (!channels.empty()) {
            setStatus(ERR_CHANNEL_IN_USE);
        } else if (currentBaudrate != 0 && currentBaudrate * 1000 != BaudRate) {
            // The bit rate stays fixed from the first connect until the device is closed.
            setFailed(text::kBitrateAlreadySet);
        } else if (checkDevicePresent()) {
            // The thread walks the channel list: the channel joins it while the loop is parked.
            const DevicePause pause(*commThread, false);
            *pChannelID =
                channels
                    .add(std::make_unique<Channel>(commThread.get(), CAN, Flags, BaudRate / 1000))
                    .channelID();
            // The identifier mode is the one of the channel being connected: flags of an
            // earlier, disconnected channel do not carry over.
            connectFlags = Flags;
            currentBaudrate = BaudRate / 1000;
            if (!device()->configure({.acceptanceId = kOpenFilter,
                                      .acceptanceMask = kOpenFilter,
                                      .bitRateKbps = currentBaudrate,
                                      .outputBus = 0,
                                      .extendedIds = connectFlag(CAN_29BIT_ID),
                                      .bothIdWidths = connectFlag(CAN_ID_BOTH)})) {
                setFailed(text::kWriteSettingsFailed);
            }
        }
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
        if (!passStandardGuards()) {
        } else if (channels.find(ChannelID) == nullptr) {
            setStatus(ERR_INVALID_CHANNEL_ID);
        } else {
            const DevicePause pause(*commThread, true);
            if (checkDevicePresent()) {
                channels.remove(ChannelID);
                device()->stopController();
                device()->clearBuffers();
            }
        }
    }
    VTX_TRACE(op::kGroup, op::kEvent, "****passThruDisconnect()**** -E-", u32("devID", deviceId),
              u32("lastError", lastError));
    return lastError;
}

}  // namespace vtx
