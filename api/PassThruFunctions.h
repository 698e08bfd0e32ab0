// The fourteen exported functions, declared for the programs that link the library and call
// them directly: clients of the installed library and, in the tree, the end-to-end tests, fuzz
// targets, benchmarks and the soak run.
#pragma once

#include <cstdint>

#include "base/J2534.h"

extern "C" {
uint32_t VTX_API PassThruOpen(void* pName, uint32_t* pDeviceID);
uint32_t VTX_API PassThruClose(uint32_t DeviceID);
uint32_t VTX_API PassThruConnect(uint32_t DeviceID, uint32_t ProtocolID, uint32_t Flags,
                                 uint32_t BaudRate, uint32_t* pChannelID);
uint32_t VTX_API PassThruDisconnect(uint32_t ChannelID);
uint32_t VTX_API PassThruReadMsgs(uint32_t ChannelID, PASSTHRU_MSG* pMsg, uint32_t* pNumMsgs,
                                  uint32_t Timeout);
uint32_t VTX_API PassThruWriteMsgs(uint32_t ChannelID, PASSTHRU_MSG* pMsg, uint32_t* pNumMsgs,
                                   uint32_t Timeout);
uint32_t VTX_API PassThruStartPeriodicMsg(uint32_t ChannelID, PASSTHRU_MSG* pMsg, uint32_t* pMsgID,
                                          uint32_t TimeInterval);
uint32_t VTX_API PassThruStopPeriodicMsg(uint32_t ChannelID, uint32_t MsgID);
uint32_t VTX_API PassThruStartMsgFilter(uint32_t ChannelID, uint32_t FilterType,
                                        PASSTHRU_MSG* pMaskMsg, PASSTHRU_MSG* pPatternMsg,
                                        PASSTHRU_MSG* pFlowControlMsg, uint32_t* pFilterID);
uint32_t VTX_API PassThruStopMsgFilter(uint32_t ChannelID, uint32_t FilterID);
uint32_t VTX_API PassThruSetProgrammingVoltage(uint32_t DeviceID, uint32_t PinNumber,
                                               uint32_t Voltage);
uint32_t VTX_API PassThruReadVersion(uint32_t DeviceID, char* pFirmwareVersion, char* pDllVersion,
                                     char* pApiVersion);
uint32_t VTX_API PassThruGetLastError(char* pErrorDescription);
uint32_t VTX_API PassThruIoctl(uint32_t ChannelID, uint32_t IoctlID, void* pInput, void* pOutput);
}
