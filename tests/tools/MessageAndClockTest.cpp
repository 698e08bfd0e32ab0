// J2534 messages from and to frames, and the log clock across the device counter's wrap.
#include <gtest/gtest.h>

#include "tools/ptcan/LogClock.h"
#include "tools/ptcan/PassThruMessage.h"

namespace ptcan {
namespace {

TEST(PassThruMessage, IdentifierBigEndianWidthFromFlags) {
    for (const Frame& frame : {Frame{0x7DF, false, {0x02, 0x01, 0x0C}}, Frame{0x18DB33F1, true, {}},
                               Frame{0, false, std::vector<uint8_t>(8, 0xFF)}}) {
        const PASSTHRU_MSG msg = PassThruMessage::fromFrame(frame);
        EXPECT_EQ(msg.ProtocolID, CAN);
        EXPECT_EQ(msg.DataSize, 4 + frame.data.size());
        EXPECT_EQ(msg.Data[0], frame.id >> 24);
        EXPECT_EQ(msg.Data[3], frame.id & 0xFF);
        EXPECT_EQ(PassThruMessage::toFrame(msg), frame);
    }
    // A received message carries its width in RxStatus.
    PASSTHRU_MSG received{};
    received.RxStatus = CAN_29BIT_ID;
    received.DataSize = 5;
    received.Data[0] = 0x18;
    received.Data[4] = 0xAB;
    EXPECT_EQ(PassThruMessage::toFrame(received), (Frame{0x18000000, true, {0xAB}}));
}

TEST(PassThruMessage, Iso15765MessageAndPayload) {
    const std::vector<uint8_t> request{0x22, 0xF1, 0x90};
    const PASSTHRU_MSG msg = PassThruMessage::iso15765(0x7E0, false, request, ISO15765_FRAME_PAD);
    EXPECT_EQ(msg.ProtocolID, ISO15765);
    EXPECT_EQ(msg.TxFlags, ISO15765_FRAME_PAD);
    EXPECT_EQ(PassThruMessage::id(msg), 0x7E0u);
    EXPECT_EQ(PassThruMessage::payload(msg), request);
    PASSTHRU_MSG indication{};
    indication.DataSize = 4;
    EXPECT_TRUE(PassThruMessage::payload(indication).empty());
}

TEST(LogClock, FollowsTheDeviceAcrossTheCounterWrap) {
    LogClock clock;
    const int64_t first = clock.wallMicros(0xFFFFFF00);
    EXPECT_GT(first, int64_t{1500000000} * 1000000);  // wall-clock time, as candump logs it
    EXPECT_EQ(clock.wallMicros(0xFFFFFFFF) - first, 0xFF);
    EXPECT_EQ(clock.wallMicros(0x00000100) - first, 0x200);  // wrapped, still later
}

}  // namespace
}  // namespace ptcan
