// libvtxpts-ulong.so as a program built with the standard header's types calls it: this file
// sees only the installed header <vtxpts/J2534.h> with VTXPTS_ULONG (unsigned long integers,
// PASSTHRU_MSG of 4176 bytes) and links the library directly, against the simulated device.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <string>
#include <type_traits>
#include <vector>

#include <vtxpts/J2534.h>

static_assert(std::is_same_v<J2534_UINT, unsigned long> && sizeof(PASSTHRU_MSG) == 4176);

namespace {

constexpr unsigned long kHigh = 1ul << 32;  // a bit the library's 32-bit integers lack
constexpr unsigned long kAllBits = ULONG_MAX;

PASSTHRU_MSG canMessage(unsigned long id, std::vector<unsigned char> data = {},
                        unsigned long txFlags = 0) {
    PASSTHRU_MSG msg;
    std::memset(&msg, 0, sizeof msg);
    msg.ProtocolID = CAN;
    msg.TxFlags = txFlags;
    for (int i = 0; i < 4; ++i) {
        msg.Data[i] = static_cast<unsigned char>(id >> (24 - 8 * i));
    }
    std::copy(data.begin(), data.end(), msg.Data + 4);
    msg.DataSize = 4 + data.size();
    return msg;
}

unsigned long idOf(const PASSTHRU_MSG& msg) {
    return static_cast<unsigned long>(msg.Data[0]) << 24 | msg.Data[1] << 16 | msg.Data[2] << 8 |
           msg.Data[3];
}

std::string lastError() {
    char text[80] = {};
    PassThruGetLastError(text);
    return text;
}

class UlongExports : public ::testing::Test {
  protected:
    void SetUp() override {
        device = kAllBits;  // every bit set: the library must write all eight bytes
        ASSERT_EQ(PassThruOpen(nullptr, &device), STATUS_NOERROR) << lastError();
        ASSERT_EQ(device, 1ul);
        channel = kAllBits;
        ASSERT_EQ(PassThruConnect(device, CAN, CAN_29BIT_ID | CAN_ID_BOTH, 500000, &channel),
                  STATUS_NOERROR)
            << lastError();
        ASSERT_LT(channel, kHigh);
        setConfig(LOOPBACK, 1);
        PASSTHRU_MSG all = canMessage(0);
        filter = kAllBits;
        ASSERT_EQ(PassThruStartMsgFilter(channel, PASS_FILTER, &all, &all, nullptr, &filter),
                  STATUS_NOERROR)
            << lastError();
        ASSERT_LT(filter, kHigh);
    }
    void TearDown() override {
        EXPECT_EQ(PassThruDisconnect(channel), STATUS_NOERROR) << lastError();
        EXPECT_EQ(PassThruClose(device), STATUS_NOERROR) << lastError();
    }

    unsigned long setConfig(unsigned long parameter, unsigned long value) {
        SCONFIG entry{parameter, value};
        SCONFIG_LIST list{1, &entry};
        return PassThruIoctl(channel, SET_CONFIG, &list, nullptr);
    }

    unsigned long write(PASSTHRU_MSG msg) {
        unsigned long count = 1;
        const unsigned long status = PassThruWriteMsgs(channel, &msg, &count, 1000);
        EXPECT_EQ(count, status == STATUS_NOERROR ? 1ul : 0ul);
        return status;
    }

    // Reads until n messages came, or a read came back empty after its second.
    std::vector<PASSTHRU_MSG> readMessages(std::size_t n) {
        std::vector<PASSTHRU_MSG> got;
        while (got.size() < n) {
            std::vector<PASSTHRU_MSG> room(8);
            unsigned long count = room.size();
            const unsigned long status = PassThruReadMsgs(channel, room.data(), &count, 2000);
            EXPECT_TRUE(status == STATUS_NOERROR || status == ERR_TIMEOUT) << lastError();
            if (count == 0) {
                break;
            }
            got.insert(got.end(), room.begin(), room.begin() + static_cast<long>(count));
        }
        return got;
    }

    unsigned long device = 0;
    unsigned long channel = 0;
    unsigned long filter = 0;
};

// Every function once, through records of the standard header's layout: OBD requests of both
// widths go out and come back as echoes, the ECU answers each, the configuration and the
// resistor are read into values whose every bit was set.
TEST_F(UlongExports, EveryFunctionThroughUnsignedLongRecords) {
    char firmware[80] = {};
    char library[80] = {};
    char api[80] = {};
    ASSERT_EQ(PassThruReadVersion(device, firmware, library, api), STATUS_NOERROR);
    EXPECT_STREQ(api, "04.04");

    std::vector<std::pair<unsigned long, unsigned long>> seen;  // identifier, RxStatus
    const PASSTHRU_MSG requests[] = {
        canMessage(0x7DF, {0x02, 0x01, 0x0C, 0, 0, 0, 0, 0}),
        canMessage(0x18DB33F1, {0x02, 0x01, 0x0D, 0, 0, 0, 0, 0}, CAN_29BIT_ID)};
    for (const PASSTHRU_MSG& request : requests) {
        ASSERT_EQ(write(request), STATUS_NOERROR) << lastError();
        for (const PASSTHRU_MSG& msg : readMessages(2)) {  // the echo, then the answer
            EXPECT_EQ(msg.ProtocolID, static_cast<unsigned long>(CAN));
            seen.emplace_back(idOf(msg), msg.RxStatus);
        }
    }
    EXPECT_EQ(seen, (std::vector<std::pair<unsigned long, unsigned long>>{
                        {0x7DF, TX_MSG_TYPE},
                        {0x7E8, 0},
                        {0x18DB33F1, TX_MSG_TYPE | CAN_29BIT_ID},
                        {0x18DAF110, CAN_29BIT_ID}}));

    SCONFIG entries[2] = {{DATA_RATE, kAllBits}, {LOOPBACK, kAllBits}};
    SCONFIG_LIST list{2, entries};
    ASSERT_EQ(PassThruIoctl(channel, GET_CONFIG, &list, nullptr), STATUS_NOERROR);
    EXPECT_EQ(entries[0].Value, 500000ul);
    EXPECT_EQ(entries[1].Value, 1ul);

    unsigned long on = 1;
    unsigned long echoed = kAllBits;
    ASSERT_EQ(PassThruIoctl(channel, SET_TERM_RESISTOR, &on, &echoed), STATUS_NOERROR);
    EXPECT_EQ(echoed, 1ul);
    unsigned long state = kAllBits;
    ASSERT_EQ(PassThruIoctl(channel, GET_TERM_RESISTOR, nullptr, &state), STATUS_NOERROR);
    EXPECT_EQ(state, 1ul);

    PASSTHRU_MSG periodic = canMessage(0x123, {1});
    unsigned long periodicId = kAllBits;
    ASSERT_EQ(PassThruStartPeriodicMsg(channel, &periodic, &periodicId, 100), STATUS_NOERROR);
    EXPECT_LT(periodicId, kHigh);
    EXPECT_EQ(PassThruStopPeriodicMsg(channel, periodicId), STATUS_NOERROR);
    EXPECT_EQ(PassThruSetProgrammingVoltage(device, J1962_PIN_15, VOLTAGE_OFF), STATUS_NOERROR);
    EXPECT_EQ(PassThruIoctl(channel, CLEAR_RX_BUFFER, nullptr, nullptr), STATUS_NOERROR);
    EXPECT_EQ(PassThruStopMsgFilter(channel, filter), STATUS_NOERROR);
}

// A value the library's 32 bits cannot hold is refused with its argument's status and a text
// that names it, and nothing is done: no frame goes out.
TEST_F(UlongExports, ValuesThatDoNotFitAreRefused) {
    PASSTHRU_MSG request = canMessage(0x7DF, {0x02, 0x01, 0x0C});
    struct Row {
        const char* what;
        std::function<unsigned long()> call;
        unsigned long status;
        const char* text;
    };
    const std::vector<Row> rows = {
        {"BaudRate", [&] { return PassThruConnect(device, CAN, 0, kHigh | 500000, &channel); },
         ERR_INVALID_BAUDRATE, "The value of BaudRate does not fit in 32 bits"},
        {"Flags", [&] { return PassThruConnect(device, CAN, kHigh, 500000, &channel); },
         ERR_INVALID_FLAGS, "The value of Flags does not fit in 32 bits"},
        {"DeviceID", [&] { return PassThruClose(kHigh | device); }, ERR_INVALID_DEVICE_ID,
         "The value of DeviceID does not fit in 32 bits"},
        {"ChannelID", [&] { return PassThruDisconnect(kHigh | channel); }, ERR_INVALID_CHANNEL_ID,
         "The value of ChannelID does not fit in 32 bits"},
        {"TxFlags",
         [&] {
             PASSTHRU_MSG msg = request;
             msg.TxFlags |= kHigh;
             return write(msg);
         },
         ERR_INVALID_MSG, "The value of PASSTHRU_MSG.TxFlags does not fit in 32 bits"},
        {"DataSize",
         [&] {
             PASSTHRU_MSG msg = request;
             msg.DataSize |= kHigh;
             return write(msg);
         },
         ERR_INVALID_MSG, "The value of PASSTHRU_MSG.DataSize does not fit in 32 bits"},
        {"message count",
         [&] {
             PASSTHRU_MSG in[1];
             unsigned long count = kHigh;
             const unsigned long status = PassThruReadMsgs(channel, in, &count, 0);
             EXPECT_EQ(count, 0ul);
             return status;
         },
         ERR_EXCEEDED_LIMIT, "The value of the message count does not fit in 32 bits"},
        {"filter RxStatus",
         [&] {
             PASSTHRU_MSG mask = canMessage(0x7FF);
             PASSTHRU_MSG pattern = canMessage(0x7E8);
             pattern.RxStatus = kHigh;
             unsigned long id = 0;
             return PassThruStartMsgFilter(channel, PASS_FILTER, &mask, &pattern, nullptr, &id);
         },
         ERR_INVALID_MSG, "The value of PASSTHRU_MSG.RxStatus does not fit in 32 bits"},
        {"TimeInterval",
         [&] {
             unsigned long id = 0;
             return PassThruStartPeriodicMsg(channel, &request, &id, kHigh | 100);
         },
         ERR_INVALID_TIME_INTERVAL, "The value of TimeInterval does not fit in 32 bits"},
        {"DATA_RATE", [&] { return setConfig(DATA_RATE, kHigh | 500000); }, ERR_INVALID_BAUDRATE,
         "The value of SCONFIG.Value does not fit in 32 bits"},
        {"LOOPBACK", [&] { return setConfig(LOOPBACK, kHigh); }, ERR_INVALID_IOCTL_VALUE,
         "The value of SCONFIG.Value does not fit in 32 bits"},
        {"Parameter", [&] { return setConfig(kHigh | LOOPBACK, 0); }, ERR_NOT_SUPPORTED,
         "The value of SCONFIG.Parameter does not fit in 32 bits"},
        {"resistor state",
         [&] {
             unsigned long state = kHigh | 1;
             return PassThruIoctl(channel, SET_TERM_RESISTOR, &state, nullptr);
         },
         ERR_INVALID_IOCTL_VALUE, "The value of the resistor state does not fit in 32 bits"},
        {"PinNumber", [&] { return PassThruSetProgrammingVoltage(device, kHigh | 15, 0); },
         ERR_PIN_INVALID, "The value of PinNumber does not fit in 32 bits"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(row.call(), row.status);
        EXPECT_EQ(lastError(), row.text);
    }
    // The channel is as it was: loopback on, and nothing was sent, so nothing comes back.
    PASSTHRU_MSG in[1];
    unsigned long count = 1;
    EXPECT_EQ(PassThruReadMsgs(channel, in, &count, 0), ERR_BUFFER_EMPTY);
}

// A count or timeout beyond what is needed is no reason to allocate or wait: the messages that
// are waiting come back at once.
TEST_F(UlongExports, HugeCountAndTimeoutTakeWhatIsWaiting) {
    ASSERT_EQ(write(canMessage(0x100, {1})), STATUS_NOERROR);
    ASSERT_EQ(write(canMessage(0x100, {2})), STATUS_NOERROR);
    ASSERT_EQ(readMessages(0).size(), 0u);
    std::vector<PASSTHRU_MSG> got;
    while (got.size() < 2) {
        PASSTHRU_MSG in[4];
        unsigned long count = 0xFFFFFFFFul;  // fits, and is far more than the room given
        const unsigned long status = PassThruReadMsgs(channel, in, &count, 0);
        ASSERT_TRUE(status == STATUS_NOERROR || status == ERR_BUFFER_EMPTY) << lastError();
        ASSERT_LE(count, 2ul);
        got.insert(got.end(), in, in + count);
    }
    EXPECT_EQ(got[0].Data[4], 1);
    EXPECT_EQ(got[1].Data[4], 2);
    ASSERT_EQ(write(canMessage(0x100, {3})), STATUS_NOERROR);
    PASSTHRU_MSG in[1];
    unsigned long count = 1;
    ASSERT_EQ(PassThruReadMsgs(channel, in, &count, kAllBits), STATUS_NOERROR) << lastError();
    EXPECT_EQ(in[0].Data[4], 3);
}

}  // namespace
