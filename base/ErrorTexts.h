// The names of the status codes and the texts that explain an ERR_FAILED.
#pragma once

#include <cstdint>

namespace vtx {

inline constexpr uint32_t kLastStatusCode = 0x1A;
inline constexpr int kErrorTextSize = 80;  // the J2534 description buffer, terminator included

// The name of a status code as PassThruGetLastError reports it; nullptr for ERR_FAILED (whose
// description is the stored text) and for codes above kLastStatusCode.
const char* statusCodeName(uint32_t code);

namespace text {
inline constexpr char kConnectionClosed[] =
    "The connection with the communication interface is closed";
inline constexpr char kThreadNotInitialized[] = "The communication thread was not initialized";
inline constexpr char kDriverNotInstalled[] = "The communication interface driver is not installed";
inline constexpr char kCanNotSupported[] = "The communication interface does not support CAN bus";
inline constexpr char kBitrateAlreadySet[] =
    "The communication bitrate is already set different value";
inline constexpr char kWriteSettingsFailed[] =
    "The communication interface was return error while write communication settings";
inline constexpr char kInvalidTxFlags[] =
    "Invalid TxFlags value specified for the active protocol channel";
inline constexpr char kTxFlagsInconsistent[] =
    "The specified TxFlags value is not consistent with the value of connected Flags";
inline constexpr char kVoltageNotAdmitted[] =
    "The voltage value requested is not admitted for pin 15 of SAE J1962 connector";
inline constexpr char kZeroIoctlElements[] = "The number of ioctl elements must not be zero";
inline constexpr char kTermResistorReadFailed[] =
    "Error returned when reading the CAN bus termination resistor status";
inline constexpr char kTermResistorWriteFailed[] =
    "Error returned when writing the CAN bus termination resistor status";
inline constexpr char kNoPassBlockOnIso15765[] =
    "PASS and BLOCK filters are not allowed on ISO15765: use a FLOW_CONTROL_FILTER";
// Why a timed ISO15765 write ended with fewer messages sent whole than it was given.
inline constexpr char kNoFlowControlInTime[] =
    "No flow control came from the receiver within N_Bs: the message was not sent";
inline constexpr char kWaitFrameLimit[] =
    "The receiver sent more WAIT flow controls in a row than ISO15765_WFT_MAX allows";
inline constexpr char kReceiverOverflow[] =
    "The receiver answered with an overflow flow control: the message is too long";
inline constexpr char kInvalidFlowControl[] =
    "The receiver sent a flow control with a reserved flow status";
inline constexpr char kTransferCleared[] = "The message was discarded before it was sent whole";
inline constexpr char kTransferTimedOut[] =
    "The timeout passed before every message was sent whole";
// Why a read or timed write returned before its messages or its timeout: another thread's call
// ended what it waited on.
inline constexpr char kChannelDisconnectedWhileWaiting[] =
    "The channel was disconnected by another call while this call waited on it";
inline constexpr char kDeviceClosedWhileWaiting[] =
    "The device was closed by another call while this call waited on its channel";
inline constexpr char kReceiveBufferClearedWhileWaiting[] =
    "The receive buffer was cleared by another call while this read waited";
// No exception may leave an exported function; these explain the two ways one could arise.
inline constexpr char kOutOfMemory[] = "Not enough memory to carry out the operation";
inline constexpr char kInternalError[] = "Unexpected internal error of the library";
}  // namespace text

}  // namespace vtx
