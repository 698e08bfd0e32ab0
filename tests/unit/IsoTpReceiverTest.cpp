#include "protocol/isotp/IsoTpReceiver.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace vtx::isotp {
namespace {

using std::chrono::milliseconds;

const IsoTpAddress kEcu{0x7E8, CanIdWidth::Standard11, std::nullopt};
const IsoTpAddress kTester{0x7E0, CanIdWidth::Standard11, std::nullopt};
const TimePoint kStart{};
const FramePadding kNoPadding{};

IsoTpReceiverSettings settingsWith(uint8_t blockSize, PaddingMode padding = PaddingMode::Off) {
    IsoTpReceiverSettings settings;
    settings.receiveAddress = kEcu;
    settings.flowControlAddress = kTester;
    settings.padding.mode = padding;
    settings.offer = {blockSize, 0x05};
    return settings;
}

std::vector<uint8_t> bytesFrom(uint8_t first, std::size_t count) {
    std::vector<uint8_t> bytes(count);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

CanFrame firstFrame(uint16_t length) {
    return buildFirstFrame(kEcu, length, bytesFrom(0, 6), kNoPadding);
}

// Consecutive frame number index (1 for the first) of a message whose first frame held 6 bytes.
CanFrame consecutiveFrame(std::size_t index, std::size_t count = 7,
                          const FramePadding& padding = kNoPadding) {
    const auto sequence = static_cast<uint8_t>(index % kSequenceNumberModulus);
    return buildConsecutiveFrame(kEcu, sequence, bytesFrom(uint8_t(6 + 7 * (index - 1)), count),
                                 padding);
}

template <typename Event>
const Event* lastEvent(const ReceiverOutput& output) {
    return output.events.empty() ? nullptr : std::get_if<Event>(&output.events.back());
}

TEST(IsoTpReceiver, FirstFrameIndicatesAndGrantsFlowControl) {
    IsoTpReceiver receiver(settingsWith(8, PaddingMode::On));
    const ReceiverOutput output = receiver.onFrame(firstFrame(20), kStart);
    ASSERT_EQ(output.events.size(), 1u);
    EXPECT_EQ(std::get<FirstFrameIndication>(output.events[0]).messageLength, 20);
    ASSERT_EQ(output.frames.size(), 1u);
    const CanFrame& flowControl = output.frames[0];
    EXPECT_EQ(flowControl.idCan, kTester.canId);
    EXPECT_EQ(std::vector<uint8_t>(flowControl.dataCan, flowControl.dataCan + 8),
              (std::vector<uint8_t>{0x30, 8, 0x05, 0, 0, 0, 0, 0}));
    EXPECT_EQ(flowControl.lenDataCan, 8);
}

TEST(IsoTpReceiver, SendsFlowControlAfterEveryBlockButNotAfterTheLastFrame) {
    // 6 + 5 * 7 bytes: five consecutive frames.
    const std::pair<uint8_t, std::vector<std::size_t>> cases[] = {
        {0, {}}, {1, {1, 2, 3, 4}}, {2, {2, 4}}, {5, {}}};
    for (const auto& [blockSize, framesFollowedByFlowControl] : cases) {
        IsoTpReceiver receiver(settingsWith(blockSize));
        receiver.onFrame(firstFrame(41), kStart);
        std::vector<std::size_t> followed;
        for (std::size_t index = 1; index <= 5; ++index) {
            if (!receiver.onFrame(consecutiveFrame(index), kStart).frames.empty()) {
                followed.push_back(index);
            }
        }
        EXPECT_EQ(followed, framesFollowedByFlowControl) << int{blockSize};
        EXPECT_FALSE(receiver.isReceiving());
    }
}

// A new block size holds from the next flow control sent: the block under way is counted
// against what its flow control granted, so the sender, which counts the same way, gets its next
// flow control where it waits for one, and the message comes whole. changeAfter is the number of
// consecutive frames received when the offer changes (-1: before the first frame).
TEST(IsoTpReceiver, BlockSizeChangeHoldsFromTheNextFlowControl) {
    struct Case {
        uint8_t before;
        uint8_t after;
        int changeAfter;
        std::vector<std::size_t> followedByFlowControl;  // of ten consecutive frames
        std::vector<uint8_t> grantedThere;
    };
    const Case cases[] = {
        {0, 3, -1, {3, 6, 9}, {3, 3, 3}},
        {1, 0, 0, {1}, {0}},
        {2, 0, 1, {2}, {0}},
        {4, 0, 2, {4}, {0}},
        {2, 16, 1, {2}, {16}},
        {1, 2, 0, {1, 3, 5, 7, 9}, {2, 2, 2, 2, 2}},
        {3, 1, 4, {3, 6, 7, 8, 9}, {3, 1, 1, 1, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << int{c.before} << " to " << int{c.after} << " after " << c.changeAfter);
        IsoTpReceiver receiver(settingsWith(c.before));
        const auto change = [&] { receiver.setOffer({c.after, 0x05}); };
        if (c.changeAfter < 0) {
            change();
        }
        receiver.onFrame(firstFrame(76), kStart);
        std::vector<std::size_t> followed;
        std::vector<uint8_t> granted;
        std::vector<uint8_t> payload;
        for (std::size_t index = 1; index <= 10; ++index) {
            if (c.changeAfter == static_cast<int>(index) - 1) {
                change();
            }
            const ReceiverOutput output = receiver.onFrame(consecutiveFrame(index), kStart);
            if (!output.frames.empty()) {
                followed.push_back(index);
                granted.push_back(output.frames[0].dataCan[1]);
            }
            if (const auto* message = lastEvent<ReceivedMessage>(output)) {
                payload = message->payload;
            }
        }
        EXPECT_EQ(followed, c.followedByFlowControl);
        EXPECT_EQ(granted, c.grantedThere);
        EXPECT_EQ(payload, bytesFrom(0, 76));
    }
}

TEST(IsoTpReceiver, DropsThePartialMessageOnAWrongSequenceNumber) {
    IsoTpReceiver receiver(settingsWith(0));
    receiver.onFrame(firstFrame(30), kStart);
    receiver.onFrame(consecutiveFrame(1), kStart);
    const ReceiverOutput output = receiver.onFrame(consecutiveFrame(3), kStart);
    const auto* dropped = lastEvent<ReceptionDropped>(output);
    ASSERT_NE(dropped, nullptr);
    EXPECT_EQ(dropped->reason, DropReason::WrongSequenceNumber);
    EXPECT_EQ(dropped->bytesReceived, 13u);
    EXPECT_TRUE(receiver.onFrame(consecutiveFrame(2), kStart).events.empty());
}

TEST(IsoTpReceiver, IgnoresAConsecutiveFrameTooShortForItsPlace) {
    IsoTpReceiver receiver(settingsWith(0));
    receiver.onFrame(firstFrame(20), kStart);
    EXPECT_TRUE(receiver.onFrame(consecutiveFrame(1, 5), kStart).events.empty());
    receiver.onFrame(consecutiveFrame(1), kStart);
    const ReceiverOutput output = receiver.onFrame(consecutiveFrame(2), kStart);
    const auto* message = lastEvent<ReceivedMessage>(output);
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->payload, bytesFrom(0, 20));
}

TEST(IsoTpReceiver, DropsThePartialMessageWhenTheNextFrameIsLate) {
    IsoTpReceiverSettings settings = settingsWith(0);
    settings.consecutiveFrameTimeout = milliseconds(100);
    IsoTpReceiver receiver(settings);
    receiver.onFrame(firstFrame(30), kStart);
    receiver.onFrame(consecutiveFrame(1), kStart + milliseconds(90));
    EXPECT_EQ(receiver.nextTickAt(), kStart + milliseconds(190));
    EXPECT_TRUE(receiver.tick(kStart + milliseconds(189)).events.empty());
    const ReceiverOutput output = receiver.tick(kStart + milliseconds(190));
    const auto* dropped = lastEvent<ReceptionDropped>(output);
    ASSERT_NE(dropped, nullptr);
    EXPECT_EQ(dropped->reason, DropReason::ConsecutiveFrameTimeout);
    EXPECT_FALSE(receiver.nextTickAt());
}

TEST(IsoTpReceiver, NewMessageSupersedesTheOneBeingReceived) {
    const uint8_t single[] = {0xAB};
    for (const CanFrame& newFrame : {buildSingleFrame(kEcu, single, kNoPadding), firstFrame(99)}) {
        IsoTpReceiver receiver(settingsWith(0));
        receiver.onFrame(firstFrame(30), kStart);
        const ReceiverOutput output = receiver.onFrame(newFrame, kStart);
        ASSERT_EQ(output.events.size(), 2u);
        EXPECT_EQ(std::get<ReceptionDropped>(output.events[0]).reason, DropReason::Superseded);
        EXPECT_FALSE(std::holds_alternative<ReceptionDropped>(output.events[1]));
    }
}

TEST(IsoTpReceiver, FlagsAMessageWithAShortFrameWhenPaddingIsExpected) {
    const FramePadding padded{PaddingMode::On, 0x55};
    const uint8_t single[] = {1, 2};
    struct Case {
        PaddingMode expected;
        std::vector<CanFrame> frames;
        PaddingCheck check;
    };
    const Case cases[] = {
        {PaddingMode::On, {buildSingleFrame(kEcu, single, padded)}, PaddingCheck::Fine},
        {PaddingMode::On, {buildSingleFrame(kEcu, single, kNoPadding)}, PaddingCheck::Short},
        {PaddingMode::Off, {buildSingleFrame(kEcu, single, kNoPadding)}, PaddingCheck::Fine},
        {PaddingMode::On, {firstFrame(10), consecutiveFrame(1, 4, padded)}, PaddingCheck::Fine},
        {PaddingMode::On, {firstFrame(10), consecutiveFrame(1, 4)}, PaddingCheck::Short},
        {PaddingMode::Off, {firstFrame(10), consecutiveFrame(1, 4)}, PaddingCheck::Fine},
    };
    for (const Case& c : cases) {
        IsoTpReceiver receiver(settingsWith(0, c.expected));
        ReceiverOutput output;
        for (const CanFrame& frame : c.frames) {
            output = receiver.onFrame(frame, kStart);
        }
        const auto* message = lastEvent<ReceivedMessage>(output);
        ASSERT_NE(message, nullptr);
        EXPECT_EQ(message->padding, c.check) << c.frames.size();
    }
}

}  // namespace
}  // namespace vtx::isotp
