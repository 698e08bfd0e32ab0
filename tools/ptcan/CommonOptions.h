// The options every command that connects takes: the bit rate and whether identifiers are
// 29-bit.
#pragma once

#include <cstdint>

namespace ptcan {

struct CommonOptions {
    uint32_t bitrate = 500000;
    bool extended = false;
};

}  // namespace ptcan
