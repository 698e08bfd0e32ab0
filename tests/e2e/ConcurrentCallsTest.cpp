// Calls from several threads: a read that waits holds up no other call, and whatever ends the
// channel under a waiting read wakes it. Ordered by events, never by durations: the long
// timeouts below only keep a broken library from hanging the suite.
#include <atomic>
#include <future>
#include <set>

#include "tests/e2e/EngineFixture.h"
#include "trace/TracePlaces.h"

namespace vtx::e2e {
namespace {

using namespace std::chrono_literals;

constexpr uint32_t kWaitForever = 60000;
constexpr auto kHangGuard = 20s;

// Counts the reads that have reached their channel's wait.
class ReadStarts : public EventWatcher {
  public:
    void write(const trace::TraceEvent& event) override {
        if (event.name == "Channel" && event.message == trace::place::kChannelReadStarted) {
            ++started;
        }
    }
    std::atomic<int> started{0};
};

class ConcurrentCalls : public EngineFixture {
  protected:
    void SetUp() override {
        EngineFixture::SetUp();
#if !defined(VTX_E2E_THROUGH_LIBRARY)
        // Put in place before the device opens, so that every read's start is seen.
        readStarts_ = &watchEvents(std::make_unique<ReadStarts>());
#endif
        openAndConnect();
        passFilter(0x7FF, 0x555);
    }

    // A read of one message on the channel, waiting up to a minute, on its own thread; its
    // status, with the count and the thread's own last-error text.
    struct ReadResult {
        uint32_t status;
        uint32_t count;
        std::string text;
    };
    std::future<ReadResult> startRead(uint32_t channel) {
        auto read = std::async(std::launch::async, [channel] {
            PASSTHRU_MSG msg{};
            uint32_t count = 1;
            const uint32_t status = PassThruReadMsgs(channel, &msg, &count, kWaitForever);
            return ReadResult{status, count, lastError()};
        });
        waitUntilReadsStarted(++readsStarted_);
        return read;
    }

    // Where the library is inside the program, until the reads have reached their wait; loaded
    // from its file, the calls that follow may come first, which changes no outcome below.
    void waitUntilReadsStarted(int reads) {
        if (readStarts_ != nullptr) {
            ASSERT_TRUE(eventually([&] { return readStarts_->started.load() >= reads; }));
        }
    }

    static bool stillWaiting(std::future<ReadResult>& read) {
        return read.wait_for(0s) != std::future_status::ready;
    }

  private:
    ReadStarts* readStarts_ = nullptr;
    int readsStarted_ = 0;
};

// A write on the same channel and GET_CONFIG on another complete while the read still waits.
TEST_F(ConcurrentCalls, WriteAndGetConfigGoOnWhileAReadWaits) {
    uint32_t isoChannel = 0;
    ASSERT_EQ(PassThruConnect(deviceId, ISO15765, 0, 500000, &isoChannel), STATUS_NOERROR);
    auto read = startRead(channelId);

    auto others = std::async(std::launch::async, [&] {
        PASSTHRU_MSG msg = message(0x123, {1, 2});
        uint32_t count = 1;
        EXPECT_EQ(PassThruWriteMsgs(channelId, &msg, &count, 100), STATUS_NOERROR) << lastError();
        SCONFIG entry{ISO15765_BS, 0xFFFF};
        SCONFIG_LIST list{1, &entry};
        EXPECT_EQ(PassThruIoctl(isoChannel, GET_CONFIG, &list, nullptr), STATUS_NOERROR);
    });
    awaitOrAbort(others, kHangGuard, "a write and GET_CONFIG beside a waiting read");
    EXPECT_TRUE(stillWaiting(read));
    EXPECT_TRUE(eventually([&] { return !busTimesOf(0x123).empty(); }));

    inject(0x555, false, {7});
    const ReadResult result = awaitOrAbort(read, kHangGuard, "the read");
    EXPECT_EQ(result.status, STATUS_NOERROR) << result.text;
    EXPECT_EQ(result.count, 1u);
}

// Two readers on one channel share the messages: each takes whole ones, none twice, in order.
TEST_F(ConcurrentCalls, TwoReadersTakeEachMessageOnce) {
    constexpr int kMessages = 200;
    std::atomic<int> taken{0};
    std::atomic<bool> done{false};
    const auto reader = [&] {
        std::vector<uint8_t> seen;
        while (!done.load()) {
            PASSTHRU_MSG msgs[4]{};
            uint32_t count = 4;
            PassThruReadMsgs(channelId, msgs, &count, 20);
            for (uint32_t i = 0; i < count; ++i) {
                EXPECT_EQ(msgs[i].DataSize, 5u);
                seen.push_back(msgs[i].Data[4]);
            }
            taken += static_cast<int>(count);
        }
        return seen;
    };
    auto first = std::async(std::launch::async, reader);
    auto second = std::async(std::launch::async, reader);
    for (int i = 0; i < kMessages; ++i) {
        inject(0x555, false, {static_cast<uint8_t>(i)});
    }
    EXPECT_TRUE(eventually([&] { return taken.load() >= kMessages; }));
    done = true;
    const std::vector<uint8_t> a = awaitOrAbort(first, kHangGuard, "the first reader");
    const std::vector<uint8_t> b = awaitOrAbort(second, kHangGuard, "the second reader");
    std::multiset<uint8_t> all;
    for (const std::vector<uint8_t>* seen : {&a, &b}) {
        EXPECT_TRUE(std::is_sorted(seen->begin(), seen->end()));
        all.insert(seen->begin(), seen->end());
    }
    ASSERT_EQ(all.size(), static_cast<std::size_t>(kMessages));
    for (int i = 0; i < kMessages; ++i) {
        EXPECT_EQ(all.count(static_cast<uint8_t>(i)), 1u) << i;
    }
}

// What ends the channel, or the messages a read waits among, while two reads wait on it.
struct EndingCase {
    const char* name;
    std::function<uint32_t(uint32_t deviceId, uint32_t channelId)> end;
    uint32_t readStatus;
    const char* text;
};

void PrintTo(const EndingCase& c, std::ostream* out) {
    *out << c.name;
}

class WaitingReadEnded : public ConcurrentCalls,
                         public ::testing::WithParamInterface<EndingCase> {};

TEST_P(WaitingReadEnded, WakesEveryReaderWithTheReason) {
    // A clear before a read has begun its wait is not one it waits through.
    VTX_E2E_NEEDS_LIBRARY_INSIDE();
    const EndingCase& c = GetParam();
    auto first = startRead(channelId);
    auto second = startRead(channelId);
    ASSERT_EQ(c.end(deviceId, channelId), STATUS_NOERROR) << lastError();
    for (auto* read : {&first, &second}) {
        const ReadResult result = awaitOrAbort(*read, kHangGuard, "a read woken by an ending");
        EXPECT_EQ(result.status, c.readStatus) << statusName(result.status);
        EXPECT_EQ(result.count, 0u);
        EXPECT_EQ(result.text, c.text);
    }
    // The caller's own outcome is its call's, not the readers'.
    EXPECT_EQ(lastError(), "STATUS_NOERROR");
}

INSTANTIATE_TEST_SUITE_P(
    Endings, WaitingReadEnded,
    ::testing::Values(
        EndingCase{"Disconnect",
                   [](uint32_t, uint32_t channel) { return PassThruDisconnect(channel); },
                   ERR_INVALID_CHANNEL_ID,
                   "The channel was disconnected by another call while this call waited on it"},
        EndingCase{"Close", [](uint32_t device, uint32_t) { return PassThruClose(device); },
                   ERR_INVALID_DEVICE_ID,
                   "The device was closed by another call while this call waited on its channel"},
        EndingCase{"ClearRxBuffer",
                   [](uint32_t, uint32_t channel) {
                       return PassThruIoctl(channel, CLEAR_RX_BUFFER, nullptr, nullptr);
                   },
                   ERR_BUFFER_EMPTY,
                   "The receive buffer was cleared by another call while this read waited"}),
    [](const ::testing::TestParamInfo<EndingCase>& endingCase) { return endingCase.param.name; });

}  // namespace
}  // namespace vtx::e2e
