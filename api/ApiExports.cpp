// The fourteen exported J2534 functions. Each takes the API lock, calls the matching operation
// of the PassThru object with its arguments unchanged, releases the lock and returns the status.
// No argument is looked at before the lock is held.
#include "api/ApiLock.h"
#include "base/J2534.h"
#include "operations/PassThru.h"

#if defined(_WIN32)
#define VTX_EXPORT
#else
#define VTX_EXPORT __attribute__((visibility("default")))
#endif

using vtx::callLocked;
using vtx::PassThru;

extern "C" {

VTX_EXPORT uint32_t VTX_API PassThruOpen(void* pName, uint32_t* pDeviceID) {
    return callLocked([&](PassThru& p) { return p.passThruOpen(pName, pDeviceID); });
}

VTX_EXPORT uint32_t VTX_API PassThruClose(uint32_t DeviceID) {
    return callLocked([&](PassThru& p) { return p.passThruClose(DeviceID); });
}

VTX_EXPORT uint32_t VTX_API PassThruConnect(uint32_t DeviceID, uint32_t ProtocolID, uint32_t Flags,
                                            uint32_t BaudRate, uint32_t* pChannelID) {
    return callLocked([&](PassThru& p) {
        return p.passThruConnect(DeviceID, ProtocolID, Flags, BaudRate, pChannelID);
    });
}

VTX_EXPORT uint32_t VTX_API PassThruDisconnect(uint32_t ChannelID) {
    return callLocked([&](PassThru& p) { return p.passThruDisconnect(ChannelID); });
}

VTX_EXPORT uint32_t VTX_API PassThruReadMsgs(uint32_t ChannelID, PASSTHRU_MSG* pMsg,
                                             uint32_t* pNumMsgs, uint32_t Timeout) {
    return callLocked(
        [&](PassThru& p) { return p.passThruReadMsgs(ChannelID, pMsg, pNumMsgs, Timeout); });
}

VTX_EXPORT uint32_t VTX_API PassThruWriteMsgs(uint32_t ChannelID, PASSTHRU_MSG* pMsg,
                                              uint32_t* pNumMsgs, uint32_t Timeout) {
    return callLocked(
        [&](PassThru& p) { return p.passThruWriteMsgs(ChannelID, pMsg, pNumMsgs, Timeout); });
}

VTX_EXPORT uint32_t VTX_API PassThruStartPeriodicMsg(uint32_t ChannelID, PASSTHRU_MSG* pMsg,
                                                     uint32_t* pMsgID, uint32_t TimeInterval) {
    return callLocked([&](PassThru& p) {
        return p.passThruStartPeriodicMsg(ChannelID, pMsg, pMsgID, TimeInterval);
    });
}

VTX_EXPORT uint32_t VTX_API PassThruStopPeriodicMsg(uint32_t ChannelID, uint32_t MsgID) {
    return callLocked([&](PassThru& p) { return p.passThruStopPeriodicMsg(ChannelID, MsgID); });
}

VTX_EXPORT uint32_t VTX_API PassThruStartMsgFilter(uint32_t ChannelID, uint32_t FilterType,
                                                   PASSTHRU_MSG* pMaskMsg,
                                                   PASSTHRU_MSG* pPatternMsg,
                                                   PASSTHRU_MSG* pFlowControlMsg,
                                                   uint32_t* pFilterID) {
    return callLocked([&](PassThru& p) {
        return p.passThruStartMsgFilter(ChannelID, FilterType, pMaskMsg, pPatternMsg,
                                        pFlowControlMsg, pFilterID);
    });
}

VTX_EXPORT uint32_t VTX_API PassThruStopMsgFilter(uint32_t ChannelID, uint32_t FilterID) {
    return callLocked([&](PassThru& p) { return p.passThruStopMsgFilter(ChannelID, FilterID); });
}

VTX_EXPORT uint32_t VTX_API PassThruSetProgrammingVoltage(uint32_t DeviceID, uint32_t PinNumber,
                                                          uint32_t Voltage) {
    return callLocked(
        [&](PassThru& p) { return p.passThruSetProgrammingVoltage(DeviceID, PinNumber, Voltage); });
}

VTX_EXPORT uint32_t VTX_API PassThruReadVersion(uint32_t DeviceID, char* pFirmwareVersion,
                                                char* pDllVersion, char* pApiVersion) {
    return callLocked([&](PassThru& p) {
        return p.passThruReadVersion(DeviceID, pFirmwareVersion, pDllVersion, pApiVersion);
    });
}

VTX_EXPORT uint32_t VTX_API PassThruGetLastError(char* pErrorDescription) {
    return callLocked([&](PassThru& p) { return p.passThruGetLastError(pErrorDescription); });
}

VTX_EXPORT uint32_t VTX_API PassThruIoctl(uint32_t ChannelID, uint32_t IoctlID, void* pInput,
                                          void* pOutput) {
    return callLocked(
        [&](PassThru& p) { return p.passThruIoctl(ChannelID, IoctlID, pInput, pOutput); });
}

}  // extern "C"
