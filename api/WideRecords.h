// The J2534 records as programs built with the standard header's `unsigned long` lay them out on
// a platform where that integer is 64 bits (64-bit Linux): what libvtxpts-ulong.so takes and
// gives at its exports. The core's own records (base/J2534.h) keep 32-bit integers.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "base/J2534.h"

namespace vtx::wide {

using Integer = unsigned long;

struct Message {
    Integer ProtocolID;
    Integer RxStatus;
    Integer TxFlags;
    Integer Timestamp;
    Integer DataSize;
    Integer ExtraDataIndex;
    unsigned char Data[4128];
};

struct Config {
    Integer Parameter;
    Integer Value;
};

struct ConfigList {
    Integer NumOfParams;
    Config* ConfigPtr;
};

static_assert(sizeof(Integer) == 8,
              "the unsigned-long library exists where that integer is 64 bits");
static_assert(sizeof(Message) == 4176 && alignof(Message) == 8);
static_assert(offsetof(Message, RxStatus) == 8 && offsetof(Message, TxFlags) == 16);
static_assert(offsetof(Message, Timestamp) == 24 && offsetof(Message, DataSize) == 32);
static_assert(offsetof(Message, ExtraDataIndex) == 40 && offsetof(Message, Data) == 48);
static_assert(sizeof(Config) == 16 && offsetof(Config, Value) == 8);
static_assert(sizeof(ConfigList) == 16 && offsetof(ConfigList, ConfigPtr) == 8);

// The bytes of a message's Data that its DataSize covers (all of them where it claims more).
constexpr std::size_t dataBytesOf(Integer dataSize) {
    return static_cast<std::size_t>(std::min<Integer>(dataSize, sizeof PASSTHRU_MSG::Data));
}

// A 32-bit message into the unsigned-long layout, with dataBytes bytes of its Data.
inline void widen(const PASSTHRU_MSG& from, Message& to, std::size_t dataBytes) {
    to.ProtocolID = from.ProtocolID;
    to.RxStatus = from.RxStatus;
    to.TxFlags = from.TxFlags;
    to.Timestamp = from.Timestamp;
    to.DataSize = from.DataSize;
    to.ExtraDataIndex = from.ExtraDataIndex;
    std::memcpy(to.Data, from.Data, dataBytes);
}

// Whether a caller's integer fits the library's 32 bits.
constexpr bool fits(Integer value) {
    return value <= 0xFFFFFFFFul;
}

}  // namespace vtx::wide
