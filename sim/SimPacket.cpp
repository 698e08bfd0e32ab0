#include "sim/SimPacket.h"

#include <algorithm>

namespace vtx::sim {

namespace {
constexpr int kIdWordOffset = 1;
constexpr int kDlcOffset = 5;
constexpr int kDataOffset = 6;
constexpr uint8_t kMaxDlc = 8;

void writeBe32(uint8_t* bytes, uint32_t value) {
    bytes[0] = static_cast<uint8_t>(value >> 24);
    bytes[1] = static_cast<uint8_t>(value >> 16);
    bytes[2] = static_cast<uint8_t>(value >> 8);
    bytes[3] = static_cast<uint8_t>(value);
}
}  // namespace

uint16_t readLe16(const uint8_t* bytes) {
    return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}

uint32_t readBe32(const uint8_t* bytes) {
    return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
           uint32_t{bytes[3]};
}

uint32_t packedIdentifierWord(const CanFrame& frame) {
    if (!frame.extended) {
        return (frame.id & 0x7FFu) << 21;
    }
    const uint32_t high = (frame.id >> 18) & 0x7FFu;
    const uint32_t low = frame.id & 0x3FFFFu;
    return (high << 21) | kSubstituteRemoteBit | kExtendedBit | (low << 1);
}

Packet packFrame(const CanFrame& frame, uint8_t dlcNibble) {
    Packet packet{};
    packet[0] = static_cast<uint8_t>(PacketClass::Frame);
    writeBe32(&packet[kIdWordOffset], packedIdentifierWord(frame));
    packet[kDlcOffset] = dlcNibble & 0x0F;
    const uint8_t count = std::min(frame.dlc, kMaxDlc);
    std::copy_n(frame.data.begin(), count, packet.begin() + kDataOffset);
    return packet;
}

CanFrame unpackFrame(const Packet& packet) {
    CanFrame frame;
    const uint32_t word = readBe32(&packet[kIdWordOffset]);
    frame.extended = (word & kExtendedBit) != 0;
    if (frame.extended) {
        frame.id = ((word >> 21) << 18) | ((word >> 1) & 0x3FFFFu);
    } else {
        frame.id = word >> 21;
    }
    frame.dlc = std::min<uint8_t>(packet[kDlcOffset] & 0x0F, kMaxDlc);
    std::copy_n(packet.begin() + kDataOffset, frame.dlc, frame.data.begin());
    return frame;
}

}  // namespace vtx::sim
