#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <vector>

#include "base/ErrorTexts.h"
#include "protocol/ChannelProtocol.h"
#include "protocol/Iso15765TransmitQueue.h"

namespace vtx {

// gtest shows a message's bytes as their vector.
void PrintTo(const MessageBytes& bytes, std::ostream* out) {
    *out << ::testing::PrintToString(
        std::vector<uint8_t>(bytes.data(), bytes.data() + bytes.size()));
}

namespace {

using Bytes = std::vector<uint8_t>;
using std::chrono::milliseconds;

constexpr uint32_t kTester = 0x7E0;
constexpr uint32_t kEcu = 0x7E8;
const isotp::TimePoint kStart{};

Bytes headerOf(uint32_t id, std::optional<uint8_t> addressByte = std::nullopt) {
    Bytes bytes{uint8_t(id >> 24), uint8_t(id >> 16), uint8_t(id >> 8), uint8_t(id)};
    if (addressByte) {
        bytes.push_back(*addressByte);
    }
    return bytes;
}

Bytes join(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// 1, 2, 3, ... count bytes.
Bytes payloadOf(std::size_t count) {
    Bytes bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<uint8_t>(i + 1);
    }
    return bytes;
}

PASSTHRU_MSG messageOf(const Bytes& data, uint32_t txFlags = 0, uint32_t protocol = ISO15765) {
    PASSTHRU_MSG msg{};
    msg.ProtocolID = protocol;
    msg.TxFlags = txFlags;
    msg.DataSize = static_cast<uint32_t>(data.size());
    std::copy(data.begin(), data.end(), msg.Data);
    return msg;
}

CanFrame frameOf(uint32_t id, const Bytes& bytes, uint8_t idExt = 0) {
    CanFrame frame{};
    frame.idCan = id;
    frame.idExt = idExt;
    frame.lenDataCan = static_cast<uint8_t>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), frame.dataCan);
    return frame;
}

Bytes bytesOf(const CanFrame& frame) {
    return {frame.dataCan, frame.dataCan + frame.lenDataCan};
}

// A flow-control filter's three messages: full mask, the ECU's pattern, the tester's id.
struct FilterMessages {
    PASSTHRU_MSG mask;
    PASSTHRU_MSG pattern;
    PASSTHRU_MSG flowControl;

    explicit FilterMessages(uint32_t ecu = kEcu, uint32_t tester = kTester, uint32_t flags = 0,
                            std::optional<uint8_t> ecuByte = std::nullopt,
                            std::optional<uint8_t> testerByte = std::nullopt)
        : mask(messageOf(
              headerOf(0xFFFFFFFF, ecuByte ? std::optional<uint8_t>(0xFF) : std::nullopt), flags)),
          pattern(messageOf(headerOf(ecu, ecuByte), flags)),
          flowControl(messageOf(headerOf(tester, testerByte), flags)) {}

    FilterRequest request(uint32_t type = FLOW_CONTROL_FILTER) const {
        return {type, &mask, &pattern, &flowControl};
    }
};

struct Iso15765ProtocolTest : ::testing::Test {
    std::unique_ptr<ChannelProtocol> protocol = createChannelProtocol(ISO15765, 0);
    ProtocolOutput out;
    uint32_t nextFilterId = 1;

    void addFilter(const FilterMessages& filter) {
        ASSERT_EQ(protocol->checkFilter(filter.request()).status, STATUS_NOERROR);
        ASSERT_NE(protocol->addFilter(filter.request(), nextFilterId++), nullptr);
    }
    void receive(const Bytes& bytes, isotp::TimePoint now = kStart, uint32_t id = kEcu) {
        protocol->receiveFrame(frameOf(id, bytes), Echo::No, now, out);
    }
    void set(uint32_t parameter, uint32_t value) {
        ASSERT_EQ(protocol->setConfig(parameter, value).status, STATUS_NOERROR);
    }
};

TEST(Iso15765Connect, FlagsAndProtocols) {
    struct Case {
        uint32_t protocol;
        uint32_t flags;
        uint32_t status;
    };
    const Case cases[] = {
        {ISO15765, CAN_29BIT_ID | ISO15765_ADDR_TYPE | CAN_ID_BOTH, STATUS_NOERROR},
        {ISO15765, ISO15765_FRAME_PAD, ERR_INVALID_FLAGS},
        {CAN, ISO15765_ADDR_TYPE, ERR_INVALID_FLAGS},
        {CAN, CAN_ID_BOTH, STATUS_NOERROR},
        {7, 0, ERR_NOT_SUPPORTED},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(checkConnect(c.protocol, c.flags).status, c.status) << c.protocol << c.flags;
    }
    EXPECT_EQ(createChannelProtocol(ISO15765, 0)->protocolId(), ISO15765);
}

// The stateless defaults a CAN channel runs on: one frame per message, ended at once, its echo
// for the reader with loopback on; a received frame is the message of the filter admitting it.
TEST(CanProtocolDefaults, OneFramePerMessageAndEchoWithLoopback) {
    const std::unique_ptr<ChannelProtocol> can = createChannelProtocol(CAN, 0);
    const PASSTHRU_MSG everything = messageOf(headerOf(0), 0, CAN);
    ASSERT_NE(can->addFilter({PASS_FILTER, &everything, &everything, nullptr}, 1), nullptr);
    const PASSTHRU_MSG msg = messageOf(join(headerOf(kTester), {1, 2}), 0, CAN);
    for (const Loopback loopback : {Loopback::Off, Loopback::On}) {
        ProtocolOutput out;
        const uint64_t id = can->startTransmit(msg, loopback, kStart, out);
        ASSERT_EQ(out.frames.size(), 1u);
        EXPECT_EQ((out.frames[0].idCan & kEchoMarker) != 0, loopback == Loopback::On);
        ASSERT_EQ(out.ended.size(), 1u);
        EXPECT_EQ(out.ended[0].transmitId, id);
        EXPECT_NE(id, 0u);
        ASSERT_EQ(out.messages.size(), loopback == Loopback::On ? 1u : 0u);
        can->receiveFrame(frameOf(kEcu, {3}), Echo::No, kStart, out);
        ASSERT_FALSE(out.messages.empty());
        EXPECT_EQ(out.messages.back().data, join(headerOf(kEcu), {3}));
    }
    EXPECT_EQ(can->nextTickAt(), std::nullopt);
}

TEST_F(Iso15765ProtocolTest, FilterChecks) {
    addFilter(FilterMessages(0x7E9, 0x7E1));
    struct Case {
        const char* what;
        void (*change)(FilterMessages&, FilterRequest&);
        uint32_t status;
    };
    const Case cases[] = {
        {"valid", [](FilterMessages&, FilterRequest&) {}, STATUS_NOERROR},
        {"pass", [](FilterMessages&, FilterRequest& r) { r.type = PASS_FILTER; },
         ERR_INVALID_FILTER_ID},
        {"block", [](FilterMessages&, FilterRequest& r) { r.type = BLOCK_FILTER; },
         ERR_INVALID_FILTER_ID},
        {"no flow control", [](FilterMessages&, FilterRequest& r) { r.flowControl = nullptr; },
         ERR_NULL_PARAMETER},
        {"five bytes without extended addressing",
         [](FilterMessages& m, FilterRequest&) { m.mask.DataSize = 5; }, ERR_INVALID_MSG},
        {"flags differ",
         [](FilterMessages& m, FilterRequest&) { m.flowControl.TxFlags = ISO15765_FRAME_PAD; },
         ERR_INVALID_MSG},
        {"protocol", [](FilterMessages& m, FilterRequest&) { m.pattern.ProtocolID = CAN; },
         ERR_MSG_PROTOCOL_ID},
        {"29-bit on an 11-bit channel",
         [](FilterMessages& m, FilterRequest&) {
             m.mask.TxFlags = m.pattern.TxFlags = m.flowControl.TxFlags = CAN_29BIT_ID;
         },
         ERR_FAILED},
        {"pattern in use",
         [](FilterMessages& m, FilterRequest&) { m.pattern = messageOf(headerOf(0x7E9)); },
         ERR_NOT_UNIQUE},
        {"flow control in use",
         [](FilterMessages& m, FilterRequest&) { m.flowControl = messageOf(headerOf(0x7E1)); },
         ERR_NOT_UNIQUE},
    };
    for (const Case& c : cases) {
        FilterMessages messages;
        FilterRequest request = messages.request();
        c.change(messages, request);
        const ProtocolVerdict verdict = protocol->checkFilter(request);
        EXPECT_EQ(verdict.status, c.status) << c.what;
        if (c.status == ERR_FAILED) {
            EXPECT_STREQ(verdict.text, text::kTxFlagsInconsistent);
        }
        if (c.status == ERR_INVALID_FILTER_ID) {
            EXPECT_STREQ(verdict.text, text::kNoPassBlockOnIso15765);
        }
    }
}

TEST_F(Iso15765ProtocolTest, TenFiltersAtMostEachSeenAsItsPatternUnderItsMask) {
    for (uint32_t i = 0; i < ChannelProtocol::kMaxFilters; ++i) {
        addFilter(FilterMessages(0x700 + i, 0x600 + i));
    }
    const FilterRecord& first = protocol->filters().front();
    EXPECT_EQ(first.code, 0x700u);
    EXPECT_EQ(first.mask, kCanIdMask11);
    EXPECT_EQ(first.filterType, FLOW_CONTROL_FILTER);
    const FilterMessages eleventh(0x7FF, 0x6FF);
    EXPECT_EQ(protocol->addFilter(eleventh.request(), 99), nullptr);
}

// A 22-byte message in three consecutive frames, answered with BS 2 and STmin 5 ms.
TEST_F(Iso15765ProtocolTest, MultiFrameReception) {
    struct Case {
        uint32_t flags;  // of the filter
        Bytes lastFrame;
        uint32_t status;
    };
    const Case cases[] = {
        {0, {0x23, 21, 22}, 0},
        {ISO15765_FRAME_PAD, {0x23, 21, 22, 0, 0, 0, 0, 0}, 0},
        {ISO15765_FRAME_PAD, {0x23, 21, 22}, ISO15765_PADDING_ERROR},
    };
    for (const Case& c : cases) {
        protocol = createChannelProtocol(ISO15765, 0);
        out = {};
        addFilter(FilterMessages(kEcu, kTester, c.flags));
        set(ISO15765_BS, 2);
        set(ISO15765_STMIN, 5);
        const Bytes flowControl = c.flags ? Bytes{0x30, 2, 5, 0, 0, 0, 0, 0} : Bytes{0x30, 2, 5};
        receive({0x10, 22, 1, 2, 3, 4, 5, 6});
        ASSERT_EQ(out.frames.size(), 1u);
        EXPECT_EQ(out.frames[0].idCan, kTester);
        EXPECT_EQ(bytesOf(out.frames[0]), flowControl);
        ASSERT_EQ(out.messages.size(), 1u);
        EXPECT_EQ(out.messages[0].rxStatus, ISO15765_FIRST_FRAME);
        EXPECT_EQ(out.messages[0].data, headerOf(kEcu));
        receive({0x21, 7, 8, 9, 10, 11, 12, 13});
        receive({0x22, 14, 15, 16, 17, 18, 19, 20});
        EXPECT_EQ(out.frames.size(), 2u) << "a flow control after each block of two";
        receive(c.lastFrame);
        ASSERT_EQ(out.messages.size(), 2u);
        EXPECT_EQ(out.messages[1].rxStatus, c.status);
        EXPECT_EQ(out.messages[1].data, join(headerOf(kEcu), payloadOf(22)));
    }
}

TEST_F(Iso15765ProtocolTest, BrokenReceptionDeliversNothing) {
    addFilter(FilterMessages());
    receive({0x10, 10, 1, 2, 3, 4, 5, 6});
    receive({0x22, 7, 8, 9, 10});  // sequence 2 where 1 was due
    receive({0x21, 7, 8, 9, 10});
    EXPECT_EQ(out.messages.size(), 1u) << "only the first-frame indication";

    receive({0x10, 10, 1, 2, 3, 4, 5, 6});
    const isotp::TimePoint deadline = *protocol->nextTickAt();
    EXPECT_EQ(deadline, kStart + milliseconds(1000));
    protocol->tick(deadline, out);
    EXPECT_EQ(protocol->nextTickAt(), std::nullopt);
    receive({0x21, 7, 8, 9, 10}, deadline);
    EXPECT_EQ(out.messages.size(), 2u) << "the second first-frame indication only";
}

TEST_F(Iso15765ProtocolTest, SingleFramesOnlyFromAFilter) {
    addFilter(FilterMessages());
    receive({0x02, 0x41, 0x00}, kStart, 0x7E9);
    EXPECT_TRUE(out.messages.empty());
    receive({0x02, 0x41, 0x00});
    ASSERT_EQ(out.messages.size(), 1u);
    EXPECT_EQ(out.messages[0].data, join(headerOf(kEcu), {0x41, 0x00}));
}

// An echo is a periodic message's single frame coming back: its loopback copy, with the
// addressing of the filter sending from that identifier. Anything else echoed gives nothing.
TEST_F(Iso15765ProtocolTest, EchoOfAPeriodicSingleFrameIsItsLoopbackCopy) {
    addFilter(FilterMessages(0x7E9, 0x7E1, ISO15765_ADDR_TYPE, 0xF1, 0x10));
    struct Case {
        uint32_t id;
        Bytes frame;
        Bytes message;  // empty: none
        uint32_t rxStatus;
    };
    const Case cases[] = {
        {0x7DF, {0x02, 0x3E, 0x80}, join(headerOf(0x7DF), {0x3E, 0x80}), TX_MSG_TYPE},
        {0x7E1,
         {0x10, 0x01, 0x3E},
         join(headerOf(0x7E1, 0x10), {0x3E}),
         TX_MSG_TYPE | ISO15765_EXT_ADDR},
        {0x7DF, {0x10, 0x14, 1, 2, 3, 4, 5, 6}, {}, 0},
    };
    for (const Case& c : cases) {
        out = {};
        CanFrame echo = frameOf(c.id, c.frame);
        echo.idCan |= kEchoMarker;
        protocol->receiveFrame(echo, Echo::Yes, kStart, out);
        ASSERT_EQ(out.messages.size(), c.message.empty() ? 0u : 1u) << c.id;
        if (!c.message.empty()) {
            EXPECT_EQ(out.messages[0].data, c.message);
            EXPECT_EQ(out.messages[0].rxStatus, c.rxStatus);
        }
    }
}

TEST_F(Iso15765ProtocolTest, TransmitChecks) {
    addFilter(FilterMessages());
    struct Case {
        PASSTHRU_MSG msg;
        uint32_t status;
    };
    const Case cases[] = {
        {messageOf(join(headerOf(kTester), payloadOf(7))), STATUS_NOERROR},
        {messageOf(join(headerOf(kTester), payloadOf(4095))), STATUS_NOERROR},
        {messageOf(join(headerOf(0x7DF), payloadOf(7))), STATUS_NOERROR},
        {messageOf(join(headerOf(0x7DF), payloadOf(8))), ERR_NO_FLOW_CONTROL},
        {messageOf(join(headerOf(kTester), payloadOf(4096))), ERR_INVALID_MSG},
        {messageOf(headerOf(kTester)), ERR_INVALID_MSG},
        {messageOf(join(headerOf(kTester), payloadOf(2)), 0, CAN), ERR_MSG_PROTOCOL_ID},
        {messageOf(join(headerOf(kTester), payloadOf(2)), 0x200), ERR_FAILED},
        {messageOf(join(headerOf(0x18DA10F1), payloadOf(2)), CAN_29BIT_ID), ERR_FAILED},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(protocol->checkTransmit(c.msg).status, c.status) << c.msg.DataSize;
    }
    EXPECT_EQ(protocol->checkPeriodic(cases[1].msg).status, ERR_INVALID_MSG);
    EXPECT_EQ(protocol->checkPeriodic(cases[8].msg).status, ERR_FAILED);
    const PASSTHRU_MSG padded = messageOf(join(headerOf(0x7DF), {0x01, 0x00}), ISO15765_FRAME_PAD);
    EXPECT_EQ(protocol->checkPeriodic(padded).status, STATUS_NOERROR);
    EXPECT_EQ(bytesOf(protocol->frameOf(padded, EchoMarker::Without)),
              Bytes({0x02, 0x01, 0x00, 0, 0, 0, 0, 0}));
}

// 22 bytes: a first frame, then the ECU grants BS 2 and STmin 10 ms twice.
TEST_F(Iso15765ProtocolTest, MultiFrameTransmission) {
    for (const Loopback loopback : {Loopback::On, Loopback::Off}) {
        protocol = createChannelProtocol(ISO15765, 0);
        out = {};
        addFilter(FilterMessages());
        const uint64_t id = protocol->startTransmit(
            messageOf(join(headerOf(kTester), payloadOf(22))), loopback, kStart, out);
        ASSERT_EQ(out.frames.size(), 1u);
        EXPECT_EQ(bytesOf(out.frames[0]), Bytes({0x10, 22, 1, 2, 3, 4, 5, 6}));
        receive({0x30, 2, 10});
        EXPECT_EQ(out.frames.size(), 2u) << "the first consecutive frame at once";
        EXPECT_EQ(protocol->nextTickAt(), kStart + milliseconds(10));
        protocol->tick(kStart + milliseconds(10), out);
        EXPECT_EQ(out.frames.size(), 3u);
        protocol->tick(kStart + milliseconds(20), out);
        EXPECT_EQ(out.frames.size(), 3u) << "the block is full";
        EXPECT_TRUE(out.ended.empty());
        receive({0x30, 2, 10}, kStart + milliseconds(30));
        ASSERT_EQ(out.frames.size(), 4u);
        EXPECT_EQ(bytesOf(out.frames[3]), Bytes({0x23, 21, 22}));
        ASSERT_EQ(out.ended.size(), 1u);
        EXPECT_EQ(out.ended[0].transmitId, id);
        EXPECT_TRUE(out.ended[0].sent());
        ASSERT_EQ(out.messages.size(), loopback == Loopback::On ? 2u : 1u);
        EXPECT_EQ(out.messages[0].rxStatus, TX_MSG_TYPE | TX_DONE);
        EXPECT_EQ(out.messages[0].data, headerOf(kTester));
        if (loopback == Loopback::On) {
            EXPECT_EQ(out.messages[1].rxStatus, TX_MSG_TYPE);
            EXPECT_EQ(out.messages[1].data, join(headerOf(kTester), payloadOf(22)));
        }
    }
}

TEST_F(Iso15765ProtocolTest, QueuedMessagesGoOutOneAfterAnother) {
    addFilter(FilterMessages());
    const uint64_t first = protocol->startTransmit(
        messageOf(join(headerOf(kTester), payloadOf(10))), Loopback::Off, kStart, out);
    const uint64_t second = protocol->startTransmit(messageOf(join(headerOf(0x7DF), {0x3E, 0x80})),
                                                    Loopback::Off, kStart, out);
    EXPECT_EQ(out.frames.size(), 1u) << "the second waits for the first";
    receive({0x30, 0, 0});
    ASSERT_EQ(out.frames.size(), 3u);
    EXPECT_EQ(bytesOf(out.frames[1]), Bytes({0x21, 7, 8, 9, 10}));
    EXPECT_EQ(bytesOf(out.frames[2]), Bytes({0x02, 0x3E, 0x80}));
    EXPECT_EQ(out.frames[2].idCan, 0x7DFu);
    ASSERT_EQ(out.ended.size(), 2u);
    EXPECT_EQ(out.ended[0].transmitId, first);
    EXPECT_EQ(out.ended[1].transmitId, second);
}

TEST_F(Iso15765ProtocolTest, TransfersEndUnsentOnAbortOrWithoutFlowControl) {
    addFilter(FilterMessages());
    const PASSTHRU_MSG msg = messageOf(join(headerOf(kTester), payloadOf(10)));
    protocol->startTransmit(msg, Loopback::On, kStart, out);
    protocol->startTransmit(msg, Loopback::On, kStart, out);
    protocol->abortTransmits(out);
    ASSERT_EQ(out.ended.size(), 2u);
    EXPECT_FALSE(out.ended[0].sent());
    EXPECT_FALSE(out.ended[1].sent());
    receive({0x30, 0, 0});
    EXPECT_EQ(out.frames.size(), 1u) << "only the aborted first frame";
    EXPECT_EQ(protocol->nextTickAt(), std::nullopt);

    protocol->startTransmit(msg, Loopback::On, kStart, out);
    protocol->tick(*protocol->nextTickAt(), out);
    ASSERT_EQ(out.ended.size(), 3u);
    EXPECT_EQ(out.ended[2].result, TransmitResult::FlowControlTimeout);
    EXPECT_TRUE(out.messages.empty());
}

// Transmit overrides and the wait limit changed during a transfer hold from the next message:
// the one under way goes on with the flow control it was granted and ends sent whole.
TEST_F(Iso15765ProtocolTest, TransmitParametersChangedMidTransferHoldFromTheNextMessage) {
    addFilter(FilterMessages());
    set(ISO15765_WFT_MAX, 1);
    protocol->startTransmit(messageOf(join(headerOf(kTester), payloadOf(22))), Loopback::Off,
                            kStart, out);
    receive({0x30, 2, 0});
    ASSERT_EQ(out.frames.size(), 3u) << "the first frame and a block of two";
    set(ISO15765_BS_TX, 1);
    set(ISO15765_STMIN_TX, 0x7F);
    set(ISO15765_WFT_MAX, 0);
    receive({0x31, 0, 0});  // one wait, which the limit of the transfer's start allowed
    receive({0x30, 2, 0});
    ASSERT_EQ(out.frames.size(), 4u) << "the last frame at once, not 127 ms later";
    ASSERT_EQ(out.ended.size(), 1u);
    EXPECT_TRUE(out.ended[0].sent());
}

// The transmit queue holds so many messages and so many payload bytes: past either bound a
// message is not taken (transmit ID 0), and once the queue empties there is room again.
TEST_F(Iso15765ProtocolTest, TransmitQueueIsBounded) {
    addFilter(FilterMessages());
    const struct {
        std::size_t payload;
        std::size_t fits;
    } cases[] = {
        {4095, Iso15765TransmitQueue::kMaxPayloadBytes / 4095},
        {1000, Iso15765TransmitQueue::kMaxPayloadBytes / 1000},
        {10, Iso15765TransmitQueue::kMaxMessages},
    };
    for (const auto& c : cases) {
        const PASSTHRU_MSG msg = messageOf(join(headerOf(kTester), payloadOf(c.payload)));
        std::size_t taken = 0;
        while (protocol->startTransmit(msg, Loopback::Off, kStart, out) != 0) {
            ++taken;
        }
        EXPECT_EQ(taken, c.fits) << c.payload;
        protocol->abortTransmits(out);
        EXPECT_NE(protocol->startTransmit(msg, Loopback::Off, kStart, out), 0u) << c.payload;
        protocol->abortTransmits(out);
    }
}

// WAIT flow controls up to ISO15765_WFT_MAX in a row; OVERFLOW ends the transfer.
TEST_F(Iso15765ProtocolTest, WaitLimitAndOverflow) {
    struct Case {
        uint32_t waitLimit;
        std::vector<Bytes> answers;
        TransmitResult result;
    };
    const Case cases[] = {
        {0, {{0x31, 0, 0}}, TransmitResult::WaitLimitExceeded},
        {1, {{0x31, 0, 0}, {0x30, 0, 0}}, TransmitResult::Sent},
        {1, {{0x31, 0, 0}, {0x31, 0, 0}}, TransmitResult::WaitLimitExceeded},
        {1, {{0x32, 0, 0}}, TransmitResult::ReceiverOverflow},
        {1, {{0x33, 0, 0}}, TransmitResult::InvalidFlowControl},
    };
    for (const Case& c : cases) {
        protocol = createChannelProtocol(ISO15765, 0);
        out = {};
        addFilter(FilterMessages());
        set(ISO15765_WFT_MAX, c.waitLimit);
        protocol->startTransmit(messageOf(join(headerOf(kTester), payloadOf(10))), Loopback::Off,
                                kStart, out);
        for (const Bytes& answer : c.answers) {
            receive(answer);
        }
        ASSERT_EQ(out.ended.size(), 1u) << c.waitLimit << c.answers.size();
        EXPECT_EQ(out.ended[0].result, c.result) << c.waitLimit << c.answers.size();
    }
}

TEST_F(Iso15765ProtocolTest, ConfigValuesAndRanges) {
    struct Case {
        uint32_t parameter;
        uint32_t initial;
        uint32_t value;
        uint32_t status;
    };
    const Case cases[] = {
        {ISO15765_BS, 0, 0xFF, STATUS_NOERROR},
        {ISO15765_BS, 0, 0x100, ERR_INVALID_IOCTL_VALUE},
        {ISO15765_STMIN, 0, 0xFFFF, ERR_INVALID_IOCTL_VALUE},
        {ISO15765_BS_TX, 0xFFFF, 8, STATUS_NOERROR},
        {ISO15765_STMIN_TX, 0xFFFF, 0x100, ERR_INVALID_IOCTL_VALUE},
        {ISO15765_STMIN_TX, 0xFFFF, 0xFFFF, STATUS_NOERROR},
        {ISO15765_WFT_MAX, 0, 0xFFFF, ERR_INVALID_IOCTL_VALUE},
        {ISO15765_WFT_MAX, 0, 3, STATUS_NOERROR},
    };
    for (const Case& c : cases) {
        protocol = createChannelProtocol(ISO15765, 0);
        uint32_t value = 0xDEAD;
        EXPECT_EQ(protocol->getConfig(c.parameter, value).status, STATUS_NOERROR);
        EXPECT_EQ(value, c.initial) << c.parameter;
        EXPECT_EQ(protocol->setConfig(c.parameter, c.value).status, c.status) << c.parameter;
        protocol->getConfig(c.parameter, value);
        EXPECT_EQ(value, c.status == STATUS_NOERROR ? c.value : c.initial) << c.parameter;
    }
    uint32_t value = 0;
    EXPECT_EQ(protocol->getConfig(DATA_RATE, value).status, ERR_NOT_SUPPORTED);
    EXPECT_EQ(protocol->setConfig(LOOPBACK, 1).status, ERR_NOT_SUPPORTED);
}

TEST_F(Iso15765ProtocolTest, TransmitOverridesReplaceTheEcuFlowControl) {
    addFilter(FilterMessages());
    set(ISO15765_BS_TX, 1);
    set(ISO15765_STMIN_TX, 0);
    protocol->startTransmit(messageOf(join(headerOf(kTester), payloadOf(20))), Loopback::Off,
                            kStart, out);
    receive({0x30, 0, 100});
    EXPECT_EQ(out.frames.size(), 2u) << "one frame per block, at once";
    receive({0x30, 0, 100});
    EXPECT_EQ(out.frames.size(), 3u);
}

TEST_F(Iso15765ProtocolTest, ExtendedAddressingRoundTrip) {
    protocol = createChannelProtocol(ISO15765, ISO15765_ADDR_TYPE);
    addFilter(FilterMessages(kEcu, kTester, ISO15765_ADDR_TYPE, 0xF1, 0x10));
    const PASSTHRU_MSG request =
        messageOf(join(headerOf(kTester, 0x10), payloadOf(8)), ISO15765_ADDR_TYPE);
    EXPECT_EQ(protocol->checkTransmit(request).status, STATUS_NOERROR);
    protocol->startTransmit(request, Loopback::Off, kStart, out);
    receive({0xF1, 0x30, 0, 0});
    ASSERT_EQ(out.frames.size(), 2u);
    EXPECT_EQ(bytesOf(out.frames[0]), Bytes({0x10, 0x10, 8, 1, 2, 3, 4, 5}));
    EXPECT_EQ(bytesOf(out.frames[1]), Bytes({0x10, 0x21, 6, 7, 8}));
    ASSERT_EQ(out.messages.size(), 1u);
    EXPECT_EQ(out.messages[0].rxStatus, TX_MSG_TYPE | TX_DONE | ISO15765_EXT_ADDR);

    receive({0xF1, 0x10, 7, 1, 2, 3, 4, 5});
    EXPECT_EQ(bytesOf(out.frames.back()), Bytes({0x10, 0x30, 0, 0}));
    receive({0xF1, 0x21, 6, 7});
    ASSERT_EQ(out.messages.size(), 3u);
    EXPECT_EQ(out.messages[2].rxStatus, ISO15765_EXT_ADDR);
    EXPECT_EQ(out.messages[2].data, join(headerOf(kEcu, 0xF1), payloadOf(7)));
}

}  // namespace
}  // namespace vtx
