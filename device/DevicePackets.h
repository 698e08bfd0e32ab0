// The 16-byte packets the library exchanges with the device: building and parsing them, with no
// transport and no state.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/CanFrame.h"
#include "device/CommParameters.h"

namespace vtx::packet {

inline constexpr int kSize = 16;
inline constexpr int kMaxTransferBytes = 131072;  // 8192 packets per pipe call
inline constexpr int kMaxTransferPackets = kMaxTransferBytes / kSize;

// Command classes (byte 0).
inline constexpr uint8_t kClassFrame = 0x01;
inline constexpr uint8_t kClassConfig = 0x04;
inline constexpr uint8_t kClassClear = 0x06;
inline constexpr uint8_t kClassFirmwareRequest = 0x07;
inline constexpr uint8_t kClassFirmwareReply = 0x08;
inline constexpr uint8_t kClassIdentRequest = 0x09;
inline constexpr uint8_t kClassIdentReply = 0x0A;
inline constexpr uint8_t kClassTermResistorReply = 0x0A;
inline constexpr uint8_t kClassTransferHeader = 0x0B;
inline constexpr uint8_t kClassOutputBusReply = 0x14;

// Configuration commands (byte 1 of class 4).
inline constexpr uint8_t kCmdEnable = 0x01;
inline constexpr uint8_t kCmdPin15ShortToGround = 0x02;
inline constexpr uint8_t kCmdPin15VoltageOff = 0x03;
inline constexpr uint8_t kCmdAuxValue = 0x04;
inline constexpr uint8_t kCmdDisable = 0x05;
inline constexpr uint8_t kCmdOutputBusProbe = 0x06;
inline constexpr uint8_t kCmdTermResistor = 0x09;
inline constexpr uint8_t kCmdTermResistorQuery = 0x0A;
inline constexpr uint8_t kCmdOutputBusQuery = 0x0B;

// Frame packet: class 1, packed identifier in bytes 1-4, DLC in byte 5, data in 6-13. The
// identifier uses the layout of the controller's identifier registers; a 29-bit identifier
// carries the two marker bits 0x10 and 0x08 in byte 2. Only bits 0-28 of idCan travel.
void packFrame(const CanFrame& frame, uint8_t* out);
// Byte 0 is not examined. A DLC above 8 keeps 8 data bytes: a record holds no more, and the
// packet holds no more.
CanFrame unpackFrame(const uint8_t* in);

// Transfer header: class 0x0B, sub, reply timeout (LE16), reply packets wanted (LE16),
// sequence number (BE16).
void buildTransferHeader(uint8_t* out, uint8_t sub, uint16_t timeoutMs, uint16_t replyPackets,
                         uint16_t sequence);

// The 32-byte identification block, assembled from the four reply packets (bytes 8-15 of each).
// False when a packet does not carry the identification class.
bool assembleIdentification(const uint8_t* reply64, uint8_t* block32);
bool identificationChecksumOk(const uint8_t* block32);
uint32_t identificationCustomer(const uint8_t* block32);  // bytes 25-26, big-endian
uint32_t identificationSerial(const uint8_t* block32);    // bytes 27-30, big-endian
inline constexpr std::size_t kProductCodeOffset = 20;

// The acceptance code and mask of the enable command, in the layout of a frame packet's
// identifier bytes read as one big-endian word (mask bit 1: not compared).
struct Acceptance {
    uint32_t code;
    uint32_t mask;
    bool open;  // every frame accepted
};
Acceptance acceptanceOf(const CommParameters& params);

// The 32-byte enable command: configuration packet with the bit timing, the acceptance filter and
// the output bus, followed by a clear packet.
inline constexpr int kEnableCommandSize = 32;
void buildEnableCommand(uint8_t* out, uint8_t btr0, uint8_t btr1, const CommParameters& params);

// A 16-byte command packet with up to three leading bytes.
void buildCommand(uint8_t* out, uint8_t cls, uint8_t cmd = 0, uint8_t arg = 0);

}  // namespace vtx::packet
