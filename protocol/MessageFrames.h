// Conversion between J2534 CAN messages and the library's frame records.
#pragma once

#include <cstdint>

#include "base/CanFrame.h"
#include "base/J2534.h"

namespace vtx {

// Whether a frame built from a message carries the echo marker: the loopback copy of a message
// sent while loopback is on does.
enum class EchoMarker : uint8_t { Without, With };

// The frame a CAN message becomes: identifier from data bytes 0-3, most significant first (with
// the echo marker when asked), width from CAN_29BIT_ID, DataSize - 4 data bytes (at most 8).
CanFrame frameFromMessage(const PASSTHRU_MSG& msg, EchoMarker marker);

}  // namespace vtx
