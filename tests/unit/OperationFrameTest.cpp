// The frame every operation runs in, on a PassThru object with no device open.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "operations/PassThru.h"
#include "tests/support/DriverMissingText.h"

namespace vtx {
namespace {

using test::saysDriverMissing;

class OperationFrameTest : public ::testing::Test {
  protected:
    std::string lastErrorText() {
        char text[80];
        std::memset(text, '#', sizeof text);
        EXPECT_EQ(passThru.passThruGetLastError(text), STATUS_NOERROR);
        return text;
    }

    PassThru passThru{InterfaceType::None};
    PASSTHRU_MSG msg{};
    uint32_t count = 1;
    uint32_t id = 0;
    char buffer[3][80] = {};
};

struct Call {
    const char* name;
    std::function<uint32_t(PassThru&, PASSTHRU_MSG*, uint32_t*, char (*)[80])> run;
};

// Every operation that needs an open device, called with valid-looking arguments.
const Call kDeviceCalls[] = {
    {"Close(1)", [](PassThru& p, auto, auto, auto) { return p.passThruClose(1); }},
    {"Connect", [](PassThru& p, auto, uint32_t* id,
                   auto) { return p.passThruConnect(1, CAN, 0, 500000, id); }},
    {"Disconnect", [](PassThru& p, auto, auto, auto) { return p.passThruDisconnect(1); }},
    {"ReadMsgs", [](PassThru& p, PASSTHRU_MSG* m, uint32_t* n,
                    auto) { return p.passThruReadMsgs(1, m, n, 0); }},
    {"WriteMsgs", [](PassThru& p, PASSTHRU_MSG* m, uint32_t* n,
                     auto) { return p.passThruWriteMsgs(1, m, n, 0); }},
    {"StartPeriodicMsg", [](PassThru& p, PASSTHRU_MSG* m, uint32_t* id,
                            auto) { return p.passThruStartPeriodicMsg(1, m, id, 100); }},
    {"StopPeriodicMsg",
     [](PassThru& p, auto, auto, auto) { return p.passThruStopPeriodicMsg(1, 1); }},
    {"StartMsgFilter",
     [](PassThru& p, PASSTHRU_MSG* m, uint32_t* id, auto) {
         return p.passThruStartMsgFilter(1, PASS_FILTER, m, m, nullptr, id);
     }},
    {"StopMsgFilter", [](PassThru& p, auto, auto, auto) { return p.passThruStopMsgFilter(1, 1); }},
    {"SetProgrammingVoltage",
     [](PassThru& p, auto, auto, auto) {
         return p.passThruSetProgrammingVoltage(1, 15, VOLTAGE_OFF);
     }},
    {"ReadVersion", [](PassThru& p, auto, auto,
                       char (*b)[80]) { return p.passThruReadVersion(1, b[0], b[1], b[2]); }},
    {"Ioctl", [](PassThru& p, auto, auto,
                 auto) { return p.passThruIoctl(1, CLEAR_RX_BUFFER, nullptr, nullptr); }},
};

TEST_F(OperationFrameTest, BeforeOpenEveryDeviceCallAnswersInvalidDeviceId) {
    for (const Call& call : kDeviceCalls) {
        EXPECT_EQ(call.run(passThru, &msg, &count, buffer), ERR_INVALID_DEVICE_ID) << call.name;
        EXPECT_EQ(lastErrorText(), "ERR_INVALID_DEVICE_ID") << call.name;
    }
    EXPECT_EQ(passThru.passThruClose(0), ERR_INVALID_DEVICE_ID);
}

TEST_F(OperationFrameTest, OpenWithoutDriverFailsWithItsText) {
    uint32_t deviceId = 77;
    EXPECT_EQ(passThru.passThruOpen(nullptr, &deviceId), ERR_FAILED);
    EXPECT_TRUE(saysDriverMissing(lastErrorText())) << lastErrorText();
    EXPECT_EQ(deviceId, 77u);
    // The thread is created before the pointer is looked at: the same answer without one.
    EXPECT_EQ(passThru.passThruOpen(const_cast<char*>("any name"), nullptr), ERR_FAILED);
    EXPECT_TRUE(saysDriverMissing(lastErrorText())) << lastErrorText();
    // The device is still not open.
    EXPECT_EQ(passThru.passThruConnect(1, CAN, 0, 500000, &id), ERR_INVALID_DEVICE_ID);
}

TEST_F(OperationFrameTest, GetLastErrorNullThenTwice) {
    EXPECT_EQ(passThru.passThruGetLastError(nullptr), ERR_NULL_PARAMETER);
    EXPECT_EQ(lastErrorText(), "ERR_NULL_PARAMETER");
    EXPECT_EQ(lastErrorText(), "ERR_NULL_PARAMETER");
}

TEST_F(OperationFrameTest, NextOperationResetsFailureAndText) {
    ASSERT_EQ(passThru.passThruOpen(nullptr, &id), ERR_FAILED);
    ASSERT_EQ(passThru.passThruDisconnect(3), ERR_INVALID_DEVICE_ID);
    EXPECT_EQ(lastErrorText(), "ERR_INVALID_DEVICE_ID");
}

TEST_F(OperationFrameTest, TextIsCutTo79Characters) {
    const std::string longText(120, 'x');
    EXPECT_EQ(passThru.failOperation(longText.c_str()), ERR_FAILED);
    EXPECT_EQ(lastErrorText(), std::string(79, 'x'));
}

TEST_F(OperationFrameTest, LostDeviceIsReportedUntilClose) {
    passThru.reportDeviceLost();
    for (const Call& call : kDeviceCalls) {
        if (std::string(call.name) == "Close(1)") {
            continue;
        }
        EXPECT_EQ(call.run(passThru, &msg, &count, buffer), ERR_DEVICE_NOT_CONNECTED) << call.name;
    }
    // Even with arguments that would fail every check.
    EXPECT_EQ(passThru.passThruWriteMsgs(0xDEAD, nullptr, nullptr, 0), ERR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(passThru.passThruIoctl(0, 0, nullptr, nullptr), ERR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(lastErrorText(), "ERR_DEVICE_NOT_CONNECTED");

    // Close ends the state, whatever the ID, and succeeds.
    EXPECT_EQ(passThru.passThruClose(42), STATUS_NOERROR);
    EXPECT_EQ(lastErrorText(), "STATUS_NOERROR");
    EXPECT_EQ(passThru.passThruConnect(1, CAN, 0, 500000, &id), ERR_INVALID_DEVICE_ID);
}

TEST_F(OperationFrameTest, OpenStartsAfreshAfterLostDevice) {
    passThru.reportDeviceLost();
    EXPECT_EQ(passThru.passThruOpen(nullptr, &id), ERR_FAILED);
    EXPECT_TRUE(saysDriverMissing(lastErrorText())) << lastErrorText();
}

}  // namespace
}  // namespace vtx
