// The road of one message: two messages written with loopback on and one pass filter.
#include "tests/e2e/SimFixture.h"

namespace vtx::e2e {
namespace {

class RoadOfAMessage : public SimFixture {};

TEST_F(RoadOfAMessage, BothSentBothEchoesRead) {
    openAndConnect();
    passFilter(0x7FF, 0x123);
    SCONFIG loopback{LOOPBACK, 1};
    SCONFIG_LIST config{1, &loopback};
    ASSERT_EQ(PassThruIoctl(channelId, SET_CONFIG, &config, nullptr), STATUS_NOERROR)
        << lastError();
    world().control().clearBusRecords();

    PASSTHRU_MSG out[2] = {message(0x123, {0x01, 0x02}), message(0x456, {0x03})};
    uint32_t count = 2;
    ASSERT_EQ(PassThruWriteMsgs(channelId, out, &count, 100), STATUS_NOERROR) << lastError();
    EXPECT_EQ(count, 2u);

    PASSTHRU_MSG in[4] = {};
    uint32_t read = 4;
    EXPECT_EQ(PassThruReadMsgs(channelId, in, &read, 0), STATUS_NOERROR);
    ASSERT_EQ(read, 2u);
    EXPECT_EQ(idOf(in[0]), 0x123u);
    EXPECT_EQ(in[0].RxStatus, TX_MSG_TYPE);
    EXPECT_EQ(in[0].DataSize, 6u);
    EXPECT_EQ(idOf(in[1]), 0x456u);
    EXPECT_EQ(in[1].RxStatus, TX_MSG_TYPE);
}

}  // namespace
}  // namespace vtx::e2e
