#include "protocol/isotp/IsoTpSender.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "protocol/isotp/SeparationTime.h"

namespace vtx::isotp {
namespace {

using std::chrono::milliseconds;
using us = Microseconds;

const IsoTpAddress kTester{0x7E0, CanIdWidth::Standard11, std::nullopt};
const IsoTpAddress kEcu{0x7E8, CanIdWidth::Standard11, std::nullopt};
const TimePoint kStart{};

IsoTpSenderSettings settingsWith(uint32_t waitFrameLimit = 0) {
    IsoTpSenderSettings settings;
    settings.transmitAddress = kTester;
    settings.flowControlAddress = kEcu;
    settings.waitFrameLimit = waitFrameLimit;
    return settings;
}

std::vector<uint8_t> messageOf(std::size_t length) {
    std::vector<uint8_t> message(length);
    std::iota(message.begin(), message.end(), uint8_t{1});
    return message;
}

CanFrame flowControl(FlowStatus status, uint8_t blockSize = 0, uint8_t separationTime = 0) {
    return buildFlowControl(kEcu, {status, blockSize, separationTime}, FramePadding{});
}

// When each consecutive frame went out, with the sender ticked exactly when it asks and each
// flow control answered the given delay after the frame before it.
std::vector<us> consecutiveFrameTimes(IsoTpSender& sender, const std::vector<CanFrame>& answers,
                                      const std::vector<us>& delays) {
    std::vector<us> times;
    TimePoint now = kStart;
    auto record = [&](const SenderOutput& output) {
        times.insert(times.end(), output.frames.size(),
                     std::chrono::duration_cast<us>(now - kStart));
    };
    sender.start(now);
    for (std::size_t i = 0; i < answers.size(); ++i) {
        now += delays[i];
        record(sender.onFrame(answers[i], now));
        while (sender.phase() == SenderPhase::SendingBlock) {
            now = *sender.nextTickAt();
            record(sender.tick(now));
        }
    }
    return times;
}

TEST(IsoTpSender, SingleFrameUpToSevenBytesOrSixWithExtendedAddressing) {
    struct Case {
        std::optional<uint8_t> extendedAddress;
        std::size_t length;
        std::size_t frames;
        std::optional<SendOutcome> outcome;  // after start
    };
    const Case cases[] = {
        {std::nullopt, 7, 1, SendOutcome::Completed},
        {std::nullopt, 8, 1, std::nullopt},
        {0xF1, 6, 1, SendOutcome::Completed},
        {0xF1, 7, 1, std::nullopt},
        {std::nullopt, 0, 0, SendOutcome::InvalidLength},
        {std::nullopt, 4096, 0, SendOutcome::InvalidLength},
    };
    for (const Case& c : cases) {
        IsoTpSenderSettings settings = settingsWith();
        settings.transmitAddress.extendedAddress = c.extendedAddress;
        IsoTpSender sender(settings, messageOf(c.length));
        EXPECT_EQ(sender.start(kStart).frames.size(), c.frames) << c.length;
        EXPECT_EQ(sender.outcome(), c.outcome) << c.length;
    }
}

TEST(IsoTpSender, FlowControlStatusesDecideTheTransfer) {
    constexpr FlowStatus cts = FlowStatus::ClearToSend;
    constexpr FlowStatus wait = FlowStatus::Wait;
    struct Case {
        uint32_t waitFrameLimit;
        std::vector<FlowStatus> answers;  // the ECU's flow controls, one after the other
        std::optional<SendOutcome> outcome;
    };
    const Case cases[] = {
        {0, {cts, cts}, SendOutcome::Completed},
        {0, {wait}, SendOutcome::WaitLimitExceeded},
        {2, {wait, wait}, std::nullopt},
        {2, {wait, wait, wait}, SendOutcome::WaitLimitExceeded},
        {2, {wait, wait, cts, wait, wait, cts}, SendOutcome::Completed},  // counted per wait
        {2, {wait, FlowStatus::Overflow}, SendOutcome::ReceiverOverflow},
        {2, {FlowStatus::Reserved}, SendOutcome::InvalidFlowControl},
    };
    for (const Case& c : cases) {
        IsoTpSender sender(settingsWith(c.waitFrameLimit), messageOf(20));  // FF + 2 CFs
        sender.start(kStart);
        TimePoint now = kStart;
        for (FlowStatus status : c.answers) {
            now += milliseconds(100);
            sender.onFrame(flowControl(status, 1), now);  // blocks of one frame
        }
        EXPECT_EQ(sender.outcome(), c.outcome) << c.answers.size();
    }
}

TEST(IsoTpSender, GivesUpWithoutFlowControlAfterFirstFrameWaitOrBlock) {
    IsoTpSenderSettings settings = settingsWith(1);
    settings.flowControlTimeout = milliseconds(50);
    IsoTpSender sender(settings, messageOf(30));
    sender.start(kStart);
    EXPECT_EQ(sender.nextTickAt(), kStart + milliseconds(50));
    sender.onFrame(flowControl(FlowStatus::Wait), kStart + milliseconds(40));
    sender.onFrame(flowControl(FlowStatus::ClearToSend, 2), kStart + milliseconds(80));
    EXPECT_EQ(sender.nextTickAt(), kStart + milliseconds(130));  // after a block of 2
    EXPECT_FALSE(sender.tick(kStart + milliseconds(129)).finished);
    EXPECT_EQ(sender.tick(kStart + milliseconds(130)).finished, SendOutcome::FlowControlTimeout);
    EXPECT_FALSE(sender.nextTickAt());
}

// A wire wait margin (a frame handed out may leave that much later, behind another node's frame)
// is added to a non-zero STmin, within a block and across a flow control.
TEST(IsoTpSender, KeepsBlockSizeAndSeparationTime) {
    // 37 bytes: a first frame and 5 consecutive frames; blocks of 2 take three flow controls,
    // each answered 1 ms after the frame before it.
    const std::vector<us> delays(3, milliseconds(1));
    const struct {
        uint8_t code;
        us margin;
        std::vector<us> frameTimes;
    } cases[] = {
        {0x00, us{0}, {us{1000}, us{1000}, us{2000}, us{2000}, us{3000}}},
        {0xF3, us{0}, {us{1000}, us{1300}, us{2300}, us{2600}, us{3600}}},
        // The flow control comes before STmin has passed since the last frame: the next waits.
        {0x0A, us{0}, {us{1000}, us{11000}, us{21000}, us{31000}, us{41000}}},
        {0x80, us{0}, {us{1000}, us{128000}, us{255000}, us{382000}, us{509000}}},  // 127 ms
        {0x00, us{320}, {us{1000}, us{1000}, us{2000}, us{2000}, us{3000}}},
        {0x01, us{320}, {us{1000}, us{2320}, us{3640}, us{4960}, us{6280}}},
        {0xF5, us{320}, {us{1000}, us{1820}, us{2820}, us{3640}, us{4640}}},
    };
    for (const auto& c : cases) {
        IsoTpSenderSettings settings = settingsWith();
        settings.wireWaitMargin = c.margin;
        IsoTpSender sender(settings, messageOf(37));
        const std::vector<CanFrame> answers(3, flowControl(FlowStatus::ClearToSend, 2, c.code));
        EXPECT_EQ(consecutiveFrameTimes(sender, answers, delays), c.frameTimes)
            << int{c.code} << " " << c.margin.count();
        EXPECT_EQ(sender.outcome(), SendOutcome::Completed);
    }
    // The margin: the longest frame (160 bits) at the bit rate, rounded up.
    EXPECT_EQ(longestFrameTime(500000), us{320});
    EXPECT_EQ(longestFrameTime(33333), us{4801});
}

TEST(IsoTpSender, OverridesReplaceTheGrantedBlockSizeAndSeparationTime) {
    IsoTpSenderSettings settings = settingsWith();
    settings.blockSizeOverride = overrideFromParameter(1);
    settings.separationTimeOverride = overrideFromParameter(0xF5);
    EXPECT_FALSE(overrideFromParameter(kUseReceiverValue));
    IsoTpSender sender(settings, messageOf(20));
    // Blocks of one frame, 500 us apart: the second flow control, 200 us after the first frame,
    // lets the second frame go 300 us later.
    const std::vector<CanFrame> answers(2, flowControl(FlowStatus::ClearToSend, 0, 0x7F));
    const std::vector<us> expected = {us{1000}, us{1500}};
    EXPECT_EQ(consecutiveFrameTimes(sender, answers, {milliseconds(1), us{200}}), expected);
}

TEST(IsoTpSender, IgnoresStrayFlowControlAndHandsOutNoMoreThanAsked) {
    IsoTpSender sender(settingsWith(), messageOf(100));  // 14 consecutive frames
    sender.start(kStart);
    CanFrame otherSender = flowControl(FlowStatus::Overflow);
    otherSender.idCan = 0x7E9;
    EXPECT_TRUE(sender.onFrame(otherSender, kStart).frames.empty());
    EXPECT_EQ(sender.onFrame(flowControl(FlowStatus::ClearToSend), kStart, 4).frames.size(), 4u);
    EXPECT_TRUE(sender.onFrame(flowControl(FlowStatus::Overflow), kStart).frames.empty());
    EXPECT_EQ(sender.tick(kStart).frames.size(), 10u);
    EXPECT_EQ(sender.outcome(), SendOutcome::Completed);
}

}  // namespace
}  // namespace vtx::isotp
