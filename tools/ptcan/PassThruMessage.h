// Conversions between the tool's frames and payloads and J2534 messages, whose first four data
// bytes carry the identifier, big-endian.
#pragma once

#include <cstdint>
#include <vector>

#include "base/J2534.h"
#include "tools/ptcan/Frame.h"

namespace ptcan {

class PassThruMessage {
  public:
    static constexpr uint32_t kIdBytes = 4;

    // A raw CAN message for the frame.
    static PASSTHRU_MSG fromFrame(const Frame& frame);
    // The frame a raw CAN message carries (its width from RxStatus or TxFlags).
    static Frame toFrame(const PASSTHRU_MSG& msg);

    // An ISO 15765 message: identifier and payload (up to 4095 bytes).
    static PASSTHRU_MSG iso15765(uint32_t id, bool extended, const std::vector<uint8_t>& payload,
                                 uint32_t txFlags);
    // What follows the identifier.
    static std::vector<uint8_t> payload(const PASSTHRU_MSG& msg);
    static uint32_t id(const PASSTHRU_MSG& msg);
};

}  // namespace ptcan
