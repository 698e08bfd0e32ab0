// The fourteen exported functions, declared for the programs that link the library and call
// them directly: clients of the installed library and, in the tree, the end-to-end tests, fuzz
// targets, benchmarks and the soak run.
#pragma once

#include <cstdint>

#include "base/J2534.h"

extern "C" {
J2534_UINT VTX_API PassThruOpen(void* pName, J2534_UINT* pDeviceID);
J2534_UINT VTX_API PassThruClose(J2534_UINT DeviceID);
J2534_UINT VTX_API PassThruConnect(J2534_UINT DeviceID, J2534_UINT ProtocolID, J2534_UINT Flags,
                                   J2534_UINT BaudRate, J2534_UINT* pChannelID);
J2534_UINT VTX_API PassThruDisconnect(J2534_UINT ChannelID);
J2534_UINT VTX_API PassThruReadMsgs(J2534_UINT ChannelID, PASSTHRU_MSG* pMsg, J2534_UINT* pNumMsgs,
                                    J2534_UINT Timeout);
J2534_UINT VTX_API PassThruWriteMsgs(J2534_UINT ChannelID, PASSTHRU_MSG* pMsg, J2534_UINT* pNumMsgs,
                                     J2534_UINT Timeout);
J2534_UINT VTX_API PassThruStartPeriodicMsg(J2534_UINT ChannelID, PASSTHRU_MSG* pMsg,
                                            J2534_UINT* pMsgID, J2534_UINT TimeInterval);
J2534_UINT VTX_API PassThruStopPeriodicMsg(J2534_UINT ChannelID, J2534_UINT MsgID);
J2534_UINT VTX_API PassThruStartMsgFilter(J2534_UINT ChannelID, J2534_UINT FilterType,
                                          PASSTHRU_MSG* pMaskMsg, PASSTHRU_MSG* pPatternMsg,
                                          PASSTHRU_MSG* pFlowControlMsg, J2534_UINT* pFilterID);
J2534_UINT VTX_API PassThruStopMsgFilter(J2534_UINT ChannelID, J2534_UINT FilterID);
J2534_UINT VTX_API PassThruSetProgrammingVoltage(J2534_UINT DeviceID, J2534_UINT PinNumber,
                                                 J2534_UINT Voltage);
J2534_UINT VTX_API PassThruReadVersion(J2534_UINT DeviceID, char* pFirmwareVersion,
                                       char* pDllVersion, char* pApiVersion);
J2534_UINT VTX_API PassThruGetLastError(char* pErrorDescription);
J2534_UINT VTX_API PassThruIoctl(J2534_UINT ChannelID, J2534_UINT IoctlID, void* pInput,
                                 void* pOutput);
}
