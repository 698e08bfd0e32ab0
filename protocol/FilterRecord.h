#pragma once

#include <cstdint>

#include "base/CanFrame.h"

namespace vtx {

// One message filter of a channel. A frame matches it when the frame's identifier width is one
// the filter applies to, its identifier under the mask equals the code, and its first data byte
// under dataMask equals dataCode.
struct FilterRecord {
    // The identifier widths, as bits of widths.
    static constexpr uint8_t kStandardIds = 1;  // 11-bit identifiers
    static constexpr uint8_t kExtendedIds = 2;  // 29-bit identifiers
    static constexpr uint8_t kBothIds = kStandardIds | kExtendedIds;

    uint32_t code = 0;        // the masked identifier must equal it
    uint32_t mask = 0;        // applied to the identifier; cut to identifierBits()
    uint32_t filterType = 0;  // PASS_FILTER, BLOCK_FILTER or FLOW_CONTROL_FILTER
    uint32_t id = 0;          // the filter ID handed to the caller
    // The identifier widths the filter applies to, fixed when it is added from its messages'
    // TxFlags and RxStatus and the channel's connect flags; none when those name different
    // widths.
    uint8_t widths = kStandardIds;
    // Applied to the frame's first data byte, which must then equal dataCode. 0 when the filter
    // has no data byte: then nothing is compared, and a frame without data bytes matches; a mask
    // other than 0 needs a frame with a data byte.
    uint8_t dataMask = 0;
    uint8_t dataCode = 0;

    bool appliesToWidthOf(const CanFrame& frame) const {
        return (widths & (frame.idExt != 0 ? kExtendedIds : kStandardIds)) != 0;
    }
    // The identifier bits of the widest width the filter applies to.
    uint32_t identifierBits() const {
        return (widths & kExtendedIds) != 0 ? kCanIdMask29 : kCanIdMask11;
    }
};

}  // namespace vtx
