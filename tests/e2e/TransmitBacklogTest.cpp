// A full transmit queue: reads and writes report exactly what they did, calls that need the
// communication thread do not wait for the backlog, and reception goes on while it drains.
#include <atomic>
#include <future>

#include "comm/TransmitQueue.h"
#include "tests/e2e/EngineFixture.h"
#include "trace/TracePlaces.h"

namespace vtx::e2e {
namespace {

constexpr uint32_t kBacklogId = 0x300;
constexpr uint32_t kTrafficId = 0x100;
constexpr std::size_t kQueueLimit = TransmitQueue::kLimit;

std::vector<uint8_t> sequenceBytes(uint32_t seq) {
    return {static_cast<uint8_t>(seq >> 24), static_cast<uint8_t>(seq >> 16),
            static_cast<uint8_t>(seq >> 8), static_cast<uint8_t>(seq)};
}

uint32_t sequenceOf(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
           static_cast<uint32_t>(bytes[2]) << 8 | bytes[3];
}

// Counts the frames of the device writes the thread makes between the moment an operation hands
// it a command or asks it to end and the moment the command runs or the loop ends: the write
// under way then, and those it begins before. The operation is the one whose start place is
// given.
class WritesUntilCommandRuns : public EventWatcher {
  public:
    explicit WritesUntilCommandRuns(std::string_view operationStarted) : start_(operationStarted) {}

    void write(const trace::TraceEvent& event) override {
        const std::lock_guard lock(mutex_);
        const std::string_view m = event.message;
        if (m == start_ && phase_ == Phase::Before) {
            phase_ = Phase::InOperation;
        } else if (phase_ == Phase::InOperation && (m == trace::place::kCommCommandQueued ||
                                                    m == trace::place::kCommStopRequestStarted)) {
            phase_ = Phase::Waiting;
            frames_ += inFlight_;
        } else if (phase_ == Phase::Waiting &&
                   (m == trace::place::kCommCommandsRun || m == trace::place::kCommLoopEnded)) {
            phase_ = Phase::Done;
        } else if (m == trace::place::kCommChunkWriting) {
            inFlight_ = field(event, "countCan").value_or(0);
            frames_ += phase_ == Phase::Waiting ? inFlight_ : 0;
        } else if (m == trace::place::kCommChunkWritten) {
            inFlight_ = 0;
        }
    }

    uint64_t frames() const {
        const std::lock_guard lock(mutex_);
        return frames_;
    }

  private:
    enum class Phase { Before, InOperation, Waiting, Done };
    const std::string_view start_;
    mutable std::mutex mutex_;  // guards the fields below
    Phase phase_ = Phase::Before;
    uint64_t inFlight_ = 0;
    uint64_t frames_ = 0;
};

class TransmitBacklog : public EngineFixture {
  protected:
    std::vector<PASSTHRU_MSG> numbered(uint32_t id, uint32_t count) {
        std::vector<PASSTHRU_MSG> msgs;
        for (uint32_t seq = 0; seq < count; ++seq) {
            msgs.push_back(message(id, sequenceBytes(seq)));
        }
        return msgs;
    }

    // Writes without a timeout until the transmit queue is full; the number queued.
    uint32_t fillQueue() {
        std::vector<PASSTHRU_MSG> out = numbered(kBacklogId, kQueueLimit + 500);
        auto count = static_cast<uint32_t>(out.size());
        expectOutcome(PassThruWriteMsgs(channelId, out.data(), &count, 0), ERR_BUFFER_FULL);
        return count;
    }
};

// The read buffer is sized by what is queued, whatever count the caller passes.
TEST_F(TransmitBacklog, ReadWithAHugeCountReturnsWhatIsWaiting) {
    for (const uint32_t huge : {0xFFFFFFFFu, 0x1000000u}) {
        SCOPED_TRACE(huge);
        openAndConnect();
        uint32_t filterId = 0;
        ASSERT_EQ(startFilter(PASS_FILTER, 0x7FF, 0x123, 0, &filterId), STATUS_NOERROR);
        inject(0x123, false, {1});
        inject(0x123, false, {2});
        std::vector<uint8_t> got;
        ASSERT_TRUE(eventually([&] {
            PASSTHRU_MSG in[4] = {};
            uint32_t count = huge;
            const uint32_t status = PassThruReadMsgs(channelId, in, &count, 0);
            EXPECT_TRUE(status == STATUS_NOERROR || status == ERR_BUFFER_EMPTY) << lastError();
            EXPECT_LE(count, 2u);
            for (uint32_t i = 0; i < count && i < 2; ++i) {
                got.push_back(in[i].Data[4]);
            }
            return got.size() >= 2;
        }));
        EXPECT_EQ(got, (std::vector<uint8_t>{1, 2}));
        ASSERT_EQ(PassThruClose(deviceId), STATUS_NOERROR);
    }
}

// One device write carries frames of an earlier write and of this one: the count is this call's
// messages only.
TEST_F(TransmitBacklog, TimedWriteCountsOnlyItsOwnMessages) {
    openAndConnect();
    uint32_t filterId = 0;
    ASSERT_EQ(startFilter(PASS_FILTER, 0x7FF, 0x7FF, 0, &filterId), STATUS_NOERROR);
    holdTheThread(300ms);  // both writes queue while the thread is held
    std::vector<PASSTHRU_MSG> first = numbered(0x301, 100);
    uint32_t firstCount = 100;
    expectOutcome(PassThruWriteMsgs(channelId, first.data(), &firstCount, 0), STATUS_NOERROR);
    std::vector<PASSTHRU_MSG> second = numbered(0x302, 10);
    uint32_t secondCount = 10;
    expectOutcome(PassThruWriteMsgs(channelId, second.data(), &secondCount, 10000), STATUS_NOERROR);
    EXPECT_EQ(secondCount, 10u);
    ASSERT_TRUE(world().control().waitForBusRecords(111, 10000ms));
}

// Counts the attempts to queue frames and the device writes of queued frames.
class QueueAttempts : public EventWatcher {
  public:
    void write(const trace::TraceEvent& event) override {
        if (event.message == trace::place::kCommFramesQueueingStarted) {
            ++attempts;
        } else if (event.message == trace::place::kCommChunkWriting) {
            ++writes;
        }
    }
    std::atomic<uint64_t> attempts{0};
    std::atomic<uint64_t> writes{0};
};

// A timed write that finds the queue full waits for room: it tries again only after a device
// write has made some, never in a loop of its own.
TEST_F(TransmitBacklog, WriterWaitingForRoomDoesNotSpin) {
    VTX_E2E_NEEDS_LIBRARY_INSIDE();
    const QueueAttempts& counts = watchEvents(std::make_unique<QueueAttempts>());
    openAndConnect();
    uint32_t filterId = 0;
    ASSERT_EQ(startFilter(PASS_FILTER, 0x7FF, 0x7FF, 0, &filterId), STATUS_NOERROR);
    // The thread is held in a device write for the whole test, however slow the machine: no
    // room appears.
    holdTheThread(20000ms);
    fillQueue();
    std::vector<PASSTHRU_MSG> out = numbered(0x302, 1);
    uint32_t count = 1;
    const uint64_t attemptsBefore = counts.attempts;
    const uint64_t writesBefore = counts.writes;
    PassThruWriteMsgs(channelId, out.data(), &count, 300);
    EXPECT_LE(counts.attempts - attemptsBefore, counts.writes - writesBefore + 2);
    world().control().releaseFrameWrites();
}

// The device loses power after taking the first two frames of a write: the count says two,
// so a caller that retries does not send those twice.
TEST_F(TransmitBacklog, WriteCutShortCountsWhatTheDeviceTook) {
    openAndConnect();
    world().control().unplugAfterPacket(sim::PacketClass::Frame, -1, 1);
    std::vector<PASSTHRU_MSG> out = numbered(0x301, 4);
    uint32_t count = 4;
    const uint32_t status = PassThruWriteMsgs(channelId, out.data(), &count, 10000);
    EXPECT_TRUE(status == ERR_TIMEOUT || status == ERR_DEVICE_NOT_CONNECTED) << lastError();
    EXPECT_EQ(count, 2u);
}

// A write without a timeout into a full queue queues what fits, says so, and loses none of it:
// each queued message is echoed once and crosses the bus once, in order.
TEST_F(TransmitBacklog, FullQueueTakesWhatFitsAndLosesNothing) {
    openAndConnect();
    setLoopback(1);
    uint32_t filterId = 0;
    ASSERT_EQ(startFilter(PASS_FILTER, 0x7FF, 0x7FF, 0, &filterId), STATUS_NOERROR);
    const uint32_t queued = fillQueue();
    EXPECT_EQ(queued, kQueueLimit);
    const std::vector<PASSTHRU_MSG> echoes = drain();
    ASSERT_EQ(echoes.size(), queued);
    for (uint32_t seq = 0; seq < queued; ++seq) {
        ASSERT_EQ(sequenceOf(echoes[seq].Data + 4), seq);
    }
    ASSERT_TRUE(world().control().waitForBusRecords(queued, 20000ms));
    const std::vector<sim::CanFrame> frames = busFrames();
    ASSERT_EQ(frames.size(), queued);
    for (uint32_t seq = 0; seq < queued; ++seq) {
        ASSERT_EQ(sequenceOf(frames[seq].data.data()), seq);
    }
}

// Calls that hand the thread a command or end it find it within a few chunks of the backlog,
// not after it: once such a call asks, the thread writes at most the chunk under way and one
// more.
struct BacklogCall {
    const char* name;
    const char* operationStarted;  // the trace place where the operation starts
    bool keepsBacklog;             // the frames still queued go out afterwards
};

void PrintTo(const BacklogCall& call, std::ostream* out) {
    *out << call.name;
}

class CallBehindBacklog : public TransmitBacklog,
                          public ::testing::WithParamInterface<BacklogCall> {};

TEST_P(CallBehindBacklog, WaitsForAFewChunksOnly) {
    VTX_E2E_NEEDS_LIBRARY_INSIDE();
    const BacklogCall& call = GetParam();
    const auto& writes =
        watchEvents(std::make_unique<WritesUntilCommandRuns>(call.operationStarted));
    openAndConnect();
    const uint32_t queued = fillQueue();
    SCONFIG loopback{LOOPBACK, 0};
    SCONFIG_LIST config{1, &loopback};
    if (std::string(call.name) == "GET_CONFIG") {
        expectOutcome(PassThruIoctl(channelId, GET_CONFIG, &config, nullptr), STATUS_NOERROR);
    } else if (std::string(call.name) == "CLEAR_TX_BUFFER") {
        expectOutcome(PassThruIoctl(channelId, CLEAR_TX_BUFFER, nullptr, nullptr), STATUS_NOERROR);
    } else {
        expectOutcome(PassThruClose(deviceId), STATUS_NOERROR);
    }
    EXPECT_LE(writes.frames(), 3 * 64u) << "of a backlog of " << queued;
    if (call.keepsBacklog) {
        EXPECT_TRUE(world().control().waitForBusRecords(queued, 20000ms));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Calls, CallBehindBacklog,
    ::testing::Values(BacklogCall{"GET_CONFIG", trace::place::kIoctlStarted, true},
                      BacklogCall{"CLEAR_TX_BUFFER", trace::place::kIoctlStarted, false},
                      BacklogCall{"Close", trace::place::kCloseStarted, false}),
    [](const auto& param) { return std::string(param.param.name); });

// Frames keep arriving, for longer than the device's receive buffer could hold them, while a
// backlog three times the queue drains at full bus speed: every one is read, once, in order.
TEST_F(TransmitBacklog, ReceptionLosesNothingWhileTheBacklogDrains) {
    openAndConnect();
    uint32_t filterId = 0;
    ASSERT_EQ(startFilter(PASS_FILTER, 0x7FF, kTrafficId, 0, &filterId), STATUS_NOERROR);
    constexpr uint32_t kBacklog = 3 * kQueueLimit;
    constexpr uint32_t kTraffic = 6000;
    auto injector = std::async(std::launch::async, [&] {
        // About 2000 frames a second, in bursts of 20.
        for (uint32_t seq = 0; seq < kTraffic;) {
            for (int i = 0; i < 20 && seq < kTraffic; ++i, ++seq) {
                EXPECT_TRUE(
                    world().control().injectFrame(canFrame(kTrafficId, false, sequenceBytes(seq))));
            }
            std::this_thread::sleep_for(10ms);
        }
    });
    std::vector<PASSTHRU_MSG> backlog = numbered(kBacklogId, kBacklog);
    std::vector<uint32_t> received;
    uint32_t written = 0;
    const auto readSome = [&](uint32_t timeout) {
        PASSTHRU_MSG in[64];
        uint32_t count = 64;
        PassThruReadMsgs(channelId, in, &count, timeout);
        for (uint32_t i = 0; i < count; ++i) {
            received.push_back(sequenceOf(in[i].Data + 4));
        }
    };
    const auto deadline = Clock::now() + 60s;
    while ((written < kBacklog || received.size() < kTraffic) && Clock::now() < deadline) {
        if (written < kBacklog) {
            uint32_t count = kBacklog - written;
            const uint32_t status =
                PassThruWriteMsgs(channelId, backlog.data() + written, &count, 0);
            ASSERT_TRUE(status == STATUS_NOERROR || status == ERR_BUFFER_FULL) << lastError();
            written += count;
        }
        readSome(5);
    }
    awaitOrAbort(injector, 60s, "the injector");
    EXPECT_EQ(written, kBacklog);
    ASSERT_EQ(received.size(), kTraffic);
    for (uint32_t seq = 0; seq < kTraffic; ++seq) {
        ASSERT_EQ(received[seq], seq);
    }
    EXPECT_EQ(controller().overflowedFrames, 0u);
}

}  // namespace
}  // namespace vtx::e2e
