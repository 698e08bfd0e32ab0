#include "protocol/isotp/IsoTpFrame.h"

#include <algorithm>

// GCC 12 at -O2 takes the frame records moved into the variant below, fully initialised, for
// ones that may be used uninitialised: a known false positive of its variant storage.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace vtx::isotp {

namespace {

// The high nibble of the first PCI byte names the frame type.
enum class PciType : uint8_t {
    SingleFrame = 0x0,
    FirstFrame = 0x1,
    ConsecutiveFrame = 0x2,
    FlowControl = 0x3,
};

constexpr uint8_t kLowNibble = 0x0F;
constexpr unsigned kTypeShift = 4;
constexpr unsigned kByteShift = 8;
constexpr std::size_t kFirstFramePciLength = 2;
constexpr std::size_t kFlowControlLength = 3;
constexpr uint8_t kHighestFlowStatus = static_cast<uint8_t>(FlowStatus::Overflow);

uint8_t pciByte(PciType type, uint8_t lowNibble) {
    return static_cast<uint8_t>((static_cast<uint8_t>(type) << kTypeShift) |
                                (lowNibble & kLowNibble));
}

// The bytes of frame from position first to its end.
FrameBytes copyBytes(const CanFrame& frame, std::size_t first) {
    FrameBytes out;
    if (frame.lenDataCan > first) {
        out.length = frame.lenDataCan - first;
        std::copy_n(frame.dataCan + first, out.length, out.bytes.begin());
    }
    return out;
}

std::optional<FrameContent> decodeSingleFrame(const CanFrame& frame, const IsoTpAddress& address) {
    const std::size_t pci = address.pciOffset();
    const std::size_t length = frame.dataCan[pci] & kLowNibble;
    const std::size_t available = frame.lenDataCan - pci - 1;
    if (length == 0 || length > address.maxSingleFrameLength() || length > available) {
        return std::nullopt;
    }
    SingleFrame single{copyBytes(frame, pci + 1)};
    single.data.length = length;
    return single;
}

std::optional<FrameContent> decodeFirstFrame(const CanFrame& frame, const IsoTpAddress& address) {
    const std::size_t pci = address.pciOffset();
    if (frame.lenDataCan < kCanFrameBytes) {
        return std::nullopt;
    }
    const auto length = static_cast<uint16_t>(((frame.dataCan[pci] & kLowNibble) << kByteShift) |
                                              frame.dataCan[pci + 1]);
    if (length <= address.maxSingleFrameLength()) {
        return std::nullopt;
    }
    return FirstFrame{length, copyBytes(frame, pci + kFirstFramePciLength)};
}

std::optional<FrameContent> decodeConsecutiveFrame(const CanFrame& frame,
                                                   const IsoTpAddress& address) {
    const std::size_t pci = address.pciOffset();
    ConsecutiveFrame consecutive{static_cast<uint8_t>(frame.dataCan[pci] & kLowNibble),
                                 copyBytes(frame, pci + 1)};
    if (consecutive.data.length == 0) {
        return std::nullopt;
    }
    return consecutive;
}

std::optional<FrameContent> decodeFlowControl(const CanFrame& frame, const IsoTpAddress& address) {
    const std::size_t pci = address.pciOffset();
    if (frame.lenDataCan < pci + kFlowControlLength) {
        return std::nullopt;
    }
    const uint8_t status = frame.dataCan[pci] & kLowNibble;
    FlowControl flowControl;
    flowControl.status =
        status <= kHighestFlowStatus ? static_cast<FlowStatus>(status) : FlowStatus::Reserved;
    flowControl.blockSize = frame.dataCan[pci + 1];
    flowControl.separationTimeCode = frame.dataCan[pci + 2];
    return flowControl;
}

std::optional<FrameContent> decodeContent(const CanFrame& frame, const IsoTpAddress& address) {
    switch (static_cast<PciType>(frame.dataCan[address.pciOffset()] >> kTypeShift)) {
        case PciType::SingleFrame:
            return decodeSingleFrame(frame, address);
        case PciType::FirstFrame:
            return decodeFirstFrame(frame, address);
        case PciType::ConsecutiveFrame:
            return decodeConsecutiveFrame(frame, address);
        case PciType::FlowControl:
            return decodeFlowControl(frame, address);
    }
    return std::nullopt;
}

// Appends bytes after what frame holds, then pads it to 8 bytes when padding is on.
CanFrame finishFrame(CanFrame frame, std::span<const uint8_t> bytes, const FramePadding& padding) {
    const std::size_t room = kCanFrameBytes - frame.lenDataCan;
    const std::size_t count = std::min(room, bytes.size());
    std::copy_n(bytes.begin(), count, frame.dataCan + frame.lenDataCan);
    frame.lenDataCan = static_cast<uint8_t>(frame.lenDataCan + count);
    if (padding.mode == PaddingMode::On) {
        std::fill(frame.dataCan + frame.lenDataCan, frame.dataCan + kCanFrameBytes, padding.fill);
        frame.lenDataCan = kCanFrameBytes;
    }
    return frame;
}

// A frame to address holding the address byte (if any) and the given PCI bytes.
CanFrame frameWithPci(const IsoTpAddress& address, std::span<const uint8_t> pci) {
    return finishFrame(address.emptyFrame(), pci, FramePadding{});
}

}  // namespace

std::optional<DecodedFrame> decodeFrame(const CanFrame& frame, const IsoTpAddress& address,
                                        PaddingMode expected) {
    if (!address.carries(frame) || frame.lenDataCan > kCanFrameBytes ||
        frame.lenDataCan <= address.pciOffset()) {
        return std::nullopt;
    }
    std::optional<FrameContent> content = decodeContent(frame, address);
    if (!content) {
        return std::nullopt;
    }
    const bool isShort = expected == PaddingMode::On && frame.lenDataCan < kCanFrameBytes;
    return DecodedFrame{std::move(*content), isShort ? PaddingCheck::Short : PaddingCheck::Fine};
}

CanFrame buildSingleFrame(const IsoTpAddress& address, std::span<const uint8_t> message,
                          const FramePadding& padding) {
    const std::size_t length = std::min(message.size(), address.maxSingleFrameLength());
    const uint8_t pci[] = {pciByte(PciType::SingleFrame, static_cast<uint8_t>(length))};
    return finishFrame(frameWithPci(address, pci), message.first(length), padding);
}

CanFrame buildFirstFrame(const IsoTpAddress& address, uint16_t messageLength,
                         std::span<const uint8_t> leadingBytes, const FramePadding& padding) {
    const uint8_t pci[] = {
        pciByte(PciType::FirstFrame, static_cast<uint8_t>(messageLength >> kByteShift)),
        static_cast<uint8_t>(messageLength)};
    return finishFrame(frameWithPci(address, pci), leadingBytes, padding);
}

CanFrame buildConsecutiveFrame(const IsoTpAddress& address, uint8_t sequenceNumber,
                               std::span<const uint8_t> bytes, const FramePadding& padding) {
    const uint8_t pci[] = {pciByte(PciType::ConsecutiveFrame, sequenceNumber)};
    return finishFrame(frameWithPci(address, pci), bytes, padding);
}

CanFrame buildFlowControl(const IsoTpAddress& address, const FlowControl& flowControl,
                          const FramePadding& padding) {
    const uint8_t bytes[] = {
        pciByte(PciType::FlowControl, static_cast<uint8_t>(flowControl.status)),
        flowControl.blockSize, flowControl.separationTimeCode};
    return finishFrame(address.emptyFrame(), bytes, padding);
}

}  // namespace vtx::isotp
