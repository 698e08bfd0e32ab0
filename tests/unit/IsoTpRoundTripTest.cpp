// A sender and a receiver talking to each other through a lossless bus, on fake time.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <numeric>
#include <vector>

#include "protocol/isotp/IsoTpReceiver.h"
#include "protocol/isotp/IsoTpSender.h"

namespace vtx::isotp {
namespace {

struct Link {
    std::optional<uint8_t> extendedAddress;
    PaddingMode padding;
    uint8_t blockSize;
};

struct Transfer {
    std::vector<ReceiverEvent> events;
    std::size_t consecutiveFramesOutOfSequence = 0;
    std::optional<SendOutcome> outcome;
};

std::vector<uint8_t> messageOf(std::size_t length) {
    std::vector<uint8_t> message(length);
    std::iota(message.begin(), message.end(), uint8_t{7});
    return message;
}

// Delivers the sender's frames to the receiver and its flow controls back, ticking both at the
// times they ask for, until the sender is done. Checks consecutive frame numbers on the way.
Transfer transfer(const Link& link, std::size_t length) {
    const IsoTpAddress tester{0x18DA10F1, CanIdWidth::Extended29, link.extendedAddress};
    const IsoTpAddress ecu{0x18DAF110, CanIdWidth::Extended29, link.extendedAddress};
    const FramePadding padding{link.padding, 0xCC};
    IsoTpSenderSettings senderSettings;
    senderSettings.transmitAddress = tester;
    senderSettings.flowControlAddress = ecu;
    senderSettings.padding = padding;
    IsoTpReceiverSettings receiverSettings;
    receiverSettings.receiveAddress = tester;
    receiverSettings.flowControlAddress = ecu;
    receiverSettings.padding = padding;
    receiverSettings.offer = {link.blockSize, 0xF1};
    IsoTpSender sender(senderSettings, messageOf(length));
    IsoTpReceiver receiver(receiverSettings);
    Transfer result;
    std::size_t consecutiveFrames = 0;
    std::deque<CanFrame> flowControls;
    auto toReceiver = [&](const SenderOutput& output, TimePoint now) {
        for (const CanFrame& frame : output.frames) {
            const uint8_t pci = frame.dataCan[tester.pciOffset()];
            if ((pci >> 4) == 2 && (pci & 0x0F) != ++consecutiveFrames % kSequenceNumberModulus) {
                ++result.consecutiveFramesOutOfSequence;
            }
            ReceiverOutput answer = receiver.onFrame(frame, now);
            flowControls.insert(flowControls.end(), answer.frames.begin(), answer.frames.end());
            result.events.insert(result.events.end(), answer.events.begin(), answer.events.end());
        }
    };
    TimePoint now{};
    toReceiver(sender.start(now), now);
    while (!sender.outcome()) {
        while (!flowControls.empty()) {
            const CanFrame flowControl = flowControls.front();
            flowControls.pop_front();
            toReceiver(sender.onFrame(flowControl, now), now);
        }
        if (sender.outcome()) {
            break;
        }
        now = std::max(now, *sender.nextTickAt());
        toReceiver(sender.tick(now), now);
    }
    result.outcome = sender.outcome();
    return result;
}

TEST(IsoTpRoundTrip, EveryMessageArrivesWhole) {
    const Link links[] = {
        {std::nullopt, PaddingMode::Off, 0},
        {std::nullopt, PaddingMode::On, 3},
        {0xF1, PaddingMode::Off, 1},
        {0xF1, PaddingMode::On, 0},
    };
    const std::size_t lengths[] = {1, 6, 7, 8, 12, 13, 14, 20, 21, 111, 112, 113, 1000, 4095};
    for (const Link& link : links) {
        for (std::size_t length : lengths) {
            const Transfer result = transfer(link, length);
            SCOPED_TRACE(testing::Message()
                         << "length " << length << " block size " << int{link.blockSize});
            EXPECT_EQ(result.outcome, SendOutcome::Completed);
            const std::size_t singleFrameLimit = link.extendedAddress ? 6 : 7;
            ASSERT_EQ(result.events.size(), length > singleFrameLimit ? 2u : 1u);
            const auto* message = std::get_if<ReceivedMessage>(&result.events.back());
            ASSERT_NE(message, nullptr);
            EXPECT_EQ(message->payload, messageOf(length));
            EXPECT_EQ(message->padding, PaddingCheck::Fine);
            EXPECT_EQ(result.consecutiveFramesOutOfSequence, 0u);
        }
    }
}

}  // namespace
}  // namespace vtx::isotp
