// The fourteen exported J2534 functions. Each calls the matching operation of the PassThru
// object with its arguments unchanged and returns the status; the operation looks at them.
#include "api/ApiCall.h"
#include "base/J2534.h"
#include "operations/PassThru.h"

#if defined(_WIN32)
#define VTX_EXPORT
#else
#define VTX_EXPORT __attribute__((visibility("default")))
#endif

using vtx::callOperation;
using vtx::PassThru;

extern "C" {

VTX_EXPORT uint32_t VTX_API PassThruOpen(void* pName, uint32_t* pDeviceID) {
    return callOperation([&](PassThru& p) { return p.passThruOpen(pName, pDeviceID); });
}

VTX_EXPORT uint32_t VTX_API PassThruClose(uint32_t DeviceID) {
    return callOperation([&](PassThru& p) { return p.passThruClose(DeviceID); });
}

VTX_EXPORT uint32_t VTX_API PassThruConnect(uint32_t DeviceID, uint32_t ProtocolID, uint32_t Flags,
                                            uint32_t BaudRate, uint32_t* pChannelID) {
    return callOperation([&](PassThru& p) {
        return p.passThruConnect(DeviceID, ProtocolID, Flags, BaudRate, pChannelID);
    });
}

VTX_EXPORT uint32_t VTX_API PassThruDisconnect(uint32_t ChannelID) {
    return callOperation([&](PassThru& p) { return p.passThruDisconnect(ChannelID); });
}

VTX_EXPORT uint32_t VTX_API PassThruReadMsgs(uint32_t ChannelID, PASSTHRU_MSG* pMsg,
                                             uint32_t* pNumMsgs, uint32_t Timeout) {
    return callOperation(
        [&](PassThru& p) { return p.passThruReadMsgs(ChannelID, pMsg, pNumMsgs, Timeout); });
}

VTX_EXPORT uint32_t VTX_API PassThruWriteMsgs(uint32_t ChannelID, PASSTHRU_MSG* pMsg,
                                              uint32_t* pNumMsgs, uint32_t Timeout) {
    return callOperation(
        [&](PassThru& p) { return p.passThruWriteMsgs(ChannelID, pMsg, pNumMsgs, Timeout); });
}

VTX_EXPORT uint32_t VTX_API PassThruStartPeriodicMsg(uint32_t ChannelID, PASSTHRU_MSG* pMsg,
                                                     uint32_t* pMsgID, uint32_t TimeInterval) {
    return callOperation([&](PassThru& p) {
        return p.passThruStartPeriodicMsg(ChannelID, pMsg, pMsgID, TimeInterval);
    });
}

VTX_EXPORT uint32_t VTX_API PassThruStopPeriodicMsg(uint32_t ChannelID, uint32_t MsgID) {
    return callOperation([&](PassThru& p) { return p.passThruStopPeriodicMsg(ChannelID, MsgID); });
}

VTX_EXPORT uint32_t VTX_API PassThruStartMsgFilter(uint32_t ChannelID, uint32_t FilterType,
                                                   PASSTHRU_MSG* pMaskMsg,
                                                   PASSTHRU_MSG* pPatternMsg,
                                                   PASSTHRU_MSG* pFlowControlMsg,
                                                   uint32_t* pFilterID) {
    return callOperation([&](PassThru& p) {
        return p.passThruStartMsgFilter(ChannelID, FilterType, pMaskMsg, pPatternMsg,
                                        pFlowControlMsg, pFilterID);
    });
}

VTX_EXPORT uint32_t VTX_API PassThruStopMsgFilter(uint32_t ChannelID, uint32_t FilterID) {
    return callOperation([&](PassThru& p) { return p.passThruStopMsgFilter(ChannelID, FilterID); });
}

VTX_EXPORT uint32_t VTX_API PassThruSetProgrammingVoltage(uint32_t DeviceID, uint32_t PinNumber,
                                                          uint32_t Voltage) {
    return callOperation(
        [&](PassThru& p) { return p.passThruSetProgrammingVoltage(DeviceID, PinNumber, Voltage); });
}

VTX_EXPORT uint32_t VTX_API PassThruReadVersion(uint32_t DeviceID, char* pFirmwareVersion,
                                                char* pDllVersion, char* pApiVersion) {
    return callOperation([&](PassThru& p) {
        return p.passThruReadVersion(DeviceID, pFirmwareVersion, pDllVersion, pApiVersion);
    });
}

VTX_EXPORT uint32_t VTX_API PassThruGetLastError(char* pErrorDescription) {
    return callOperation([&](PassThru& p) { return p.passThruGetLastError(pErrorDescription); });
}

VTX_EXPORT uint32_t VTX_API PassThruIoctl(uint32_t ChannelID, uint32_t IoctlID, void* pInput,
                                          void* pOutput) {
    return callOperation(
        [&](PassThru& p) { return p.passThruIoctl(ChannelID, IoctlID, pInput, pOutput); });
}

}  // extern "C"
