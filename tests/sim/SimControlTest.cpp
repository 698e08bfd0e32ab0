// The test control interface: each fault it arms, the bus record, the device's state.
#include "sim/SimControl.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "sim/SimWorld.h"
#include "tests/sim/SimTestHost.h"

namespace vtx::sim {
namespace {

using namespace test;
using std::chrono::milliseconds;

constexpr milliseconds kLongWait{10'000};

class SimControlTest : public ::testing::Test {
  protected:
    void SetUp() override {
        world_ = std::make_unique<SimWorld>(quietConfig());
        host_ = std::make_unique<Host>(world_->transport());
        ASSERT_TRUE(host_->open());
    }

    SimControl& control() { return world_->control(); }

    std::unique_ptr<SimWorld> world_;
    std::unique_ptr<Host> host_;
};

TEST_F(SimControlTest, FailedWritesTransferNothing) {
    control().failNextWrites(2);
    EXPECT_EQ(host_->write({makePacket({0x04, 0x09, 1})}), 0);
    EXPECT_EQ(host_->write({makePacket({0x04, 0x09, 1})}), 0);
    EXPECT_FALSE(control().deviceState().termResistor);
    EXPECT_TRUE(control().receivedPackets().empty());
    EXPECT_EQ(host_->write({makePacket({0x04, 0x09, 1})}), 16);
    EXPECT_TRUE(control().deviceState().termResistor);
}

TEST_F(SimControlTest, ShortWritesTakeOnlyTheirFirstBytes) {
    const std::vector<Packet> three = {makePacket({0x04, 0x02}), makePacket({0x04, 0x04, 5}),
                                       makePacket({0x04, 0x09, 1})};
    control().shortenNextWrites(1);
    EXPECT_EQ(host_->write(three), 32);
    EXPECT_EQ(control().receivedPackets(), std::vector<Packet>(three.begin(), three.begin() + 2));
    EXPECT_FALSE(control().deviceState().termResistor);

    control().clearReceivedPackets();
    control().shortenNextWrites(1);
    EXPECT_EQ(host_->write({makePacket({0x04, 0x09, 1})}), 8);  // half a packet: discarded
    control().shortenNextWrites(1, 16);
    EXPECT_EQ(host_->write(three), 16);
    EXPECT_EQ(control().receivedPackets(), std::vector<Packet>(three.begin(), three.begin() + 1));
    EXPECT_EQ(host_->write(three), 48);
}

TEST_F(SimControlTest, StalledReadsWaitThePipeTimeoutAndReturnNothing) {
    control().stallNextReads(1);
    const auto start = SimClock::now();
    uint16_t sequence = 0;
    EXPECT_TRUE(host_->transfer({makePacket({0x07})}, 1, 0, false, &sequence).empty());
    const auto elapsed = SimClock::now() - start;
    EXPECT_GE(elapsed, milliseconds(490));
    EXPECT_LT(elapsed, milliseconds(5000));
    // The device did not answer that read; its reply is still there for the next one.
    const auto late = host_->read(1);
    ASSERT_EQ(late.size(), 1u);
    EXPECT_EQ(late[0][0], 0x08);
}

TEST_F(SimControlTest, ReadsStallForADuration) {
    control().stallReadsFor(milliseconds(700));
    EXPECT_TRUE(host_->transfer({makePacket({0x07})}, 1, 0).empty());
    EXPECT_TRUE(host_->transfer({makePacket({0x07})}, 1, 0).empty());
    const auto replies = host_->transfer({makePacket({0x07})}, 1, 0);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0][0], 0x08);
}

TEST_F(SimControlTest, TruncatedReadEndsInHalfAPacket) {
    control().truncateNextRead();
    int bytes = 0;
    const auto replies = [&] {
        const std::vector<Packet> request = {transferHeader(4, 0, 1), makePacket({0x09})};
        EXPECT_EQ(host_->write(request), 32);
        return host_->read(4, &bytes);
    }();
    EXPECT_EQ(bytes, 56);
    EXPECT_EQ(replies.size(), 3u);
    EXPECT_EQ(host_->transfer({makePacket({0x09})}, 4, 0).size(), 4u);
}

TEST_F(SimControlTest, IdentificationFaultsHitOneReplyEach) {
    control().corruptNextIdentificationClass();
    auto replies = host_->transfer({makePacket({0x09})}, 4, 0);
    ASSERT_EQ(replies.size(), 4u);
    EXPECT_EQ(replies[0][0], 0x0A);
    EXPECT_EQ(replies[1][0], 0x0A);
    EXPECT_EQ(replies[2][0], 0x09);
    EXPECT_EQ(replies[3][0], 0x0A);

    const auto checksumOf = [](const std::vector<Packet>& packets) {
        unsigned sum = 0;
        for (std::size_t i = 0; i < 31; ++i) {
            sum += packets[i / 8][8 + i % 8];
        }
        return std::make_pair(static_cast<uint8_t>(sum), packets[3][15]);
    };
    control().corruptNextIdentificationChecksum();
    replies = host_->transfer({makePacket({0x09})}, 4, 0);
    ASSERT_EQ(replies.size(), 4u);
    EXPECT_EQ(replies[2][0], 0x0A);
    auto [computed, carried] = checksumOf(replies);
    EXPECT_NE(computed, carried);

    replies = host_->transfer({makePacket({0x09})}, 4, 0);
    ASSERT_EQ(replies.size(), 4u);
    std::tie(computed, carried) = checksumOf(replies);
    EXPECT_EQ(computed, carried);
}

TEST_F(SimControlTest, OversizedDlcOnTheNextReceivedFrames) {
    ASSERT_EQ(host_->enableOpen(), 32);
    control().oversizeDlcOfNextFrames(2, 12);
    for (uint32_t id = 1; id <= 3; ++id) {
        ASSERT_TRUE(control().injectFrame(canFrame(id, false, {1, 2})));
    }
    ASSERT_TRUE(control().waitForBusRecords(3, kLongWait));
    const auto frames = host_->transfer({}, 8, 0);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0][5], 12);
    EXPECT_EQ(frames[1][5], 12);
    EXPECT_EQ(frames[2][5], 2);
}

TEST_F(SimControlTest, InPipeTimeoutSettingCanBeMadeToFail) {
    EXPECT_TRUE(world_->transport().setInPipeTimeout(500));
    control().failNextInPipeTimeoutSets(1);
    EXPECT_FALSE(world_->transport().setInPipeTimeout(500));
    EXPECT_TRUE(world_->transport().setInPipeTimeout(500));
}

TEST_F(SimControlTest, ClearFaultsDisarmsEverything) {
    control().failNextWrites(5);
    control().stallNextReads(5);
    control().failNextInPipeTimeoutSets(5);
    control().clearFaults();
    EXPECT_TRUE(world_->transport().setInPipeTimeout(500));
    EXPECT_EQ(host_->transfer({makePacket({0x07})}, 1, 0).size(), 1u);
}

TEST_F(SimControlTest, SingleOutputBusModeShowsInTheIdentification) {
    control().setSingleOutputBus(true);
    EXPECT_TRUE(control().deviceState().singleOutputBus);
    const auto replies = host_->transfer({makePacket({0x09})}, 4, 0);
    ASSERT_EQ(replies.size(), 4u);
    EXPECT_EQ(replies[2][8 + 3], 1);  // block byte 19: one output bus
}

TEST_F(SimControlTest, BusRecordKeepsFramesWithTheirEndTimes) {
    std::atomic<int> observed{0};
    const int id = control().addBusObserver(
        [&](const CanFrame&, SimClock::time_point) { observed.fetch_add(1); });
    const auto before = SimClock::now();
    const CanFrame full = canFrame(0x10, false, {1, 2, 3, 4, 5, 6, 7, 8});
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(control().injectFrame(full));
    }
    ASSERT_TRUE(control().waitForBusRecords(5, kLongWait));
    control().removeBusObserver(id);
    const auto records = control().busRecords();
    ASSERT_EQ(records.size(), 5u);
    const auto frameTime = VirtualCanBus::frameDuration(full, 500'000);
    EXPECT_GE(records[0].endOfFrame - before, frameTime);
    for (std::size_t i = 1; i < records.size(); ++i) {
        EXPECT_EQ(records[i].frame, full);
        EXPECT_GE(records[i].endOfFrame - records[i - 1].endOfFrame, frameTime);
    }
    EXPECT_EQ(observed.load(), 5);
    control().clearBusRecords();
    EXPECT_TRUE(control().busRecords().empty());
    EXPECT_FALSE(control().injectFrame(canFrame(0x800, false, {})));  // not an 11-bit id
}

TEST_F(SimControlTest, DeviceFramesAreRecordedToo) {
    ASSERT_EQ(host_->enableOpen(), 32);
    ASSERT_EQ(host_->write({hostFrame(0x7E0, false, {2, 1, 0x0C})}), 16);
    ASSERT_TRUE(control().waitForBusRecords(1, kLongWait));
    EXPECT_EQ(control().busRecords()[0].frame, canFrame(0x7E0, false, {2, 1, 0x0C}));
}

}  // namespace
}  // namespace vtx::sim
