// The built library, loaded by path with the simulated device selected: what an application
// sees on either platform (under Wine for the Windows DLL).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/DynamicLibrary.h"
#include "tests/support/CanMessage.h"
#include "tools/ptcan/PassThruLibrary.h"

namespace {

class SimulatedDeviceApiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        vtx::platform::setEnvironment("VTXPTS_DEVICE", "sim");
        ASSERT_TRUE(library.load(VTX_LIBRARY_PATH)) << library.error();
    }
    void TearDown() override { vtx::platform::unsetEnvironment("VTXPTS_DEVICE"); }

    std::string lastError() {
        char text[80] = {};
        library.getLastError(text);
        return text;
    }

    ptcan::PassThruLibrary library;
};

using vtx::test::canMessage;

TEST_F(SimulatedDeviceApiTest, VersionsFromTheDeviceAndTheLibrary) {
    uint32_t deviceId = 0;
    ASSERT_EQ(library.open(nullptr, &deviceId), STATUS_NOERROR) << lastError();
    EXPECT_EQ(deviceId, 1u);
    char firmware[80] = {};
    char dll[80] = {};
    char api[80] = {};
    ASSERT_EQ(library.readVersion(deviceId, firmware, dll, api), STATUS_NOERROR) << lastError();
    EXPECT_STREQ(firmware, "VTX20 - N. 1234 - Ver FW 2.1.a.f");
    // On Windows read from the DLL's own version resource.
    EXPECT_STREQ(dll, "2.3.0.0");
    EXPECT_STREQ(api, "04.04");
    EXPECT_EQ(library.close(deviceId), STATUS_NOERROR);
}

TEST_F(SimulatedDeviceApiTest, EcuAnswersEngineSpeed) {
    uint32_t deviceId = 0;
    uint32_t channelId = 0;
    ASSERT_EQ(library.open(nullptr, &deviceId), STATUS_NOERROR) << lastError();
    ASSERT_EQ(library.connect(deviceId, CAN, 0, 500000, &channelId), STATUS_NOERROR);
    PASSTHRU_MSG mask = canMessage(0x7FF, {});
    PASSTHRU_MSG pattern = canMessage(0x7E8, {});
    uint32_t filterId = 0;
    ASSERT_EQ(library.startMsgFilter(channelId, PASS_FILTER, &mask, &pattern, nullptr, &filterId),
              STATUS_NOERROR);
    PASSTHRU_MSG request = canMessage(0x7DF, {0x02, 0x01, 0x0C, 0x55, 0x55, 0x55, 0x55, 0x55});
    uint32_t count = 1;
    ASSERT_EQ(library.writeMsgs(channelId, &request, &count, 100), STATUS_NOERROR);
    PASSTHRU_MSG answer{};
    count = 1;
    ASSERT_EQ(library.readMsgs(channelId, &answer, &count, 500), STATUS_NOERROR) << lastError();
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(answer.Data[3], 0xE8);
    EXPECT_EQ(answer.Data[4], 0x04);
    EXPECT_EQ(answer.Data[5], 0x41);
    EXPECT_EQ(answer.Data[6], 0x0C);
    EXPECT_EQ(library.disconnect(channelId), STATUS_NOERROR);
    EXPECT_EQ(library.close(deviceId), STATUS_NOERROR);
}

// An application that unloads the library with the device open, connected, a periodic message
// running and frames arriving: the unload stops every thread of the library, the library is
// really gone, and loading it again gives a library that opens the device afresh.
TEST_F(SimulatedDeviceApiTest, UnloadWithTheDeviceOpenThenLoadAgain) {
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        uint32_t deviceId = 0;
        uint32_t channelId = 0;
        ASSERT_EQ(library.open(nullptr, &deviceId), STATUS_NOERROR) << lastError();
        ASSERT_EQ(library.connect(deviceId, CAN, 0, 500000, &channelId), STATUS_NOERROR);
        PASSTHRU_MSG mask = canMessage(0, {});
        PASSTHRU_MSG pattern = canMessage(0, {});
        uint32_t filterId = 0;
        ASSERT_EQ(
            library.startMsgFilter(channelId, PASS_FILTER, &mask, &pattern, nullptr, &filterId),
            STATUS_NOERROR);
        PASSTHRU_MSG request = canMessage(0x7DF, {0x02, 0x01, 0x0C, 0x55, 0x55, 0x55, 0x55, 0x55});
        uint32_t periodicId = 0;
        ASSERT_EQ(library.startPeriodicMsg(channelId, &request, &periodicId, 5), STATUS_NOERROR);
        PASSTHRU_MSG answer{};
        uint32_t count = 1;
        ASSERT_EQ(library.readMsgs(channelId, &answer, &count, 500), STATUS_NOERROR);

        library.unload();
        EXPECT_FALSE(vtx::platform::DynamicLibrary::isMapped(VTX_LIBRARY_PATH));
        ASSERT_TRUE(library.load(VTX_LIBRARY_PATH)) << library.error();
    }
    uint32_t deviceId = 0;
    ASSERT_EQ(library.open(nullptr, &deviceId), STATUS_NOERROR) << lastError();
    EXPECT_EQ(library.close(deviceId), STATUS_NOERROR);
}

}  // namespace
