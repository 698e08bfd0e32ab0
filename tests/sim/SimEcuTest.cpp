#include "sim/SimEcu.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sim/SimWorld.h"

namespace vtx::sim {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kBusRate = 500000;
constexpr auto kWaitLimit = 3s;
// How long a quiet bus is watched to show that nothing comes.
constexpr auto kQuietSpan = 150ms;
// Allowance for the timer thread's wake-up on a loaded machine or under a sanitizer.
constexpr auto kSchedulingSlack = 30ms;

CanFrame frameOf(uint32_t id, bool extended, const Bytes& data) {
    CanFrame f;
    f.id = id;
    f.extended = extended;
    f.dlc = static_cast<uint8_t>(data.size());
    std::copy(data.begin(), data.end(), f.data.begin());
    return f;
}

// A single-frame request: length byte, payload, padding.
CanFrame request(uint32_t id, bool extended, const Bytes& payload) {
    Bytes data{static_cast<uint8_t>(payload.size())};
    data.insert(data.end(), payload.begin(), payload.end());
    data.resize(8, 0xAA);
    return frameOf(id, extended, data);
}

Bytes bytesOf(const CanFrame& f) {
    return Bytes(f.data.begin(), f.data.begin() + f.dlc);
}

// The diagnostic tester: sends requests, records what it hears with the end time of each frame.
class Tester : public CanNode {
  public:
    struct Heard {
        CanFrame frame;
        SimClock::time_point end;
    };

    explicit Tester(VirtualCanBus& bus) : bus_(bus) { bus_.attach(this); }
    ~Tester() override { bus_.detach(this); }
    uint32_t bitRate() const override { return kBusRate; }
    void onBusFrame(const CanFrame& f, SimClock::time_point end) override {
        std::lock_guard lock(mutex_);
        heard_.push_back(Heard{f, end});
        arrived_.notify_all();
    }

    // Sends a frame and returns the time its last bit passed.
    SimClock::time_point send(const CanFrame& f) {
        // Shared with the callback, which may outlive a failed wait.
        struct Sent {
            std::mutex mutex;
            std::condition_variable done;
            std::optional<SimClock::time_point> end;
        };
        auto sent = std::make_shared<Sent>();
        EXPECT_TRUE(bus_.transmit(this, f, [sent](SimClock::time_point e) {
            std::lock_guard lock(sent->mutex);
            sent->end = e;
            sent->done.notify_all();
        }));
        std::unique_lock lock(sent->mutex);
        EXPECT_TRUE(sent->done.wait_for(lock, kWaitLimit, [&] { return sent->end.has_value(); }));
        return sent->end.value_or(SimClock::time_point{});
    }
    // Queues frames back to back and returns the time the last one's last bit passed.
    SimClock::time_point sendAll(const std::vector<CanFrame>& frames) {
        for (std::size_t i = 0; i + 1 < frames.size(); ++i) {
            EXPECT_TRUE(bus_.transmit(this, frames[i]));
        }
        return send(frames.back());
    }
    bool waitFor(std::size_t count) {
        std::unique_lock lock(mutex_);
        return arrived_.wait_for(lock, kWaitLimit, [&] { return heard_.size() >= count; });
    }
    std::vector<Heard> heard() const {
        std::lock_guard lock(mutex_);
        return heard_;
    }

  private:
    VirtualCanBus& bus_;
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<Heard> heard_;  // guarded by mutex_
};

struct Scheme {
    const char* name;
    bool extended;
    uint32_t functionalId;
    uint32_t physicalId;
    uint32_t responseId;
};
constexpr Scheme kSchemes[] = {
    {"11-bit", false, 0x7DF, 0x7E0, 0x7E8},
    {"29-bit", true, 0x18DB33F1, 0x18DA10F1, 0x18DAF110},
};

class SimEcuTest : public ::testing::Test {
  protected:
    VirtualCanBus bus_{kBusRate};
    SimEcu ecu_{bus_};
    Tester tester_{bus_};
};

// The service logic on its own.

TEST(SimEcuAnswerTest, AnswersEachRequest) {
    const SimEcu::EngineValues engine{90, 1000, 42};
    Bytes vin{0x49, 0x02, 0x01};
    vin.insert(vin.end(), SimEcu::kVin.begin(), SimEcu::kVin.end());
    const struct {
        Bytes request;
        Bytes answer;
    } cases[] = {
        {{0x01, 0x00}, {0x41, 0x00, 0x08, 0x18, 0x00, 0x00}},
        {{0x01, 0x05}, {0x41, 0x05, 130}},
        {{0x01, 0x0C}, {0x41, 0x0C, 0x0F, 0xA0}},  // 1000 rpm = 4000 quarters
        {{0x01, 0x0D}, {0x41, 0x0D, 42}},
        {{0x09, 0x02}, vin},
        {{0x01, 0x2F}, {0x7F, 0x01, 0x11}},
        {{0x01, 0x20}, {0x7F, 0x01, 0x11}},
        {{0x01}, {0x7F, 0x01, 0x11}},
        {{0x01, 0x0C, 0x0D}, {0x7F, 0x01, 0x11}},
        {{0x09, 0x00}, {0x7F, 0x09, 0x11}},
        {{0x09, 0x02, 0x00}, {0x7F, 0x09, 0x11}},
        {{0x03}, {0x7F, 0x03, 0x11}},
        {{0x22, 0xF1, 0x90}, {0x7F, 0x22, 0x11}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SimEcu::answer(c.request, engine), c.answer) << int(c.request[0]);
    }
}

// Every PID 0x01 to 0x20 that the bitmap of PID 0x00 announces is answered, every other one
// refused.
TEST(SimEcuAnswerTest, SupportedPidsMatchTheAnswers) {
    const SimEcu::EngineValues engine = SimEcu::engineValuesAt(0ms);
    const Bytes bitmap = SimEcu::answer(Bytes{0x01, 0x00}, engine);
    ASSERT_EQ(bitmap.size(), 6u);
    int supported = 0;
    for (int pid = 1; pid <= 0x20; ++pid) {
        const bool announced = (bitmap[2 + (pid - 1) / 8] >> (7 - (pid - 1) % 8)) & 1;
        const Bytes answer = SimEcu::answer(Bytes{0x01, static_cast<uint8_t>(pid)}, engine);
        ASSERT_FALSE(answer.empty());
        EXPECT_EQ(answer[0] == 0x41, announced) << "PID " << pid;
        supported += announced ? 1 : 0;
    }
    EXPECT_EQ(supported, 3);
}

TEST(SimEcuAnswerTest, EngineDrivesASlowCycle) {
    const struct {
        std::chrono::milliseconds at;
        uint32_t speed;
    } cases[] = {{-5ms, 0}, {0ms, 0}, {15s, 30}, {30s, 60}, {45s, 30}, {60s, 0}, {75s, 30}};
    for (const auto& c : cases) {
        const SimEcu::EngineValues v = SimEcu::engineValuesAt(c.at);
        EXPECT_EQ(v.vehicleSpeedKmh, c.speed) << c.at.count();
        EXPECT_EQ(v.engineRpm, 800 + 40 * c.speed) << c.at.count();
        EXPECT_EQ(v.coolantCelsius, 90);
    }
}

// Over the bus.

TEST_F(SimEcuTest, AnswersEngineSpeedWithinOneToFiveMilliseconds) {
    for (const Scheme& scheme : kSchemes) {
        for (const uint32_t id : {scheme.functionalId, scheme.physicalId}) {
            const std::size_t before = tester_.heard().size();
            const SimClock::time_point requestEnd =
                tester_.send(request(id, scheme.extended, {0x01, 0x0C}));
            ASSERT_TRUE(tester_.waitFor(before + 1)) << scheme.name;
            const Tester::Heard reply = tester_.heard()[before];

            EXPECT_EQ(reply.frame.id, scheme.responseId) << scheme.name;
            EXPECT_EQ(reply.frame.extended, scheme.extended) << scheme.name;
            ASSERT_EQ(reply.frame.dlc, 8) << scheme.name;
            const Bytes data = bytesOf(reply.frame);
            EXPECT_EQ(Bytes(data.begin(), data.begin() + 3), (Bytes{0x04, 0x41, 0x0C}));
            EXPECT_EQ(Bytes(data.begin() + 5, data.end()), (Bytes{0x55, 0x55, 0x55}));
            const uint32_t rpm = (data[3] * 256u + data[4]) / 4;
            EXPECT_GE(rpm, 800u);
            EXPECT_LE(rpm, 3200u);
            EXPECT_GE(reply.end - requestEnd, 1ms) << scheme.name;
            EXPECT_LE(reply.end - requestEnd, 5ms + kSchedulingSlack) << scheme.name;
        }
    }
    std::this_thread::sleep_for(kQuietSpan);
    EXPECT_EQ(tester_.heard().size(), 4u);  // one answer per request
}

TEST_F(SimEcuTest, RefusesWhatItDoesNotSupport) {
    const struct {
        Bytes request;
        Bytes reply;
    } cases[] = {
        {{0x01, 0x2F}, {0x03, 0x7F, 0x01, 0x11, 0x55, 0x55, 0x55, 0x55}},
        {{0x04}, {0x03, 0x7F, 0x04, 0x11, 0x55, 0x55, 0x55, 0x55}},
        {{0x2F, 0xF1, 0x90}, {0x03, 0x7F, 0x2F, 0x11, 0x55, 0x55, 0x55, 0x55}},
        {{0x01, 0x05}, {0x03, 0x41, 0x05, 130, 0x55, 0x55, 0x55, 0x55}},
        {{0x01, 0x00}, {0x06, 0x41, 0x00, 0x08, 0x18, 0x00, 0x00, 0x55}},
    };
    for (const Scheme& scheme : kSchemes) {
        for (const auto& c : cases) {
            const std::size_t before = tester_.heard().size();
            tester_.send(request(scheme.physicalId, scheme.extended, c.request));
            ASSERT_TRUE(tester_.waitFor(before + 1)) << scheme.name;
            const CanFrame reply = tester_.heard()[before].frame;
            EXPECT_EQ(reply.id, scheme.responseId);
            EXPECT_EQ(bytesOf(reply), c.reply) << scheme.name << " " << int(c.request[0]);
        }
    }
}

// A functionally addressed request the ECU refuses as not supported or out of range gets no
// answer; other negative answers, and positive ones, still come. Each silent request is followed
// by one that is answered: the first answer heard after it must be that one's.
TEST_F(SimEcuTest, KeepsNotSupportedRefusalsToFunctionalRequestsToItself) {
    const struct {
        Bytes request;
        bool answered;
    } cases[] = {
        {{0x01, 0x2F}, false},        // OBD PID not supported: 7F 01 11
        {{0x2F, 0xF1, 0x90}, false},  // service not supported: 7F 2F 11
        {{0x10, 0x7F}, false},        // sub-function not supported: 7F 10 12
        {{0x22, 0x12, 0x34}, false},  // no known identifier: 7F 22 31
        {{0x27, 0x01}, false},        // not in the default session: 7F 27 7F
        {{0x11, 0x01, 0x00}, true},   // wrong length: 7F 11 13 is still said
        {{0x3E, 0x00}, true},
    };
    for (const Scheme& scheme : kSchemes) {
        for (const auto& c : cases) {
            const std::size_t before = tester_.heard().size();
            tester_.send(request(scheme.functionalId, scheme.extended, c.request));
            tester_.send(request(scheme.functionalId, scheme.extended, {0x01, 0x05}));
            ASSERT_TRUE(tester_.waitFor(before + (c.answered ? 2 : 1))) << scheme.name;
            const Bytes first = bytesOf(tester_.heard()[before].frame);
            EXPECT_EQ(first[1] == 0x41, !c.answered) << scheme.name << " " << int(c.request[0]);
        }
    }
}

// The VIN: first frame, nothing until flow control, then the consecutive frames.
TEST_F(SimEcuTest, SendsTheVinAfterFlowControl) {
    for (const Scheme& scheme : kSchemes) {
        const std::size_t before = tester_.heard().size();
        tester_.send(request(scheme.functionalId, scheme.extended, {0x09, 0x02}));
        ASSERT_TRUE(tester_.waitFor(before + 1)) << scheme.name;
        std::this_thread::sleep_for(kQuietSpan);
        std::vector<Tester::Heard> heard = tester_.heard();
        ASSERT_EQ(heard.size(), before + 1) << scheme.name << ": no more before flow control";
        const CanFrame first = heard[before].frame;
        EXPECT_EQ(first.id, scheme.responseId);
        EXPECT_EQ(bytesOf(first), (Bytes{0x10, 0x14, 0x49, 0x02, 0x01, '1', 'V', 'T'}));

        const SimClock::time_point flowControlEnd =
            tester_.send(frameOf(scheme.physicalId, scheme.extended, {0x30, 0x00, 0x00}));
        ASSERT_TRUE(tester_.waitFor(before + 3)) << scheme.name;
        std::this_thread::sleep_for(kQuietSpan);
        heard = tester_.heard();
        ASSERT_EQ(heard.size(), before + 3) << scheme.name;

        std::string vin(first.data.begin() + 5, first.data.end());
        for (std::size_t i = 1; i <= 2; ++i) {
            const CanFrame cf = heard[before + i].frame;
            EXPECT_EQ(cf.id, scheme.responseId);
            EXPECT_EQ(cf.extended, scheme.extended);
            EXPECT_EQ(cf.dlc, 8);
            EXPECT_EQ(cf.data[0], 0x20 + i);
            EXPECT_GT(heard[before + i].end, flowControlEnd);
            vin.append(cf.data.begin() + 1, cf.data.end());
        }
        EXPECT_EQ(vin, SimEcu::kVin) << scheme.name;
    }
}

// Block size 1: one consecutive frame per flow control; the separation time spaces them.
TEST_F(SimEcuTest, HonoursBlockSizeAndSeparationTime) {
    tester_.send(request(0x7E0, false, {0x09, 0x02}));
    ASSERT_TRUE(tester_.waitFor(1));

    tester_.send(frameOf(0x7E0, false, {0x30, 0x01, 0x00, 0x55, 0x55, 0x55, 0x55, 0x55}));
    ASSERT_TRUE(tester_.waitFor(2));
    std::this_thread::sleep_for(kQuietSpan);
    ASSERT_EQ(tester_.heard().size(), 2u) << "one frame per block";
    EXPECT_EQ(tester_.heard()[1].frame.data[0], 0x21);

    tester_.send(frameOf(0x7E0, false, {0x30, 0x00, 0x14}));  // 20 ms apart
    ASSERT_TRUE(tester_.waitFor(3));
    EXPECT_EQ(tester_.heard()[2].frame.data[0], 0x22);

    // A fresh transfer with separation time over both remaining frames.
    tester_.send(request(0x7DF, false, {0x09, 0x02}));
    ASSERT_TRUE(tester_.waitFor(4));
    tester_.send(frameOf(0x7E0, false, {0x30, 0x00, 0x14}));
    ASSERT_TRUE(tester_.waitFor(6));
    const std::vector<Tester::Heard> heard = tester_.heard();
    EXPECT_EQ(heard[4].frame.data[0], 0x21);
    EXPECT_EQ(heard[5].frame.data[0], 0x22);
    EXPECT_GE(heard[5].end - heard[4].end, 20ms);
}

TEST_F(SimEcuTest, GivesUpWithoutFlowControl) {
    tester_.send(request(0x18DB33F1, true, {0x09, 0x02}));
    ASSERT_TRUE(tester_.waitFor(1));
    std::this_thread::sleep_for(SimEcu::kFlowControlTimeout + 200ms);
    tester_.send(frameOf(0x18DA10F1, true, {0x30, 0x00, 0x00}));
    std::this_thread::sleep_for(kQuietSpan);
    EXPECT_EQ(tester_.heard().size(), 1u);
}

TEST_F(SimEcuTest, OverflowStatusEndsTheTransfer) {
    tester_.send(request(0x7E0, false, {0x09, 0x02}));
    ASSERT_TRUE(tester_.waitFor(1));
    tester_.send(frameOf(0x7E0, false, {0x31, 0x00, 0x00}));  // wait: keeps it alive
    std::this_thread::sleep_for(kQuietSpan);
    tester_.send(frameOf(0x7E0, false, {0x32, 0x00, 0x00}));  // overflow: ends it
    tester_.send(frameOf(0x7E0, false, {0x30, 0x00, 0x00}));
    std::this_thread::sleep_for(kQuietSpan);
    EXPECT_EQ(tester_.heard().size(), 1u);
}

// Frames that are not requests, or not for this ECU, get no answer; nor does silence.
TEST_F(SimEcuTest, SpeaksOnlyWhenSpokenTo) {
    std::this_thread::sleep_for(kQuietSpan);
    const CanFrame notRequests[] = {
        request(0x7E8, false, {0x01, 0x0C}),        // an answer from another ECU
        request(0x18DAF110, true, {0x01, 0x0C}),    // likewise, 29-bit
        request(0x7DF, true, {0x01, 0x0C}),         // 29-bit frame with an 11-bit request id
        request(0x123, false, {0x01, 0x0C}),        // another identifier
        request(0x18DA10F2, true, {0x01, 0x0C}),    // another target address
        frameOf(0x7E0, false, {0x30, 0x00, 0x00}),  // flow control with no transfer
        frameOf(0x7DF, false, {0x10, 0x0A, 0x09, 0x02, 0, 0, 0, 0}),  // first frame
        frameOf(0x7E0, false, {0x21, 0x01, 0x0C}),                    // consecutive frame
        frameOf(0x7DF, false, {0x00, 0x01, 0x0C}),                    // length 0
        frameOf(0x7DF, false, {0x08, 0x01, 0x0C, 0, 0, 0, 0, 0}),     // length 8
        frameOf(0x7DF, false, {0x05, 0x01, 0x0C}),                    // longer than the frame
        frameOf(0x7DF, false, {}),                                    // no data
    };
    for (const CanFrame& f : notRequests) {
        tester_.send(f);
    }
    std::this_thread::sleep_for(kQuietSpan);
    EXPECT_TRUE(tester_.heard().empty());
}

TEST(SimEcuLifeTest, QuietBusAndPromptShutdown) {
    std::atomic<int> frames{0};
    VirtualCanBus bus(kBusRate);
    const int id = bus.addObserver([&](const CanFrame&, SimClock::time_point) { ++frames; });
    const SimClock::time_point start = SimClock::now();
    {
        SimEcu ecu(bus);
        Tester tester(bus);
        tester.send(request(0x7DF, false, {0x09, 0x02}));  // leaves a transfer waiting
        std::this_thread::sleep_for(kQuietSpan);
    }
    EXPECT_LT(SimClock::now() - start, 1s);
    EXPECT_EQ(frames.load(), 2);  // the request and the first frame
    bus.removeObserver(id);
}

// Multi-frame requests to the ECU, granted block size 2 and 5 ms between consecutive frames. The
// tester keeps the separation time on the bus's own timeline: it fills the gap between two
// consecutive frames with frames of another identifier, queued back to back.
class SimEcuRequestTest : public ::testing::Test {
  protected:
    static constexpr uint8_t kBlockSize = 2;
    static constexpr uint8_t kSeparationMs = 5;

    static SimConfig config() {
        SimConfig config;
        config.busRate = kBusRate;
        config.ecuFlowControl = {kBlockSize, kSeparationMs};
        return config;
    }

    // 22 F1 8C and 14 unknown identifiers: 31 bytes, a first frame and four consecutive frames.
    static Bytes readSerialRequest() {
        Bytes request{0x22, 0xF1, 0x8C};
        for (int i = 0; i < 14; ++i) {
            request.insert(request.end(), {0x12, 0x34});
        }
        return request;
    }
    static CanFrame firstFrame(const Bytes& request) {
        Bytes data{0x10, static_cast<uint8_t>(request.size())};
        data.insert(data.end(), request.begin(), request.begin() + 6);
        return frameOf(0x7E0, false, data);
    }
    static CanFrame consecutiveFrame(const Bytes& request, int index) {
        Bytes data{static_cast<uint8_t>(0x20 + index)};
        const std::size_t from = 6 + 7 * (index - 1);
        for (std::size_t i = from; i < from + 7; ++i) {
            data.push_back(i < request.size() ? request[i] : 0x55);
        }
        return frameOf(0x7E0, false, data);
    }
    // Frames that keep the bus busy for at least the separation time.
    static std::vector<CanFrame> separationFill() {
        const CanFrame filler = frameOf(0x123, false, Bytes(8, 0x00));
        const auto each = VirtualCanBus::frameDuration(filler, kBusRate);
        const auto count = (std::chrono::nanoseconds(std::chrono::milliseconds(kSeparationMs)) +
                            each - std::chrono::nanoseconds(1)) /
                           each;
        return std::vector<CanFrame>(static_cast<std::size_t>(count), filler);
    }
    static std::vector<CanFrame> joined(std::initializer_list<std::vector<CanFrame>> parts) {
        std::vector<CanFrame> all;
        for (const auto& part : parts) {
            all.insert(all.end(), part.begin(), part.end());
        }
        return all;
    }
    // Sends the first frame and waits for the ECU's flow control, the heardBefore-th frame heard.
    void startRequest(const Bytes& request, std::size_t heardBefore) {
        tester_.send(firstFrame(request));
        ASSERT_TRUE(tester_.waitFor(heardBefore + 1));
        EXPECT_EQ(bytesOf(tester_.heard()[heardBefore].frame),
                  (Bytes{0x30, kBlockSize, kSeparationMs, 0x55, 0x55, 0x55, 0x55, 0x55}));
    }

    SimWorld world_{config()};
    Tester tester_{world_.bus()};
};

TEST_F(SimEcuRequestTest, ReassemblesARequestThatKeepsTheFlowControl) {
    const Bytes request = readSerialRequest();
    startRequest(request, 0);
    tester_.sendAll(
        joined({{consecutiveFrame(request, 1)}, separationFill(), {consecutiveFrame(request, 2)}}));
    ASSERT_TRUE(tester_.waitFor(2));
    EXPECT_EQ(tester_.heard()[1].frame.data[0], 0x30) << "flow control for the second block";
    tester_.sendAll(
        joined({{consecutiveFrame(request, 3)}, separationFill(), {consecutiveFrame(request, 4)}}));

    ASSERT_TRUE(tester_.waitFor(3));
    const Tester::Heard answer = tester_.heard()[2];
    EXPECT_EQ(answer.frame.id, 0x7E8u);
    EXPECT_EQ(bytesOf(answer.frame), (Bytes{0x10, 0x11, 0x62, 0xF1, 0x8C, 'V', 'T', 'X'}));
    EXPECT_EQ(world_.control().ecuFlowControlViolations(), 0u);
}

TEST_F(SimEcuRequestTest, CountsAViolationAndDropsTheRequest) {
    const Bytes request = readSerialRequest();
    const CanFrame marker = frameOf(0x123, false, Bytes(8, 0x00));

    // Two consecutive frames back to back: sooner than the separation time.
    startRequest(request, 0);
    tester_.sendAll({consecutiveFrame(request, 1), consecutiveFrame(request, 2)});
    tester_.send(marker);  // crosses after the ECU has taken the frames before
    EXPECT_EQ(world_.control().ecuFlowControlViolations(), 1u);

    // The third consecutive frame queued with the second: it wins arbitration over the ECU's
    // flow control for the next block, so it comes past the end of the block.
    startRequest(request, 1);
    tester_.sendAll(joined({{consecutiveFrame(request, 1)},
                            separationFill(),
                            {consecutiveFrame(request, 2), consecutiveFrame(request, 3)}}));
    tester_.send(marker);
    EXPECT_EQ(world_.control().ecuFlowControlViolations(), 2u);

    for (const Tester::Heard& heard : tester_.heard()) {
        EXPECT_EQ(heard.frame.data[0], 0x30) << "flow control only, no answer";
    }
}

}  // namespace
}  // namespace vtx::sim
