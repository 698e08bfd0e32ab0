// The address of one side of an ISO-TP link: the CAN identifier its frames carry and, with
// extended addressing, the address byte that comes before the protocol control information.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "base/CanFrame.h"

namespace vtx::isotp {

enum class CanIdWidth : uint8_t { Standard11, Extended29 };

// Data bytes of a classic CAN frame.
inline constexpr std::size_t kCanFrameBytes = 8;

// The identifier part of a J2534 ISO15765 message: the CAN identifier in 4 bytes, most
// significant first, then the address byte when extended addressing is on.
inline constexpr std::size_t kNormalHeaderLength = 4;
inline constexpr std::size_t kExtendedHeaderLength = 5;

struct IsoTpAddress {
    uint32_t canId = 0;
    CanIdWidth width = CanIdWidth::Standard11;
    std::optional<uint8_t> extendedAddress;  // set: extended addressing, this byte first

    // The address a J2534 message header names. flags are the message's TxFlags (or a filter's
    // or channel's flags): CAN_29BIT_ID selects the width, ISO15765_ADDR_TYPE extended
    // addressing. header must hold headerLength(flags) bytes.
    static IsoTpAddress fromMessageHeader(std::span<const uint8_t> header, uint32_t flags);
    // 4, or 5 with extended addressing.
    static std::size_t headerLength(uint32_t flags);

    // Where the protocol control information starts in a frame: 0, or 1 with extended addressing.
    std::size_t pciOffset() const;
    // Payload bytes a single frame carries at most: 7, or 6 with extended addressing.
    std::size_t maxSingleFrameLength() const;
    // Payload bytes in a first frame: 6, or 5 with extended addressing.
    std::size_t firstFrameDataLength() const;
    // Payload bytes a consecutive frame carries at most: 7, or 6 with extended addressing.
    std::size_t consecutiveFrameDataLength() const;

    // Whether the frame was sent to this address: same identifier and width and, with extended
    // addressing, the same first byte. A loopback copy (echo marker set) never is.
    bool carries(const CanFrame& frame) const;
    // A frame to this address holding only the address byte (if any), ready for the PCI.
    CanFrame emptyFrame() const;
};

}  // namespace vtx::isotp
