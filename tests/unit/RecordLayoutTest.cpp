// The sizes and offsets are asserted at compile time beside the records; these check what a
// caller's arrays look like.
#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

#include "base/CanFrame.h"
#include "base/J2534.h"

namespace {

TEST(RecordLayout, MessageArrayStride) {
    std::vector<PASSTHRU_MSG> messages(2);
    const auto* first = reinterpret_cast<const unsigned char*>(&messages[0]);
    const auto* second = reinterpret_cast<const unsigned char*>(&messages[1]);
    EXPECT_EQ(second - first, 4152);
}

TEST(RecordLayout, FrameArrayIsPacked) {
    vtx::CanFrame frames[3] = {};
    EXPECT_EQ(reinterpret_cast<const unsigned char*>(&frames[2]) -
                  reinterpret_cast<const unsigned char*>(&frames[0]),
              36);
}

TEST(RecordLayout, ConfigListPointerFollowsCount) {
    EXPECT_EQ(offsetof(SCONFIG_LIST, ConfigPtr), sizeof(void*) == 4 ? 4u : 8u);
}

}  // namespace
