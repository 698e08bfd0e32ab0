// The minimum separation time (STmin) a flow control grants: the least gap the sender keeps
// between two consecutive frames, carried in one byte.
#pragma once

#include <cstdint>

#include "protocol/isotp/IsoTpTime.h"

namespace vtx::isotp {

// The gap an STmin byte stands for: 0x00-0x7F milliseconds, 0xF1-0xF9 100-900 microseconds.
// The reserved codes (0x80-0xF0, 0xFA-0xFF) are read as the longest gap, 127 ms.
Microseconds separationTimeFromCode(uint8_t code);

// How long the longest CAN frame occupies the bus at the bit rate (29-bit identifier, 8 data
// bytes and every stuff bit they may need: 160 bits), rounded up; zero for a rate of 0. A frame
// the device takes while another node's frame is on the wire goes out that much later at most,
// when it wins the arbitration that follows.
Microseconds longestFrameTime(uint32_t bitsPerSecond);

}  // namespace vtx::isotp
