// Every place of the library that writes a trace event, by what happens there, with the text the
// event carries as its message. The texts are what people reading the logs search for: they stay
// exactly as they are, whatever the code around a place is named today. Many still carry the name
// a function had when the place was first written.
//
// One list, VTX_TRACE_PLACES, gives each place once: it makes the constants that the call sites
// pass to VTX_TRACE (place::kChannelReadStarted) and the table kTracePlaces that a test compares
// with the checked-in golden copy of the texts. A place is added at the end of its group and its
// text added to the golden copy; a text is never edited.
#pragma once

#include <cstddef>
#include <string_view>

// X(identifier, text), grouped by the layer and the class that writes the event.
#define VTX_TRACE_PLACES(X)                                                               \
    /* The library's load and unload (event "DllMain"). */                                \
    X(kLibraryAttached, "-DLL_PROCESS_ATTACH-")                                           \
    X(kLibraryDetaching, "-DLL_PROCESS_DETACH-")                                          \
    /* The exported operations, entry and return (event "PassThru"). */                   \
    X(kOpenStarted, "****passThruOpen()**** -S-")                                         \
    X(kOpenEnded, "****passThruOpen()**** -E-")                                           \
    X(kCloseStarted, "****passThruClose()**** -S-")                                       \
    X(kCloseEnded, "****passThruClose()**** -E-")                                         \
    X(kConnectStarted, "****passThruConnect()**** -S-")                                   \
    X(kConnectEnded, "****passThruConnect()**** -E-")                                     \
    X(kDisconnectStarted, "****passThruDisconnect()**** -S-")                             \
    X(kDisconnectEnded, "****passThruDisconnect()**** -E-")                               \
    X(kReadMessagesStarted, "****passThruReadMsgs()**** -S-")                             \
    X(kReadMessagesEnded, "****passThruReadMsgs()**** -E-")                               \
    X(kWriteMessagesStarted, "****passThruWriteMsgs()**** -S-")                           \
    X(kWriteMessagesEnded, "****passThruWriteMsgs()**** -E-")                             \
    X(kStartPeriodicStarted, "****passThruStartPeriodicMsg()**** -S-")                    \
    X(kStartPeriodicEnded, "****passThruStartPeriodicMsg()**** -E-")                      \
    X(kStopPeriodicStarted, "****passThruStopPeriodicMsg()**** -S-")                      \
    X(kStopPeriodicEnded, "****passThruStopPeriodicMsg()**** -E-")                        \
    X(kStartFilterStarted, "****passThruStartMsgFilter()**** -S-")                        \
    X(kStartFilterEnded, "****passThruStartMsgFilter()**** -E-")                          \
    X(kStopFilterStarted, "****passThruStopMsgFilter()**** -S-")                          \
    X(kStopFilterEnded, "****passThruStopMsgFilter()**** -E-")                            \
    X(kSetVoltageStarted, "****passThruSetProgrammingVoltage()**** -S-")                  \
    X(kSetVoltageEnded, "****passThruSetProgrammingVoltage()**** -E-")                    \
    X(kReadVersionStarted, "****passThruReadVersion()**** -S-")                           \
    X(kReadVersionEnded, "****passThruReadVersion()**** -E-")                             \
    X(kIoctlStarted, "****passThruIoctl()**** -S-")                                       \
    X(kIoctlEnded, "****passThruIoctl()**** -E-")                                         \
    /* Inside the operations: one bus parameter read or set, the device's acceptance */   \
    /* filter worked out from every channel's filters. */                                 \
    X(kIoctlConfigRead, "passThruIoctl() GET_CONFIG")                                     \
    X(kIoctlConfigSet, "passThruIoctl() SET_CONFIG")                                      \
    X(kAcceptanceFilterStarted, "calcAcceptanceAndMask() -S-")                            \
    X(kAcceptanceFilterEnded, "calcAcceptanceAndMask() -E-")                              \
    /* A channel (event "Channel"): its life, filters and periodic messages. */           \
    X(kChannelCreationStarted, "Channel() -S-")                                           \
    X(kChannelCreationEnded, "Channel() -E-")                                             \
    X(kChannelDestructionStarted, "~Channel() -S-")                                       \
    X(kChannelDestructionEnded, "~Channel() -E-")                                         \
    X(kChannelFilterAddStarted, "addFilter() -S-")                                        \
    X(kChannelFilterAddEnded, "addFilter() -E-")                                          \
    X(kChannelFilterRemoveStarted, "removeFilter() -S-")                                  \
    X(kChannelFilterRemoveEnded, "removeFilter() -E-")                                    \
    X(kChannelPeriodicAddStarted, "addPeriodic() -S-")                                    \
    X(kChannelPeriodicAddEnded, "addPeriodic() -E-")                                      \
    X(kChannelLoopbackSet, "setLoopback() -S-")                                           \
    /* A channel's receive path: frames stored in its queue, the queue read, the */       \
    /* messages handed to the caller. */                                                  \
    X(kChannelFramesQueued, "enqueueRxCanFrame() -E-")                                    \
    X(kChannelFrameAdmitted, "enqueueRxCanFrame() -1-")                                   \
    X(kChannelFramesDropped, "enqueueRxCanFrame() -2-")                                   \
    X(kChannelReadStarted, "dequeueRxCanFrame() -S-")                                     \
    X(kChannelReadEnded, "dequeueRxCanFrame() -E-")                                       \
    X(kChannelDeliveryStarted, "dequeueRxPtMsgs() -S-")                                   \
    X(kChannelFramesTaken, "dequeueRxPtMsgs() -1-")                                       \
    X(kChannelMessageDelivered, "dequeueRxPtMsgs() -2-")                                  \
    X(kChannelDeliveryEnded, "dequeueRxPtMsgs() -E-")                                     \
    /* A channel's transmit path. */                                                      \
    X(kChannelWriteStarted, "enqueueTxPtMsgs() -S-")                                      \
    X(kChannelQueueingWithoutWait, "enqueueTxPtMsgs() -1-")                               \
    X(kChannelWriteSettled, "enqueueTxPtMsgs() -4-")                                      \
    X(kChannelWriteEnded, "enqueueTxPtMsgs() -E-")                                        \
    /* The communication thread (event "CommInterfaceThread"): its life and its loop. */  \
    X(kCommThreadCreationStarted, "CommInterfaceThread() -S-")                            \
    X(kCommThreadCreationEnded, "CommInterfaceThread() -E-")                              \
    X(kCommThreadDestructionStarted, "~CommInterfaceThread() -S-")                        \
    X(kCommThreadDestructionEnded, "~CommInterfaceThread() -E-")                          \
    X(kCommLoopStarted, "run() -S-")                                                      \
    X(kCommLoopEnded, "run() -E-")                                                        \
    X(kCommCycleStarted, "run() -0-")                                                     \
    X(kCommIdleWhileClosed, "run() -1-")                                                  \
    X(kCommCommandQueued, "execute() -0-")                                                \
    X(kCommCommandsRun, "runCommands() -0-")                                              \
    X(kCommStopRequestStarted, "setStop() -S-")                                           \
    X(kCommStopRequestEnded, "setStop() -E-")                                             \
    /* The communication thread's transmit queue and its chunks written to the device. */ \
    X(kCommFramesQueueingStarted, "enqueueTxCanFrame() -S-")                              \
    X(kCommFramesQueueingEnded, "enqueueTxCanFrame() -E-")                                \
    X(kCommChunkWriting, "dequeueTxCanFrame() -0-")                                       \
    X(kCommChunkCutShort, "dequeueTxCanFrame() -1-")                                      \
    X(kCommChunkWritten, "dequeueTxCanFrame() -3-")                                       \
    /* Which driver family is installed (event "GenericInterface"). */                    \
    X(kDriverDetectionStarted, "getDriverInstalled() -S-")                                \
    X(kDriverDetectionEnded, "getDriverInstalled() -E-")                                  \
    /* The kernel-driver family (event "USBInterface"). */                                \
    X(kKernelDeviceCreationStarted, "USBInterface() -S-")                                 \
    X(kKernelDeviceCreationEnded, "USBInterface() -E-")                                   \
    X(kKernelDeviceDestructionStarted, "~USBInterface() -S-")                             \
    X(kKernelDeviceDestructionEnded, "~USBInterface() -E-")                               \
    /* The WinUSB family (event "WinUSBInterface"). */                                    \
    X(kWinUsbDeviceCreationStarted, "WinUSBInterface() -S-")                              \
    X(kWinUsbDeviceCreationEnded, "WinUSBInterface() -E-")                                \
    X(kWinUsbDeviceDestructionStarted, "~WinUSBInterface() -S-")                          \
    X(kWinUsbDeviceDestructionEnded, "~WinUSBInterface() -E-")                            \
    X(kWinUsbDevicesListed, "getDeviceList() -E-")                                        \
    X(kWinUsbOpenStarted, "open() -S-")                                                   \
    X(kWinUsbOpenEnded, "open() -E-")                                                     \
    /* Both driver families: the device set up after opening it. */                       \
    X(kDeviceInitStarted, "init() -S-")                                                   \
    X(kDeviceInitEnded, "init() -E-")                                                     \
    /* The device protocol that both families speak: bus settings and the controller. */  \
    X(kBusSettingsStarted, "setCommParameters() -S-")                                     \
    X(kBusSettingsReprogramming, "setCommParameters() -1-")                               \
    X(kBusSettingsEnded, "setCommParameters() -E-")                                       \
    X(kControllerEnableStarted, "enableCANController() -S-")                              \
    X(kControllerTimingCalculated, "enableCANController() -1-")                           \
    X(kControllerEnableEnded, "enableCANController() -E-")                                \
    X(kControllerDisableStarted, "disableCANController() -S-")                            \
    X(kControllerDisableEnded, "disableCANController() -E-")                              \
    X(kControllerStopStarted, "setEnableControllerCAN -S-")                               \
    X(kControllerStopEnded, "setEnableControllerCAN -E-")                                 \
    /* The device protocol: frames written and read, the device's identity. */            \
    X(kDeviceFramesWritten, "scritturaPacchettiCan() -E-")                                \
    X(kDeviceFramesRead, "letturaPacchettiCan() -E-")                                     \
    X(kIdentificationReadStarted, "letturaHardCodedInfo() -S-")                           \
    X(kIdentificationReadEnded, "letturaHardCodedInfo() -E-")                             \
    X(kIdentityStarted, "getDatiIdentificazione:init() -S-")                              \
    X(kIdentityEnded, "getDatiIdentificazione() -E-")

namespace vtx::trace {

namespace place {
#define VTX_TRACE_PLACE_CONSTANT(identifier, text) inline constexpr char identifier[] = text;
VTX_TRACE_PLACES(VTX_TRACE_PLACE_CONSTANT)
#undef VTX_TRACE_PLACE_CONSTANT
}  // namespace place

// One row of the table: the identifier as it is spelt in the code, and the text.
struct TracePlace {
    std::string_view identifier;
    std::string_view text;
};

// Every place, in the order of the list.
inline constexpr TracePlace kTracePlaces[] = {
#define VTX_TRACE_PLACE_ROW(identifier, text) TracePlace{#identifier, place::identifier},
    VTX_TRACE_PLACES(VTX_TRACE_PLACE_ROW)
#undef VTX_TRACE_PLACE_ROW
};

inline constexpr std::size_t kTracePlaceCount = sizeof kTracePlaces / sizeof kTracePlaces[0];

}  // namespace vtx::trace
