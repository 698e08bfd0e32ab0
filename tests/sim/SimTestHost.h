// The host side of the simulated device's packet protocol, written from the packet tables for
// the tests of the device (independently of the library's own packet code, so that the two
// check each other).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "sim/SimConfig.h"
#include "sim/SimPacket.h"
#include "sim/SimPipeTransport.h"

namespace vtx::sim::test {

using std::chrono::milliseconds;

// BTR0/BTR1 at the 24 MHz controller clock: 16 quanta per bit, sample point 812 per mille.
inline constexpr uint8_t kBtr1At16Quanta = 0x2B;
inline constexpr uint8_t kBtr0At500k = 0x02;
inline constexpr uint8_t kBtr0At250k = 0x05;

inline Packet makePacket(std::initializer_list<uint8_t> bytes) {
    Packet packet{};
    std::size_t i = 0;
    for (uint8_t byte : bytes) {
        packet.at(i++) = byte;
    }
    return packet;
}

inline Packet transferHeader(uint16_t replyPackets, uint16_t timeoutMs, uint16_t sequence) {
    return makePacket({0x0B, 0x00, static_cast<uint8_t>(timeoutMs),
                       static_cast<uint8_t>(timeoutMs >> 8), static_cast<uint8_t>(replyPackets),
                       static_cast<uint8_t>(replyPackets >> 8), static_cast<uint8_t>(sequence >> 8),
                       static_cast<uint8_t>(sequence)});
}

// A frame packet as the host writes it.
inline Packet hostFrame(uint32_t id, bool extended, std::vector<uint8_t> data) {
    Packet packet{};
    packet[0] = 0x01;
    if (extended) {
        packet[1] = static_cast<uint8_t>(id >> 21);
        packet[2] = static_cast<uint8_t>((((id >> 18) & 0x07) << 5) | 0x18 | ((id >> 15) & 0x07));
        packet[3] = static_cast<uint8_t>(id >> 7);
        packet[4] = static_cast<uint8_t>((id & 0x7F) << 1);
    } else {
        packet[1] = static_cast<uint8_t>(id >> 3);
        packet[2] = static_cast<uint8_t>((id & 0x07) << 5);
    }
    packet[5] = static_cast<uint8_t>(data.size());
    for (std::size_t i = 0; i < data.size() && i < 8; ++i) {
        packet[6 + i] = data[i];
    }
    return packet;
}

// The identifier of a frame packet as the host reads it.
inline uint32_t hostIdentifier(const Packet& packet, bool* extended = nullptr) {
    const bool ext = (packet[2] & 0x08) != 0;
    if (extended != nullptr) {
        *extended = ext;
    }
    if (!ext) {
        return (uint32_t{packet[1]} << 3) | (packet[2] >> 5);
    }
    return (uint32_t{packet[1]} << 21) | (uint32_t{packet[2] & 0xE0u} << 13) |
           (uint32_t{packet[2] & 0x07u} << 15) | (uint32_t{packet[3]} << 7) | (packet[4] >> 1);
}

inline CanFrame canFrame(uint32_t id, bool extended, std::vector<uint8_t> data) {
    CanFrame frame;
    frame.id = id;
    frame.extended = extended;
    frame.dlc = static_cast<uint8_t>(data.size());
    for (std::size_t i = 0; i < data.size(); ++i) {
        frame.data[i] = data[i];
    }
    return frame;
}

inline uint32_t be32(const Packet& packet, int offset) {
    return (uint32_t{packet[offset]} << 24) | (uint32_t{packet[offset + 1]} << 16) |
           (uint32_t{packet[offset + 2]} << 8) | packet[offset + 3];
}

// A setup with nothing on the bus but the device, and no USB latency unless a test wants it.
inline SimConfig quietConfig() {
    SimConfig config;
    config.ecu = false;
    config.usbLatency = std::chrono::microseconds(0);
    return config;
}

// Talks to the device through an opened pipe transport, as the library would.
class Host {
  public:
    explicit Host(PipeTransport& transport) : transport_(transport) {}

    bool open() { return transport_.open(SimPipeTransport::kDevicePath); }

    int write(const std::vector<Packet>& packets) {
        std::vector<uint8_t> bytes;
        for (const Packet& packet : packets) {
            bytes.insert(bytes.end(), packet.begin(), packet.end());
        }
        return transport_.writePipe(bytes.data(), static_cast<int>(bytes.size()));
    }

    // One IN read of room for maxPackets; the whole packets delivered, and the byte count.
    std::vector<Packet> read(int maxPackets, int* bytesRead = nullptr) {
        std::vector<uint8_t> bytes(static_cast<std::size_t>(maxPackets) * kPacketSize);
        const int got = transport_.readPipe(bytes.data(), static_cast<int>(bytes.size()));
        if (bytesRead != nullptr) {
            *bytesRead = got;
        }
        std::vector<Packet> packets(static_cast<std::size_t>(std::max(got, 0) / kPacketSize));
        for (std::size_t i = 0; i < packets.size(); ++i) {
            std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(i * kPacketSize), kPacketSize,
                        packets[i].begin());
        }
        return packets;
    }

    // A header asking for replyPackets packets, with the payload after it (or before it with
    // trailer), then one read.
    std::vector<Packet> transfer(const std::vector<Packet>& payload, uint16_t replyPackets,
                                 uint16_t timeoutMs = 0, bool trailer = false,
                                 uint16_t* sequenceUsed = nullptr) {
        std::vector<Packet> packets = payload;
        const Packet header = transferHeader(replyPackets, timeoutMs, sequence_);
        if (sequenceUsed != nullptr) {
            *sequenceUsed = sequence_;
        }
        ++sequence_;
        if (trailer) {
            packets.push_back(header);
        } else {
            packets.insert(packets.begin(), header);
        }
        const int expected = static_cast<int>(packets.size()) * kPacketSize;
        if (write(packets) != expected) {
            return {};
        }
        return read(replyPackets);
    }

    // The 32-byte enable command followed by nothing else.
    int enable(uint8_t btr0, uint8_t btr1, bool open, uint32_t code, uint32_t mask,
               uint8_t bus = 0) {
        Packet first =
            makePacket({0x04, 0x01, 0x00, 0x01, btr0, btr1, open ? uint8_t{0x30} : uint8_t{0}});
        for (int i = 0; i < 4; ++i) {
            first[7 + i] = static_cast<uint8_t>(code >> (24 - 8 * i));
            first[11 + i] = static_cast<uint8_t>(mask >> (24 - 8 * i));
        }
        first[15] = bus;
        return write({first, makePacket({0x06})});
    }
    int enableOpen(uint8_t btr0 = kBtr0At500k) { return enable(btr0, kBtr1At16Quanta, true, 0, 0); }

    void setSequence(uint16_t sequence) { sequence_ = sequence; }

  private:
    PipeTransport& transport_;
    uint16_t sequence_ = 0x0100;
};

}  // namespace vtx::sim::test
