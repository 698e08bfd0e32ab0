// The fourteen exported J2534 functions of libvtxpts-ulong.so, for programs built with the
// standard header's `unsigned long` on a platform where it is 64 bits. Each narrows its
// arguments to the core's 32-bit integers and records, calls the same operation of the PassThru
// object as libvtxpts32.so does, and widens what the operation wrote back into the caller's
// records. A value that does not fit in 32 bits refuses the call with the status of its argument
// (NarrowCall); nothing is cut short. All of it runs inside callOperation, so that running out of
// memory for the narrowed copies ends the call with ERR_FAILED like any other.
#include <cstddef>

#include "api/ApiCall.h"
#include "api/InPlaceWidening.h"
#include "api/NarrowCall.h"
#include "api/NarrowMessages.h"
#include "api/NarrowOut.h"
#include "api/WideIoctl.h"
#include "api/WideRecords.h"
#include "base/J2534.h"
#include "operations/PassThru.h"

#define VTX_EXPORT __attribute__((visibility("default")))

static_assert(sizeof(J2534_UINT) == 4, "the core keeps its 32-bit integers");

using vtx::callOperation;
using vtx::NarrowCall;
using vtx::NarrowMessages;
using vtx::NarrowOut;
using vtx::PassThru;
using vtx::wide::Integer;
using vtx::wide::Message;

namespace {

uint32_t refused(PassThru& passThru, const NarrowCall& call) {
    return passThru.refuseCall(call.status(), call.text());
}

// A read or write refused before it began: no message went either way.
uint32_t refusedTransfer(PassThru& passThru, const NarrowCall& call, Integer* pNumMsgs) {
    if (pNumMsgs != nullptr) {
        *pNumMsgs = 0;
    }
    return refused(passThru, call);
}

// An operation that hands back one ID through a pointer (device, channel, filter, periodic
// message): given back only when the operation succeeded, which is when the core writes it.
template <typename Operation>
uint32_t withId(Integer* pId, Operation&& operation) {
    NarrowOut id(pId);
    const uint32_t status = operation(id.get());
    if (status == STATUS_NOERROR) {
        id.giveBack();
    }
    return status;
}

// A message count that goes both ways (read, write): it must fit going in, and comes back
// whatever the status, as the core leaves it.
uint32_t countOf(const Integer* pNumMsgs, NarrowCall& call) {
    return pNumMsgs != nullptr ? call.value(*pNumMsgs, ERR_EXCEEDED_LIMIT, "the message count") : 0;
}

}  // namespace

extern "C" {

VTX_EXPORT Integer PassThruOpen(void* pName, Integer* pDeviceID) {
    return callOperation([&](PassThru& p) {
        return withId(pDeviceID, [&](uint32_t* id) { return p.passThruOpen(pName, id); });
    });
}

VTX_EXPORT Integer PassThruClose(Integer DeviceID) {
    return callOperation([&](PassThru& p) {
        NarrowCall call;
        const uint32_t device = call.value(DeviceID, ERR_INVALID_DEVICE_ID, "DeviceID");
        return call.refused() ? refused(p, call) : p.passThruClose(device);
    });
}

VTX_EXPORT Integer PassThruConnect(Integer DeviceID, Integer ProtocolID, Integer Flags,
                                   Integer BaudRate, Integer* pChannelID) {
    return callOperation([&](PassThru& p) {
        NarrowCall call;
        const uint32_t device = call.value(DeviceID, ERR_INVALID_DEVICE_ID, "DeviceID");
        const uint32_t protocol = call.value(ProtocolID, ERR_INVALID_PROTOCOL_ID, "ProtocolID");
        const uint32_t flags = call.value(Flags, ERR_INVALID_FLAGS, "Flags");
        const uint32_t baudRate = call.value(BaudRate, ERR_INVALID_BAUDRATE, "BaudRate");
        if (call.refused()) {
            return refused(p, call);
        }
        return withId(pChannelID, [&](uint32_t* id) {
            return p.passThruConnect(device, protocol, flags, baudRate, id);
        });
    });
}

VTX_EXPORT Integer PassThruDisconnect(Integer ChannelID) {
    return callOperation([&](PassThru& p) {
        NarrowCall call;
        const uint32_t channel = call.value(ChannelID, ERR_INVALID_CHANNEL_ID, "ChannelID");
        return call.refused() ? refused(p, call) : p.passThruDisconnect(channel);
    });
}

VTX_EXPORT Integer PassThruReadMsgs(Integer ChannelID, Message* pMsg, Integer* pNumMsgs,
                                    Integer Timeout) {
    return callOperation([&](PassThru& p) {
        NarrowCall call;
        const uint32_t channel = call.value(ChannelID, ERR_INVALID_CHANNEL_ID, "ChannelID");
        NarrowOut count(pNumMsgs, countOf(pNumMsgs, call));
        if (call.refused()) {
            return refusedTransfer(p, call, pNumMsgs);
        }
        // Read into the caller's buffer as it is, then widened there.
        const uint32_t status =
            p.passThruReadMsgs(channel, pMsg != nullptr ? vtx::narrowView(pMsg) : nullptr,
                               count.get(), NarrowCall::bound(Timeout));
        if (pMsg != nullptr) {
            vtx::widenInPlace(pMsg, count.value());
        }
        count.giveBack();
        return status;
    });
}

VTX_EXPORT Integer PassThruWriteMsgs(Integer ChannelID, Message* pMsg, Integer* pNumMsgs,
                                     Integer Timeout) {
    return callOperation([&](PassThru& p) {
        NarrowCall call;
        const uint32_t channel = call.value(ChannelID, ERR_INVALID_CHANNEL_ID, "ChannelID");
        NarrowOut count(pNumMsgs, countOf(pNumMsgs, call));
        NarrowMessages messages(pMsg != nullptr ? count.value() : 0);
        if (pMsg != nullptr) {
            messages.takeFrom(pMsg, call);
        }
        if (call.refused()) {
            return refusedTransfer(p, call, pNumMsgs);
        }
        const uint32_t status =
            p.passThruWriteMsgs(channel, pMsg != nullptr ? messages.data() : nullptr, count.get(),
                                NarrowCall::bound(Timeout));
        count.giveBack();
        return status;
    });
}

VTX_EXPORT Integer PassThruStartPeriodicMsg(Integer ChannelID, Message* pMsg, Integer* pMsgID,
                                            Integer TimeInterval) {
    return callOperation([&](PassThru& p) {
        NarrowCall call;
        const uint32_t channel = call.value(ChannelID, ERR_INVALID_CHANNEL_ID, "ChannelID");
        const uint32_t interval =
            call.value(TimeInterval, ERR_INVALID_TIME_INTERVAL, "TimeInterval");
        NarrowMessages messages(1);
        PASSTHRU_MSG* message = messages.takeOne(0, pMsg, call);
        if (call.refused()) {
            return refused(p, call);
        }
        return withId(pMsgID, [&](uint32_t* id) {
            return p.passThruStartPeriodicMsg(channel, message, id, interval);
        });
    });
}

VTX_EXPORT Integer PassThruStopPeriodicMsg(Integer ChannelID, Integer MsgID) {
    return callOperation([&](PassThru& p) {
        NarrowCall call;
        const uint32_t channel = call.value(ChannelID, ERR_INVALID_CHANNEL_ID, "ChannelID");
        const uint32_t message = call.value(MsgID, ERR_INVALID_MSG_ID, "MsgID");
        return call.refused() ? refused(p, call) : p.passThruStopPeriodicMsg(channel, message);
    });
}

VTX_EXPORT Integer PassThruStartMsgFilter(Integer ChannelID, Integer FilterType, Message* pMaskMsg,
                                          Message* pPatternMsg, Message* pFlowControlMsg,
                                          Integer* pFilterID) {
    return callOperation([&](PassThru& p) {
        NarrowCall call;
        const uint32_t channel = call.value(ChannelID, ERR_INVALID_CHANNEL_ID, "ChannelID");
        const uint32_t type = call.value(FilterType, ERR_INVALID_MSG, "FilterType");
        // Mask, pattern and, where the caller gave one, the flow-control message.
        NarrowMessages messages(3);
        PASSTHRU_MSG* mask = messages.takeOne(0, pMaskMsg, call);
        PASSTHRU_MSG* pattern = messages.takeOne(1, pPatternMsg, call);
        PASSTHRU_MSG* flowControl = messages.takeOne(2, pFlowControlMsg, call);
        if (call.refused()) {
            return refused(p, call);
        }
        return withId(pFilterID, [&](uint32_t* id) {
            return p.passThruStartMsgFilter(channel, type, mask, pattern, flowControl, id);
        });
    });
}

VTX_EXPORT Integer PassThruStopMsgFilter(Integer ChannelID, Integer FilterID) {
    return callOperation([&](PassThru& p) {
        NarrowCall call;
        const uint32_t channel = call.value(ChannelID, ERR_INVALID_CHANNEL_ID, "ChannelID");
        const uint32_t filter = call.value(FilterID, ERR_INVALID_FILTER_ID, "FilterID");
        return call.refused() ? refused(p, call) : p.passThruStopMsgFilter(channel, filter);
    });
}

VTX_EXPORT Integer PassThruSetProgrammingVoltage(Integer DeviceID, Integer PinNumber,
                                                 Integer Voltage) {
    return callOperation([&](PassThru& p) {
        NarrowCall call;
        const uint32_t device = call.value(DeviceID, ERR_INVALID_DEVICE_ID, "DeviceID");
        const uint32_t pin = call.value(PinNumber, ERR_PIN_INVALID, "PinNumber");
        const uint32_t voltage = call.value(Voltage, ERR_EXCEEDED_LIMIT, "Voltage");
        return call.refused() ? refused(p, call)
                              : p.passThruSetProgrammingVoltage(device, pin, voltage);
    });
}

VTX_EXPORT Integer PassThruReadVersion(Integer DeviceID, char* pFirmwareVersion, char* pDllVersion,
                                       char* pApiVersion) {
    return callOperation([&](PassThru& p) {
        NarrowCall call;
        const uint32_t device = call.value(DeviceID, ERR_INVALID_DEVICE_ID, "DeviceID");
        return call.refused()
                   ? refused(p, call)
                   : p.passThruReadVersion(device, pFirmwareVersion, pDllVersion, pApiVersion);
    });
}

VTX_EXPORT Integer PassThruGetLastError(char* pErrorDescription) {
    return callOperation([&](PassThru& p) { return p.passThruGetLastError(pErrorDescription); });
}

VTX_EXPORT Integer PassThruIoctl(Integer ChannelID, Integer IoctlID, void* pInput, void* pOutput) {
    return callOperation([&](PassThru& p) {
        NarrowCall call;
        const uint32_t channel = call.value(ChannelID, ERR_INVALID_CHANNEL_ID, "ChannelID");
        const uint32_t ioctl = call.value(IoctlID, ERR_INVALID_IOCTL_ID, "IoctlID");
        return vtx::WideIoctl(channel, ioctl, pInput, pOutput).run(p, call);
    });
}

}  // extern "C"
