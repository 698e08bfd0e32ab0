// Periodic messages: the checks, the first frame at once and the following ones at their
// interval (measured on the bus), the limit of ten, and their end at stop and disconnect.
#include <algorithm>

#include "tests/e2e/EngineFixture.h"

namespace vtx::e2e {
namespace {

class Periodic : public EngineFixture {
  protected:
    static int64_t msBetween(sim::SimClock::time_point a, sim::SimClock::time_point b) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(b - a).count();
    }

    // No frame with the identifier crosses the bus for a while.
    // A frame already on the wire when the call returned may still complete (and the bus
    // thread may record it a little late): only frames that end later count.
    void expectSilence(uint32_t id, std::chrono::milliseconds span) {
        const auto from = sim::SimClock::now() + std::chrono::milliseconds(1);
        world().control().clearBusRecords();
        std::this_thread::sleep_for(span);
        for (const sim::SimClock::time_point end : busTimesOf(id)) {
            EXPECT_LT(end, from) << std::hex << id;
        }
    }
};

struct PeriodicCheckCase {
    const char* name;
    uint32_t interval = 100;
    uint32_t protocol = CAN;
    uint32_t txFlags = 0;
    uint32_t dataSize = 6;
    bool nullMsg = false;
    bool nullId = false;
    bool wrongChannel = false;
    uint32_t expected = STATUS_NOERROR;
};

// A row that breaks two rules shows which check comes first.
std::vector<PeriodicCheckCase> periodicCheckCases() {
    std::vector<PeriodicCheckCase> cases;
    const auto row = [&](const char* name, auto&& change) {
        PeriodicCheckCase c;
        c.name = name;
        change(c);
        cases.push_back(c);
    };
    row("interval 5", [](auto& c) { c.interval = 5; });
    row("interval 65535", [](auto& c) { c.interval = 65535; });
    row("29-bit message", [](auto& c) { c.txFlags = CAN_29BIT_ID; });
    row("four data bytes", [](auto& c) { c.dataSize = 4; });
    row("twelve data bytes", [](auto& c) { c.dataSize = 12; });
    row("wrong channel before null pointers", [](auto& c) {
        c.wrongChannel = c.nullMsg = true;
        c.expected = ERR_INVALID_CHANNEL_ID;
    });
    row("null message", [](auto& c) {
        c.nullMsg = true;
        c.expected = ERR_NULL_PARAMETER;
    });
    row("null message ID", [](auto& c) {
        c.nullId = true;
        c.expected = ERR_NULL_PARAMETER;
    });
    row("null pointer before interval", [](auto& c) {
        c.nullId = true;
        c.interval = 0;
        c.expected = ERR_NULL_PARAMETER;
    });
    row("interval 4", [](auto& c) {
        c.interval = 4;
        c.expected = ERR_INVALID_TIME_INTERVAL;
    });
    row("interval 65536", [](auto& c) {
        c.interval = 65536;
        c.expected = ERR_INVALID_TIME_INTERVAL;
    });
    row("interval before protocol", [](auto& c) {
        c.interval = 0;
        c.protocol = ISO15765;
        c.expected = ERR_INVALID_TIME_INTERVAL;
    });
    row("ISO15765 message", [](auto& c) {
        c.protocol = ISO15765;
        c.expected = ERR_MSG_PROTOCOL_ID;
    });
    row("protocol before flags", [](auto& c) {
        c.protocol = ISO15765;
        c.txFlags = ISO15765_FRAME_PAD;
        c.expected = ERR_MSG_PROTOCOL_ID;
    });
    row("frame pad flag", [](auto& c) {
        c.txFlags = ISO15765_FRAME_PAD;
        c.expected = ERR_NOT_SUPPORTED;
    });
    row("flags before size", [](auto& c) {
        c.txFlags = ISO15765_FRAME_PAD;
        c.dataSize = 13;
        c.expected = ERR_NOT_SUPPORTED;
    });
    row("three data bytes", [](auto& c) {
        c.dataSize = 3;
        c.expected = ERR_INVALID_MSG;
    });
    row("thirteen data bytes", [](auto& c) {
        c.dataSize = 13;
        c.expected = ERR_INVALID_MSG;
    });
    return cases;
}

TEST_F(Periodic, ChecksInOrder) {
    openAndConnect();
    for (const PeriodicCheckCase& c : periodicCheckCases()) {
        SCOPED_TRACE(c.name);
        world().control().clearBusRecords();
        PASSTHRU_MSG msg = message(0x3A0, {1, 2}, c.txFlags);
        msg.ProtocolID = c.protocol;
        msg.DataSize = c.dataSize;
        uint32_t msgId = 0;
        const uint32_t status = PassThruStartPeriodicMsg(c.wrongChannel ? channelId + 1 : channelId,
                                                         c.nullMsg ? nullptr : &msg,
                                                         c.nullId ? nullptr : &msgId, c.interval);
        expectOutcome(status, c.expected);
        if (status == STATUS_NOERROR) {
            EXPECT_NE(msgId, 0u);
            EXPECT_TRUE(world().control().waitForBusRecords(1, 2000ms));
            EXPECT_EQ(PassThruStopPeriodicMsg(channelId, msgId), STATUS_NOERROR);
        } else {
            EXPECT_EQ(msgId, 0u);
        }
    }
}

// Both halves are told apart by margins no machine load comes near: a first frame held back by
// its interval would come after 65 s, and a doubled interval moves the median gap by 200 ms,
// which one frame delayed by load does not.
TEST_F(Periodic, FirstFrameAtOnceThenAtTheInterval) {
    openAndConnect();
    world().control().clearBusRecords();
    uint32_t slow = 0;
    ASSERT_EQ(startPeriodic(0x3A0, {0x33}, 65535, &slow), STATUS_NOERROR);
    EXPECT_TRUE(eventually([&] { return busTimesOf(0x3A0).size() == 1; }, 10000ms));
    ASSERT_EQ(PassThruStopPeriodicMsg(channelId, slow), STATUS_NOERROR);

    uint32_t msgId = 0;
    ASSERT_EQ(startPeriodic(0x3A1, {0x11, 0x22}, 200, &msgId), STATUS_NOERROR);
    constexpr std::size_t kFrames = 6;
    ASSERT_TRUE(eventually([&] { return busTimesOf(0x3A1).size() >= kFrames; }, 10000ms));
    ASSERT_EQ(PassThruStopPeriodicMsg(channelId, msgId), STATUS_NOERROR);
    const std::vector<sim::SimClock::time_point> times = busTimesOf(0x3A1);
    std::vector<int64_t> gaps;
    for (std::size_t i = 1; i < kFrames; ++i) {
        gaps.push_back(msBetween(times[i - 1], times[i]));
        EXPECT_GE(gaps.back(), 190) << i;
    }
    std::nth_element(gaps.begin(), gaps.begin() + 2, gaps.end());
    EXPECT_LT(gaps[2], 300);
    EXPECT_EQ(busFrames()[0], canFrame(0x3A0, false, {0x33}));
    EXPECT_EQ(busFrames()[1], canFrame(0x3A1, false, {0x11, 0x22}));
}

TEST_F(Periodic, ShortIntervalKeepsItsPace) {
    openAndConnect();
    world().control().clearBusRecords();
    uint32_t msgId = 0;
    const sim::SimClock::time_point before = sim::SimClock::now();
    ASSERT_EQ(startPeriodic(0x3A2, {1}, 20, &msgId), STATUS_NOERROR);
    ASSERT_TRUE(eventually([&] { return busTimesOf(0x3A2).size() >= 16; }));
    const std::vector<sim::SimClock::time_point> times = busTimesOf(0x3A2);
    // Never ahead of its interval: the k-th frame goes no sooner than k intervals after the
    // start. How closely it keeps up, and how late the bus carries a frame the device took,
    // depend on how loaded the machine is, which is no test's business.
    for (int k = 0; k < 16; ++k) {
        EXPECT_GE(msBetween(before, times[static_cast<std::size_t>(k)]), k * 20) << k;
    }
}

TEST_F(Periodic, TenPeriodicMessagesThenTheLimit) {
    openAndConnect();
    std::vector<uint32_t> ids;
    for (uint32_t i = 0; i < 10; ++i) {
        uint32_t msgId = 0;
        ASSERT_EQ(startPeriodic(0x3B0 + i, {static_cast<uint8_t>(i)}, 65535, &msgId),
                  STATUS_NOERROR);
        ids.push_back(msgId);
    }
    EXPECT_EQ(std::set<uint32_t>(ids.begin(), ids.end()).size(), 10u);
    ASSERT_TRUE(world().control().waitForBusRecords(10, 2000ms));
    uint32_t eleventh = 0;
    expectOutcome(startPeriodic(0x3BF, {0xFF}, 5, &eleventh), ERR_EXCEEDED_LIMIT);
    EXPECT_EQ(eleventh, 0u);
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(busTimesOf(0x3BF).empty());
    EXPECT_EQ(busFrames().size(), 10u);
    // A stopped one makes room.
    ASSERT_EQ(PassThruStopPeriodicMsg(channelId, ids[0]), STATUS_NOERROR);
    expectOutcome(startPeriodic(0x3BF, {0xFF}, 65535, &eleventh), STATUS_NOERROR);
    EXPECT_TRUE(eventually([&] { return busTimesOf(0x3BF).size() == 1; }));
}

TEST_F(Periodic, StopEndsTheMessageAndAStoppedIdIsInvalid) {
    openAndConnect();
    uint32_t stopped = 0;
    uint32_t running = 0;
    ASSERT_EQ(startPeriodic(0x3C0, {1}, 10, &stopped), STATUS_NOERROR);
    ASSERT_EQ(startPeriodic(0x3C1, {2}, 10, &running), STATUS_NOERROR);
    ASSERT_TRUE(eventually([&] { return busTimesOf(0x3C0).size() >= 3; }));
    expectOutcome(PassThruStopPeriodicMsg(channelId + 1, stopped), ERR_INVALID_CHANNEL_ID);
    expectOutcome(PassThruStopPeriodicMsg(channelId, 0), ERR_INVALID_MSG_ID);
    expectOutcome(PassThruStopPeriodicMsg(channelId, stopped), STATUS_NOERROR);
    // Once the stop has returned, the device is handed no frame of it: one it took before may
    // still cross the bus after, as late as a loaded machine makes it.
    const std::size_t handedAtStop = framesHandedToDevice(0x3C0);
    expectOutcome(PassThruStopPeriodicMsg(channelId, stopped), ERR_INVALID_MSG_ID);
    world().control().clearBusRecords();
    // The other one goes on.
    EXPECT_TRUE(eventually([&] { return busTimesOf(0x3C1).size() >= 5; }));
    EXPECT_EQ(framesHandedToDevice(0x3C0), handedAtStop);
}

TEST_F(Periodic, DisconnectEndsThePeriodicMessages) {
    openAndConnect();
    uint32_t msgId = 0;
    ASSERT_EQ(startPeriodic(0x3D0, {1}, 10, &msgId), STATUS_NOERROR);
    ASSERT_EQ(startPeriodic(0x3D1, {2}, 15, &msgId), STATUS_NOERROR);
    ASSERT_TRUE(eventually([&] { return busTimesOf(0x3D1).size() >= 3; }));
    ASSERT_EQ(PassThruDisconnect(channelId), STATUS_NOERROR);
    const auto disconnected = sim::SimClock::now() + std::chrono::milliseconds(1);
    expectSilence(0x3D0, 150ms);
    for (const sim::SimClock::time_point end : busTimesOf(0x3D1)) {
        EXPECT_LT(end, disconnected);
    }
    // A new channel starts without them.
    ASSERT_EQ(PassThruConnect(deviceId, CAN, 0, 500000, &channelId), STATUS_NOERROR);
    expectOutcome(PassThruStopPeriodicMsg(channelId, msgId), ERR_INVALID_MSG_ID);
    expectSilence(0x3D1, 100ms);
}

// With loopback on only the first frame is echoed; a message of four data bytes is a frame
// without data; a 29-bit message goes out with a 29-bit identifier.
TEST_F(Periodic, FramesAndEchoes) {
    openAndConnect();
    uint32_t filterId = 0;
    ASSERT_EQ(startFilter(PASS_FILTER, 0x7FF, 0x7FF, 0, &filterId), STATUS_NOERROR);
    setLoopback(1);
    uint32_t msgId = 0;
    ASSERT_EQ(startPeriodic(0x3E0, {}, 10, &msgId), STATUS_NOERROR);
    ASSERT_EQ(startPeriodic(0x18DA10F1, {0x02, 0x3E, 0x00}, 10, &msgId, CAN_29BIT_ID),
              STATUS_NOERROR);
    ASSERT_TRUE(eventually([&] { return busTimesOf(0x3E0).size() >= 5; }));
    const std::vector<sim::CanFrame> frames = busFrames();
    EXPECT_NE(std::find(frames.begin(), frames.end(), canFrame(0x3E0)), frames.end());
    EXPECT_NE(
        std::find(frames.begin(), frames.end(), canFrame(0x18DA10F1, true, {0x02, 0x3E, 0x00})),
        frames.end());
    const std::vector<PASSTHRU_MSG> echoes = drain();
    ASSERT_EQ(echoes.size(), 2u);
    EXPECT_EQ(idOf(echoes[0]), 0x3E0u);
    EXPECT_EQ(echoes[0].RxStatus, TX_MSG_TYPE);
    EXPECT_EQ(echoes[0].DataSize, 4u);
    EXPECT_EQ(idOf(echoes[1]), 0x18DA10F1u);
    EXPECT_EQ(echoes[1].RxStatus, TX_MSG_TYPE | CAN_29BIT_ID);
}

TEST_F(Periodic, StopAndStartWithoutOpenDevice) {
    uint32_t msgId = 0;
    PASSTHRU_MSG msg = message(0x3F0, {1});
    expectOutcome(PassThruStartPeriodicMsg(1, &msg, &msgId, 100), ERR_INVALID_DEVICE_ID);
    expectOutcome(PassThruStopPeriodicMsg(1, 1), ERR_INVALID_DEVICE_ID);
    ASSERT_EQ(PassThruOpen(nullptr, &deviceId), STATUS_NOERROR);
    expectOutcome(PassThruStartPeriodicMsg(1, &msg, &msgId, 100), ERR_INVALID_CHANNEL_ID);
    expectOutcome(PassThruStopPeriodicMsg(1, 1), ERR_INVALID_CHANNEL_ID);
}

}  // namespace
}  // namespace vtx::e2e
