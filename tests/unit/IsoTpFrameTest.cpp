#include "protocol/isotp/IsoTpFrame.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/J2534.h"
#include "protocol/isotp/SeparationTime.h"

namespace vtx::isotp {
namespace {

const IsoTpAddress kNormal{0x7E8, CanIdWidth::Standard11, std::nullopt};
const IsoTpAddress kExtended{0x18DAF110, CanIdWidth::Extended29, 0xF1};

std::string hex(std::span<const uint8_t> bytes) {
    std::string text;
    for (uint8_t byte : bytes) {
        char digits[4];
        std::snprintf(digits, sizeof digits, " %02X", byte);
        text += digits;
    }
    return text;
}

// The decoded frame in a few words: its type, its numbers and its data.
std::string describe(const std::optional<DecodedFrame>& decoded) {
    if (!decoded) {
        return "ignored";
    }
    const FrameContent& content = decoded->content;
    if (const auto* single = std::get_if<SingleFrame>(&content)) {
        return "SF" + hex(single->data.view());
    }
    if (const auto* first = std::get_if<FirstFrame>(&content)) {
        return "FF " + std::to_string(first->messageLength) + hex(first->data.view());
    }
    if (const auto* consecutive = std::get_if<ConsecutiveFrame>(&content)) {
        return "CF " + std::to_string(consecutive->sequenceNumber) + hex(consecutive->data.view());
    }
    const auto& fc = std::get<FlowControl>(content);
    return "FC " + std::to_string(static_cast<int>(fc.status)) +
           hex(std::vector<uint8_t>{fc.blockSize, fc.separationTimeCode});
}

TEST(IsoTpFrame, DecodesWellFormedFramesAndIgnoresTheRest) {
    struct Case {
        const IsoTpAddress* address;
        std::vector<uint8_t> bytes;
        std::string expected;
    };
    const Case cases[] = {
        {&kNormal, {0x07, 1, 2, 3, 4, 5, 6, 7}, "SF 01 02 03 04 05 06 07"},
        {&kNormal, {0x02, 1, 2, 0xCC, 0xCC}, "SF 01 02"},
        {&kNormal, {0x08, 1, 2, 3, 4, 5, 6, 7}, "ignored"},  // longer than a single frame holds
        {&kNormal, {0x03, 1, 2}, "ignored"},                 // longer than the frame
        {&kNormal, {0x00, 1}, "ignored"},
        {&kExtended, {0xF1, 0x06, 1, 2, 3, 4, 5, 6}, "SF 01 02 03 04 05 06"},
        {&kExtended, {0xF1, 0x07, 1, 2, 3, 4, 5, 6}, "ignored"},
        {&kExtended, {0xF2, 0x01, 1}, "ignored"},  // another address byte
        {&kNormal, {0x10, 0x08, 1, 2, 3, 4, 5, 6}, "FF 8 01 02 03 04 05 06"},
        {&kNormal, {0x1F, 0xFF, 1, 2, 3, 4, 5, 6}, "FF 4095 01 02 03 04 05 06"},
        {&kNormal, {0x10, 0x07, 1, 2, 3, 4, 5, 6}, "ignored"},  // a single frame would do
        {&kNormal, {0x10, 0x00, 1, 2, 3, 4, 5, 6}, "ignored"},  // escape to 32-bit lengths
        {&kNormal, {0x10, 0x20, 1, 2, 3, 4, 5}, "ignored"},     // first frames are full
        {&kExtended, {0xF1, 0x10, 0x07, 1, 2, 3, 4, 5}, "FF 7 01 02 03 04 05"},
        {&kNormal, {0x2F, 9, 8}, "CF 15 09 08"},
        {&kNormal, {0x20}, "ignored"},
        {&kExtended, {0xF1, 0x20, 9}, "CF 0 09"},
        {&kNormal, {0x30, 0x08, 0x14}, "FC 0 08 14"},
        {&kNormal, {0x32, 0x00, 0x00, 0x55}, "FC 2 00 00"},
        {&kNormal, {0x36, 0x00, 0x00}, "FC 255 00 00"},  // reserved status
        {&kNormal, {0x30, 0x08}, "ignored"},
        {&kExtended, {0xF1, 0x31, 0x02, 0xF5}, "FC 1 02 F5"},
        {&kNormal, {0x40, 1, 2}, "ignored"},  // no such frame type
    };
    for (const Case& c : cases) {
        CanFrame frame = c.address->emptyFrame();
        frame.lenDataCan = static_cast<uint8_t>(c.bytes.size());
        std::copy(c.bytes.begin(), c.bytes.end(), frame.dataCan);
        EXPECT_EQ(describe(decodeFrame(frame, *c.address, PaddingMode::Off)), c.expected)
            << hex(c.bytes);
    }
    CanFrame echo = buildSingleFrame(kNormal, std::vector<uint8_t>{1}, FramePadding{});
    echo.idCan |= kEchoMarker;
    EXPECT_FALSE(decodeFrame(echo, kNormal, PaddingMode::Off));  // the loopback of our own
}

TEST(IsoTpFrame, BuildsFramesWithAndWithoutPadding) {
    const FramePadding off{};
    const FramePadding on{PaddingMode::On, 0xAA};
    const uint8_t bytes[] = {1, 2, 3, 4, 5, 6, 7};
    const std::span<const uint8_t> all(bytes);
    struct Case {
        CanFrame frame;
        std::string expected;
    };
    const Case cases[] = {
        {buildSingleFrame(kNormal, all.first(3), off), " 03 01 02 03"},
        {buildSingleFrame(kNormal, all.first(3), on), " 03 01 02 03 AA AA AA AA"},
        {buildSingleFrame(kExtended, all.first(6), off), " F1 06 01 02 03 04 05 06"},
        {buildFirstFrame(kExtended, 0x123, all.first(5), off), " F1 11 23 01 02 03 04 05"},
        {buildConsecutiveFrame(kNormal, 15, all.first(2), off), " 2F 01 02"},
        {buildFlowControl(kExtended, {FlowStatus::Wait, 0, 0}, on), " F1 31 00 00 AA AA AA AA"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(hex({c.frame.dataCan, c.frame.lenDataCan}), c.expected);
    }
    EXPECT_EQ(cases[2].frame.idCan, 0x18DAF110u);
    EXPECT_EQ(cases[2].frame.idExt, 1);
}

TEST(IsoTpFrame, SeparationTimeCodes) {
    using std::chrono::milliseconds;
    const std::pair<uint8_t, Microseconds> cases[] = {
        {0x00, Microseconds{0}},   {0x7F, milliseconds(127)}, {0xF1, Microseconds{100}},
        {0xF9, Microseconds{900}}, {0x80, milliseconds(127)}, {0xF0, milliseconds(127)},
        {0xFA, milliseconds(127)}, {0xFF, milliseconds(127)},
    };
    for (const auto& [code, gap] : cases) {
        EXPECT_EQ(separationTimeFromCode(code), gap) << int{code};
    }
}

TEST(IsoTpAddress, ReadsTheMessageHeader) {
    const uint8_t header[] = {0x18, 0xDA, 0xF1, 0x10, 0x33};
    const IsoTpAddress address =
        IsoTpAddress::fromMessageHeader(header, CAN_29BIT_ID | ISO15765_ADDR_TYPE);
    EXPECT_EQ(address.canId, 0x18DAF110u);
    EXPECT_EQ(address.width, CanIdWidth::Extended29);
    EXPECT_EQ(address.extendedAddress, 0x33);
    EXPECT_FALSE(IsoTpAddress::fromMessageHeader(header, 0).extendedAddress);
}

}  // namespace
}  // namespace vtx::isotp
