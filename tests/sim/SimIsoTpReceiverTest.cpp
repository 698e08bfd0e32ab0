// The simulated ECU's reception of multi-frame requests, without the bus: frames at chosen bus
// times, and whether the request is delivered and the tester's violations counted.
#include "sim/SimIsoTpReceiver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

namespace vtx::sim {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
using Step = SimIsoTpReceiver::Step;

const SimClock::time_point kStart = SimClock::time_point{} + 1h;

// Byte i of every test request is i modulo 256.
Bytes requestOf(std::size_t length) {
    Bytes request(length);
    for (std::size_t i = 0; i < length; ++i) {
        request[i] = static_cast<uint8_t>(i);
    }
    return request;
}

Bytes firstFrame(const Bytes& request) {
    Bytes frame(8);
    frame[0] = static_cast<uint8_t>(0x10 | (request.size() >> 8));
    frame[1] = static_cast<uint8_t>(request.size());
    std::copy_n(request.begin(), 6, frame.begin() + 2);
    return frame;
}

// The consecutive frame with the given sequence number carrying the request from offset on.
Bytes consecutiveFrame(const Bytes& request, std::size_t offset, uint8_t sequence) {
    Bytes frame{static_cast<uint8_t>(0x20 | (sequence & 0x0F))};
    for (std::size_t i = offset; i < offset + 7; ++i) {
        frame.push_back(i < request.size() ? request[i] : 0x55);
    }
    return frame;
}

// The tester's side of one reception: what it sends, and when the ECU's flow control crossed.
struct Event {
    enum class Kind { OwnFlowControlCrossed, ConsecutiveFrame };
    Kind kind;
    std::chrono::microseconds at;
    // ConsecutiveFrame: the sequence number it carries, when not the right one.
    std::optional<uint8_t> sequence = std::nullopt;
};
constexpr auto kFlowControl = Event::Kind::OwnFlowControlCrossed;
constexpr auto kConsecutive = Event::Kind::ConsecutiveFrame;

struct Case {
    const char* name;
    SimIsoTpReceiver::FlowControlSettings settings;
    std::size_t length;
    std::vector<Event> events;
    bool delivered;
    uint64_t violations;
    int flowControls;  // granted by the ECU, the first one included
    uint64_t timeouts = 0;
};

TEST(SimEcuIsoTpReceiverTest, EnforcesWhatItGrants) {
    const Case cases[] = {
        {"no limits",
         {0, 0},
         20,
         {{kFlowControl, 0us}, {kConsecutive, 200us}, {kConsecutive, 400us}},
         true,
         0,
         1},
        {"block size 2 and 5 ms kept",
         {2, 5},
         34,
         {{kFlowControl, 0ms},
          {kConsecutive, 1ms},
          {kConsecutive, 6ms},
          {kFlowControl, 7ms},
          {kConsecutive, 7ms},
          {kConsecutive, 12ms}},
         true,
         0,
         2},
        {"sooner than the separation time",
         {0, 5},
         20,
         {{kFlowControl, 0ms}, {kConsecutive, 1ms}, {kConsecutive, 5900us}},
         false,
         1,
         1},
        {"past the end of the block",
         {2, 0},
         34,
         {{kFlowControl, 0ms}, {kConsecutive, 1ms}, {kConsecutive, 2ms}, {kConsecutive, 3ms}},
         false,
         1,
         2},
        {"ahead of the first flow control", {0, 0}, 20, {{kConsecutive, 1ms}}, false, 1, 1},
        {"300 µs kept",
         {0, 0xF3},
         20,
         {{kFlowControl, 0us}, {kConsecutive, 100us}, {kConsecutive, 400us}},
         true,
         0,
         1},
        {"300 µs broken",
         {0, 0xF3},
         20,
         {{kFlowControl, 0us}, {kConsecutive, 100us}, {kConsecutive, 350us}},
         false,
         1,
         1},
        {"wrong sequence number",
         {0, 0},
         20,
         {{kFlowControl, 0ms}, {kConsecutive, 1ms, 2}},
         false,
         0,
         1},
        {"N_Cr since the flow control",
         {0, 0},
         20,
         {{kFlowControl, 0ms}, {kConsecutive, 1001ms}},
         false,
         0,
         1,
         1},
        {"N_Cr since the frame before",
         {0, 0},
         20,
         {{kFlowControl, 0ms}, {kConsecutive, 1ms}, {kConsecutive, 1002ms}},
         false,
         0,
         1,
         1},
        {"just within N_Cr",
         {0, 0},
         20,
         {{kFlowControl, 0ms}, {kConsecutive, 1000ms}, {kConsecutive, 2000ms}},
         true,
         0,
         1},
    };
    for (const Case& c : cases) {
        SimIsoTpReceiver receiver(c.settings);
        const Bytes request = requestOf(c.length);
        Step step = receiver.onFirstFrame(firstFrame(request), kStart);
        ASSERT_EQ(step.action, Step::Action::SendFlowControl) << c.name;
        EXPECT_EQ(step.flowControl,
                  (std::array<uint8_t, 3>{0x30, c.settings.blockSize, c.settings.separationTime}))
            << c.name;
        int flowControls = 1;
        std::size_t offset = 6;
        uint8_t sequence = 1;
        std::optional<Bytes> delivered;
        for (const Event& event : c.events) {
            if (event.kind == kFlowControl) {
                receiver.onFlowControlSent(step.reception, kStart + event.at);
                continue;
            }
            step = receiver.onConsecutiveFrame(
                consecutiveFrame(request, offset, event.sequence.value_or(sequence)),
                kStart + event.at);
            offset += 7;
            ++sequence;
            flowControls += step.action == Step::Action::SendFlowControl ? 1 : 0;
            if (step.action == Step::Action::Deliver) {
                delivered = step.request;
            }
        }
        EXPECT_EQ(delivered.has_value(), c.delivered) << c.name;
        if (delivered) {
            EXPECT_EQ(*delivered, request) << c.name;
        }
        EXPECT_EQ(receiver.violations(), c.violations) << c.name;
        EXPECT_EQ(receiver.timeouts(), c.timeouts) << c.name;
        EXPECT_EQ(flowControls, c.flowControls) << c.name;
        EXPECT_FALSE(receiver.receiving()) << c.name;
    }
}

// The longest request: 4095 bytes, the sequence number wrapping from 15 to 0.
TEST(SimEcuIsoTpReceiverTest, TakesTheLongestRequest) {
    SimIsoTpReceiver receiver({0, 0});
    const Bytes request = requestOf(SimIsoTpReceiver::kMaxRequestLength);
    Step step = receiver.onFirstFrame(firstFrame(request), kStart);
    receiver.onFlowControlSent(step.reception, kStart);
    uint8_t sequence = 1;
    for (std::size_t offset = 6; offset < request.size(); offset += 7) {
        step = receiver.onConsecutiveFrame(consecutiveFrame(request, offset, sequence++), kStart);
        if (offset + 7 < request.size()) {
            ASSERT_EQ(step.action, Step::Action::None) << offset;
        }
    }
    ASSERT_EQ(step.action, Step::Action::Deliver);
    EXPECT_EQ(step.request, request);
}

TEST(SimEcuIsoTpReceiverTest, RefusesOrIgnoresMalformedFirstFrames) {
    SimIsoTpReceiver receiver({4, 10});
    // The 32-bit length escape: more than the ECU takes; it answers overflow.
    const Step overflow =
        receiver.onFirstFrame(Bytes{0x10, 0x00, 0x00, 0x00, 0x10, 0x00, 0x22, 0xF1}, kStart);
    EXPECT_EQ(overflow.action, Step::Action::SendFlowControl);
    EXPECT_EQ(overflow.flowControl[0], 0x32);
    EXPECT_FALSE(receiver.receiving());
    // A length that fits a single frame, and a frame shorter than 8 bytes.
    EXPECT_EQ(receiver.onFirstFrame(Bytes{0x10, 0x07, 1, 2, 3, 4, 5, 6}, kStart).action,
              Step::Action::None);
    EXPECT_EQ(receiver.onFirstFrame(Bytes{0x10, 0x20, 1, 2, 3, 4, 5}, kStart).action,
              Step::Action::None);
    EXPECT_FALSE(receiver.receiving());
}

TEST(SimEcuIsoTpReceiverTest, SeparationTimeCodes) {
    const struct {
        uint8_t code;
        std::chrono::nanoseconds time;
        bool valid;
    } cases[] = {{0x00, 0ms, true},    {0x05, 5ms, true},    {0x7F, 127ms, true},
                 {0x80, 127ms, false}, {0xF0, 127ms, false}, {0xF1, 100us, true},
                 {0xF9, 900us, true},  {0xFA, 127ms, false}, {0xFF, 127ms, false}};
    for (const auto& c : cases) {
        EXPECT_EQ(SimIsoTpReceiver::separationTime(c.code), c.time) << int(c.code);
        EXPECT_EQ(SimIsoTpReceiver::isValidSeparationTime(c.code), c.valid) << int(c.code);
    }
}

}  // namespace
}  // namespace vtx::sim
