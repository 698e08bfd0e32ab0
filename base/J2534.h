// The J2534 (04.04) vocabulary this library speaks: the records that cross the API, the
// identifiers and flag bits it uses, and the status codes.
//
// The J2534 integer, J2534_UINT, is 32 bits in the library's core and in libvtxpts32.so, so a
// PASSTHRU_MSG has the same 4152-byte layout on 32-bit Windows and on 64-bit Linux; pointers stay
// native. A program built with the standard header's `unsigned long` (8 bytes on 64-bit Linux)
// defines VTXPTS_ULONG before including this header and links libvtxpts-ulong.so, which takes
// those records (PASSTHRU_MSG of 4176 bytes there) and translates them at its exports. Where
// `unsigned long` is 32 bits (Windows, 32-bit Linux) the two are the same.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define VTX_API __stdcall
#else
#define VTX_API
#endif

#if defined(VTXPTS_ULONG)
typedef unsigned long J2534_UINT;
#else
typedef uint32_t J2534_UINT;
#endif

struct PASSTHRU_MSG {
    J2534_UINT ProtocolID;
    J2534_UINT RxStatus;
    J2534_UINT TxFlags;
    J2534_UINT Timestamp;
    J2534_UINT DataSize;
    J2534_UINT ExtraDataIndex;
    unsigned char Data[4128];
};

struct SCONFIG {
    J2534_UINT Parameter;
    J2534_UINT Value;
};

struct SCONFIG_LIST {
    J2534_UINT NumOfParams;
    SCONFIG* ConfigPtr;
};

// The bytes of the FIVE_BAUD_INIT and FAST_INIT ioctls (which this library refuses).
struct SBYTE_ARRAY {
    J2534_UINT NumOfBytes;
    unsigned char* BytePtr;
};

// The records as the standard header lays them out: six integers, then the data; integers and
// pointers in pairs.
inline constexpr std::size_t kJ2534Int = sizeof(J2534_UINT);
static_assert(sizeof(PASSTHRU_MSG) == 6 * kJ2534Int + 4128);
static_assert(offsetof(PASSTHRU_MSG, ProtocolID) == 0);
static_assert(offsetof(PASSTHRU_MSG, RxStatus) == 1 * kJ2534Int);
static_assert(offsetof(PASSTHRU_MSG, TxFlags) == 2 * kJ2534Int);
static_assert(offsetof(PASSTHRU_MSG, Timestamp) == 3 * kJ2534Int);
static_assert(offsetof(PASSTHRU_MSG, DataSize) == 4 * kJ2534Int);
static_assert(offsetof(PASSTHRU_MSG, ExtraDataIndex) == 5 * kJ2534Int);
static_assert(offsetof(PASSTHRU_MSG, Data) == 6 * kJ2534Int);
static_assert(alignof(PASSTHRU_MSG) == kJ2534Int);
static_assert(sizeof(SCONFIG) == 2 * kJ2534Int && offsetof(SCONFIG, Value) == kJ2534Int);
static_assert(offsetof(SCONFIG_LIST, ConfigPtr) == alignof(SCONFIG*));
static_assert(sizeof(SCONFIG_LIST) == 2 * sizeof(SCONFIG*));
static_assert(offsetof(SBYTE_ARRAY, BytePtr) == alignof(unsigned char*));
static_assert(sizeof(SBYTE_ARRAY) == 2 * sizeof(unsigned char*));
#if !defined(VTXPTS_ULONG)
static_assert(sizeof(PASSTHRU_MSG) == 4152);
#elif defined(__LP64__)
// 64-bit Linux: 8-byte integers, PASSTHRU_MSG of 4176 bytes, SCONFIG of 16.
static_assert(sizeof(PASSTHRU_MSG) == 4176 && sizeof(SCONFIG) == 16);
static_assert(sizeof(SCONFIG_LIST) == 16 && offsetof(SCONFIG_LIST, ConfigPtr) == 8);
static_assert(sizeof(SBYTE_ARRAY) == 16 && offsetof(SBYTE_ARRAY, BytePtr) == 8);
#endif
#if defined(_WIN32) && !defined(_WIN64)
// The 32-bit DLL, as 32-bit applications lay the records out: 4-byte pointers, no padding.
static_assert(sizeof(void*) == 4);
static_assert(sizeof(SCONFIG_LIST) == 8 && offsetof(SCONFIG_LIST, ConfigPtr) == 4);
static_assert(sizeof(SBYTE_ARRAY) == 8 && offsetof(SBYTE_ARRAY, BytePtr) == 4);
#endif

// Protocol identifiers.
inline constexpr uint32_t CAN = 0x05;
inline constexpr uint32_t ISO15765 = 0x06;

// Connect flags, TxFlags and RxStatus bits.
inline constexpr uint32_t CAN_29BIT_ID = 0x100;
inline constexpr uint32_t CAN_ID_BOTH = 0x800;
inline constexpr uint32_t ISO15765_FRAME_PAD = 0x40;
inline constexpr uint32_t ISO15765_ADDR_TYPE = 0x80;  // extended addressing: a fifth id byte
inline constexpr uint32_t TX_MSG_TYPE = 0x01;         // RxStatus: the loopback of a sent message
inline constexpr uint32_t START_OF_MESSAGE = 0x02;    // RxStatus: a first-frame indication
inline constexpr uint32_t ISO15765_FIRST_FRAME = 0x02;
inline constexpr uint32_t TX_DONE = 0x08;  // RxStatus: a message has gone out (indication)
inline constexpr uint32_t ISO15765_PADDING_ERROR = 0x10;
inline constexpr uint32_t ISO15765_EXT_ADDR = 0x80;

// Filter types.
inline constexpr uint32_t PASS_FILTER = 1;
inline constexpr uint32_t BLOCK_FILTER = 2;
inline constexpr uint32_t FLOW_CONTROL_FILTER = 3;

// Programming voltage: the one pin and the two values the device can apply.
inline constexpr uint32_t J1962_PIN_15 = 15;
inline constexpr uint32_t SHORT_TO_GROUND = 0xFFFFFFFE;
inline constexpr uint32_t VOLTAGE_OFF = 0xFFFFFFFF;

// IOCTL identifiers.
inline constexpr uint32_t GET_CONFIG = 0x01;
inline constexpr uint32_t SET_CONFIG = 0x02;
inline constexpr uint32_t READ_VBATT = 0x03;
inline constexpr uint32_t FIVE_BAUD_INIT = 0x04;
inline constexpr uint32_t FAST_INIT = 0x05;
inline constexpr uint32_t CLEAR_TX_BUFFER = 0x07;
inline constexpr uint32_t CLEAR_RX_BUFFER = 0x08;
inline constexpr uint32_t CLEAR_PERIODIC_MSGS = 0x09;
inline constexpr uint32_t CLEAR_MSG_FILTERS = 0x0A;
inline constexpr uint32_t CLEAR_FUNCT_MSG_LOOKUP_TABLE = 0x0B;
inline constexpr uint32_t ADD_TO_FUNCT_MSG_LOOKUP_TABLE = 0x0C;
inline constexpr uint32_t DELETE_FROM_FUNCT_MSG_LOOKUP_TABLE = 0x0D;
inline constexpr uint32_t READ_PROG_VOLTAGE = 0x0E;
inline constexpr uint32_t SET_TERM_RESISTOR = 0x00EF1000;
inline constexpr uint32_t GET_TERM_RESISTOR = 0x00EF1001;

// Configuration parameters.
inline constexpr uint32_t DATA_RATE = 0x01;
inline constexpr uint32_t LOOPBACK = 0x03;
inline constexpr uint32_t BIT_SAMPLE_POINT = 0x17;
inline constexpr uint32_t SYNC_JUMP_WIDTH = 0x18;
inline constexpr uint32_t ISO15765_BS = 0x1E;
inline constexpr uint32_t ISO15765_STMIN = 0x1F;
inline constexpr uint32_t ISO15765_BS_TX = 0x22;
inline constexpr uint32_t ISO15765_STMIN_TX = 0x23;
inline constexpr uint32_t ISO15765_WFT_MAX = 0x25;

// Status codes.
inline constexpr uint32_t STATUS_NOERROR = 0x00;
inline constexpr uint32_t ERR_NOT_SUPPORTED = 0x01;
inline constexpr uint32_t ERR_INVALID_CHANNEL_ID = 0x02;
inline constexpr uint32_t ERR_INVALID_PROTOCOL_ID = 0x03;
inline constexpr uint32_t ERR_NULL_PARAMETER = 0x04;
inline constexpr uint32_t ERR_INVALID_IOCTL_VALUE = 0x05;
inline constexpr uint32_t ERR_INVALID_FLAGS = 0x06;
inline constexpr uint32_t ERR_FAILED = 0x07;
inline constexpr uint32_t ERR_DEVICE_NOT_CONNECTED = 0x08;
inline constexpr uint32_t ERR_TIMEOUT = 0x09;
inline constexpr uint32_t ERR_INVALID_MSG = 0x0A;
inline constexpr uint32_t ERR_INVALID_TIME_INTERVAL = 0x0B;
inline constexpr uint32_t ERR_EXCEEDED_LIMIT = 0x0C;
inline constexpr uint32_t ERR_INVALID_MSG_ID = 0x0D;
inline constexpr uint32_t ERR_DEVICE_IN_USE = 0x0E;
inline constexpr uint32_t ERR_INVALID_IOCTL_ID = 0x0F;
inline constexpr uint32_t ERR_BUFFER_EMPTY = 0x10;
inline constexpr uint32_t ERR_BUFFER_FULL = 0x11;
inline constexpr uint32_t ERR_BUFFER_OVERFLOW = 0x12;
inline constexpr uint32_t ERR_PIN_INVALID = 0x13;
inline constexpr uint32_t ERR_CHANNEL_IN_USE = 0x14;
inline constexpr uint32_t ERR_MSG_PROTOCOL_ID = 0x15;
inline constexpr uint32_t ERR_INVALID_FILTER_ID = 0x16;
inline constexpr uint32_t ERR_NO_FLOW_CONTROL = 0x17;
inline constexpr uint32_t ERR_NOT_UNIQUE = 0x18;
inline constexpr uint32_t ERR_INVALID_BAUDRATE = 0x19;
inline constexpr uint32_t ERR_INVALID_DEVICE_ID = 0x1A;

// The fourteen entry points, as a caller that loads the library resolves them.
using PTOPEN = J2534_UINT(VTX_API*)(void* pName, J2534_UINT* pDeviceID);
using PTCLOSE = J2534_UINT(VTX_API*)(J2534_UINT DeviceID);
using PTCONNECT = J2534_UINT(VTX_API*)(J2534_UINT DeviceID, J2534_UINT ProtocolID, J2534_UINT Flags,
                                       J2534_UINT BaudRate, J2534_UINT* pChannelID);
using PTDISCONNECT = J2534_UINT(VTX_API*)(J2534_UINT ChannelID);
using PTREADMSGS = J2534_UINT(VTX_API*)(J2534_UINT ChannelID, PASSTHRU_MSG* pMsg,
                                        J2534_UINT* pNumMsgs, J2534_UINT Timeout);
using PTWRITEMSGS = J2534_UINT(VTX_API*)(J2534_UINT ChannelID, PASSTHRU_MSG* pMsg,
                                         J2534_UINT* pNumMsgs, J2534_UINT Timeout);
using PTSTARTPERIODICMSG = J2534_UINT(VTX_API*)(J2534_UINT ChannelID, PASSTHRU_MSG* pMsg,
                                                J2534_UINT* pMsgID, J2534_UINT TimeInterval);
using PTSTOPPERIODICMSG = J2534_UINT(VTX_API*)(J2534_UINT ChannelID, J2534_UINT MsgID);
using PTSTARTMSGFILTER = J2534_UINT(VTX_API*)(J2534_UINT ChannelID, J2534_UINT FilterType,
                                              PASSTHRU_MSG* pMaskMsg, PASSTHRU_MSG* pPatternMsg,
                                              PASSTHRU_MSG* pFlowControlMsg, J2534_UINT* pFilterID);
using PTSTOPMSGFILTER = J2534_UINT(VTX_API*)(J2534_UINT ChannelID, J2534_UINT FilterID);
using PTSETPROGRAMMINGVOLTAGE = J2534_UINT(VTX_API*)(J2534_UINT DeviceID, J2534_UINT PinNumber,
                                                     J2534_UINT Voltage);
using PTREADVERSION = J2534_UINT(VTX_API*)(J2534_UINT DeviceID, char* pFirmwareVersion,
                                           char* pDllVersion, char* pApiVersion);
using PTGETLASTERROR = J2534_UINT(VTX_API*)(char* pErrorDescription);
using PTIOCTL = J2534_UINT(VTX_API*)(J2534_UINT ChannelID, J2534_UINT IoctlID, void* pInput,
                                     void* pOutput);
