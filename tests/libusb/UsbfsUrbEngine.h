// The device end of an emulated usbdevfs node: bulk URBs carried out against the simulated
// device's pipes, one worker per direction so that a pending IN read never holds up a write, as
// on a real bus. The usbdevfs side (umockdev, ioctl numbers, client memory) is UsbDeviceEmulator's.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "sim/SimWorld.h"

namespace vtx::usbtest {

struct EmulatedUrb {
    unsigned long clientAddress = 0;  // the URB as the client names it in DISCARDURB
    bool in = false;
    int length = 0;
    std::vector<uint8_t> data;  // OUT: the bytes to send; IN: the bytes received
    int status = 0;             // 0, or a negative errno as usbdevfs reports it
    int actualLength = 0;
    bool discarded = false;
    void* token = nullptr;  // the emulator's record of the client's URB; opaque here
};

class UsbfsUrbEngine {
  public:
    // The simulated world whose device answers; asked afresh for every use, and only while a
    // client's ioctl is under way (so a test may replace the world between library loads).
    using WorldSource = std::function<sim::SimWorld&()>;
    // The device answers a read within this, before the host's 500 ms transfer timeout.
    static constexpr uint32_t kDeviceReadTimeoutMs = 400;

    explicit UsbfsUrbEngine(WorldSource world);
    ~UsbfsUrbEngine();
    UsbfsUrbEngine(const UsbfsUrbEngine&) = delete;
    UsbfsUrbEngine& operator=(const UsbfsUrbEngine&) = delete;

    // Claiming the interface opens the device's pipes: false while it is unplugged.
    bool claim();
    void release();
    // A new client: a claim its predecessor never released (it lost the device) is forgotten,
    // without touching the device.
    void forgetClaim();
    // The device claimed has kept its power since.
    bool alive();

    void submit(const std::shared_ptr<EmulatedUrb>& urb);
    // False when the URB is no longer in flight (completed, or unknown).
    bool discard(unsigned long clientAddress);
    // A completed URB, waiting up to wait for one; nullptr when none.
    std::shared_ptr<EmulatedUrb> reap(std::chrono::milliseconds wait);

  private:
    struct Lane {
        std::deque<std::shared_ptr<EmulatedUrb>> queue;
        std::shared_ptr<EmulatedUrb> running;
        std::condition_variable wake;
        std::thread worker;
    };

    void serve(Lane& lane);
    void carryOut(EmulatedUrb& urb);
    int readIn(EmulatedUrb& urb);

    const WorldSource world_;
    std::mutex mutex_;  // guards every field below and the lanes' queues and running URBs
    std::condition_variable completedChanged_;
    std::deque<std::shared_ptr<EmulatedUrb>> completed_;
    std::vector<uint8_t> carriedIn_;  // read for a URB discarded meanwhile: the next read's
    uint64_t claimedCycle_ = 0;
    bool claimed_ = false;
    bool stopping_ = false;
    Lane inLane_;
    Lane outLane_;
};

}  // namespace vtx::usbtest
