// Reads through the unsigned-long exports: the core's 32-bit messages, written at the start of
// the caller's buffer, moved into the caller's layout where they lie.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "api/InPlaceWidening.h"

namespace vtx {
namespace {

// Message i: its fields numbered after i, and DataSize bytes of data that say where they came
// from; a message with as much data as there is room for, one with none.
PASSTHRU_MSG narrowMessage(uint32_t i, uint32_t dataSize) {
    PASSTHRU_MSG msg;
    std::memset(&msg, 0xEE, sizeof msg);
    msg.ProtocolID = CAN;
    msg.RxStatus = 0x100 + i;
    msg.TxFlags = 0x200 + i;
    msg.Timestamp = 0xFFFFFFF0u + i;
    msg.DataSize = dataSize;
    msg.ExtraDataIndex = 0x300 + i;
    for (uint32_t b = 0; b < dataSize; ++b) {
        msg.Data[b] = static_cast<unsigned char>(i * 31 + b);
    }
    return msg;
}

TEST(InPlaceWidening, EveryMessageKeepsItsFieldsAndData) {
    const std::vector<uint32_t> sizes = {12, 4128, 0, 5, 4128, 8, 1};
    std::vector<wide::Message> caller(sizes.size() + 1);
    std::memset(caller.data(), 0xAB, caller.size() * sizeof(wide::Message));
    PASSTHRU_MSG* narrow = narrowView(caller.data());
    for (uint32_t i = 0; i < sizes.size(); ++i) {
        narrow[i] = narrowMessage(i, sizes[i]);
    }
    widenInPlace(caller.data(), sizes.size());
    for (uint32_t i = 0; i < sizes.size(); ++i) {
        SCOPED_TRACE(i);
        const PASSTHRU_MSG expected = narrowMessage(i, sizes[i]);
        EXPECT_EQ(caller[i].ProtocolID, expected.ProtocolID);
        EXPECT_EQ(caller[i].RxStatus, expected.RxStatus);
        EXPECT_EQ(caller[i].TxFlags, expected.TxFlags);
        EXPECT_EQ(caller[i].Timestamp, expected.Timestamp);  // zero-extended, not sign-extended
        EXPECT_EQ(caller[i].DataSize, expected.DataSize);
        EXPECT_EQ(caller[i].ExtraDataIndex, expected.ExtraDataIndex);
        EXPECT_EQ(std::memcmp(caller[i].Data, expected.Data, sizes[i]), 0);
    }
    // The caller's message past those read is left as it was.
    EXPECT_EQ(caller.back().ExtraDataIndex, 0xABABABABABABABABul);
}

}  // namespace
}  // namespace vtx
