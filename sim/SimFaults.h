// Faults that a test arms on the simulated device, each for a number of transfers (or, for
// stalled reads, also for a span of time). The device consumes them as the transfers happen.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>

#include "sim/CanNode.h"
#include "sim/SimPacket.h"

namespace vtx::sim {

class SimFaults {
  public:
    // Write faults: the next count writes transfer nothing (0), or only part of their bytes:
    // keepBytes of them, or by default all but the last packet (half a packet when the write
    // is a single packet; the device discards a packet it did not receive whole).
    void failWrites(int count);
    void shortenWrites(int count, int keepBytes = -1);

    // Read faults: the next count reads, or every read until the time has passed, wait the IN
    // pipe's full timeout and return 0; the next read that returns data loses the second half
    // of its last packet.
    void stallReads(int count);
    void stallReadsFor(std::chrono::milliseconds duration);
    void truncateNextRead();

    // Firmware faults: the next identification reply carries 0x09 instead of 0x0A in its third
    // packet, or a checksum off by one; the next count received frames report the DLC nibble
    // dlc (9 to 15) instead of their own.
    void corruptNextIdentificationClass();
    void corruptNextIdentificationChecksum();
    void oversizeDlcOfNextFrames(int count, uint8_t dlc = 15);

    // Power trigger: the device loses power right after it has carried out a packet of class
    // packetClass (whose byte 1 is command, unless command is negative), once skip such packets
    // have gone before it. A test pins a phase of an operation by what the device has taken
    // rather than by time. It fires once.
    void unplugAfterPacket(uint8_t packetClass, int command = -1, int skip = 0);

    void clear();

    // Consumed by the device; true (or a value) when the fault applies to this transfer.
    bool takeWriteFailure();
    // The bytes a write of length keeps, when it is to be short.
    std::optional<int> takeShortWrite(int length);
    bool takeReadStall(SimClock::time_point now);
    bool takeReadTruncation();
    bool takeIdentificationClassFault();
    bool takeIdentificationChecksumFault();
    std::optional<uint8_t> takeOversizedDlc();
    // True when the power is to go now, after this packet.
    bool takeUnplugTrigger(const Packet& packet);

  private:
    struct UnplugTrigger {
        uint8_t packetClass = 0;
        int command = -1;
        int skip = 0;
    };

    static bool takeOne(int& count);

    std::mutex mutex_;  // guards every field below
    int failedWrites_ = 0;
    int shortWrites_ = 0;
    int shortWriteKeep_ = -1;
    int stalledReads_ = 0;
    SimClock::time_point stallUntil_{};
    bool truncateRead_ = false;
    bool identClassFault_ = false;
    bool identChecksumFault_ = false;
    int oversizedDlcFrames_ = 0;
    uint8_t oversizedDlc_ = 15;
    std::optional<UnplugTrigger> unplugTrigger_;
};

}  // namespace vtx::sim
