#pragma once

#include <cstdint>

namespace vtx {

// One message filter of a channel.
struct FilterRecord {
    uint32_t code = 0;        // the masked identifier must equal it
    uint32_t mask = 0;        // applied to the identifier before the comparison
    uint32_t filterType = 0;  // PASS_FILTER, BLOCK_FILTER or FLOW_CONTROL_FILTER
    // The identifier width the filter is for (its messages' CAN_29BIT_ID), so that a 29-bit
    // filter with a partial mask admits 29-bit frames.
    uint8_t idExt = 0;
    uint32_t id = 0;  // the filter ID handed to the caller
};

}  // namespace vtx
