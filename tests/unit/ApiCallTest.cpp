#include "api/ApiCall.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "api/Library.h"

namespace vtx {
namespace {

class ApiCallTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(Library::onProcessAttach()); }
    void TearDown() override { Library::onProcessDetach(); }

    static std::string lastErrorText() {
        char text[80] = {};
        EXPECT_EQ(callOperation([&](PassThru& p) { return p.passThruGetLastError(text); }),
                  STATUS_NOERROR);
        return text;
    }
};

// Each thread reads the outcome of its own last call, whatever other threads called since.
TEST_F(ApiCallTest, LastErrorIsEachThreadsOwn) {
    ASSERT_EQ(
        callOperation([](PassThru& p) { return p.passThruConnect(7, CAN, 0, 500000, nullptr); }),
        ERR_INVALID_DEVICE_ID);
    std::string otherText;
    std::thread other([&] {
        EXPECT_EQ(
            callOperation([](PassThru& p) { return p.passThruReadMsgs(3, nullptr, nullptr, 0); }),
            ERR_INVALID_DEVICE_ID);
        EXPECT_EQ(
            callOperation([](PassThru& p) { return p.passThruSetProgrammingVoltage(0, 15, 0); }),
            ERR_INVALID_DEVICE_ID);
        EXPECT_EQ(callOperation([](PassThru&) -> uint32_t { throw 42; }), ERR_FAILED);
        otherText = lastErrorText();
    });
    other.join();
    EXPECT_EQ(otherText, text::kInternalError);
    EXPECT_EQ(lastErrorText(), "ERR_INVALID_DEVICE_ID");
}

TEST_F(ApiCallTest, ExceptionsBecomeFailures) {
    EXPECT_EQ(callOperation([](PassThru&) -> uint32_t { throw std::bad_alloc(); }), ERR_FAILED);
    char text[80] = {};
    callOperation([&](PassThru& p) { return p.passThruGetLastError(text); });
    EXPECT_STREQ(text, text::kOutOfMemory);
    EXPECT_EQ(callOperation([](PassThru&) -> uint32_t { throw 42; }), ERR_FAILED);
    callOperation([&](PassThru& p) { return p.passThruGetLastError(text); });
    EXPECT_STREQ(text, text::kInternalError);
}

}  // namespace
}  // namespace vtx
