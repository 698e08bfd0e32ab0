#include "api/ApiLock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "api/Library.h"

namespace vtx {
namespace {

class ApiLockTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(Library::onProcessAttach()); }
    void TearDown() override { Library::onProcessDetach(); }
};

TEST_F(ApiLockTest, CallsNeverOverlap) {
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    auto worker = [&] {
        for (int i = 0; i < 20; ++i) {
            callLocked([&](PassThru&) {
                if (inside.fetch_add(1) != 0) {
                    overlaps.fetch_add(1);
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                inside.fetch_sub(1);
                return STATUS_NOERROR;
            });
        }
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back(worker);
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(overlaps.load(), 0);
}

// A caller that arrives while another call runs waits for it, then sees its outcome.
TEST_F(ApiLockTest, SecondCallerSeesTheOutcomeOfTheFirst) {
    std::atomic<bool> firstInside{false};
    std::thread first([&] {
        callLocked([&](PassThru& p) {
            firstInside = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            return p.passThruConnect(0, CAN, 0, 500000, nullptr);
        });
    });
    while (!firstInside) {
        std::this_thread::yield();
    }
    char text[80] = {};
    const uint32_t status = callLocked([&](PassThru& p) { return p.passThruGetLastError(text); });
    first.join();
    EXPECT_EQ(status, STATUS_NOERROR);
    EXPECT_STREQ(text, "ERR_INVALID_DEVICE_ID");
}

TEST_F(ApiLockTest, ExceptionsBecomeFailures) {
    EXPECT_EQ(callLocked([](PassThru&) -> uint32_t { throw std::bad_alloc(); }), ERR_FAILED);
    char text[80] = {};
    callLocked([&](PassThru& p) { return p.passThruGetLastError(text); });
    EXPECT_STREQ(text, text::kOutOfMemory);
    EXPECT_EQ(callLocked([](PassThru&) -> uint32_t { throw 42; }), ERR_FAILED);
    callLocked([&](PassThru& p) { return p.passThruGetLastError(text); });
    EXPECT_STREQ(text, text::kInternalError);
}

}  // namespace
}  // namespace vtx
