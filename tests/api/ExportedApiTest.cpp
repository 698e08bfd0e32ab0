// The fourteen functions of the built library, loaded by path as an application loads it, with
// no device driver selected.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/DynamicLibrary.h"
#include "tests/support/DriverMissingText.h"
#include "tools/ptcan/PassThruLibrary.h"

namespace {

using vtx::test::saysDriverMissing;

class ExportedApiTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        vtx::platform::unsetEnvironment("VTXPTS_DEVICE");
        library = new ptcan::PassThruLibrary;
        ASSERT_TRUE(library->load(VTX_LIBRARY_PATH)) << library->error();
    }
    static void TearDownTestSuite() {
        delete library;
        library = nullptr;
    }

    std::string lastError() {
        char text[80];
        std::memset(text, '#', sizeof text);
        EXPECT_EQ(library->getLastError(text), STATUS_NOERROR);
        return text;
    }

    static ptcan::PassThruLibrary* library;
};

ptcan::PassThruLibrary* ExportedApiTest::library = nullptr;

TEST_F(ExportedApiTest, OpenWithoutDriver) {
    uint32_t deviceId = 0;
    EXPECT_EQ(library->open(nullptr, &deviceId), ERR_FAILED);
    EXPECT_TRUE(saysDriverMissing(lastError())) << lastError();
    EXPECT_EQ(library->open(const_cast<char*>("J2534-1"), &deviceId), ERR_FAILED);
    EXPECT_TRUE(saysDriverMissing(lastError())) << lastError();
}

TEST_F(ExportedApiTest, GuardStatusesBeforeOpen) {
    PASSTHRU_MSG msg{};
    msg.ProtocolID = CAN;
    msg.DataSize = 4;
    uint32_t count = 1;
    uint32_t id = 0;
    char b1[80], b2[80], b3[80];
    struct Case {
        const char* call;
        uint32_t status;
    };
    const Case cases[] = {
        {"PassThruConnect", library->connect(1, CAN, 0, 500000, &id)},
        {"PassThruDisconnect", library->disconnect(1)},
        {"PassThruReadMsgs", library->readMsgs(1, &msg, &count, 0)},
        {"PassThruWriteMsgs", library->writeMsgs(1, &msg, &count, 10)},
        {"PassThruStartPeriodicMsg", library->startPeriodicMsg(1, &msg, &id, 100)},
        {"PassThruStopPeriodicMsg", library->stopPeriodicMsg(1, 1)},
        {"PassThruStartMsgFilter",
         library->startMsgFilter(1, PASS_FILTER, &msg, &msg, nullptr, &id)},
        {"PassThruStopMsgFilter", library->stopMsgFilter(1, 1)},
        {"PassThruSetProgrammingVoltage", library->setProgrammingVoltage(1, 15, SHORT_TO_GROUND)},
        {"PassThruReadVersion", library->readVersion(1, b1, b2, b3)},
        {"PassThruIoctl", library->ioctl(1, GET_CONFIG, nullptr, nullptr)},
        {"PassThruClose", library->close(1)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.status, ERR_INVALID_DEVICE_ID) << c.call;
    }
    EXPECT_EQ(lastError(), "ERR_INVALID_DEVICE_ID");
}

TEST_F(ExportedApiTest, GetLastErrorNullThenTwice) {
    EXPECT_EQ(library->getLastError(nullptr), ERR_NULL_PARAMETER);
    EXPECT_EQ(lastError(), "ERR_NULL_PARAMETER");
    EXPECT_EQ(lastError(), "ERR_NULL_PARAMETER");
}

}  // namespace
