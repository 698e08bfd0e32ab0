#include "protocol/isotp/IsoTpAddress.h"

#include "base/J2534.h"
#include "protocol/ByteOrder.h"

namespace vtx::isotp {

namespace {

// Bytes of protocol control information in each frame type.
constexpr std::size_t kSingleFramePciLength = 1;
constexpr std::size_t kFirstFramePciLength = 2;
constexpr std::size_t kConsecutiveFramePciLength = 1;

constexpr std::size_t kExtendedAddressPosition = 4;

}  // namespace

IsoTpAddress IsoTpAddress::fromMessageHeader(std::span<const uint8_t> header, uint32_t flags) {
    IsoTpAddress address;
    address.canId = readBigEndian32(header.data());
    address.width = (flags & CAN_29BIT_ID) ? CanIdWidth::Extended29 : CanIdWidth::Standard11;
    if (flags & ISO15765_ADDR_TYPE) {
        address.extendedAddress = header[kExtendedAddressPosition];
    }
    return address;
}

std::size_t IsoTpAddress::headerLength(uint32_t flags) {
    return (flags & ISO15765_ADDR_TYPE) ? kExtendedHeaderLength : kNormalHeaderLength;
}

std::size_t IsoTpAddress::pciOffset() const {
    return extendedAddress ? 1 : 0;
}

std::size_t IsoTpAddress::maxSingleFrameLength() const {
    return kCanFrameBytes - pciOffset() - kSingleFramePciLength;
}

std::size_t IsoTpAddress::firstFrameDataLength() const {
    return kCanFrameBytes - pciOffset() - kFirstFramePciLength;
}

std::size_t IsoTpAddress::consecutiveFrameDataLength() const {
    return kCanFrameBytes - pciOffset() - kConsecutiveFramePciLength;
}

bool IsoTpAddress::carries(const CanFrame& frame) const {
    const uint8_t frameWidth = (width == CanIdWidth::Extended29) ? 1 : 0;
    if (frame.idCan != canId || frame.idExt != frameWidth) {
        return false;
    }
    if (!extendedAddress) {
        return true;
    }
    return frame.lenDataCan > 0 && frame.dataCan[0] == *extendedAddress;
}

CanFrame IsoTpAddress::emptyFrame() const {
    CanFrame frame{};
    frame.idCan = canId;
    frame.idExt = (width == CanIdWidth::Extended29) ? 1 : 0;
    if (extendedAddress) {
        frame.dataCan[0] = *extendedAddress;
        frame.lenDataCan = 1;
    }
    return frame;
}

}  // namespace vtx::isotp
