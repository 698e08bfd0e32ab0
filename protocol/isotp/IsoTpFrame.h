// The four ISO-TP frame types as records, and their translation from and to CAN frames, for
// normal addressing (protocol control information in byte 0) and extended addressing (an
// address byte first, the protocol control information in byte 1).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <variant>

#include "base/CanFrame.h"
#include "protocol/isotp/FramePadding.h"
#include "protocol/isotp/IsoTpAddress.h"

namespace vtx::isotp {

// The largest message a first frame announces with its 12-bit length.
inline constexpr std::size_t kMaxMessageLength = 4095;
// Consecutive frames count 1, 2, ... 15, 0, 1, ...: the first after a first frame is 1.
inline constexpr uint8_t kFirstSequenceNumber = 1;
inline constexpr uint8_t kSequenceNumberModulus = 16;

// The payload bytes one frame carries, copied out of it.
struct FrameBytes {
    std::array<uint8_t, kCanFrameBytes> bytes{};
    std::size_t length = 0;

    std::span<const uint8_t> view() const { return {bytes.data(), length}; }
};

struct SingleFrame {
    FrameBytes data;  // the whole message
};

struct FirstFrame {
    uint16_t messageLength = 0;  // of the whole message
    FrameBytes data;             // its first bytes
};

struct ConsecutiveFrame {
    uint8_t sequenceNumber = 0;  // 0 to 15
    FrameBytes data;             // every byte after the PCI, padding of a last frame included
};

enum class FlowStatus : uint8_t {
    ClearToSend = 0,
    Wait = 1,
    Overflow = 2,
    Reserved = 0xFF,  // any other status a received flow control carries
};

struct FlowControl {
    FlowStatus status = FlowStatus::ClearToSend;
    uint8_t blockSize = 0;           // consecutive frames before the next flow control; 0: all
    uint8_t separationTimeCode = 0;  // STmin as sent (SeparationTime.h)
};

using FrameContent = std::variant<SingleFrame, FirstFrame, ConsecutiveFrame, FlowControl>;

struct DecodedFrame {
    FrameContent content;
    PaddingCheck padding = PaddingCheck::Fine;
};

// The ISO-TP frame a CAN frame holds, when it is addressed to address and well formed. Frames
// the receiving side ignores give nothing: another address, an unknown PCI type, a single frame
// whose length is 0, too long for the frame or too long for a single frame, a first frame
// shorter than 8 bytes or announcing a length a single frame could carry (or the escape length
// 0), a consecutive frame without data, a flow control shorter than its 3 bytes.
std::optional<DecodedFrame> decodeFrame(const CanFrame& frame, const IsoTpAddress& address,
                                        PaddingMode expected);

// Frames to address. The payload spans must fit the frame type (IsoTpAddress tells how much);
// bytes beyond that are left out.
CanFrame buildSingleFrame(const IsoTpAddress& address, std::span<const uint8_t> message,
                          const FramePadding& padding);
CanFrame buildFirstFrame(const IsoTpAddress& address, uint16_t messageLength,
                         std::span<const uint8_t> leadingBytes, const FramePadding& padding);
CanFrame buildConsecutiveFrame(const IsoTpAddress& address, uint8_t sequenceNumber,
                               std::span<const uint8_t> bytes, const FramePadding& padding);
CanFrame buildFlowControl(const IsoTpAddress& address, const FlowControl& flowControl,
                          const FramePadding& padding);

}  // namespace vtx::isotp
