// The minimum separation time (STmin) a flow control grants: the least gap the sender keeps
// between two consecutive frames, carried in one byte.
#pragma once

#include <cstdint>

#include "protocol/isotp/IsoTpTime.h"

namespace vtx::isotp {

// The gap an STmin byte stands for: 0x00-0x7F milliseconds, 0xF1-0xF9 100-900 microseconds.
// The reserved codes (0x80-0xF0, 0xFA-0xFF) are read as the longest gap, 127 ms.
Microseconds separationTimeFromCode(uint8_t code);

}  // namespace vtx::isotp
