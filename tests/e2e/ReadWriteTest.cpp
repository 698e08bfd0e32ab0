// Reading and writing messages: the checks, the read timeouts, the write counts with and
// without a timeout, receive timestamps, the receive queue's bound and a writer whose wait
// ended before the device write.
#include <future>

#include "channel/Channel.h"
#include "tests/e2e/EngineFixture.h"
#include "trace/TracePlaces.h"

#if defined(__SANITIZE_ADDRESS__)
// Frames of returned calls stay poisoned, so that a store into the count of a writer that has
// already returned is reported. The sanitizer runtime looks the function up dynamically.
extern "C" __attribute__((visibility("default"))) const char* __asan_default_options() {
    return "detect_stack_use_after_return=1";
}
#endif

namespace vtx::e2e {
namespace {

class ReadWrite : public EngineFixture {
  protected:
    // A channel with loopback on and a pass filter for 0x123: every write leaves its echoes in
    // the receive queue at once.
    void connectWithEchoes() {
        openAndConnect();
        uint32_t filterId = 0;
        ASSERT_EQ(startFilter(PASS_FILTER, 0x7FF, 0x123, 0, &filterId), STATUS_NOERROR);
        setLoopback(1);
    }

    void queueEchoes(uint32_t n) {
        std::vector<PASSTHRU_MSG> out;
        for (uint32_t i = 0; i < n; ++i) {
            out.push_back(message(0x123, {static_cast<uint8_t>(i)}));
        }
        uint32_t count = n;
        ASSERT_EQ(PassThruWriteMsgs(channelId, out.data(), &count, 0), STATUS_NOERROR);
    }

    struct ReadResult {
        uint32_t status;
        uint32_t count;
        std::string lastError;  // the reading thread's own
        int64_t ms;
    };
    // A read on a thread of its own, which must return: nothing arrives on the bus meanwhile, so
    // what ends it is what was waiting or its timeout. One that does not return ends the run.
    ReadResult readOnItsOwnThread(uint32_t wanted, uint32_t timeout) {
        auto read = std::async(std::launch::async, [this, wanted, timeout] {
            std::vector<PASSTHRU_MSG> in(wanted);
            uint32_t count = wanted;
            const auto start = Clock::now();
            const uint32_t status = PassThruReadMsgs(channelId, in.data(), &count, timeout);
            const int64_t ms = millisecondsSince(start);
            return ReadResult{status, count, lastError(), ms};
        });
        return awaitOrAbort(read, 10s, "a read");
    }
};

// ---- checks ----

TEST_F(ReadWrite, ChecksBeforeTheChannelIsReached) {
    PASSTHRU_MSG msg = message(0x123);
    uint32_t count = 1;
    for (const bool write : {false, true}) {
        SCOPED_TRACE(write ? "write" : "read");
        const auto call = [&](uint32_t channel, PASSTHRU_MSG* pMsg, uint32_t* pNum) {
            return write ? PassThruWriteMsgs(channel, pMsg, pNum, 0)
                         : PassThruReadMsgs(channel, pMsg, pNum, 0);
        };
        expectOutcome(call(1, &msg, &count), ERR_INVALID_DEVICE_ID);
    }
    ASSERT_EQ(PassThruOpen(nullptr, &deviceId), STATUS_NOERROR);
    expectOutcome(PassThruReadMsgs(1, &msg, &count, 0), ERR_INVALID_CHANNEL_ID);
    expectOutcome(PassThruWriteMsgs(1, &msg, &count, 0), ERR_INVALID_CHANNEL_ID);
}

TEST_F(ReadWrite, ChecksInOrder) {
    openAndConnect();
    PASSTHRU_MSG msg = message(0x123);
    for (const bool write : {false, true}) {
        SCOPED_TRACE(write ? "write" : "read");
        const auto call = [&](uint32_t channel, PASSTHRU_MSG* pMsg, uint32_t* pNum) {
            return write ? PassThruWriteMsgs(channel, pMsg, pNum, 100)
                         : PassThruReadMsgs(channel, pMsg, pNum, 100);
        };
        uint32_t count = 1;
        expectOutcome(call(channelId + 1, nullptr, nullptr), ERR_INVALID_CHANNEL_ID);
        expectOutcome(call(channelId, nullptr, &count), ERR_NULL_PARAMETER);
        expectOutcome(call(channelId, &msg, nullptr), ERR_NULL_PARAMETER);
        EXPECT_EQ(count, 1u);
        // The pointer is checked before the count.
        count = 0;
        expectOutcome(call(channelId, nullptr, &count), ERR_NULL_PARAMETER);
        // A count of 0 returns at once, whatever the timeout.
        auto none = std::async(std::launch::async, [&] {
            const uint32_t status = write ? PassThruWriteMsgs(channelId, &msg, &count, 60000)
                                          : PassThruReadMsgs(channelId, &msg, &count, 60000);
            EXPECT_EQ(lastError(), "STATUS_NOERROR");  // the calling thread's own outcome
            return status;
        });
        EXPECT_EQ(awaitOrAbort(none, 10s, "a call for no messages"), STATUS_NOERROR);
        EXPECT_EQ(count, 0u);
    }
    EXPECT_TRUE(busFrames().empty());
}

struct WriteCheckCase {
    const char* name;
    std::vector<PASSTHRU_MSG> msgs;
    uint32_t expected;
    const char* text;
};

PASSTHRU_MSG withSize(PASSTHRU_MSG msg, uint32_t size) {
    msg.DataSize = size;
    return msg;
}
PASSTHRU_MSG withProtocol(PASSTHRU_MSG msg, uint32_t protocol) {
    msg.ProtocolID = protocol;
    return msg;
}

TEST_F(ReadWrite, WriteValidatesEveryMessageBeforeSendingAny) {
    connectWithEchoes();
    const PASSTHRU_MSG good = SimFixture::message(0x123, {1, 2});
    const PASSTHRU_MSG padded = SimFixture::message(0x123, {1}, ISO15765_FRAME_PAD);
    const WriteCheckCase cases[] = {
        {"second has 13 bytes", {good, withSize(good, 13)}, ERR_INVALID_MSG, ""},
        {"3 bytes", {withSize(good, 3)}, ERR_INVALID_MSG, ""},
        {"ISO15765 message", {good, withProtocol(good, ISO15765)}, ERR_MSG_PROTOCOL_ID, ""},
        {"frame pad flag", {good, padded}, ERR_FAILED, kTextInvalidTxFlags},
        {"protocol before size",
         {withSize(withProtocol(good, ISO15765), 13)},
         ERR_MSG_PROTOCOL_ID,
         ""},
        {"size before flags", {withSize(padded, 2)}, ERR_INVALID_MSG, ""},
        {"first failure decides",
         {padded, withProtocol(good, ISO15765)},
         ERR_FAILED,
         kTextInvalidTxFlags},
    };
    for (const WriteCheckCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<PASSTHRU_MSG> msgs = c.msgs;
        auto count = static_cast<uint32_t>(msgs.size());
        expectOutcome(PassThruWriteMsgs(channelId, msgs.data(), &count, 100), c.expected, c.text);
        EXPECT_EQ(count, msgs.size());
    }
    // Nothing was sent and no echo was queued.
    EXPECT_EQ(readOnItsOwnThread(1, 0).status, ERR_BUFFER_EMPTY);
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(busFrames().empty());
}

// ---- write counts ----

TEST_F(ReadWrite, WriteWithTimeoutReportsTheFramesTheDeviceTook) {
    openAndConnect(CAN_ID_BOTH);
    PASSTHRU_MSG out[2] = {message(0x123, {1, 2, 3, 4, 5, 6, 7, 8}),
                           message(0x18DA10F1, {9}, CAN_29BIT_ID)};
    uint32_t count = 2;
    expectOutcome(PassThruWriteMsgs(channelId, out, &count, 200), STATUS_NOERROR);
    EXPECT_EQ(count, 2u);
    ASSERT_TRUE(world().control().waitForBusRecords(2, 2000ms));
    const std::vector<sim::CanFrame> frames = busFrames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0], canFrame(0x123, false, {1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(frames[1], canFrame(0x18DA10F1, true, {9}));
}

TEST_F(ReadWrite, WriteWithoutTimeoutCountsEveryMessageAsSent) {
    openAndConnect();
    // The thread is held: the write returns without the device having taken anything.
    holdTheThread(10s);
    PASSTHRU_MSG out[3] = {message(0x301), message(0x302, {1}), message(0x303, {2, 3})};
    uint32_t count = 3;
    expectOutcome(PassThruWriteMsgs(channelId, out, &count, 0), STATUS_NOERROR);
    EXPECT_EQ(count, 3u);
    EXPECT_TRUE(busFrames().empty());
    world().control().releaseFrameWrites();
    ASSERT_TRUE(world().control().waitForBusRecords(4, 2000ms));
    EXPECT_EQ(busFrames()[1], canFrame(0x301));

    // Also when the device then takes nothing.
    world().control().clearBusRecords();
    world().control().failNextWrites(1);
    count = 3;
    expectOutcome(PassThruWriteMsgs(channelId, out, &count, 0), STATUS_NOERROR);
    EXPECT_EQ(count, 3u);
}

TEST_F(ReadWrite, WriteThatTheDeviceRefusesIsBufferFull) {
    openAndConnect();
    world().control().failNextWrites(1);
    PASSTHRU_MSG out[2] = {message(0x301), message(0x302)};
    uint32_t count = 2;
    expectOutcome(PassThruWriteMsgs(channelId, out, &count, 500), ERR_BUFFER_FULL);
    EXPECT_EQ(count, 0u);
    // The frames of the failed write are dropped; the device goes on working.
    count = 2;
    expectOutcome(PassThruWriteMsgs(channelId, out, &count, 500), STATUS_NOERROR);
    EXPECT_EQ(count, 2u);
    ASSERT_TRUE(world().control().waitForBusRecords(2, 2000ms));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(busFrames().size(), 2u);
}

// The thread is held in a device write: a writer's wait ends first. The thread must not
// store into that writer's count after it has returned; the frames still go out, and a later
// writer's count is its own messages only, though one device write carries both.
TEST_F(ReadWrite, WriterWhoseWaitEndedIsNotWrittenToAfterwards) {
    openAndConnect();
    uint32_t filterId = 0;
    ASSERT_EQ(startFilter(PASS_FILTER, 0x7FF, 0x7FF, 0, &filterId), STATUS_NOERROR);
    holdTheThread(600ms);

    PASSTHRU_MSG first = message(0x301, {1});
    uint32_t firstCount = 1;
    expectOutcome(PassThruWriteMsgs(channelId, &first, &firstCount, 30), ERR_BUFFER_FULL);
    EXPECT_EQ(firstCount, 0u);

    PASSTHRU_MSG second = message(0x302, {2});
    uint32_t secondCount = 1;
    expectOutcome(PassThruWriteMsgs(channelId, &second, &secondCount, 3000), STATUS_NOERROR);
    EXPECT_EQ(secondCount, 1u);
    EXPECT_EQ(firstCount, 0u);
    ASSERT_TRUE(world().control().waitForBusRecords(3, 2000ms));
    EXPECT_EQ(busFrames()[0], canFrame(kHoldFrameId, false, {0}));
    EXPECT_EQ(busFrames()[1], canFrame(0x301, false, {1}));
    EXPECT_EQ(busFrames()[2], canFrame(0x302, false, {2}));

    // A writer that timed out with nothing else waiting: its frames go out later, and the next
    // writer's count is its own.
    holdTheThread(300ms);
    firstCount = 1;
    expectOutcome(PassThruWriteMsgs(channelId, &first, &firstCount, 10), ERR_BUFFER_FULL);
    EXPECT_TRUE(world().control().waitForBusRecords(5, 2000ms));
    secondCount = 1;
    expectOutcome(PassThruWriteMsgs(channelId, &second, &secondCount, 1000), STATUS_NOERROR);
    EXPECT_EQ(secondCount, 1u);
    EXPECT_EQ(firstCount, 0u);
}

// ---- read timeouts ----

// Without a timeout a read takes what is waiting and returns, though nothing more will come.
TEST_F(ReadWrite, ReadWithoutTimeoutTakesWhatIsWaiting) {
    connectWithEchoes();
    ReadResult r = readOnItsOwnThread(10, 0);
    EXPECT_EQ(r.status, ERR_BUFFER_EMPTY);
    EXPECT_EQ(r.count, 0u);
    EXPECT_EQ(r.lastError, "ERR_BUFFER_EMPTY");

    queueEchoes(3);
    r = readOnItsOwnThread(10, 0);
    EXPECT_EQ(r.status, STATUS_NOERROR);
    EXPECT_EQ(r.count, 3u);
}

// A read whose messages are all waiting returns with them: its timeout of a minute, six times
// the wait for it, plays no part.
TEST_F(ReadWrite, ReadWithAllWaitingReturnsAtOnce) {
    connectWithEchoes();
    queueEchoes(3);
    ReadResult r = readOnItsOwnThread(2, 60000);
    EXPECT_EQ(r.status, STATUS_NOERROR);
    EXPECT_EQ(r.count, 2u);
    r = readOnItsOwnThread(1, 60000);
    EXPECT_EQ(r.status, STATUS_NOERROR);
    EXPECT_EQ(r.count, 1u);
}

// A read short of messages, with nothing more coming, returns at its timeout (not before it)
// with the count it has.
TEST_F(ReadWrite, ReadWithFewerWaitingTimesOutWithTheirCount) {
    connectWithEchoes();
    queueEchoes(3);
    ReadResult r = readOnItsOwnThread(10, 100);
    EXPECT_EQ(r.status, ERR_TIMEOUT);
    EXPECT_EQ(r.lastError, "ERR_TIMEOUT");
    EXPECT_EQ(r.count, 3u);
    EXPECT_GE(r.ms, 90);

    r = readOnItsOwnThread(10, 100);
    EXPECT_EQ(r.status, ERR_BUFFER_EMPTY);
    EXPECT_EQ(r.count, 0u);
    EXPECT_GE(r.ms, 90);
}

// A read short of frames waits once: the next arrival ends the wait. Frames keep coming, one
// every 20 ms, until the read returns (at most 250 of them); a read that waited for its timeout
// (a minute) or until it had all it asked for (1000, more than ever come) would not return.
TEST_F(ReadWrite, ReadWaitEndsAtTheNextArrival) {
    connectWithEchoes();
    queueEchoes(1);
    constexpr uint32_t kWanted = 1000;
    std::vector<PASSTHRU_MSG> in(kWanted);
    auto read = std::async(std::launch::async, [&] {
        uint32_t count = kWanted;
        const uint32_t status = PassThruReadMsgs(channelId, in.data(), &count, 60000);
        return std::pair<uint32_t, uint32_t>{status, count};
    });
    uint8_t injected = 0;
    while (read.wait_for(20ms) != std::future_status::ready && injected < 250) {
        ASSERT_TRUE(world().control().injectFrame(canFrame(0x123, false, {++injected})));
    }
    const auto [status, count] = awaitOrAbort(read, 10s, "a read waiting for frames");
    EXPECT_EQ(status, ERR_TIMEOUT);
    ASSERT_GE(count, 2u);
    ASSERT_LT(count, kWanted);
    EXPECT_LE(count, 1u + injected);
    EXPECT_EQ(in[0].RxStatus, TX_MSG_TYPE);
    for (uint32_t i = 1; i < count; ++i) {
        EXPECT_EQ(in[i].RxStatus, 0u) << i;
        EXPECT_EQ(static_cast<uint32_t>(in[i].Data[4]), i) << i;  // the injected frames, in order
    }
}

// ---- what is read ----

TEST_F(ReadWrite, ReceivedAndEchoedMessagesCarryIdentifierDataAndStatus) {
    openAndConnect(CAN_ID_BOTH);
    uint32_t filterId = 0;
    ASSERT_EQ(startFilter(PASS_FILTER, 0x7FF, 0x123, 0, &filterId), STATUS_NOERROR);
    ASSERT_EQ(startFilter(PASS_FILTER, 0x1FFFFFFF, 0x18DAF110, CAN_29BIT_ID, &filterId),
              STATUS_NOERROR);
    inject(0x123, false, {1, 2, 3});
    inject(0x18DAF110, true, {4, 5, 6, 7, 8, 9, 10, 11});
    std::vector<PASSTHRU_MSG> got = readMessages(2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].ProtocolID, CAN);
    EXPECT_EQ(got[0].RxStatus, 0u);
    EXPECT_EQ(got[0].TxFlags, 0u);
    EXPECT_EQ(got[0].DataSize, 7u);
    EXPECT_EQ(got[0].ExtraDataIndex, 7u);
    EXPECT_EQ(idOf(got[0]), 0x123u);
    EXPECT_EQ(std::vector<uint8_t>(got[0].Data + 4, got[0].Data + 7),
              (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(got[1].RxStatus, CAN_29BIT_ID);
    EXPECT_EQ(got[1].DataSize, 12u);
    EXPECT_EQ(idOf(got[1]), 0x18DAF110u);
    EXPECT_EQ(got[1].Data[11], 11);

    setLoopback(1);
    PASSTHRU_MSG out[2] = {message(0x456, {7}), message(0x18DA10F1, {}, CAN_29BIT_ID)};
    uint32_t count = 2;
    ASSERT_EQ(PassThruWriteMsgs(channelId, out, &count, 0), STATUS_NOERROR);
    got = readMessages(2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].RxStatus, TX_MSG_TYPE);
    EXPECT_EQ(idOf(got[0]), 0x456u);
    EXPECT_EQ(got[0].DataSize, 5u);
    EXPECT_EQ(got[1].RxStatus, TX_MSG_TYPE | CAN_29BIT_ID);
    EXPECT_EQ(idOf(got[1]), 0x18DA10F1u);
    EXPECT_EQ(got[1].DataSize, 4u);
    EXPECT_EQ(got[1].TxFlags, 0u);
}

// Receive timestamps count microseconds of the host clock: they increase with the time between
// arrivals.
TEST_F(ReadWrite, ReceiveTimestampsCountMicroseconds) {
    openAndConnect();
    uint32_t filterId = 0;
    ASSERT_EQ(startFilter(PASS_FILTER, 0x7FF, 0x123, 0, &filterId), STATUS_NOERROR);
    std::vector<PASSTHRU_MSG> got;
    std::vector<Clock::time_point> sentAt;
    for (int i = 0; i < 3; ++i) {
        if (i > 0) {
            std::this_thread::sleep_for(150ms);
        }
        sentAt.push_back(Clock::now());
        inject(0x123, false, {static_cast<uint8_t>(i)});
        const std::vector<PASSTHRU_MSG> one = readMessages(1);
        ASSERT_EQ(one.size(), 1u);
        got.push_back(one[0]);
    }
    const auto wallSpan =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - sentAt.front());
    for (int i = 1; i < 3; ++i) {
        // Differences modulo 2^32, as the timestamp wraps.
        const uint32_t step = got[i].Timestamp - got[i - 1].Timestamp;
        EXPECT_GE(step, 120'000u) << i;
        EXPECT_LE(step, static_cast<uint64_t>(wallSpan.count())) << i;
    }
    const uint32_t span = got[2].Timestamp - got[0].Timestamp;
    EXPECT_GE(span, 290'000u);
    EXPECT_LE(span, static_cast<uint64_t>(wallSpan.count()));

    // An echo is stamped when it is queued.
    setLoopback(1);
    const uint32_t before = got[2].Timestamp;
    PASSTHRU_MSG out = message(0x123);
    uint32_t count = 1;
    ASSERT_EQ(PassThruWriteMsgs(channelId, &out, &count, 0), STATUS_NOERROR);
    const std::vector<PASSTHRU_MSG> echo = readMessages(1);
    ASSERT_EQ(echo.size(), 1u);
    const uint32_t sinceLast = echo[0].Timestamp - before;
    const auto sinceLastSent =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - sentAt.back());
    EXPECT_LE(sinceLast, static_cast<uint64_t>(sinceLastSent.count()));
}

// ---- the receive queue's bound ----

// Keeps the highest count of dropped frames that a channel's trace events report.
class DropCounter : public EventWatcher {
  public:
    void write(const trace::TraceEvent& event) override {
        if (event.name == "Channel" && event.message == trace::place::kChannelFramesDropped) {
            const uint32_t count = field(event, "dropped").value_or(0);
            uint32_t seen = dropped.load();
            while (count > seen && !dropped.compare_exchange_weak(seen, count)) {
            }
        }
    }
    std::atomic<uint32_t> dropped{0};
};

// A channel that nobody reads keeps a bounded number of frames and drops the rest without
// failing. The channel's controller runs at another rate than the bus, so its frames are
// dropped by the device at once while their echoes fill the queue.
TEST_F(ReadWrite, ReceiveQueueKeepsItsBoundAndDropsTheRest) {
    VTX_E2E_NEEDS_LIBRARY_INSIDE();
    const DropCounter& drops = watchEvents(std::make_unique<DropCounter>());
    openAndConnect(0, 250000);
    uint32_t filterId = 0;
    ASSERT_EQ(startFilter(PASS_FILTER, 0x7FF, 0x123, 0, &filterId), STATUS_NOERROR);
    setLoopback(1);
    constexpr uint32_t kBatch = 1000;
    // Whole batches, some thousands beyond the bound.
    const uint32_t total =
        (static_cast<uint32_t>(Channel::kReceiveQueueLimit) / kBatch + 4) * kBatch;
    std::vector<PASSTHRU_MSG> out(kBatch, message(0x123, {0, 0, 0, 0}));
    for (uint32_t sent = 0; sent < total; sent += kBatch) {
        for (uint32_t i = 0; i < kBatch; ++i) {
            const uint32_t seq = sent + i;
            out[i].Data[4] = static_cast<uint8_t>(seq >> 24);
            out[i].Data[5] = static_cast<uint8_t>(seq >> 16);
            out[i].Data[6] = static_cast<uint8_t>(seq >> 8);
            out[i].Data[7] = static_cast<uint8_t>(seq);
        }
        // The echoes are what fills the receive queue; the frames themselves need not wait for
        // the bus, and the transmit queue keeps its own bound.
        ASSERT_EQ(PassThruIoctl(channelId, CLEAR_TX_BUFFER, nullptr, nullptr), STATUS_NOERROR);
        uint32_t count = kBatch;
        ASSERT_EQ(PassThruWriteMsgs(channelId, out.data(), &count, 0), STATUS_NOERROR)
            << lastError();
    }
    // The drops are counted where the trace shows them.
    EXPECT_EQ(drops.dropped.load(), total - Channel::kReceiveQueueLimit);
    const std::vector<PASSTHRU_MSG> got = drain();
    ASSERT_EQ(got.size(), Channel::kReceiveQueueLimit);
    // The oldest frames are kept, in order.
    for (std::size_t i = 0; i < got.size(); ++i) {
        const uint32_t seq = static_cast<uint32_t>(got[i].Data[4]) << 24 |
                             static_cast<uint32_t>(got[i].Data[5]) << 16 |
                             static_cast<uint32_t>(got[i].Data[6]) << 8 | got[i].Data[7];
        ASSERT_EQ(seq, i);
    }
    EXPECT_EQ(readOnItsOwnThread(1, 0).status, ERR_BUFFER_EMPTY);
    // Room again: new echoes are queued.
    uint32_t count = 1;
    ASSERT_EQ(PassThruWriteMsgs(channelId, out.data(), &count, 0), STATUS_NOERROR);
    EXPECT_EQ(readOnItsOwnThread(1, 0).count, 1u);
}

}  // namespace
}  // namespace vtx::e2e
