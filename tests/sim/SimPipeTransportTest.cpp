// The pipe transport over the simulated device: presence, handles across unplugging, latency.
#include "sim/SimPipeTransport.h"

#include <gtest/gtest.h>

#include <memory>

#include "sim/SimWorld.h"
#include "tests/sim/SimTestHost.h"

namespace vtx::sim {
namespace {

using namespace test;
using std::chrono::milliseconds;

class SimPipeTransportTest : public ::testing::Test {
  protected:
    void SetUp() override { world_ = std::make_unique<SimWorld>(quietConfig()); }

    SimPipeTransport& transport() { return world_->transport(); }
    int writeOne(const Packet& packet) { return transport().writePipe(packet.data(), 16); }
    int readInto(std::vector<uint8_t>& buffer) {
        return transport().readPipe(buffer.data(), static_cast<int>(buffer.size()));
    }

    std::unique_ptr<SimWorld> world_;
};

TEST_F(SimPipeTransportTest, PresenceFollowsThePlug) {
    const auto paths = transport().enumerateDevicePaths();
    ASSERT_EQ(paths.size(), 1u);
    EXPECT_EQ(paths[0], SimPipeTransport::kDevicePath);
    EXPECT_TRUE(transport().isDevicePresent());

    world_->control().unplug();
    EXPECT_TRUE(transport().enumerateDevicePaths().empty());
    EXPECT_FALSE(transport().isDevicePresent());
    EXPECT_FALSE(transport().open(SimPipeTransport::kDevicePath));

    world_->control().plug();
    EXPECT_EQ(transport().enumerateDevicePaths(), paths);
    EXPECT_TRUE(transport().isDevicePresent());
}

TEST_F(SimPipeTransportTest, OpenWantsThePathAndOneHandle) {
    EXPECT_FALSE(transport().isOpen());
    EXPECT_FALSE(transport().setInPipeTimeout(500));
    EXPECT_FALSE(transport().open("\\\\?\\usb#other"));
    ASSERT_TRUE(transport().open(SimPipeTransport::kDevicePath));
    EXPECT_TRUE(transport().isOpen());
    EXPECT_FALSE(transport().open(SimPipeTransport::kDevicePath));
    EXPECT_TRUE(transport().setInPipeTimeout(500));
    transport().close();
    EXPECT_FALSE(transport().isOpen());
    transport().close();  // nothing when closed
}

TEST_F(SimPipeTransportTest, ClosedHandleTransfersNothing) {
    std::vector<uint8_t> buffer(16);
    EXPECT_EQ(writeOne(makePacket({0x04, 0x09, 1})), 0);
    EXPECT_EQ(readInto(buffer), 0);
    EXPECT_TRUE(world_->control().receivedPackets().empty());
}

TEST_F(SimPipeTransportTest, UnpluggedHandleFailsUntilReopenedAfterReplug) {
    ASSERT_TRUE(transport().open(SimPipeTransport::kDevicePath));
    ASSERT_EQ(writeOne(transferHeader(1, 0, 1)), 16);
    world_->control().unplug();
    std::vector<uint8_t> buffer(16);
    EXPECT_EQ(writeOne(makePacket({0x07})), 0);
    EXPECT_EQ(readInto(buffer), 0);
    EXPECT_TRUE(transport().isOpen());  // the handle stays until closed

    world_->control().plug();
    EXPECT_EQ(writeOne(makePacket({0x07})), 0);  // a handle of the old power cycle
    EXPECT_EQ(readInto(buffer), 0);

    transport().close();
    ASSERT_TRUE(transport().open(SimPipeTransport::kDevicePath));
    ASSERT_EQ(writeOne(transferHeader(1, 0, 2)), 16);
    ASSERT_EQ(writeOne(makePacket({0x07})), 16);
    ASSERT_EQ(readInto(buffer), 16);
    EXPECT_EQ(buffer[0], 0x08);
}

TEST_F(SimPipeTransportTest, InPipeTimeoutBoundsAnIdleRead) {
    ASSERT_TRUE(transport().open(SimPipeTransport::kDevicePath));
    ASSERT_TRUE(transport().setInPipeTimeout(100));
    std::vector<uint8_t> buffer(64);
    const auto start = SimClock::now();
    EXPECT_EQ(readInto(buffer), 0);
    const auto elapsed = SimClock::now() - start;
    EXPECT_GE(elapsed, milliseconds(95));
    EXPECT_LT(elapsed, milliseconds(450));
}

TEST_F(SimPipeTransportTest, EveryTransferCostsTheLatency) {
    SimConfig config = quietConfig();
    config.usbLatency = std::chrono::microseconds(2000);
    world_ = std::make_unique<SimWorld>(config);
    EXPECT_EQ(transport().latency(), std::chrono::microseconds(2000));
    ASSERT_TRUE(transport().open(SimPipeTransport::kDevicePath));
    std::vector<uint8_t> buffer(16);
    const auto start = SimClock::now();
    for (int i = 0; i < 10; ++i) {
        ASSERT_EQ(writeOne(transferHeader(1, 0, static_cast<uint16_t>(i))), 16);
        EXPECT_EQ(readInto(buffer), 0);  // timeout 0, nothing held
    }
    EXPECT_GE(SimClock::now() - start, milliseconds(30));  // 20 transfers of 2 ms
}

}  // namespace
}  // namespace vtx::sim
