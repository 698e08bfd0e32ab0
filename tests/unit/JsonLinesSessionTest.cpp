#include "trace/JsonLinesSession.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "trace/TracePlaces.h"

namespace vtx::trace {
namespace {

TEST(JsonLinesSession, FormatsTypedFieldsCounterAndThread) {
    const TraceField fields[] = {u32("devID", 1), hex("flags", 0x900), i32("channelID", -2),
                                 ansi("pFirmwareVersion", "VTX20 - N. 1234")};
    TraceEvent event;
    event.name = "PassThru";
    event.message = place::kConnectStarted;
    event.fields = fields;
    event.counter = 7;
    event.thread = 4711;
    EXPECT_EQ(
        JsonLinesSession::formatLine(event),
        "{\"name\":\"PassThru\",\"message\":\"" + std::string(place::kConnectStarted) +
            "\",\"level\":5,"
            "\"keyword\":0,\"fields\":[{\"name\":\"devID=\",\"type\":\"u32\",\"value\":1},"
            "{\"name\":\"flags=\",\"type\":\"hex32\",\"value\":2304},"
            "{\"name\":\"channelID=\",\"type\":\"i32\",\"value\":-2},"
            "{\"name\":\"pFirmwareVersion=\",\"type\":\"ansi\",\"value\":\"VTX20 - N. 1234\"}],"
            "\"C\":7,\"T\":4711}\n");
}

TEST(JsonLinesSession, TransferEventsCarryNoCounter) {
    TraceEvent event;
    event.name = "USBInterface";
    event.message = place::kDeviceFramesRead;
    event.hasCounter = false;
    event.thread = 3;
    const std::string line = JsonLinesSession::formatLine(event);
    EXPECT_EQ(line.find("\"C\""), std::string::npos);
    EXPECT_NE(line.find("\"T\":3}"), std::string::npos);
}

TEST(JsonLinesSession, EscapesTextAsLatin1) {
    const TraceField fields[] = {ansi("codProdotto", std::string_view("a\"b\\c\n\xE9", 7))};
    TraceEvent event;
    event.name = "WinUSBInterface";
    event.message = "x";
    event.fields = fields;
    const std::string line = JsonLinesSession::formatLine(event);
    EXPECT_NE(line.find(R"("value":"a\"b\\c\u000a\u00e9")"), std::string::npos) << line;
}

TEST(JsonLinesSession, LevelFollowsTheDestination) {
    std::atomic<uint8_t> level{0};
    JsonLinesSession nobodyListens("", 5);
    EXPECT_TRUE(nobodyListens.registerProvider("vtxpts32.dll", level));
    EXPECT_EQ(level.load(), 0);
    nobodyListens.unregisterProvider();

    const std::string path = ::testing::TempDir() + "vtx_json_session_test.jsonl";
    std::remove(path.c_str());
    JsonLinesSession session(path, 4);
    EXPECT_TRUE(session.registerProvider("vtxpts32.dll", level));
    EXPECT_EQ(level.load(), 4);
    TraceEvent event;
    event.name = "DllMain";
    event.message = place::kLibraryAttached;
    session.write(event);
    session.unregisterProvider();
    EXPECT_EQ(level.load(), 0);
    session.write(event);  // dropped after unregistration

    std::ifstream in(path);
    std::stringstream content;
    content << in.rdbuf();
    EXPECT_EQ(content.str(), JsonLinesSession::formatLine(event));
    std::remove(path.c_str());
}

}  // namespace
}  // namespace vtx::trace
