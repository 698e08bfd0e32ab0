// Values that the PassThru operations' trace events read through the caller's pointers. A null
// pointer gives 0, so writing an event never reads through one.
#pragma once

#include <cstdint>

#include "base/J2534.h"
#include "protocol/ByteOrder.h"
#include "trace/TraceProvider.h"

namespace vtx::op {

inline constexpr char kEvent[] = "PassThru";
inline constexpr trace::Group kGroup = trace::Group::PassThru;

inline uint32_t valueAt(const uint32_t* p) {
    return p != nullptr ? *p : 0;
}

// The CAN identifier in a message's first four data bytes, most significant first.
inline uint32_t canIdOf(const PASSTHRU_MSG* msg) {
    return msg != nullptr ? readBigEndian32(msg->Data) : 0;
}

inline uint32_t txFlagsOf(const PASSTHRU_MSG* msg) {
    return msg != nullptr ? msg->TxFlags : 0;
}

}  // namespace vtx::op
