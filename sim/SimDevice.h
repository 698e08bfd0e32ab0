// The simulated USB-to-CAN device: its firmware. It takes the host's 16-byte packets from the
// OUT pipe (write), answers on the IN pipe (read), and runs a CAN controller on the virtual bus.
// The transports (USB pipes, device file) sit on top and add presence, handles and latency.
//
// Firmware behaviour:
// - A transfer header (class 0x0B) announces the next IN read: the read returns at most the
//   header's number of packets, command replies first, then received frames; with a reply
//   timeout of 0 at once with what the device holds, otherwise after waiting up to the timeout
//   (and at most the read's own limit) for frames until it has them all. A read without a
//   pending header returns what is held, waiting up to the read's limit for at least one frame.
//   A header also discards replies that no read collected since the previous header. A reply to
//   a write without a header ends the wait of a read under way, which returns it first.
// - Command replies in a write that carries a header echo that header's sequence number; in a
//   write without one, the pending header's.
// - Frames (class 1) go to the CAN controller; with its transmit buffer full, a write waits up
//   to SimDeviceOptions::transmitWait for room and then returns short: the bytes up to the first
//   frame not taken. Nothing after that frame in the same write is processed; the host offers
//   it again. Frames taken are sent in order, or (controller off, or at another bit rate than
//   the bus) dropped and counted.
// - Enable {0x04, 0x01, ...} programs and starts the controller (bytes 2 and 3 are not
//   examined); it joins the bus when its bit rate is within 0.5 % of the bus's. Its frames
//   come back in the order received, 29-bit ones with both marker bits (20 and 19) set.
// - Output-bus reply: 0x14, 0x0B, the number of output buses (2), the output bus of the last
//   enable, zeros, and in byte 15 the low byte of the sequence number. A single-bus device
//   sends none. The fallback probe {0x04, 0x06, 0x01} is answered with 16 zero bytes.
// - Clear {0x06} empties the receive buffer. The close form {0x06, 0x02} ends the host's
//   session: the receive buffer, a pending header and uncollected replies are discarded.
// - Filler (all-zero) packets are ignored; unknown packets are ignored and counted. Every packet
//   is kept in the packet log (the newest SimDeviceOptions::packetLogCapacity of them).
// - Unplugging is a power loss: controller off (frames waiting for the bus dropped and
//   counted), buffers emptied, pin 15 voltage off, termination resistor off, aux value 0, output
//   bus 0; a write under way stops at the next packet. A test can have the power go right after
//   the device has carried out a given packet (SimFaults::unplugAfterPacket); the write returns
//   the bytes up to and including it. The counters and the packet log are the
//   test's view and survive it.
//
// Identification block (32 bytes):
//   0-15  device name, ASCII, "VTX20 SIM DEVICE"
//   16-17 hardware revision, big-endian (0x0100: 1.0)
//   18    CAN controller clock in MHz (24)
//   19    number of output buses (2, or 1 in single-output-bus mode)
//   20-24 product code "VTX20"; 25-26 customer code 0x0001, big-endian;
//   27-30 serial number 1234, big-endian; 31 sum of bytes 0-30 modulo 256.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

#include "sim/SimCanController.h"
#include "sim/SimFaults.h"
#include "sim/SimPacket.h"
#include "sim/VirtualCanBus.h"

namespace vtx::sim {

struct SimDeviceOptions {
    std::size_t receiveCapacity = 4096;   // frames
    std::size_t transmitCapacity = 1024;  // frames waiting for the bus
    std::chrono::milliseconds transmitWait{200};
    std::size_t packetLogCapacity = 100'000;
};

enum class Pin15State : uint8_t { VoltageOff, ShortToGround };

// The device's state as a test reads it.
struct SimDeviceState {
    bool plugged = false;
    SimCanController::Status controller;
    uint8_t outputBus = 0;
    bool singleOutputBus = false;
    bool termResistor = false;
    Pin15State pin15 = Pin15State::VoltageOff;
    uint16_t auxValue = 0;
    uint64_t clears = 0;
    uint64_t closeForms = 0;
    uint64_t unknownPackets = 0;
    uint64_t packetsReceived = 0;  // every packet taken from the OUT pipe
};

class SimDevice {
  public:
    static constexpr std::array<char, 5> kProductCode{'V', 'T', 'X', '2', '0'};
    static constexpr uint16_t kCustomerCode = 0x0001;
    static constexpr uint32_t kSerialNumber = 1234;
    // Most significant component first: 2.1.10.15.
    static constexpr std::array<uint8_t, 4> kFirmwareVersion{2, 1, 10, 15};
    static constexpr int kIdentificationSize = 32;

    explicit SimDevice(VirtualCanBus& bus);
    SimDevice(VirtualCanBus& bus, const SimDeviceOptions& options);
    ~SimDevice();
    SimDevice(const SimDevice&) = delete;
    SimDevice& operator=(const SimDevice&) = delete;

    bool plugged() const;
    // Counts the unplugs: a handle opened in one power cycle is dead in the next.
    uint64_t powerCycle() const;
    // Plugged in, and not unplugged since the power cycle cycle began.
    bool poweredSince(uint64_t cycle) const;
    void unplug();
    void plug();

    // The OUT pipe: the bytes taken (whole packets are processed), 0 when unplugged.
    int write(const uint8_t* bytes, int length);
    // The IN pipe: returns within timeout; the bytes delivered, whole packets unless a fault
    // says otherwise.
    int read(uint8_t* bytes, int length, std::chrono::milliseconds timeout);

    // Writes that carry frames and begin before the time has passed wait until then, or until
    // the power goes or the hold is released; other writes go on meanwhile. A test holds the
    // host's transmitting thread this way. The count is of the writes held since the last hold.
    void holdFrameWritesFor(std::chrono::milliseconds duration);
    void releaseFrameWrites();
    uint64_t heldFrameWrites() const;

    // A device with a single output bus does not answer the output-bus query.
    void setSingleOutputBus(bool single);
    std::array<uint8_t, kIdentificationSize> identificationBlock() const;

    SimFaults& faults() { return faults_; }
    SimDeviceState state() const;
    std::vector<Packet> receivedPackets() const;
    void clearReceivedPackets();

  private:
    struct TransferHeader {
        uint16_t timeoutMs = 0;
        uint16_t replyPackets = 0;
        uint16_t sequence = 0;
    };
    // What a read returns and how long it may wait for frames.
    struct ReadPlan {
        std::size_t packets = 0;
        std::size_t framesAwaited = 0;  // wait until this many frames are held (0: no wait)
        SimClock::time_point until;
        uint64_t readerWakes = 0;  // the controller's count when the read began
    };

    static TransferHeader parseHeader(const Packet& packet);
    std::optional<uint16_t> beginTransfer(const std::vector<Packet>& packets);
    std::size_t sendFrames(const std::vector<Packet>& packets, std::size_t first,
                           SimClock::time_point deadline);
    bool handlePacket(const Packet& packet, uint16_t sequence);
    void handleConfig(const Packet& packet, uint16_t sequence);
    void handleClear(const Packet& packet);
    void enableController(const Packet& packet);
    std::optional<std::size_t> unplugIfTriggered(const std::vector<Packet>& packets,
                                                 std::size_t first, std::size_t end);
    void logPacket(const Packet& packet);
    void queueIdentification();
    void queueFirmwareVersion();
    void queueReply(const Packet& packet);
    std::array<uint8_t, kIdentificationSize> identificationBlockLocked() const;

    ReadPlan planRead(std::size_t capacity, SimClock::time_point start, SimClock::time_point limit,
                      std::vector<Packet>& out);
    void takeReplies(std::size_t max, std::vector<Packet>& out);
    void takeRepliesLocked(std::size_t max, std::vector<Packet>& out);
    void appendFrames(std::size_t max, std::vector<Packet>& out);
    void waitForPowerLoss(SimClock::time_point deadline);
    void waitWhileFrameWritesHeld();
    void powerDown();

    const SimDeviceOptions options_;
    SimCanController controller_;
    SimFaults faults_;
    std::mutex outPipe_;  // one write at a time, in order

    mutable std::mutex mutex_;  // guards every field below
    std::condition_variable powerChanged_;
    bool plugged_ = true;
    uint64_t powerCycle_ = 0;
    uint64_t writeCycle_ = 0;          // the power cycle the current write began in
    bool writeCarriesHeader_ = false;  // the current write has a transfer header
    std::optional<TransferHeader> pendingHeader_;
    std::deque<Packet> replies_;
    uint8_t outputBus_ = 0;
    bool singleOutputBus_ = false;
    bool termResistor_ = false;
    Pin15State pin15_ = Pin15State::VoltageOff;
    uint16_t auxValue_ = 0;
    uint64_t clears_ = 0;
    uint64_t closeForms_ = 0;
    uint64_t unknownPackets_ = 0;
    uint64_t packetsReceived_ = 0;
    std::deque<Packet> packetLog_;
    SimClock::time_point frameWritesHeldUntil_{};
    uint64_t heldFrameWrites_ = 0;
};

}  // namespace vtx::sim
