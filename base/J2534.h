// The J2534 (04.04) vocabulary this library speaks: the records that cross the API, the
// identifiers and flag bits it uses, and the status codes. Every J2534 integer is 32 bits on
// every platform, so a PASSTHRU_MSG has the same 4152-byte layout on 32-bit Windows and on
// 64-bit Linux; pointers stay native.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define VTX_API __stdcall
#else
#define VTX_API
#endif

struct PASSTHRU_MSG {
    uint32_t ProtocolID;
    uint32_t RxStatus;
    uint32_t TxFlags;
    uint32_t Timestamp;
    uint32_t DataSize;
    uint32_t ExtraDataIndex;
    unsigned char Data[4128];
};

struct SCONFIG {
    uint32_t Parameter;
    uint32_t Value;
};

struct SCONFIG_LIST {
    uint32_t NumOfParams;
    SCONFIG* ConfigPtr;
};

// The bytes of the FIVE_BAUD_INIT and FAST_INIT ioctls (which this library refuses).
struct SBYTE_ARRAY {
    uint32_t NumOfBytes;
    unsigned char* BytePtr;
};

static_assert(sizeof(PASSTHRU_MSG) == 4152);
static_assert(offsetof(PASSTHRU_MSG, ProtocolID) == 0);
static_assert(offsetof(PASSTHRU_MSG, RxStatus) == 4);
static_assert(offsetof(PASSTHRU_MSG, TxFlags) == 8);
static_assert(offsetof(PASSTHRU_MSG, Timestamp) == 12);
static_assert(offsetof(PASSTHRU_MSG, DataSize) == 16);
static_assert(offsetof(PASSTHRU_MSG, ExtraDataIndex) == 20);
static_assert(offsetof(PASSTHRU_MSG, Data) == 24);
static_assert(alignof(PASSTHRU_MSG) == 4);
static_assert(sizeof(SCONFIG) == 8 && offsetof(SCONFIG, Value) == 4);
static_assert(offsetof(SCONFIG_LIST, ConfigPtr) == alignof(SCONFIG*));
static_assert(sizeof(SCONFIG_LIST) == 2 * sizeof(SCONFIG*));
static_assert(offsetof(SBYTE_ARRAY, BytePtr) == alignof(unsigned char*));
static_assert(sizeof(SBYTE_ARRAY) == 2 * sizeof(unsigned char*));
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
using PTOPEN = uint32_t(VTX_API*)(void* pName, uint32_t* pDeviceID);
using PTCLOSE = uint32_t(VTX_API*)(uint32_t DeviceID);
using PTCONNECT = uint32_t(VTX_API*)(uint32_t DeviceID, uint32_t ProtocolID, uint32_t Flags,
                                     uint32_t BaudRate, uint32_t* pChannelID);
using PTDISCONNECT = uint32_t(VTX_API*)(uint32_t ChannelID);
using PTREADMSGS = uint32_t(VTX_API*)(uint32_t ChannelID, PASSTHRU_MSG* pMsg, uint32_t* pNumMsgs,
                                      uint32_t Timeout);
using PTWRITEMSGS = uint32_t(VTX_API*)(uint32_t ChannelID, PASSTHRU_MSG* pMsg, uint32_t* pNumMsgs,
                                       uint32_t Timeout);
using PTSTARTPERIODICMSG = uint32_t(VTX_API*)(uint32_t ChannelID, PASSTHRU_MSG* pMsg,
                                              uint32_t* pMsgID, uint32_t TimeInterval);
using PTSTOPPERIODICMSG = uint32_t(VTX_API*)(uint32_t ChannelID, uint32_t MsgID);
using PTSTARTMSGFILTER = uint32_t(VTX_API*)(uint32_t ChannelID, uint32_t FilterType,
                                            PASSTHRU_MSG* pMaskMsg, PASSTHRU_MSG* pPatternMsg,
                                            PASSTHRU_MSG* pFlowControlMsg, uint32_t* pFilterID);
using PTSTOPMSGFILTER = uint32_t(VTX_API*)(uint32_t ChannelID, uint32_t FilterID);
using PTSETPROGRAMMINGVOLTAGE = uint32_t(VTX_API*)(uint32_t DeviceID, uint32_t PinNumber,
                                                   uint32_t Voltage);
using PTREADVERSION = uint32_t(VTX_API*)(uint32_t DeviceID, char* pFirmwareVersion,
                                         char* pDllVersion, char* pApiVersion);
using PTGETLASTERROR = uint32_t(VTX_API*)(char* pErrorDescription);
using PTIOCTL = uint32_t(VTX_API*)(uint32_t ChannelID, uint32_t IoctlID, void* pInput,
                                   void* pOutput);
