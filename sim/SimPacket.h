// The 16-byte packets of the simulated device, seen from the device's side: their classes, and
// the frame packet with its packed identifier.
#pragma once

#include <array>
#include <cstdint>

#include "sim/CanFrame.h"

namespace vtx::sim {

inline constexpr int kPacketSize = 16;
using Packet = std::array<uint8_t, kPacketSize>;

// Byte 0 of a packet.
enum class PacketClass : uint8_t {
    Filler = 0x00,  // all-zero packet, put by the host in front of deferred frames
    Frame = 0x01,
    Config = 0x04,
    Clear = 0x06,
    FirmwareRequest = 0x07,
    FirmwareReply = 0x08,
    IdentRequest = 0x09,
    IdentReply = 0x0A,  // also the termination-resistor reply
    TransferHeader = 0x0B,
    OutputBusReply = 0x14,
};

// Byte 1 of a configuration packet (class 0x04).
enum class ConfigCommand : uint8_t {
    Enable = 0x01,
    Pin15ShortToGround = 0x02,
    Pin15VoltageOff = 0x03,
    AuxValue = 0x04,
    Disable = 0x05,
    OutputBusProbe = 0x06,
    TermResistorSet = 0x09,
    TermResistorQuery = 0x0A,
    OutputBusQuery = 0x0B,
};

// Marker bits of a 29-bit identifier in the packed identifier word (bytes 1 to 4 of a frame
// packet read big-endian). The device sets both when it sends; on receive only kExtendedBit
// decides.
inline constexpr uint32_t kExtendedBit = 1u << 19;
inline constexpr uint32_t kSubstituteRemoteBit = 1u << 20;

// The packed identifier word the device sends for a frame: an 11-bit identifier in bits 31 to
// 21; a 29-bit identifier with its bits 28 to 18 in bits 31 to 21, bits 20 and 19 set, its bits
// 17 to 0 in bits 18 to 1.
uint32_t packedIdentifierWord(const CanFrame& frame);

// The frame packet the device sends for a received frame, with the given DLC nibble (the
// frame's DLC unless a test asks for another).
Packet packFrame(const CanFrame& frame, uint8_t dlcNibble);
inline Packet packFrame(const CanFrame& frame) {
    return packFrame(frame, frame.dlc);
}

// A frame packet from the host: bit 3 of byte 2 selects the 29-bit layout (bit 4 of byte 2 and
// bit 0 of byte 4 are ignored); the DLC is the low nibble of byte 5, clamped to 8; data bytes
// beyond the DLC are zero in the result.
CanFrame unpackFrame(const Packet& packet);

uint16_t readLe16(const uint8_t* bytes);
uint32_t readBe32(const uint8_t* bytes);

}  // namespace vtx::sim
