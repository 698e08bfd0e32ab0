#include "base/BitRates.h"
#include "channel/Channel.h"
#include "device/Device.h"
#include "operations/OperationTrace.h"
#include "operations/PassThru.h"
#include "trace/TracePlaces.h"

namespace vtx {

using namespace trace;

namespace {
constexpr uint32_t kLastIoctlId = 0x0FFFFFFF;
constexpr uint32_t kUnassignedIoctl = 0x06;
constexpr uint32_t kReservedLow = 0x00008000;
constexpr uint32_t kReservedHigh = 0x0000FFFF;

bool isServed(uint32_t ioctlId) {
    switch (ioctlId) {
        case GET_CONFIG:
        case SET_CONFIG:
        case CLEAR_TX_BUFFER:
        case CLEAR_RX_BUFFER:
        case CLEAR_PERIODIC_MSGS:
        case CLEAR_MSG_FILTERS:
        case SET_TERM_RESISTOR:
        case GET_TERM_RESISTOR:
            return true;
        default:
            return false;
    }
}

// Whether the ioctl works on the device or its records, which the communication thread must
// leave to it (its connection check rewrites the records when the device goes or comes back).
// Clearing the receive queue works on the channel's own state, under its locks.
bool needsTheDevice(uint32_t ioctlId) {
    return ioctlId != CLEAR_RX_BUFFER;
}

// The jump width as a percentage of the bit time, and back to time quanta.
uint32_t quantaPerBit(const DeviceInfo& info) {
    return info.tseg1 + info.tseg2 + 1;
}
}  // namespace

uint32_t PassThru::passThruIoctl(uint32_t ChannelID, uint32_t IoctlID, void* pInput,
                                 void* pOutput) {
    return runOperation(
        OnLostDevice::Answer,
        [&] {
            VTX_TRACE(op::kGroup, op::kEvent, place::kIoctlStarted, u32("chID", ChannelID),
                      u32("ioctlID", IoctlID), u32("lastError", lastError()));
        },
        [&] { controlChannel(ChannelID, IoctlID, pInput, pOutput); },
        [&] {
            VTX_TRACE(op::kGroup, op::kEvent, place::kIoctlEnded, u32("chID", ChannelID),
                      u32("ioctlID", IoctlID), u32("lastError", lastError()));
        });
}

void PassThru::controlChannel(uint32_t ChannelID, uint32_t IoctlID, void* pInput, void* pOutput) {
    if (!passStandardGuards()) {
        return;
    }
    if (IoctlID == READ_VBATT) {
        return setStatus(ERR_NOT_SUPPORTED);
    }
    if (IoctlID == 0 || IoctlID == kUnassignedIoctl || IoctlID > kLastIoctlId) {
        return setStatus(ERR_INVALID_IOCTL_ID);
    }
    Channel* channel = channels.find(ChannelID);
    if (channel == nullptr) {
        return setStatus(IoctlID >= kReservedLow && IoctlID <= kReservedHigh
                             ? ERR_NOT_SUPPORTED
                             : ERR_INVALID_CHANNEL_ID);
    }
    if (!isServed(IoctlID)) {
        return setStatus(ERR_NOT_SUPPORTED);
    }
    if (((IoctlID == GET_CONFIG || IoctlID == SET_CONFIG) && pInput == nullptr) ||
        (IoctlID == GET_TERM_RESISTOR && pOutput == nullptr) ||
        (IoctlID == SET_TERM_RESISTOR && pInput == nullptr && pOutput == nullptr)) {
        return setStatus(ERR_NULL_PARAMETER);
    }
    // The transmit queue is emptied before the command is handed to the thread, which would
    // otherwise finish one more service tick first and write the very frames this call is to
    // discard. The queue has its own lock and needs no device.
    if (IoctlID == CLEAR_TX_BUFFER) {
        channel->clearQueueOut();
    }
    const auto run = [&] {
        if (checkDevicePresent()) {
            runIoctl(*channel, IoctlID, pInput, pOutput);
        }
    };
    if (needsTheDevice(IoctlID)) {
        onDevice(ReplyTimeout::Short, run);
    } else {
        run();
    }
}

void PassThru::runIoctl(Channel& channel, uint32_t IoctlID, void* pInput, void* pOutput) {
    switch (IoctlID) {
        case GET_CONFIG:
            getConfig(channel, *static_cast<SCONFIG_LIST*>(pInput));
            break;
        case SET_CONFIG:
            setConfig(channel, *static_cast<SCONFIG_LIST*>(pInput));
            break;
        case CLEAR_TX_BUFFER:
            break;  // emptied before the command was handed over (controlChannel)
        case CLEAR_RX_BUFFER:
            channel.clearQueueIn();
            break;
        case CLEAR_PERIODIC_MSGS:
            channel.clearPeriodics();
            break;
        case CLEAR_MSG_FILTERS:
            clearMsgFilters(channel);
            break;
        case SET_TERM_RESISTOR:
            setTermResistor(static_cast<uint32_t*>(pInput), static_cast<uint32_t*>(pOutput));
            break;
        case GET_TERM_RESISTOR:
            getTermResistor(*static_cast<uint32_t*>(pOutput));
            break;
        default:
            break;
    }
}

bool PassThru::checkConfigList(const SCONFIG_LIST& list) {
    if (list.ConfigPtr == nullptr) {
        setStatus(ERR_NULL_PARAMETER);
        return false;
    }
    if (list.NumOfParams == 0) {
        setFailed(text::kZeroIoctlElements);
        return false;
    }
    return true;
}

void PassThru::getConfig(Channel& channel, SCONFIG_LIST& list) {
    if (!checkConfigList(list)) {
        return;
    }
    Device& dev = *device();
    const DeviceInfo& info = dev.info();
    for (uint32_t i = 0; i < list.NumOfParams; ++i) {
        SCONFIG& entry = list.ConfigPtr[i];
        switch (entry.Parameter) {
            case LOOPBACK:
                entry.Value = channel.loopbackFlag() == 1 ? 1 : 0;
                break;
            case DATA_RATE: {
                entry.Value = dev.info().baudrate * 1000;
                break;
            }
            case BIT_SAMPLE_POINT:
                entry.Value = info.SamplePoint;
                VTX_TRACE(op::kGroup, op::kEvent, place::kIoctlConfigRead,
                          u32("chID", channel.channelID()), u32("BIT_SAMPLE_POINT", entry.Value),
                          u32("lastError", lastError()));
                break;
            case SYNC_JUMP_WIDTH:
                entry.Value = info.Sjw * 100 / quantaPerBit(info);
                VTX_TRACE(op::kGroup, op::kEvent, place::kIoctlConfigRead,
                          u32("chID", channel.channelID()), u32("SYNC_JUMP_WIDTH", entry.Value),
                          u32("lastError", lastError()));
                break;
            default: {
                // A parameter of the channel's protocol; any other is left as it is.
                uint32_t value = 0;
                if (channel.getProtocolConfig(entry.Parameter, value).accepted()) {
                    entry.Value = value;
                }
                break;
            }
        }
    }
}

// Each entry in order; a failure is recorded and the next entry goes on, except an invalid bit
// rate, which ends the list. The last failure recorded stays.
void PassThru::setConfig(Channel& channel, SCONFIG_LIST& list) {
    if (!checkConfigList(list)) {
        return;
    }
    uint32_t status = STATUS_NOERROR;
    for (uint32_t i = 0; i < list.NumOfParams; ++i) {
        const SCONFIG& entry = list.ConfigPtr[i];
        const uint32_t entryStatus = setConfigEntry(channel, entry);
        if (entryStatus != STATUS_NOERROR) {
            status = entryStatus;
            if (entry.Parameter == DATA_RATE && entryStatus == ERR_INVALID_BAUDRATE) {
                break;
            }
        }
    }
    // A text set by a failed entry goes with its status; a later failure without text wins.
    if (status != ERR_FAILED) {
        setStatus(status);
    } else {
        setFailed(text::kWriteSettingsFailed);
    }
}

uint32_t PassThru::setConfigEntry(Channel& channel, const SCONFIG& entry) {
    Device& dev = *device();
    switch (entry.Parameter) {
        case LOOPBACK:
            VTX_TRACE(op::kGroup, op::kEvent, place::kIoctlConfigSet,
                      u32("chID", channel.channelID()), u32("LOOPBACK", entry.Value),
                      u32("lastError", lastError()));
            channel.setLoopback(entry.Value != 0 ? 1 : 0);
            return STATUS_NOERROR;
        case DATA_RATE: {
            VTX_TRACE(op::kGroup, op::kEvent, place::kIoctlConfigSet,
                      u32("chID", channel.channelID()), u32("DATA_RATE", entry.Value),
                      u32("lastError", lastError()));
            if (!isAdmittedChannelBitRate(entry.Value)) {
                return ERR_INVALID_BAUDRATE;
            }
            if (entry.Value / 1000 == dev.info().baudrate) {
                return STATUS_NOERROR;
            }
            currentBaudrate = entry.Value / 1000;
            for (const std::unique_ptr<Channel>& each : channels) {
                each->setBitRate(entry.Value);
            }
            return dev.configure({.bitRateKbps = currentBaudrate,
                                  .outputBus = 0,
                                  .extendedIds = onlyExtendedIds(),
                                  .bothIdWidths = bothIdWidths(),
                                  .reprogramming = Reprogramming::Always})
                       ? STATUS_NOERROR
                       : ERR_FAILED;
        }
        case BIT_SAMPLE_POINT: {
            VTX_TRACE(op::kGroup, op::kEvent, place::kIoctlConfigSet,
                      u32("chID", channel.channelID()), u32("BIT_SAMPLE_POINT", entry.Value),
                      u32("lastError", lastError()));
            const CommParameters saved = dev.settings();
            CommParameters working = saved;
            working.SamplePoint = entry.Value;
            if (dev.configure(ControllerRequest::replacing(working)) &&
                dev.settings().SamplePoint == dev.info().SamplePoint) {
                return STATUS_NOERROR;
            }
            dev.configure(ControllerRequest::replacing(saved));
            return ERR_INVALID_IOCTL_VALUE;
        }
        case SYNC_JUMP_WIDTH: {
            VTX_TRACE(op::kGroup, op::kEvent, place::kIoctlConfigSet,
                      u32("chID", channel.channelID()), u32("SYNC_JUMP_WIDTH", entry.Value),
                      u32("lastError", lastError()));
            const CommParameters saved = dev.settings();
            CommParameters working = saved;
            working.Sjw = quantaPerBit(dev.info()) * entry.Value / 100;
            if (dev.configure(ControllerRequest::replacing(working))) {
                return STATUS_NOERROR;
            }
            dev.configure(ControllerRequest::replacing(saved));
            return ERR_INVALID_IOCTL_VALUE;
        }
        default: {
            // A parameter of the channel's protocol; any other is accepted as it is.
            const ProtocolVerdict verdict = channel.setProtocolConfig(entry.Parameter, entry.Value);
            return verdict.status == ERR_NOT_SUPPORTED ? STATUS_NOERROR : verdict.status;
        }
    }
}

void PassThru::clearMsgFilters(Channel& channel) {
    channel.clearFilters();
    programAcceptance();
}

// A refused setting answers ERR_FAILED with its own text and leaves pOutput untouched.
void PassThru::setTermResistor(const uint32_t* pInput, uint32_t* pOutput) {
    if (pInput == nullptr) {
        setStatus(ERR_NULL_PARAMETER);
        return;
    }
    if (!device()->setTermResistor(*pInput)) {
        if (!devicePresent()) {
            setStatus(ERR_DEVICE_NOT_CONNECTED);
        } else {
            setFailed(text::kTermResistorWriteFailed);
        }
        return;
    }
    if (pOutput != nullptr) {
        *pOutput = *pInput;
    }
}

void PassThru::getTermResistor(uint32_t& output) {
    uint32_t state = 0;
    if (device()->readTermResistor(state)) {
        output = state;
    } else if (!devicePresent()) {
        setStatus(ERR_DEVICE_NOT_CONNECTED);
    } else {
        setFailed(text::kTermResistorReadFailed);
    }
}

}  // namespace vtx
