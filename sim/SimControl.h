// What a test does to a simulated setup: put frames on the bus and watch it, pull the plug,
// make the device's transfers or replies go wrong, and read the device's state.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "sim/SimDevice.h"
#include "sim/SimEcu.h"
#include "sim/SimPipeTransport.h"
#include "sim/VirtualCanBus.h"

namespace vtx::sim {

class SimControl {
  public:
    struct BusRecord {
        CanFrame frame;
        SimClock::time_point endOfFrame;
    };
    // The record keeps the newest frames only, so that a long run does not grow without end.
    static constexpr std::size_t kBusRecordCapacity = 100'000;

    // ecu: the simulated ECU on the bus, or nullptr when there is none.
    SimControl(VirtualCanBus& bus, SimDevice& device, SimPipeTransport& transport, SimEcu* ecu);
    ~SimControl();
    SimControl(const SimControl&) = delete;
    SimControl& operator=(const SimControl&) = delete;

    // ---- the bus ----
    // Queues a frame from outside (arbitrating like any node); false when it is malformed.
    bool injectFrame(const CanFrame& frame);
    // Every frame that crossed the bus since the last clear, oldest first.
    std::vector<BusRecord> busRecords() const;
    void clearBusRecords();
    // Waits up to timeout until at least count frames are recorded; whether they are.
    bool waitForBusRecords(std::size_t count, std::chrono::milliseconds timeout) const;
    // A callback for every frame that crosses the bus, on the bus's thread.
    int addBusObserver(VirtualCanBus::Observer observer);
    void removeBusObserver(int id);

    // ---- power ----
    void unplug();
    void plug();
    // The power goes right after the device has carried out the (skip + 1)th packet of the class
    // (with byte 1 command, unless it is negative) from now on: a phase of an operation pinned
    // by what the device has taken. Fires once; clearFaults disarms it.
    void unplugAfterPacket(PacketClass packetClass, int command = -1, int skip = 0);

    // ---- USB faults ----
    // The next count writes transfer nothing.
    void failNextWrites(int count);
    // The next count writes take only keepBytes (default: all but their last packet).
    void shortenNextWrites(int count, int keepBytes = -1);
    // The next count settings of the IN pipe's timeout fail.
    void failNextInPipeTimeoutSets(int count);
    // Reads wait their full timeout and return 0: the next count of them, or all for duration.
    void stallNextReads(int count);
    void stallReadsFor(std::chrono::milliseconds duration);
    // The next read that returns data ends in half a packet.
    void truncateNextRead();
    // Writes that carry frames wait until the time has passed or the release (see SimDevice);
    // heldFrameWrites counts those that waited since the hold began.
    void holdFrameWritesFor(std::chrono::milliseconds duration);
    void releaseFrameWrites();
    uint64_t heldFrameWrites() const;

    // ---- malformed replies and device models ----
    void corruptNextIdentificationClass();
    void corruptNextIdentificationChecksum();
    void oversizeDlcOfNextFrames(int count, uint8_t dlc = 15);
    void clearFaults();
    void setSingleOutputBus(bool single);

    // ---- the device's state ----
    SimDeviceState deviceState() const;
    // The packets the device took from the host, in order.
    std::vector<Packet> receivedPackets() const;
    void clearReceivedPackets();

    // ---- the simulated ECU ----
    // How many multi-frame requests the ECU aborted because the tester broke the block size or
    // separation time it granted; 0 when there is no ECU.
    uint64_t ecuFlowControlViolations() const;
    // How many multi-frame requests the ECU dropped because a consecutive frame came later than
    // N_Cr (1 s) after the one before; 0 when there is no ECU.
    uint64_t ecuReceptionTimeouts() const;

  private:
    void record(const CanFrame& frame, SimClock::time_point endOfFrame);

    VirtualCanBus& bus_;
    SimDevice& device_;
    SimPipeTransport& transport_;
    SimEcu* const ecu_;
    int observerId_ = -1;

    mutable std::mutex mutex_;  // guards records_
    mutable std::condition_variable recorded_;
    std::deque<BusRecord> records_;
};

}  // namespace vtx::sim
