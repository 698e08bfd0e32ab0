// A device unplugged while open: every call but open and close answers
// ERR_DEVICE_NOT_CONNECTED, calls under way return, close succeeds, and once the device is back
// it opens and works again.
#include <atomic>
#include <functional>
#include <future>
#include <set>
#include <string>

#include "tests/e2e/EngineFixture.h"
#include "trace/TracePlaces.h"

namespace vtx::e2e {
namespace {

class DeviceLost : public EngineFixture {
  protected:
    // The communication thread notices the loss within a bounded time.
    bool lossReported() {
        return eventually(
            [&] { return PassThruStopPeriodicMsg(channelId, 0xDEAD) == ERR_DEVICE_NOT_CONNECTED; });
    }

    void expectWorkingSessionAfterReplug() {
        world().control().plug();
        openAndConnect();
        uint32_t filterId = 0;
        ASSERT_EQ(startFilter(PASS_FILTER, 0x7FF, 0x123, 0, &filterId), STATUS_NOERROR);
        setLoopback(1);
        PASSTHRU_MSG out = message(0x123, {5});
        uint32_t count = 1;
        ASSERT_EQ(PassThruWriteMsgs(channelId, &out, &count, 500), STATUS_NOERROR) << lastError();
        EXPECT_EQ(count, 1u);
        inject(0x123, false, {6});
        const std::vector<PASSTHRU_MSG> got = readMessages(2);
        ASSERT_EQ(got.size(), 2u);
        EXPECT_EQ(got[0].RxStatus, TX_MSG_TYPE);
        EXPECT_EQ(got[1].RxStatus, 0u);
        EXPECT_EQ(PassThruClose(deviceId), STATUS_NOERROR);
    }
};

TEST_F(DeviceLost, EveryCallButOpenAndCloseAnswersNotConnected) {
    openAndConnect();
    uint32_t filterId = 0;
    ASSERT_EQ(startFilter(PASS_FILTER, 0x7FF, 0x123, 0, &filterId), STATUS_NOERROR);
    uint32_t msgId = 0;
    ASSERT_EQ(startPeriodic(0x301, {1}, 10, &msgId), STATUS_NOERROR);
    world().control().unplug();
    ASSERT_TRUE(lossReported());

    // Invalid arguments change nothing: the loss is what every call reports.
    PASSTHRU_MSG msg = message(0x123);
    uint32_t count = 1;
    uint32_t id = 0;
    char text[80];
    SCONFIG loopback{LOOPBACK, 1};
    SCONFIG_LIST config{1, &loopback};
    const std::pair<const char*, std::function<uint32_t()>> calls[] = {
        {"connect", [&] { return PassThruConnect(9, 0x99, 0xFFFF, 7, nullptr); }},
        {"disconnect", [&] { return PassThruDisconnect(0); }},
        {"disconnect channel", [&] { return PassThruDisconnect(channelId); }},
        {"read", [&] { return PassThruReadMsgs(0, nullptr, nullptr, 0); }},
        {"read channel", [&] { return PassThruReadMsgs(channelId, &msg, &count, 50); }},
        {"write", [&] { return PassThruWriteMsgs(0, nullptr, nullptr, 0); }},
        {"write channel", [&] { return PassThruWriteMsgs(channelId, &msg, &count, 50); }},
        {"start periodic", [&] { return PassThruStartPeriodicMsg(0, nullptr, nullptr, 0); }},
        {"stop periodic", [&] { return PassThruStopPeriodicMsg(channelId, msgId); }},
        {"start filter",
         [&] { return PassThruStartMsgFilter(0, 99, nullptr, nullptr, nullptr, nullptr); }},
        {"start filter channel", [&] { return startFilter(PASS_FILTER, 0x7FF, 0x7E8, 0, &id); }},
        {"stop filter", [&] { return PassThruStopMsgFilter(channelId, filterId); }},
        {"programming voltage", [&] { return PassThruSetProgrammingVoltage(0, 99, 1); }},
        {"read version", [&] { return PassThruReadVersion(0, nullptr, nullptr, nullptr); }},
        {"read version device", [&] { return PassThruReadVersion(1, text, text, text); }},
        {"ioctl", [&] { return PassThruIoctl(0, 0xFFFF, nullptr, nullptr); }},
        {"ioctl set config",
         [&] { return PassThruIoctl(channelId, SET_CONFIG, &config, nullptr); }},
    };
    for (const auto& [name, call] : calls) {
        SCOPED_TRACE(name);
        const auto start = Clock::now();
        expectOutcome(call(), ERR_DEVICE_NOT_CONNECTED);
        EXPECT_LT(millisecondsSince(start), 1000);
    }
    EXPECT_EQ(id, 0u);
    EXPECT_EQ(lastError(), "ERR_DEVICE_NOT_CONNECTED");

    expectOutcome(PassThruClose(7), STATUS_NOERROR);
    // Closed now: the usual answers again.
    expectOutcome(PassThruDisconnect(channelId), ERR_INVALID_DEVICE_ID);
    // Still unplugged: open fails, close after it succeeds.
    expectOutcome(PassThruOpen(nullptr, &deviceId), ERR_DEVICE_NOT_CONNECTED);
    expectOutcome(PassThruClose(1), STATUS_NOERROR);
    expectWorkingSessionAfterReplug();
}

TEST_F(DeviceLost, LossIsNoticedWithoutAChannel) {
    ASSERT_EQ(PassThruOpen(nullptr, &deviceId), STATUS_NOERROR);
    world().control().unplug();
    ASSERT_TRUE(eventually([&] {
        return PassThruConnect(deviceId, CAN, 0, 500000, &channelId) == ERR_DEVICE_NOT_CONNECTED;
    }));
    expectOutcome(PassThruClose(deviceId), STATUS_NOERROR);
    expectWorkingSessionAfterReplug();
}

// Pulls the plug at one exact point: when an operation hands the thread a command while the
// thread is held in a device write, which is then let go to find the device gone.
class UnplugAtCommand : public EventWatcher {
  public:
    explicit UnplugAtCommand(sim::SimControl& control) : control_(control) {}

    void write(const trace::TraceEvent& event) override {
        if (watching && event.name == "CommInterfaceThread" &&
            event.message == trace::place::kCommCommandQueued && !unplugged.exchange(true)) {
            control_.unplug();
            control_.releaseFrameWrites();
        }
    }

    std::atomic<bool> watching{false};
    std::atomic<bool> unplugged{false};

  private:
    sim::SimControl& control_;
};

// The device goes while an operation's command waits for the thread: the thread finds the
// device gone and ends instead of starting the cycle that would run the command. The command
// still runs, as the loop ends, and the operation returns with the loss.
TEST_F(DeviceLost, CommandThatFindsTheLoopEndingReturns) {
    VTX_E2E_NEEDS_LIBRARY_INSIDE();
    UnplugAtCommand& unplugger = watchEvents(std::make_unique<UnplugAtCommand>(world().control()));
    openAndConnect();
    uint32_t filterId = 0;
    ASSERT_EQ(startFilter(PASS_FILTER, 0x7FF, 0x123, 0, &filterId), STATUS_NOERROR);
    // The thread is held in a device write: frames written now wait for a next cycle.
    holdTheThread(10s);
    PASSTHRU_MSG out[2] = {message(0x301, {1}), message(0x302, {2})};
    uint32_t count = 2;
    ASSERT_EQ(PassThruWriteMsgs(channelId, out, &count, 0), STATUS_NOERROR);
    unplugger.watching = true;
    auto operation = std::async(std::launch::async, [&] {
        uint32_t secondFilter = 0;
        return startFilter(PASS_FILTER, 0x7FF, 0x7E8, 0, &secondFilter);
    });
    EXPECT_EQ(awaitOrAbort(operation, 10s, "an operation whose command meets an ending loop"),
              ERR_DEVICE_NOT_CONNECTED);
    EXPECT_TRUE(unplugger.unplugged);
    for (const sim::CanFrame& frame : busFrames()) {
        EXPECT_EQ(frame.id, kHoldFrameId);
    }
    expectOutcome(PassThruClose(deviceId), STATUS_NOERROR);
    expectWorkingSessionAfterReplug();
}

// Calls under way when the device goes, among them ones that hand the thread a command and
// writers waiting for the device: each returns within a bound, and the loss is reported.
TEST_F(DeviceLost, UnplugWhileOperationsRun) {
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE(round);
        openAndConnect();
        uint32_t baseFilter = 0;
        ASSERT_EQ(startFilter(PASS_FILTER, 0x7FF, 0x123, 0, &baseFilter), STATUS_NOERROR);
        setLoopback(1);
        uint32_t msgId = 0;
        ASSERT_EQ(startPeriodic(0x301, {1}, 5, &msgId), STATUS_NOERROR);

        std::atomic<int64_t> longestCall{0};
        auto worker = std::async(std::launch::async, [&] {
            const auto timed = [&](auto&& call) {
                const auto start = Clock::now();
                const uint32_t status = call();
                longestCall = std::max<int64_t>(longestCall, millisecondsSince(start));
                return status;
            };
            for (int i = 0; i < 100000; ++i) {
                PASSTHRU_MSG out[2] = {message(0x123, {1}), message(0x124, {2})};
                uint32_t count = 2;
                uint32_t status = timed(
                    [&] { return PassThruWriteMsgs(channelId, out, &count, i % 2 ? 20 : 0); });
                uint32_t filterId = 0;
                if (status != ERR_DEVICE_NOT_CONNECTED) {
                    status =
                        timed([&] { return startFilter(PASS_FILTER, 0x7FF, 0x7E8, 0, &filterId); });
                }
                if (status == STATUS_NOERROR) {
                    status = timed([&] { return PassThruStopMsgFilter(channelId, filterId); });
                }
                if (status != ERR_DEVICE_NOT_CONNECTED) {
                    PASSTHRU_MSG in[4];
                    count = 4;
                    status = timed([&] { return PassThruReadMsgs(channelId, in, &count, 2); });
                }
                if (status == ERR_DEVICE_NOT_CONNECTED) {
                    return true;
                }
            }
            return false;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(40 + 37 * round));
        world().control().unplug();
        EXPECT_TRUE(awaitOrAbort(worker, 10s, "a call under way"));
        EXPECT_LT(longestCall.load(), 2000);
        expectOutcome(PassThruClose(deviceId), STATUS_NOERROR);
        world().control().plug();
    }
    expectWorkingSessionAfterReplug();
}

// Calls on three application threads, a write, a read and a version read each in a loop, while
// the device goes and comes back, and is closed and opened again: until the loss each answers as
// with the device there; from the first loss a thread meets until the close, every call answers
// the loss, the replug notwithstanding; once the device is open again, each goes through again.
TEST_F(DeviceLost, CallsOnOtherThreadsWhileTheDeviceGoesAndComesBack) {
    openAndConnect();
    uint32_t filterId = 0;
    ASSERT_EQ(startFilter(PASS_FILTER, 0x7FF, 0x123, 0, &filterId), STATUS_NOERROR);
    setLoopback(1);

    std::atomic<uint32_t> channel{channelId};
    std::atomic<bool> closing{false};
    std::atomic<bool> stop{false};
    struct Tally {
        std::atomic<int> through{0};  // answered as with the device there
        std::atomic<int> losses{0};
    };
    Tally tallies[3];
    // The first answer that breaks the rules, if any.
    const auto repeat = [&](Tally& tally, std::function<uint32_t()> call,
                            std::set<uint32_t> through) {
        bool lost = false;
        while (!stop) {
            const uint32_t status = call();
            // Not closing yet when the call returned: it ran before the close.
            const bool closed = closing;
            if (status == ERR_DEVICE_NOT_CONNECTED) {
                lost = !closed;
                ++tally.losses;
            } else if (through.count(status) != 0 && !(lost && !closed)) {
                ++tally.through;
            } else if (!closed ||
                       (status != ERR_INVALID_CHANNEL_ID && status != ERR_INVALID_DEVICE_ID)) {
                return std::string(statusName(status)) + (lost ? " after the loss" : "");
            }
        }
        return std::string();
    };
    std::future<std::string> callers[] = {
        std::async(
            std::launch::async, repeat, std::ref(tallies[0]),
            [&] {
                PASSTHRU_MSG out = message(0x123, {1});
                uint32_t count = 1;
                return PassThruWriteMsgs(channel, &out, &count, 0);
            },
            std::set<uint32_t>{STATUS_NOERROR, ERR_BUFFER_FULL}),
        std::async(
            std::launch::async, repeat, std::ref(tallies[1]),
            [&] {
                PASSTHRU_MSG in[4];
                uint32_t count = 4;
                return PassThruReadMsgs(channel, in, &count, 0);
            },
            std::set<uint32_t>{STATUS_NOERROR, ERR_BUFFER_EMPTY}),
        std::async(
            std::launch::async, repeat, std::ref(tallies[2]),
            [&] {
                char firmware[80], dll[80], api[80];
                return PassThruReadVersion(1, firmware, dll, api);
            },
            std::set<uint32_t>{STATUS_NOERROR}),
    };
    // Ends the callers however the test ends, before their futures wait for them.
    struct StopAtEnd {
        std::atomic<bool>& flag;
        ~StopAtEnd() { flag = true; }
    } stopAtEnd{stop};
    // Every caller has counted more than it had when asked.
    const auto everyCallerMoves = [&](std::atomic<int> Tally::*counter) {
        int before[3];
        for (int i = 0; i < 3; ++i) {
            before[i] = tallies[i].*counter;
        }
        return eventually(
            [&] {
                for (int i = 0; i < 3; ++i) {
                    if (tallies[i].*counter <= before[i]) {
                        return false;
                    }
                }
                return true;
            },
            10s);
    };

    EXPECT_TRUE(everyCallerMoves(&Tally::through));
    world().control().unplug();
    EXPECT_TRUE(everyCallerMoves(&Tally::losses));
    world().control().plug();
    EXPECT_TRUE(everyCallerMoves(&Tally::losses));

    closing = true;
    expectOutcome(PassThruClose(deviceId), STATUS_NOERROR);
    openAndConnect();
    ASSERT_EQ(startFilter(PASS_FILTER, 0x7FF, 0x123, 0, &filterId), STATUS_NOERROR);
    setLoopback(1);
    channel = channelId;
    EXPECT_TRUE(everyCallerMoves(&Tally::through));

    stop = true;
    for (std::future<std::string>& caller : callers) {
        EXPECT_EQ(awaitOrAbort(caller, 10s, "a caller"), "");
    }
    EXPECT_EQ(PassThruClose(deviceId), STATUS_NOERROR);
}

// Sees the communication thread's loop end, which it does once it has found the device gone.
class LoopEndWatcher : public EventWatcher {
  public:
    void write(const trace::TraceEvent& event) override {
        if (event.name == "CommInterfaceThread" && event.message == trace::place::kCommLoopEnded) {
            ended = true;
        }
    }
    std::atomic<bool> ended{false};
};

// The thread asks after the device only now and then while transfers go through, and at once
// when one fails: it finds an unplug whether it moves frames or not.
TEST_F(DeviceLost, ThreadFindsTheUnplugInEveryState) {
    VTX_E2E_NEEDS_LIBRARY_INSIDE();
    enum class State { Open, Connected, Receiving };
    for (const State state : {State::Open, State::Connected, State::Receiving}) {
        SCOPED_TRACE(static_cast<int>(state));
        const LoopEndWatcher& watcher = watchEvents(std::make_unique<LoopEndWatcher>());
        ASSERT_EQ(PassThruOpen(nullptr, &deviceId), STATUS_NOERROR);
        if (state != State::Open) {
            ASSERT_EQ(PassThruConnect(deviceId, CAN, 0, 500000, &channelId), STATUS_NOERROR);
        }
        if (state == State::Receiving) {
            uint32_t filterId = 0;
            ASSERT_EQ(startFilter(PASS_FILTER, 0, 0, 0, &filterId), STATUS_NOERROR);
            inject(0x123, false, {1});
        }
        world().control().unplug();
        EXPECT_TRUE(eventually([&] { return watcher.ended.load(); }));
        expectOutcome(PassThruClose(deviceId), STATUS_NOERROR);
        world().control().plug();
        unloadLibrary();
        ASSERT_TRUE(loadLibrary());
    }
}

}  // namespace
}  // namespace vtx::e2e
