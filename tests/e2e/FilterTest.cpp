// Message filters: the checks, the limit of ten, the controller's acceptance code and mask
// after every change, and which frames the filters let through to the reader.
#include "tests/e2e/EngineFixture.h"

namespace vtx::e2e {
namespace {

// An identifier and whether it is a 29-bit one.
using IdAndWidth = std::pair<uint32_t, bool>;

// A filter as a client sets it: mask and pattern with the same TxFlags, each with its RxStatus
// and the data byte after the identifier where the filter has five bytes.
struct FilterMessages {
    uint32_t type = PASS_FILTER;
    uint32_t mask = 0;
    uint32_t pattern = 0;
    uint32_t txFlags = 0;
    uint32_t maskRxStatus = 0;
    uint32_t patternRxStatus = 0;
    std::vector<uint8_t> maskData = {};
    std::vector<uint8_t> patternData = {};
};

class Filter : public EngineFixture {
  protected:
    // Injects the frames and then a sentinel that the filters admit, reads through the
    // sentinel and returns the identifiers read before it, each with its width.
    std::set<IdAndWidth> admittedWithWidthsOf(const std::vector<sim::CanFrame>& frames,
                                              const sim::CanFrame& sentinel) {
        for (const sim::CanFrame& frame : frames) {
            EXPECT_TRUE(world().control().injectFrame(frame));
        }
        EXPECT_TRUE(world().control().injectFrame(sentinel));
        std::vector<PASSTHRU_MSG> got = readThrough(sentinel.id);
        if (!got.empty()) {
            got.pop_back();
        }
        std::set<IdAndWidth> admitted;
        for (const PASSTHRU_MSG& msg : got) {
            EXPECT_EQ(msg.RxStatus & ~CAN_29BIT_ID, 0u);
            admitted.emplace(idOf(msg), (msg.RxStatus & CAN_29BIT_ID) != 0);
        }
        return admitted;
    }
    std::set<uint32_t> admittedOf(const std::vector<sim::CanFrame>& frames,
                                  const sim::CanFrame& sentinel) {
        std::set<uint32_t> ids;
        for (const IdAndWidth& frame : admittedWithWidthsOf(frames, sentinel)) {
            ids.insert(frame.first);
        }
        return ids;
    }

    uint32_t startFilter(const FilterMessages& filter, uint32_t* pFilterId = nullptr) {
        PASSTHRU_MSG mask = message(filter.mask, filter.maskData, filter.txFlags);
        PASSTHRU_MSG pattern = message(filter.pattern, filter.patternData, filter.txFlags);
        mask.RxStatus = filter.maskRxStatus;
        pattern.RxStatus = filter.patternRxStatus;
        uint32_t filterId = 0;
        return PassThruStartMsgFilter(channelId, filter.type, &mask, &pattern, nullptr,
                                      pFilterId != nullptr ? pFilterId : &filterId);
    }
    using EngineFixture::startFilter;
};

struct FilterCheckCase {
    const char* name;
    uint32_t type = PASS_FILTER;
    uint32_t maskSize = 4;
    uint32_t patternSize = 4;
    uint32_t maskFlags = 0;
    uint32_t patternFlags = 0;
    uint32_t maskProtocol = CAN;
    uint32_t patternProtocol = CAN;
    bool nullMask = false;
    bool nullPattern = false;
    bool nullFilterId = false;
    bool wrongChannel = false;
    uint32_t expected = STATUS_NOERROR;
    const char* text = "";
};

// The rows run on an 11-bit channel; a row that breaks two rules shows which check comes first.
std::vector<FilterCheckCase> filterCheckCases() {
    std::vector<FilterCheckCase> cases;
    const auto row = [&](const char* name, auto&& change) {
        FilterCheckCase c;
        c.name = name;
        change(c);
        cases.push_back(c);
    };
    row("valid pass filter", [](auto&) {});
    row("valid block filter", [](auto& c) { c.type = BLOCK_FILTER; });
    row("no lower limit on data size", [](auto& c) { c.maskSize = c.patternSize = 0; });
    row("five data bytes", [](auto& c) { c.maskSize = c.patternSize = 5; });
    row("wrong channel before null pointers", [](auto& c) {
        c.wrongChannel = c.nullMask = true;
        c.expected = ERR_INVALID_CHANNEL_ID;
    });
    row("null mask", [](auto& c) {
        c.nullMask = true;
        c.expected = ERR_NULL_PARAMETER;
    });
    row("null pattern", [](auto& c) {
        c.nullPattern = true;
        c.expected = ERR_NULL_PARAMETER;
    });
    row("null filter ID", [](auto& c) {
        c.nullFilterId = true;
        c.expected = ERR_NULL_PARAMETER;
    });
    row("six data bytes", [](auto& c) {
        c.maskSize = c.patternSize = 6;
        c.expected = ERR_INVALID_MSG;
    });
    row("sizes differ", [](auto& c) {
        c.patternSize = 5;
        c.expected = ERR_INVALID_MSG;
    });
    row("flags differ", [](auto& c) {
        c.patternFlags = CAN_29BIT_ID;
        c.expected = ERR_INVALID_MSG;
    });
    row("size before protocol", [](auto& c) {
        c.patternSize = 5;
        c.maskProtocol = ISO15765;
        c.expected = ERR_INVALID_MSG;
    });
    row("mask protocol", [](auto& c) {
        c.maskProtocol = ISO15765;
        c.expected = ERR_MSG_PROTOCOL_ID;
    });
    row("pattern protocol", [](auto& c) {
        c.patternProtocol = ISO15765;
        c.expected = ERR_MSG_PROTOCOL_ID;
    });
    row("protocol before filter type", [](auto& c) {
        c.patternProtocol = ISO15765;
        c.type = FLOW_CONTROL_FILTER;
        c.expected = ERR_MSG_PROTOCOL_ID;
    });
    row("flow control filter", [](auto& c) {
        c.type = FLOW_CONTROL_FILTER;
        c.expected = ERR_INVALID_MSG;
    });
    row("filter type 0", [](auto& c) {
        c.type = 0;
        c.expected = ERR_INVALID_MSG;
    });
    row("filter type 4", [](auto& c) {
        c.type = 4;
        c.expected = ERR_INVALID_MSG;
    });
    row("filter type before identifier width", [](auto& c) {
        c.type = FLOW_CONTROL_FILTER;
        c.maskFlags = c.patternFlags = CAN_29BIT_ID;
        c.expected = ERR_INVALID_MSG;
    });
    row("29-bit filter on an 11-bit channel", [](auto& c) {
        c.maskFlags = c.patternFlags = CAN_29BIT_ID;
        c.expected = ERR_FAILED;
        c.text = kTextTxFlagsInconsistent;
    });
    return cases;
}

TEST_F(Filter, ChecksInOrder) {
    openAndConnect();
    PASSTHRU_MSG flowControl = message(0x7E0);
    for (const FilterCheckCase& c : filterCheckCases()) {
        SCOPED_TRACE(c.name);
        PASSTHRU_MSG mask = message(0x7FF, {}, c.maskFlags);
        PASSTHRU_MSG pattern = message(0x123, {}, c.patternFlags);
        mask.DataSize = c.maskSize;
        pattern.DataSize = c.patternSize;
        mask.ProtocolID = c.maskProtocol;
        pattern.ProtocolID = c.patternProtocol;
        uint32_t filterId = 0;
        const uint32_t status = PassThruStartMsgFilter(
            c.wrongChannel ? channelId + 1 : channelId, c.type, c.nullMask ? nullptr : &mask,
            c.nullPattern ? nullptr : &pattern, &flowControl, c.nullFilterId ? nullptr : &filterId);
        expectOutcome(status, c.expected, c.text);
        if (status == STATUS_NOERROR) {
            EXPECT_NE(filterId, 0u);
            EXPECT_EQ(PassThruStopMsgFilter(channelId, filterId), STATUS_NOERROR);
        } else {
            EXPECT_EQ(filterId, 0u);
        }
    }
}

TEST_F(Filter, IdentifierWidthFollowsTheConnectFlags) {
    struct Case {
        uint32_t connectFlags;
        bool accepts11;
        bool accepts29;
    };
    for (const Case& c :
         {Case{0, true, false}, Case{CAN_29BIT_ID, false, true}, Case{CAN_ID_BOTH, true, true},
          Case{CAN_29BIT_ID | CAN_ID_BOTH, true, true}}) {
        SCOPED_TRACE(c.connectFlags);
        openAndConnect(c.connectFlags);
        uint32_t filterId = 0;
        expectOutcome(startFilter(PASS_FILTER, 0x7FF, 0x7E8, 0, &filterId),
                      c.accepts11 ? STATUS_NOERROR : ERR_FAILED, kTextTxFlagsInconsistent);
        expectOutcome(startFilter(PASS_FILTER, 0x1FFFFFFF, 0x18DAF110, CAN_29BIT_ID, &filterId),
                      c.accepts29 ? STATUS_NOERROR : ERR_FAILED, kTextTxFlagsInconsistent);
        ASSERT_EQ(PassThruClose(deviceId), STATUS_NOERROR);
    }
}

TEST_F(Filter, TenFiltersThenTheLimit) {
    openAndConnect();
    std::vector<uint32_t> ids;
    for (uint32_t i = 0; i < 10; ++i) {
        uint32_t filterId = 0;
        ASSERT_EQ(startFilter(i % 2 ? BLOCK_FILTER : PASS_FILTER, 0x7FF, 0x700 + i, 0, &filterId),
                  STATUS_NOERROR);
        ids.push_back(filterId);
    }
    EXPECT_EQ(std::set<uint32_t>(ids.begin(), ids.end()).size(), 10u);
    const std::size_t programmed = enableCommands();
    const sim::SimCanController::Acceptance before = controller().acceptance;
    uint32_t eleventh = 0;
    expectOutcome(startFilter(PASS_FILTER, 0x7FF, 0x123, 0, &eleventh), ERR_EXCEEDED_LIMIT);
    EXPECT_EQ(eleventh, 0u);
    EXPECT_EQ(enableCommands(), programmed);
    EXPECT_EQ(controller().acceptance.code, before.code);
    EXPECT_EQ(controller().acceptance.mask, before.mask);
    // A stopped filter makes room for one more.
    ASSERT_EQ(PassThruStopMsgFilter(channelId, ids[3]), STATUS_NOERROR);
    expectOutcome(startFilter(PASS_FILTER, 0x7FF, 0x123, 0, &eleventh), STATUS_NOERROR);
    expectOutcome(startFilter(PASS_FILTER, 0x7FF, 0x124, 0, &eleventh), ERR_EXCEEDED_LIMIT);
}

// The controller's acceptance after every change, as the device holds it (mask bit 1: not
// compared). With every filter's mask covering its whole identifier, the controller compares
// exactly the bits in which the filters' codes agree.
TEST_F(Filter, ControllerAcceptanceFollowsEveryChange) {
    openAndConnect();
    uint32_t f7E8 = 0;
    uint32_t f7E0 = 0;
    uint32_t f7DF = 0;
    ASSERT_EQ(startFilter(PASS_FILTER, 0x7FF, 0x7E8, 0, &f7E8), STATUS_NOERROR);
    expectAcceptance(acceptance11(0x7E8, 0));
    EXPECT_TRUE(controllerAdmits(0x7E8, false));
    EXPECT_FALSE(controllerAdmits(0x7E0, false));
    EXPECT_FALSE(controllerAdmits(0x7E8, true));

    ASSERT_EQ(startFilter(PASS_FILTER, 0x7FF, 0x7E0, 0, &f7E0), STATUS_NOERROR);
    expectAcceptance(acceptance11(0x7E0, 0x8));
    EXPECT_TRUE(controllerAdmits(0x7E0, false));
    EXPECT_TRUE(controllerAdmits(0x7E8, false));
    EXPECT_FALSE(controllerAdmits(0x7DF, false));

    // A block filter only keeps frames out: it never widens what the controller lets in.
    ASSERT_EQ(startFilter(BLOCK_FILTER, 0x7FF, 0x7DF, 0, &f7DF), STATUS_NOERROR);
    expectAcceptance(acceptance11(0x7E0, 0x8));
    EXPECT_FALSE(controllerAdmits(0x7DF, false));

    ASSERT_EQ(PassThruStopMsgFilter(channelId, f7DF), STATUS_NOERROR);
    expectAcceptance(acceptance11(0x7E0, 0x8));
    ASSERT_EQ(PassThruStopMsgFilter(channelId, f7E8), STATUS_NOERROR);
    expectAcceptance(acceptance11(0x7E0, 0));
    // Stopping the last filter opens the controller.
    ASSERT_EQ(PassThruStopMsgFilter(channelId, f7E0), STATUS_NOERROR);
    EXPECT_TRUE(controller().acceptance.open);
    EXPECT_TRUE(controllerAdmits(0x123, false));
    EXPECT_TRUE(controllerAdmits(0x18DAF110, true));
}

TEST_F(Filter, FilterAdmittingEverythingOpensTheComparison) {
    openAndConnect();
    uint32_t filterId = 0;
    ASSERT_EQ(startFilter(PASS_FILTER, 0x7FF, 0x7E8, 0, &filterId), STATUS_NOERROR);
    ASSERT_EQ(startFilter(PASS_FILTER, 0, 0, 0, &filterId), STATUS_NOERROR);
    expectAcceptance(acceptance11(0, 0x7FF));
    EXPECT_TRUE(controllerAdmits(0x123, false));
    EXPECT_TRUE(controllerAdmits(0x7FF, false));
    EXPECT_EQ(
        admittedOf({canFrame(0x000), canFrame(0x555), canFrame(0x123, true)}, canFrame(0x7FF)),
        (std::set<uint32_t>{0x000, 0x555}));
}

// A filter whose own mask leaves bits open: the controller does not compare them, so the
// frames the filter admits reach the reader.
TEST_F(Filter, ControllerKeepsWhatAFiltersOwnMaskAdmits) {
    openAndConnect();
    uint32_t filterId = 0;
    ASSERT_EQ(startFilter(PASS_FILTER, 0x700, 0x700, 0, &filterId), STATUS_NOERROR);
    expectAcceptance(acceptance11(0x700, 0xFF));
    for (const uint32_t id : {0x700u, 0x701u, 0x755u, 0x7FFu}) {
        EXPECT_TRUE(controllerAdmits(id, false)) << std::hex << id;
    }
    EXPECT_FALSE(controllerAdmits(0x6FF, false));
    EXPECT_EQ(admittedOf({canFrame(0x700), canFrame(0x6FF), canFrame(0x701), canFrame(0x7FE),
                          canFrame(0x0FF)},
                         canFrame(0x7FF)),
              (std::set<uint32_t>{0x700, 0x701, 0x7FE}));

    // Together with a second filter the open bits stay open.
    uint32_t second = 0;
    ASSERT_EQ(startFilter(PASS_FILTER, 0x7FF, 0x7E8, 0, &second), STATUS_NOERROR);
    expectAcceptance(acceptance11(0x700, 0xFF));
    ASSERT_EQ(PassThruStopMsgFilter(channelId, second), STATUS_NOERROR);
    expectAcceptance(acceptance11(0x700, 0xFF));
}

// A 29-bit filter with a partial mask admits the 29-bit frames of its range, and no 11-bit frame
// even where the masked identifier would match.
TEST_F(Filter, TwentyNineBitFilterWithAPartialMask) {
    openAndConnect(CAN_29BIT_ID | CAN_ID_BOTH);
    uint32_t filterId = 0;
    ASSERT_EQ(startFilter(PASS_FILTER, 0x1FFFFF00, 0x700, CAN_29BIT_ID, &filterId), STATUS_NOERROR);
    EXPECT_EQ(admittedOf({canFrame(0x700, true), canFrame(0x700, false), canFrame(0x7AB, true),
                          canFrame(0x7AB, false), canFrame(0x800, true), canFrame(0x6FF, true)},
                         canFrame(0x7FF, true)),
              (std::set<uint32_t>{0x700, 0x7AB}));
}

TEST_F(Filter, TwentyNineBitFilterWithAPartialMaskOnA29BitChannel) {
    openAndConnect(CAN_29BIT_ID);
    uint32_t filterId = 0;
    ASSERT_EQ(startFilter(PASS_FILTER, 0x1FFFFF00, 0x18DAF100, CAN_29BIT_ID, &filterId),
              STATUS_NOERROR);
    expectAcceptance(acceptance29(0x18DAF100, 0xFF));
    EXPECT_TRUE(controllerAdmits(0x18DAF1AA, true));
    EXPECT_FALSE(controllerAdmits(0x18DAF200, true));
    EXPECT_FALSE(controllerAdmits(0x100, false));
    EXPECT_EQ(admittedOf({canFrame(0x18DAF100, true), canFrame(0x18DAF155, true),
                          canFrame(0x18DAF200, true), canFrame(0x100, false)},
                         canFrame(0x18DAF1FF, true)),
              (std::set<uint32_t>{0x18DAF100, 0x18DAF155}));
}

TEST_F(Filter, WhichFramesReachTheReader) {
    openAndConnect(CAN_ID_BOTH);
    uint32_t filterId = 0;
    ASSERT_EQ(startFilter(PASS_FILTER, 0x7FF, 0x123, 0, &filterId), STATUS_NOERROR);
    ASSERT_EQ(startFilter(PASS_FILTER, 0x1FFFFFFF, 0x18DAF110, CAN_29BIT_ID, &filterId),
              STATUS_NOERROR);
    // Overlapping pass filters: a frame is read once.
    ASSERT_EQ(startFilter(PASS_FILTER, 0x7F0, 0x120, 0, &filterId), STATUS_NOERROR);
    ASSERT_EQ(startFilter(PASS_FILTER, 0x7FF, 0x7FF, 0, &filterId), STATUS_NOERROR);
    const std::vector<sim::CanFrame> frames = {
        canFrame(0x123),
        canFrame(0x123, true),
        canFrame(0x18DAF110, true),
        canFrame(0x18DAF111, true),
        canFrame(0x124),
        canFrame(0x130),
        canFrame(0x7FF),
    };
    for (const sim::CanFrame& frame : frames) {
        ASSERT_TRUE(world().control().injectFrame(frame));
    }
    std::vector<PASSTHRU_MSG> got = readThrough(0x7FF);
    std::vector<std::pair<uint32_t, uint32_t>> seen;
    for (const PASSTHRU_MSG& msg : got) {
        seen.emplace_back(idOf(msg), msg.RxStatus);
    }
    // Without CAN_29BIT_ID a filter on this channel applies to both widths: the 29-bit 0x123
    // passes the first.
    EXPECT_EQ(seen, (std::vector<std::pair<uint32_t, uint32_t>>{{0x123, 0},
                                                                {0x123, CAN_29BIT_ID},
                                                                {0x18DAF110, CAN_29BIT_ID},
                                                                {0x124, 0},
                                                                {0x7FF, 0}}));
}

// Which identifier widths a filter applies to on a channel that carries both, and the data byte
// of a five-byte filter. Each row: its filters, the frames injected, and those read.
TEST_F(Filter, WidthsAndDataByteOnAChannelForBothWidths) {
    struct Case {
        const char* name;
        std::vector<FilterMessages> filters;
        std::vector<sim::CanFrame> frames;
        sim::CanFrame sentinel;  // admitted by the filters, injected last
        std::set<IdAndWidth> admitted;
    };
    const auto std11 = [](uint32_t id, std::vector<uint8_t> data = {}) {
        return canFrame(id, false, std::move(data));
    };
    const auto ext29 = [](uint32_t id) { return canFrame(id, true); };
    const Case cases[] = {
        {"pass-all without CAN_29BIT_ID: both widths",
         {{}},
         {std11(0x123), ext29(0x18DAF110)},
         std11(0x7FF),
         {{0x123, false}, {0x18DAF110, true}}},
        {"mask 0 with CAN_29BIT_ID: 29-bit frames only",
         {{.txFlags = CAN_29BIT_ID}},
         {std11(0x123), ext29(0x18DAF110)},
         ext29(0x18DAF1FF),
         {{0x18DAF110, true}}},
        {"a range of 29-bit identifiers",
         {{.mask = 0x1FFFFF00, .pattern = 0x18DAF100, .txFlags = CAN_29BIT_ID}},
         {ext29(0x18DAF110), ext29(0x18DAF210), std11(0x110)},
         ext29(0x18DAF1FF),
         {{0x18DAF110, true}}},
        {"RxStatus asks for 29-bit",
         {{.maskRxStatus = CAN_29BIT_ID, .patternRxStatus = CAN_29BIT_ID}},
         {std11(0x123), ext29(0x18DAF110)},
         ext29(0x18DAF1FF),
         {{0x18DAF110, true}}},
        {"RxStatus asks for 11-bit",
         {{.maskRxStatus = CAN_29BIT_ID, .patternRxStatus = 0}},
         {std11(0x123), ext29(0x18DAF110)},
         std11(0x7FF),
         {{0x123, false}}},
        {"partial mask: both widths through the controller",
         {{.mask = 0x700, .pattern = 0x700}},
         {std11(0x7AB), std11(0x6FF), ext29(0x18DAF7AB), ext29(0x18DAF6AB)},
         std11(0x7FF),
         {{0x7AB, false}, {0x18DAF7AB, true}}},
        {"block filter without CAN_29BIT_ID: both widths",
         {{}, {.txFlags = CAN_29BIT_ID}, {.type = BLOCK_FILTER, .mask = 0xFF, .pattern = 0x23}},
         {std11(0x123), std11(0x124), ext29(0x18DAF123), ext29(0x18DAF124)},
         std11(0x7FF),
         {{0x124, false}, {0x18DAF124, true}}},
        {"the data byte counts, and a frame without one does not match",
         {{.mask = 0x700, .pattern = 0x700, .maskData = {0xF0}, .patternData = {0x10}}},
         {std11(0x701, {0x12}), std11(0x702, {0x21}), std11(0x703), std11(0x705, {0x1F, 9}),
          std11(0x604, {0x12})},
         std11(0x7FF, {0x10}),
         {{0x701, false}, {0x705, false}}},
        {"a data byte under mask 0 lets a frame without one through",
         {{.mask = 0x700, .pattern = 0x700, .maskData = {0}, .patternData = {0}}},
         {std11(0x701), std11(0x702, {0x55})},
         std11(0x7FF),
         {{0x701, false}, {0x702, false}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        openAndConnect(CAN_29BIT_ID | CAN_ID_BOTH);
        for (const FilterMessages& filter : c.filters) {
            ASSERT_EQ(startFilter(filter), STATUS_NOERROR) << lastError();
        }
        EXPECT_EQ(admittedWithWidthsOf(c.frames, c.sentinel), c.admitted);
        ASSERT_EQ(PassThruClose(deviceId), STATUS_NOERROR);
    }
}

// A pass-all filter opens the controller over every identifier of its channel's width, also
// after another channel of the other width leaves.
TEST_F(Filter, PassAllKeepsTheControllerOpenWhenAnotherChannelLeaves) {
    openAndConnect(CAN_29BIT_ID);
    ASSERT_EQ(startFilter({.txFlags = CAN_29BIT_ID}), STATUS_NOERROR) << lastError();
    uint32_t isoChannel = 0;
    ASSERT_EQ(PassThruConnect(deviceId, ISO15765, 0, 500000, &isoChannel), STATUS_NOERROR);
    PASSTHRU_MSG mask = message(0x7FF);
    PASSTHRU_MSG pattern = message(0x7E8);
    PASSTHRU_MSG flowControl = message(0x7E0);
    mask.ProtocolID = pattern.ProtocolID = flowControl.ProtocolID = ISO15765;
    uint32_t filterId = 0;
    ASSERT_EQ(PassThruStartMsgFilter(isoChannel, FLOW_CONTROL_FILTER, &mask, &pattern, &flowControl,
                                     &filterId),
              STATUS_NOERROR)
        << lastError();
    ASSERT_EQ(PassThruDisconnect(isoChannel), STATUS_NOERROR);
    EXPECT_TRUE(controllerAdmits(0x18DAF110, true));
    EXPECT_EQ(admittedOf({canFrame(0x18DAF110, true)}, canFrame(0x18DAF1FF, true)),
              (std::set<uint32_t>{0x18DAF110}));
}

// How a channel's filters go: stopped one by one, cleared at once, or with their channel.
enum class FiltersGo { Stopped, Cleared, Disconnected };

const char* nameOf(FiltersGo way) {
    switch (way) {
        case FiltersGo::Stopped:
            return "stopped";
        case FiltersGo::Cleared:
            return "cleared";
        case FiltersGo::Disconnected:
            return "disconnected";
    }
    return "?";
}

// However a channel's filters go, the controller's acceptance is then what the filters that
// remain make it: open with none left, as after connect, otherwise their merge, also where a
// connect had opened the controller over them. A 29-bit channel that keeps its filter still
// reads its 29-bit frames. Each row: the CAN channel and its filter, perhaps a 29-bit ISO15765
// channel connected after that filter, the ways the filters of the last channel connected go,
// and the acceptance afterwards.
TEST_F(Filter, AcceptanceIsThatOfTheRemainingFiltersHoweverTheOthersGo) {
    struct Case {
        const char* name;
        uint32_t canFlags = 0;
        FilterMessages canFilter;
        bool isoChannel = false;
        bool isoFilter = false;  // a flow-control filter on the ISO15765 channel
        std::vector<FiltersGo> ways;
        std::optional<AcceptanceWords> after = std::nullopt;  // none: every frame admitted
    };
    const FilterMessages filter11{.mask = 0x7FF, .pattern = 0x7E8};
    const FilterMessages filter29{
        .mask = 0x1FFFFFFF, .pattern = 0x18DAF110, .txFlags = CAN_29BIT_ID};
    using enum FiltersGo;
    const Case cases[] = {
        {.name = "the last filter of an 11-bit channel",
         .canFilter = filter11,
         .ways = {Stopped, Cleared}},
        {.name = "the last filter of a 29-bit channel",
         .canFlags = CAN_29BIT_ID,
         .canFilter = filter29,
         .ways = {Stopped, Cleared}},
        {.name = "the last filter of a channel for both widths",
         .canFlags = CAN_ID_BOTH,
         .canFilter = filter11,
         .ways = {Stopped, Cleared}},
        {.name = "a 29-bit channel keeps its filter",
         .canFlags = CAN_29BIT_ID,
         .canFilter = filter29,
         .isoChannel = true,
         .isoFilter = true,
         .ways = {Stopped, Cleared, Disconnected},
         .after = acceptance29(0x18DAF110, 0)},
        {.name = "a connect opened the controller over the filter kept",
         .canFlags = CAN_29BIT_ID,
         .canFilter = filter29,
         .isoChannel = true,
         .ways = {Cleared, Disconnected},
         .after = acceptance29(0x18DAF110, 0)},
    };
    for (const Case& c : cases) {
        for (const FiltersGo way : c.ways) {
            SCOPED_TRACE(::testing::Message() << c.name << ", " << nameOf(way));
            openAndConnect(c.canFlags);
            const uint32_t canChannel = channelId;
            uint32_t leavingChannel = canChannel;
            uint32_t leavingFilter = 0;
            ASSERT_EQ(startFilter(c.canFilter, &leavingFilter), STATUS_NOERROR) << lastError();
            if (c.isoChannel) {
                ASSERT_EQ(
                    PassThruConnect(deviceId, ISO15765, CAN_29BIT_ID, 500000, &leavingChannel),
                    STATUS_NOERROR)
                    << lastError();
            }
            if (c.isoFilter) {
                PASSTHRU_MSG mask = message(0x1FFFFFFF, {}, CAN_29BIT_ID);
                PASSTHRU_MSG pattern = message(0x18DAF120, {}, CAN_29BIT_ID);
                PASSTHRU_MSG flowControl = message(0x18DA20F1, {}, CAN_29BIT_ID);
                mask.ProtocolID = pattern.ProtocolID = flowControl.ProtocolID = ISO15765;
                ASSERT_EQ(PassThruStartMsgFilter(leavingChannel, FLOW_CONTROL_FILTER, &mask,
                                                 &pattern, &flowControl, &leavingFilter),
                          STATUS_NOERROR)
                    << lastError();
            }
            switch (way) {
                case Stopped:
                    ASSERT_EQ(PassThruStopMsgFilter(leavingChannel, leavingFilter), STATUS_NOERROR)
                        << lastError();
                    break;
                case Cleared:
                    ASSERT_EQ(PassThruIoctl(leavingChannel, CLEAR_MSG_FILTERS, nullptr, nullptr),
                              STATUS_NOERROR)
                        << lastError();
                    break;
                case Disconnected:
                    ASSERT_EQ(PassThruDisconnect(leavingChannel), STATUS_NOERROR) << lastError();
                    break;
            }
            if (c.after) {
                expectAcceptance(*c.after);
            } else {
                EXPECT_TRUE(controller().acceptance.open);
            }
            if (leavingChannel != canChannel) {
                EXPECT_EQ(admittedOf({canFrame(0x18DAF111, true)}, canFrame(0x18DAF110, true)),
                          std::set<uint32_t>{});
            }
            ASSERT_EQ(PassThruClose(deviceId), STATUS_NOERROR);
        }
    }
}

// A block filter keeps out the frames it matches, even those a pass filter admits; the others
// pass as before.
TEST_F(Filter, BlockFilterKeepsOutWhatAPassFilterAdmits) {
    openAndConnect();
    uint32_t filterId = 0;
    ASSERT_EQ(startFilter(PASS_FILTER, 0x700, 0x700, 0, &filterId), STATUS_NOERROR);
    ASSERT_EQ(startFilter(BLOCK_FILTER, 0x7FF, 0x7DF, 0, &filterId), STATUS_NOERROR);
    ASSERT_EQ(startFilter(BLOCK_FILTER, 0x7F0, 0x7A0, 0, &filterId), STATUS_NOERROR);
    EXPECT_EQ(admittedOf({canFrame(0x7DF), canFrame(0x7E8), canFrame(0x7A5), canFrame(0x7B0),
                          canFrame(0x6DF)},
                         canFrame(0x7FF)),
              (std::set<uint32_t>{0x7E8, 0x7B0}));
}

TEST_F(Filter, BlockFilterAloneLetsNothingThrough) {
    openAndConnect();
    uint32_t filterId = 0;
    ASSERT_EQ(startFilter(BLOCK_FILTER, 0x7FF, 0x123, 0, &filterId), STATUS_NOERROR);
    inject(0x124);
    inject(0x123);
    ASSERT_TRUE(world().control().waitForBusRecords(2, 2000ms));
    std::this_thread::sleep_for(100ms);
    PASSTHRU_MSG in{};
    uint32_t count = 1;
    EXPECT_EQ(PassThruReadMsgs(channelId, &in, &count, 100), ERR_BUFFER_EMPTY);
}

// The device's buffers are emptied when the channel gets its first filter (beyond the emptying
// that comes with every reprogramming of the controller).
TEST_F(Filter, FirstFilterEmptiesTheDeviceBuffers) {
    openAndConnect();
    inject(0x123, false, {1});
    inject(0x123, false, {2});
    ASSERT_TRUE(eventually([&] { return controller().receiveFill == 2; }));
    const uint64_t clearsBefore = world().control().deviceState().clears;
    uint32_t filterId = 0;
    ASSERT_EQ(startFilter(PASS_FILTER, 0x7FF, 0x123, 0, &filterId), STATUS_NOERROR);
    const uint64_t firstClears = world().control().deviceState().clears - clearsBefore;
    EXPECT_EQ(controller().receiveFill, 0u);
    ASSERT_EQ(startFilter(PASS_FILTER, 0x7FF, 0x124, 0, &filterId), STATUS_NOERROR);
    const uint64_t secondClears =
        world().control().deviceState().clears - clearsBefore - firstClears;
    EXPECT_EQ(firstClears, secondClears + 1);

    drain();
    inject(0x123, false, {3});
    const std::vector<PASSTHRU_MSG> got = readMessages(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].Data[4], 3);
}

TEST_F(Filter, StopChecks) {
    openAndConnect();
    uint32_t filterId = 0;
    ASSERT_EQ(startFilter(PASS_FILTER, 0x7FF, 0x123, 0, &filterId), STATUS_NOERROR);
    expectOutcome(PassThruStopMsgFilter(channelId + 1, filterId), ERR_INVALID_CHANNEL_ID);
    expectOutcome(PassThruStopMsgFilter(channelId, 0), ERR_INVALID_FILTER_ID);
    expectOutcome(PassThruStopMsgFilter(channelId, filterId + 1), ERR_INVALID_FILTER_ID);
    expectOutcome(PassThruStopMsgFilter(channelId, filterId), STATUS_NOERROR);
    expectOutcome(PassThruStopMsgFilter(channelId, filterId), ERR_INVALID_FILTER_ID);

    // A filter ID of a disconnected channel reaches nothing on the new one.
    uint32_t oldFilter = 0;
    ASSERT_EQ(startFilter(PASS_FILTER, 0x7FF, 0x123, 0, &oldFilter), STATUS_NOERROR);
    ASSERT_EQ(PassThruDisconnect(channelId), STATUS_NOERROR);
    expectOutcome(PassThruStopMsgFilter(channelId, oldFilter), ERR_INVALID_CHANNEL_ID);
    ASSERT_EQ(PassThruConnect(deviceId, CAN, 0, 500000, &channelId), STATUS_NOERROR);
    ASSERT_EQ(startFilter(PASS_FILTER, 0x7FF, 0x123, 0, &filterId), STATUS_NOERROR);
    expectOutcome(PassThruStopMsgFilter(channelId, oldFilter), ERR_INVALID_FILTER_ID);
    ASSERT_EQ(PassThruClose(deviceId), STATUS_NOERROR);
    expectOutcome(PassThruStopMsgFilter(channelId, filterId), ERR_INVALID_DEVICE_ID);
}

// Without a filter nothing is queued, echoes included.
TEST_F(Filter, WithoutFilterNothingIsRead) {
    openAndConnect();
    setLoopback(1);
    PASSTHRU_MSG out = message(0x123);
    uint32_t count = 1;
    ASSERT_EQ(PassThruWriteMsgs(channelId, &out, &count, 200), STATUS_NOERROR);
    inject(0x123);
    ASSERT_TRUE(world().control().waitForBusRecords(2, 2000ms));
    count = 1;
    EXPECT_EQ(PassThruReadMsgs(channelId, &out, &count, 100), ERR_BUFFER_EMPTY);
}

}  // namespace
}  // namespace vtx::e2e
