#include "device/DevicePackets.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

namespace vtx::packet {
namespace {

using Bytes = std::vector<uint8_t>;

CanFrame frame(uint32_t id, bool ext, std::initializer_list<uint8_t> data) {
    CanFrame f{};
    f.idCan = id;
    f.idExt = ext ? 1 : 0;
    f.lenDataCan = static_cast<uint8_t>(data.size());
    std::copy(data.begin(), data.end(), f.dataCan);
    return f;
}

Bytes packed(const CanFrame& f) {
    Bytes out(kSize);
    packFrame(f, out.data());
    return out;
}

TEST(FramePacket, PacksIdentifiersInRegisterLayout) {
    struct Case {
        const char* what;
        CanFrame frame;
        Bytes bytes;
    };
    const Case cases[] = {
        {"11-bit 0x123 with 3 bytes",
         frame(0x123, false, {0x11, 0x22, 0x33}),
         {0x01, 0x24, 0x60, 0x00, 0x00, 0x03, 0x11, 0x22, 0x33, 0, 0, 0, 0, 0, 0, 0}},
        {"29-bit 0x18DAF110",
         frame(0x18DAF110, true, {}),
         {0x01, 0xC6, 0xDD, 0xE2, 0x20, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"29-bit 0x1FFFFFFF",
         frame(0x1FFFFFFF, true, {1, 2, 3, 4, 5, 6, 7, 8}),
         {0x01, 0xFF, 0xFF, 0xFF, 0xFE, 0x08, 1, 2, 3, 4, 5, 6, 7, 8, 0, 0}},
        {"11-bit 0x7FF",
         frame(0x7FF, false, {0xAA}),
         {0x01, 0xFF, 0xE0, 0x00, 0x00, 0x01, 0xAA, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        // The echo marker and the other bits above the identifier never reach the wire.
        {"echo marker dropped",
         frame(0x40000000 | 0x7E0, false, {}),
         {0x01, 0xFC, 0x00, 0x00, 0x00, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(packed(c.frame), c.bytes) << c.what;
    }
}

TEST(FramePacket, UnpacksWhatItPacks) {
    for (const auto& f : {frame(0x123, false, {0x11, 0x22, 0x33}), frame(0x18DAF110, true, {9}),
                          frame(0x1FFFFFFF, true, {1, 2, 3, 4, 5, 6, 7, 8}),
                          frame(0x7FF, false, {}), frame(0x1, true, {0x55})}) {
        const Bytes bytes = packed(f);
        const CanFrame back = unpackFrame(bytes.data());
        EXPECT_EQ(uint32_t{back.idCan}, uint32_t{f.idCan});
        EXPECT_EQ(back.idExt, f.idExt);
        EXPECT_EQ(back.lenDataCan, f.lenDataCan);
        EXPECT_EQ(std::memcmp(back.dataCan, f.dataCan, f.lenDataCan), 0);
        EXPECT_EQ(uint32_t{back.Timestamp}, 0u);
    }
}

TEST(FramePacket, IgnoresMarkerBitsOnReceive) {
    // Bit 4 of byte 2 and bytes 3 and 4 of an 11-bit frame are not part of the identifier.
    const Bytes in = {0x01, 0x24, 0x70, 0x55, 0x55, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const CanFrame f = unpackFrame(in.data());
    EXPECT_EQ(uint32_t{f.idCan}, 0x123u);
    EXPECT_EQ(f.idExt, 0);
    // Byte 0 is not examined either, and bit 0 of byte 4 of a 29-bit frame is ignored.
    const Bytes ext = {0x77, 0xC6, 0xCD, 0xE2, 0x21, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const CanFrame e = unpackFrame(ext.data());
    EXPECT_EQ(uint32_t{e.idCan}, 0x18DAF110u);
    EXPECT_EQ(e.idExt, 1);
}

TEST(FramePacket, DataLengthAboveEightKeepsEightBytes) {
    Bytes in(kSize, 0xEE);
    in[2] = 0x00;
    in[5] = 0x0F;
    const CanFrame f = unpackFrame(in.data());
    EXPECT_EQ(f.lenDataCan, 15);
    for (uint8_t b : f.dataCan) {
        EXPECT_EQ(b, 0xEE);
    }
}

TEST(TransferHeader, CountsPacketsAndStampsTheSequenceBigEndian) {
    Bytes header(kSize);
    buildTransferHeader(header.data(), 0, 40, 64 / kSize, 0x0102);
    EXPECT_EQ(header,
              (Bytes{0x0B, 0x00, 0x28, 0x00, 0x04, 0x00, 0x01, 0x02, 0, 0, 0, 0, 0, 0, 0, 0}));
    buildTransferHeader(header.data(), 0, 1000, 8192, 0xFFFF);
    EXPECT_EQ(header[2], 0xE8);
    EXPECT_EQ(header[3], 0x03);
    EXPECT_EQ(header[4], 0x00);
    EXPECT_EQ(header[5], 0x20);
    EXPECT_EQ(header[6], 0xFF);
    EXPECT_EQ(header[7], 0xFF);
}

// The four identification reply packets for a block.
Bytes identificationReply(const std::array<uint8_t, 32>& block) {
    Bytes reply(64, 0);
    for (int i = 0; i < 4; ++i) {
        reply[i * 16] = kClassIdentReply;
        std::memcpy(&reply[i * 16 + 8], &block[i * 8], 8);
    }
    return reply;
}

std::array<uint8_t, 32> identificationBlock() {
    std::array<uint8_t, 32> block{};
    std::memcpy(&block[20], "VTX20", 5);
    block[25] = 0x12;
    block[26] = 0x34;
    block[27] = 0x00;
    block[28] = 0x01;
    block[29] = 0x02;
    block[30] = 0x03;
    uint8_t sum = 0;
    for (int i = 0; i < 31; ++i) {
        sum = static_cast<uint8_t>(sum + block[i]);
    }
    block[31] = sum;
    return block;
}

TEST(Identification, AssemblesAndChecksTheBlock) {
    const auto block = identificationBlock();
    Bytes reply = identificationReply(block);
    uint8_t assembled[32];
    ASSERT_TRUE(assembleIdentification(reply.data(), assembled));
    EXPECT_EQ(std::memcmp(assembled, block.data(), 32), 0);
    EXPECT_TRUE(identificationChecksumOk(assembled));
    EXPECT_EQ(identificationCustomer(assembled), 0x1234u);
    EXPECT_EQ(identificationSerial(assembled), 0x00010203u);

    assembled[31] ^= 1;
    EXPECT_FALSE(identificationChecksumOk(assembled));

    reply[32] = kClassIdentRequest;  // third packet with the wrong class
    EXPECT_FALSE(assembleIdentification(reply.data(), assembled));
}

TEST(EnableCommand, AcceptanceWordsForEachFilterKind) {
    struct Case {
        const char* what;
        uint32_t id, mk;
        uint8_t ext, both;
        Acceptance expected;
    };
    const Case cases[] = {
        {"open filter", kOpenFilter, kOpenFilter, 0, 0, {0, 0, true}},
        {"open filter wins over both", kOpenFilter, kOpenFilter, 1, 1, {0, 0, true}},
        {"both identifier widths", 0x123, 0x7FF, 0, 1, {0, 0xFFFFFFFF, false}},
        {"11-bit", 0x123, 0x7FF, 0, 0, {0x24600000, 0xFFF7FFFF, false}},
        {"11-bit exact", 0x7E8, 0, 0, 0, {0xFD000000, 0x0017FFFF, false}},
        {"29-bit", 0x18DAF110, 0, 1, 0, {0xC6DDE220, 0x00100000, false}},
        {"29-bit mask", 0, 0x1FFFFFFF, 1, 0, {0x00180000, 0xFFF7FFFE, false}},
    };
    for (const Case& c : cases) {
        CommParameters p;
        p.Id = c.id;
        p.Mk = c.mk;
        p.Ext = c.ext;
        p.canIdBoth = c.both;
        const Acceptance a = acceptanceOf(p);
        EXPECT_EQ(a.code, c.expected.code) << c.what;
        EXPECT_EQ(a.mask, c.expected.mask) << c.what;
        EXPECT_EQ(a.open, c.expected.open) << c.what;
    }
}

TEST(EnableCommand, BytesOfTheWorkedCase) {
    CommParameters p;
    p.Id = 0x123;
    p.Mk = 0x7FF;
    p.Bus = 0;
    uint8_t command[kEnableCommandSize];
    buildEnableCommand(command, 0x03, 0x14, p);
    const Bytes first(command, command + 17);
    EXPECT_EQ(first, (Bytes{0x04, 0x01, 0x00, 0x01, 0x03, 0x14, 0x00, 0x24, 0x60, 0x00, 0x00, 0xFF,
                            0xF7, 0xFF, 0xFF, 0x00, 0x06}));
    for (int i = 17; i < kEnableCommandSize; ++i) {
        EXPECT_EQ(command[i], 0) << i;
    }
    p.Id = p.Mk = kOpenFilter;
    p.Bus = 1;
    buildEnableCommand(command, 0x03, 0x14, p);
    EXPECT_EQ(Bytes(command + 6, command + 16), (Bytes{0x30, 0, 0, 0, 0, 0, 0, 0, 0, 0x01}));
}

}  // namespace
}  // namespace vtx::packet
