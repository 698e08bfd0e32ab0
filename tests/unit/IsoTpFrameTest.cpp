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

CanFrame frameTo(const IsoTpAddress& address, const std::vector<uint8_t>& bytes) {
    CanFrame frame = address.emptyFrame();
    frame.lenDataCan = static_cast<uint8_t>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), frame.dataCan);
    return frame;
}

std::string hex(std::span<const uint8_t> bytes) {
    std::string text;
    for (uint8_t byte : bytes) {
        char digits[4];
        std::snprintf(digits, sizeof digits, "%02X ", byte);
        text += digits;
    }
    return text.empty() ? text : text.substr(0, text.size() - 1);
}

// The decoded frame in a few words: its type, its numbers and its data.
std::string describe(const std::optional<DecodedFrame>& decoded) {
    if (!decoded) {
        return "ignored";
    }
    const FrameContent& content = decoded->content;
    if (const auto* single = std::get_if<SingleFrame>(&content)) {
        return "SF [" + hex(single->data.view()) + "]";
    }
    if (const auto* first = std::get_if<FirstFrame>(&content)) {
        return "FF " + std::to_string(first->messageLength) + " [" + hex(first->data.view()) + "]";
    }
    if (const auto* consecutive = std::get_if<ConsecutiveFrame>(&content)) {
        return "CF " + std::to_string(consecutive->sequenceNumber) + " [" +
               hex(consecutive->data.view()) + "]";
    }
    const auto& flowControl = std::get<FlowControl>(content);
    return "FC " + std::to_string(static_cast<int>(flowControl.status)) + " " +
           std::to_string(flowControl.blockSize) + " " +
           std::to_string(flowControl.separationTimeCode);
}

TEST(IsoTpFrame, DecodesWellFormedFramesAndIgnoresTheRest) {
    struct Case {
        const IsoTpAddress* address;
        std::vector<uint8_t> bytes;
        std::string expected;
    };
    const Case cases[] = {
        {&kNormal, {0x07, 1, 2, 3, 4, 5, 6, 7}, "SF [01 02 03 04 05 06 07]"},
        {&kNormal, {0x02, 1, 2, 0xCC, 0xCC}, "SF [01 02]"},
        {&kNormal, {0x08, 1, 2, 3, 4, 5, 6, 7}, "ignored"},  // longer than a single frame holds
        {&kNormal, {0x03, 1, 2}, "ignored"},                 // longer than the frame
        {&kNormal, {0x00, 1}, "ignored"},
        {&kExtended, {0xF1, 0x06, 1, 2, 3, 4, 5, 6}, "SF [01 02 03 04 05 06]"},
        {&kExtended, {0xF1, 0x07, 1, 2, 3, 4, 5, 6}, "ignored"},
        {&kNormal, {0x10, 0x08, 1, 2, 3, 4, 5, 6}, "FF 8 [01 02 03 04 05 06]"},
        {&kNormal, {0x1F, 0xFF, 1, 2, 3, 4, 5, 6}, "FF 4095 [01 02 03 04 05 06]"},
        {&kNormal, {0x10, 0x07, 1, 2, 3, 4, 5, 6}, "ignored"},  // a single frame would do
        {&kNormal, {0x10, 0x00, 1, 2, 3, 4, 5, 6}, "ignored"},  // escape to 32-bit lengths
        {&kNormal, {0x10, 0x20, 1, 2, 3, 4, 5}, "ignored"},     // first frames are full
        {&kExtended, {0xF1, 0x10, 0x07, 1, 2, 3, 4, 5}, "FF 7 [01 02 03 04 05]"},
        {&kExtended, {0xF1, 0x10, 0x06, 1, 2, 3, 4, 5}, "ignored"},
        {&kNormal, {0x21, 9, 8}, "CF 1 [09 08]"},
        {&kNormal, {0x2F, 1, 2, 3, 4, 5, 6, 7}, "CF 15 [01 02 03 04 05 06 07]"},
        {&kNormal, {0x20}, "ignored"},
        {&kExtended, {0xF1, 0x20, 9}, "CF 0 [09]"},
        {&kNormal, {0x30, 0x08, 0x14}, "FC 0 8 20"},
        {&kNormal, {0x31, 0x00, 0x00, 0x55, 0x55}, "FC 1 0 0"},
        {&kNormal, {0x32, 0x00, 0x00}, "FC 2 0 0"},
        {&kNormal, {0x36, 0x00, 0x00}, "FC 255 0 0"},  // reserved status
        {&kNormal, {0x30, 0x08}, "ignored"},
        {&kExtended, {0xF1, 0x30, 0x02, 0xF5}, "FC 0 2 245"},
        {&kNormal, {0x40, 1, 2}, "ignored"},  // no such frame type
        {&kNormal, {}, "ignored"},
        {&kExtended, {0xF1}, "ignored"},
    };
    for (const Case& c : cases) {
        const CanFrame frame = frameTo(*c.address, c.bytes);
        EXPECT_EQ(describe(decodeFrame(frame, *c.address, PaddingMode::Off)), c.expected)
            << hex(c.bytes);
    }
}

TEST(IsoTpFrame, FramesOfAnotherAddressAreIgnored) {
    const std::vector<uint8_t> single = {0xF1, 0x01, 0xAA};
    CanFrame otherAddressByte = frameTo(kExtended, single);
    otherAddressByte.dataCan[0] = 0xF2;
    CanFrame otherIdentifier = frameTo(kNormal, {0x01, 0xAA});
    otherIdentifier.idCan = 0x7E9;
    CanFrame otherWidth = frameTo(kNormal, {0x01, 0xAA});
    otherWidth.idExt = 1;
    CanFrame echo = frameTo(kNormal, {0x01, 0xAA});
    echo.idCan |= kEchoMarker;
    EXPECT_FALSE(decodeFrame(otherAddressByte, kExtended, PaddingMode::Off));
    EXPECT_FALSE(decodeFrame(otherIdentifier, kNormal, PaddingMode::Off));
    EXPECT_FALSE(decodeFrame(otherWidth, kNormal, PaddingMode::Off));
    EXPECT_FALSE(decodeFrame(echo, kNormal, PaddingMode::Off));
}

TEST(IsoTpFrame, ShortFrameIsAPaddingFaultOnlyWhenPaddingIsExpected) {
    const CanFrame shortFrame = frameTo(kNormal, {0x02, 1, 2});
    const CanFrame fullFrame = frameTo(kNormal, {0x02, 1, 2, 0, 0, 0, 0, 0});
    EXPECT_EQ(decodeFrame(shortFrame, kNormal, PaddingMode::On)->padding, PaddingCheck::Short);
    EXPECT_EQ(decodeFrame(shortFrame, kNormal, PaddingMode::Off)->padding, PaddingCheck::Fine);
    EXPECT_EQ(decodeFrame(fullFrame, kNormal, PaddingMode::On)->padding, PaddingCheck::Fine);
}

TEST(IsoTpFrame, BuildsEachFrameTypeWithAndWithoutPadding) {
    const FramePadding off{};
    const FramePadding on{PaddingMode::On, 0xAA};
    const std::vector<uint8_t> bytes = {1, 2, 3, 4, 5, 6, 7, 8};
    const std::span<const uint8_t> all(bytes);
    const FlowControl wait{FlowStatus::Wait, 0, 0};
    struct Case {
        CanFrame frame;
        std::string expected;
    };
    const Case cases[] = {
        {buildSingleFrame(kNormal, all.first(3), off), "03 01 02 03"},
        {buildSingleFrame(kNormal, all.first(3), on), "03 01 02 03 AA AA AA AA"},
        {buildSingleFrame(kNormal, all.first(7), off), "07 01 02 03 04 05 06 07"},
        {buildSingleFrame(kExtended, all.first(6), off), "F1 06 01 02 03 04 05 06"},
        {buildSingleFrame(kExtended, all.first(1), on), "F1 01 01 AA AA AA AA AA"},
        {buildFirstFrame(kNormal, 4095, all.first(6), off), "1F FF 01 02 03 04 05 06"},
        {buildFirstFrame(kExtended, 0x123, all.first(5), off), "F1 11 23 01 02 03 04 05"},
        {buildConsecutiveFrame(kNormal, 15, all.first(2), off), "2F 01 02"},
        {buildConsecutiveFrame(kNormal, 0, all.first(2), on), "20 01 02 AA AA AA AA AA"},
        {buildConsecutiveFrame(kExtended, 1, all.first(6), off), "F1 21 01 02 03 04 05 06"},
        {buildFlowControl(kNormal, {FlowStatus::ClearToSend, 8, 0xF3}, off), "30 08 F3"},
        {buildFlowControl(kExtended, wait, on), "F1 31 00 00 AA AA AA AA"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(hex({c.frame.dataCan, c.frame.lenDataCan}), c.expected);
    }
    EXPECT_EQ(cases[3].frame.idCan, 0x18DAF110u);
    EXPECT_EQ(cases[3].frame.idExt, 1);
    EXPECT_EQ(cases[0].frame.idExt, 0);
}

TEST(IsoTpFrame, SeparationTimeCodes) {
    using std::chrono::milliseconds;
    struct Case {
        uint8_t code;
        Microseconds gap;
    };
    const Case cases[] = {
        {0x00, Microseconds{0}},   {0x01, milliseconds(1)},   {0x7F, milliseconds(127)},
        {0xF1, Microseconds{100}}, {0xF5, Microseconds{500}}, {0xF9, Microseconds{900}},
        {0x80, milliseconds(127)}, {0xF0, milliseconds(127)}, {0xFA, milliseconds(127)},
        {0xFF, milliseconds(127)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(separationTimeFromCode(c.code), c.gap) << int{c.code};
    }
}

TEST(IsoTpAddress, ReadsTheMessageHeader) {
    const uint8_t header[] = {0x18, 0xDA, 0xF1, 0x10, 0x33};
    const IsoTpAddress extended =
        IsoTpAddress::fromMessageHeader(header, CAN_29BIT_ID | ISO15765_ADDR_TYPE);
    EXPECT_EQ(extended.canId, 0x18DAF110u);
    EXPECT_EQ(extended.width, CanIdWidth::Extended29);
    EXPECT_EQ(extended.extendedAddress, 0x33);
    const IsoTpAddress normal = IsoTpAddress::fromMessageHeader(header, 0);
    EXPECT_EQ(normal.width, CanIdWidth::Standard11);
    EXPECT_FALSE(normal.extendedAddress);
    EXPECT_EQ(IsoTpAddress::headerLength(ISO15765_ADDR_TYPE), 5u);
    EXPECT_EQ(IsoTpAddress::headerLength(CAN_29BIT_ID), 4u);
}

}  // namespace
}  // namespace vtx::isotp
