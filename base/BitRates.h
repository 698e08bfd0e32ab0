// The CAN bit rates the library offers a channel.
#pragma once

#include <cstdint>

namespace vtx {

// A channel's bit rate as the caller gives it, in bit/s: 125, 250, 500 or 1000 kbit/s.
inline bool isAdmittedChannelBitRate(uint32_t bitsPerSecond) {
    return bitsPerSecond == 125000 || bitsPerSecond == 250000 || bitsPerSecond == 500000 ||
           bitsPerSecond == 1000000;
}

}  // namespace vtx
