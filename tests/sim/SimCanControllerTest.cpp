// The simulated device's CAN controller: readers waiting for frames.
#include "sim/SimCanController.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace vtx::sim {
namespace {

using namespace std::chrono_literals;

constexpr uint32_t kBusRate = 500000;

// 500 kbit/s at 24 MHz: BRP 3, 16 quanta (TSEG1 12, TSEG2 3).
SimCanController::Timing timing500k() {
    return SimCanController::Timing::decode(0x02, 0x2B);
}

CanFrame frameWithId(uint32_t id) {
    CanFrame f;
    f.id = id;
    f.dlc = 1;
    return f;
}

// Two readers waiting for different counts: each returns once its count is held (not only at
// its deadline, and not before).
TEST(SimCanControllerTest, ReadersWakeWhenTheirCountIsHeld) {
    VirtualCanBus bus(kBusRate);
    SimCanController controller(bus, 64, 16);
    ASSERT_EQ(timing500k().bitRate(), kBusRate);
    controller.enable(timing500k(), SimCanController::Acceptance{});
    const SimClock::time_point deadline = SimClock::now() + 20s;
    std::atomic<bool> twoDone{false};
    std::atomic<bool> fiveDone{false};
    std::thread two([&] {
        controller.waitForFrames(2, deadline, controller.readerWakes());
        twoDone = true;
    });
    std::thread five([&] {
        controller.waitForFrames(5, deadline, controller.readerWakes());
        fiveDone = true;
    });
    for (uint32_t id = 1; id <= 2; ++id) {
        ASSERT_TRUE(bus.transmit(nullptr, frameWithId(id)));
    }
    two.join();
    EXPECT_EQ(controller.status().receiveFill, 2u);
    EXPECT_FALSE(fiveDone.load());
    for (uint32_t id = 3; id <= 5; ++id) {
        ASSERT_TRUE(bus.transmit(nullptr, frameWithId(id)));
    }
    five.join();
    EXPECT_TRUE(twoDone.load());
    EXPECT_LT(SimClock::now(), deadline - 10s);  // woken by the frames, not the deadline
    EXPECT_EQ(controller.takeFrames(8).size(), 5u);
}

}  // namespace
}  // namespace vtx::sim
