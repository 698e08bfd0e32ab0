// The simulated ECU's diagnostic services without the bus: scripted exchanges, each a request
// at a bus time and the answer it must get, against a server whose seeds are known.
#include "sim/UdsServer.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "base/Crc32.h"

namespace vtx::sim {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

constexpr std::string_view kVin = "1VTXSIM0000000001";
// The seed the server hands out first, and its key worked out by hand:
// 0x12345678 rotated left by 11 is 0xA2B3C091; XOR 0xA5C3E1F0 gives 0x07702161.
constexpr uint32_t kSeed = 0x12345678;
const Bytes kSeedAnswer{0x67, 0x01, 0x12, 0x34, 0x56, 0x78};
const Bytes kRightKey{0x27, 0x02, 0x07, 0x70, 0x21, 0x61};
const Bytes kWrongKey{0x27, 0x02, 0x07, 0x70, 0x21, 0x60};
const Bytes kZeroKey{0x27, 0x02, 0x00, 0x00, 0x00, 0x00};
const Bytes kNoAnswer{};

Bytes operator+(Bytes head, const Bytes& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

Bytes textOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

// 34 00 44 with a 4-byte address and size.
Bytes downloadRequest(uint32_t address, uint32_t size) {
    Bytes request{0x34, 0x00, 0x44};
    for (const uint32_t field : {address, size}) {
        for (int shift = 24; shift >= 0; shift -= 8) {
            request.push_back(static_cast<uint8_t>(field >> shift));
        }
    }
    return request;
}

Bytes eraseRequest(uint32_t address, uint32_t size) {
    Bytes request = downloadRequest(address, size);
    request.erase(request.begin(), request.begin() + 3);
    return Bytes{0x31, 0x01, 0xFF, 0x00} + request;
}

Bytes checkRequest(uint32_t crc) {
    return Bytes{0x31,
                 0x01,
                 0x02,
                 0x02,
                 static_cast<uint8_t>(crc >> 24),
                 static_cast<uint8_t>(crc >> 16),
                 static_cast<uint8_t>(crc >> 8),
                 static_cast<uint8_t>(crc)};
}

// The 16 bytes of the test image and its CRC-32 (worked out with zlib).
const Bytes kImage{0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17,
                   0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F};
constexpr uint32_t kImageCrc = 0xF4A7FD67;
const Bytes kFirstHalf(kImage.begin(), kImage.begin() + 8);
const Bytes kSecondHalf(kImage.begin() + 8, kImage.end());

// One request, the bus time it arrives (from the script's start), and the only answer it gets.
struct Exchange {
    Bytes request;
    Bytes answer;
    std::chrono::milliseconds at = 0ms;
};

// Programming session, unlocked: the start of every download script.
const std::vector<Exchange> kUnlockedForProgramming{
    {{0x10, 0x02}, {0x50, 0x02, 0x00, 0x32, 0x01, 0xF4}},
    {{0x27, 0x01}, kSeedAnswer},
    {kRightKey, {0x67, 0x02}},
};

std::vector<Exchange> unlockedThen(const std::vector<Exchange>& more) {
    std::vector<Exchange> script = kUnlockedForProgramming;
    script.insert(script.end(), more.begin(), more.end());
    return script;
}

struct Script {
    const char* name;
    std::vector<Exchange> exchanges;
};

const SimClock::time_point kStart = SimClock::time_point{} + 1h;

// Hands out kSeed, then kSeed + 1, and so on.
UdsServer countingServer() {
    return UdsServer(kVin, [next = kSeed]() mutable { return next++; });
}

void run(UdsServer& server, const Script& script) {
    for (std::size_t i = 0; i < script.exchanges.size(); ++i) {
        const Exchange& exchange = script.exchanges[i];
        const std::vector<UdsServer::Answer> answers =
            server.handle(exchange.request, kStart + exchange.at);
        const Bytes answer = answers.empty() ? kNoAnswer : answers.front().payload;
        EXPECT_LE(answers.size(), 1u) << script.name << ", exchange " << i;
        EXPECT_EQ(answer, exchange.answer) << script.name << ", exchange " << i;
    }
}

// Each script against a server of its own.
void runEach(std::span<const Script> scripts) {
    for (const Script& script : scripts) {
        UdsServer server = countingServer();
        run(server, script);
    }
}

TEST(UdsServerTest, SessionsReadDataAndRefusals) {
    const Bytes positiveSession{0x00, 0x32, 0x01, 0xF4};
    const Script scripts[] = {
        {"sessions",
         {{{0x10, 0x01}, Bytes{0x50, 0x01} + positiveSession},
          {{0x10, 0x02}, Bytes{0x50, 0x02} + positiveSession},
          {{0x10, 0x03}, Bytes{0x50, 0x03} + positiveSession},
          {{0x10, 0x81}, kNoAnswer},
          {{0x10, 0x04}, {0x7F, 0x10, 0x12}},
          {{0x10}, {0x7F, 0x10, 0x13}},
          {{0x10, 0x01, 0x00}, {0x7F, 0x10, 0x13}}}},
        {"tester present",
         {{{0x3E, 0x00}, {0x7E, 0x00}},
          {{0x3E, 0x80}, kNoAnswer},
          {{0x3E, 0x01}, {0x7F, 0x3E, 0x12}},
          {{0x3E}, {0x7F, 0x3E, 0x13}}}},
        {"read data",
         {{{0x22, 0xF1, 0x90}, Bytes{0x62, 0xF1, 0x90} + textOf(kVin)},
          {{0x22, 0xF1, 0x8C}, Bytes{0x62, 0xF1, 0x8C} + textOf("VTXSIM00000001")},
          {{0x22, 0xF1, 0x95}, Bytes{0x62, 0xF1, 0x95} + textOf("SW-00000000")},
          {{0x22, 0xF1, 0x8C, 0x12, 0x34, 0xF1, 0x90},
           Bytes{0x62, 0xF1, 0x8C} + textOf("VTXSIM00000001") + Bytes{0xF1, 0x90} + textOf(kVin)},
          {{0x22, 0x12, 0x34}, {0x7F, 0x22, 0x31}},
          {{0x22, 0xF1}, {0x7F, 0x22, 0x13}},
          {{0x22}, {0x7F, 0x22, 0x13}}}},
        {"unknown services", {{{0x85, 0x01}, {0x7F, 0x85, 0x11}}, {{0x23}, {0x7F, 0x23, 0x11}}}},
        {"download services outside the programming session",
         {{downloadRequest(0, 16), {0x7F, 0x34, 0x7F}},
          {{0x36, 0x01, 0xAA}, {0x7F, 0x36, 0x7F}},
          {{0x37}, {0x7F, 0x37, 0x7F}},
          {checkRequest(0), {0x7F, 0x31, 0x7F}},
          {{0x27, 0x01}, {0x7F, 0x27, 0x7F}}}},
        {"download services while locked",
         {{{0x10, 0x02}, Bytes{0x50, 0x02} + positiveSession},
          {downloadRequest(0, 16), {0x7F, 0x34, 0x33}},
          {eraseRequest(0, 16), {0x7F, 0x31, 0x33}},
          {{0x36, 0x01, 0xAA}, {0x7F, 0x36, 0x33}}}},
    };
    runEach(scripts);
}

TEST(UdsServerTest, SecurityAccess) {
    const Script scripts[] = {
        {"seed and key",
         {{{0x10, 0x03}, {0x50, 0x03, 0x00, 0x32, 0x01, 0xF4}},
          {kRightKey, {0x7F, 0x27, 0x24}},  // no seed asked yet
          {{0x27, 0x01}, kSeedAnswer},
          {kRightKey, {0x67, 0x02}},
          {kRightKey, {0x7F, 0x27, 0x24}},  // the seed is used up
          {{0x27, 0x03}, {0x7F, 0x27, 0x12}},
          {{0x27, 0x01, 0x00}, {0x7F, 0x27, 0x13}},
          {{0x27, 0x02, 0x00}, {0x7F, 0x27, 0x13}},
          {{0x27}, {0x7F, 0x27, 0x13}}}},
        {"lockout after three wrong keys, and its end",
         {{{0x10, 0x03}, {0x50, 0x03, 0x00, 0x32, 0x01, 0xF4}},
          {{0x27, 0x01}, kSeedAnswer},
          {kWrongKey, {0x7F, 0x27, 0x35}},
          {{0x27, 0x01}, {0x67, 0x01, 0x12, 0x34, 0x56, 0x79}},
          {kWrongKey, {0x7F, 0x27, 0x35}},
          {{0x27, 0x01}, {0x67, 0x01, 0x12, 0x34, 0x56, 0x7A}},
          {kWrongKey, {0x7F, 0x27, 0x36}, 1000ms},
          {{0x27, 0x01}, {0x7F, 0x27, 0x37}, 1000ms},
          {kRightKey, {0x7F, 0x27, 0x37}, 10999ms},
          {{0x27, 0x01}, {0x67, 0x01, 0x12, 0x34, 0x56, 0x7B}, 11000ms},
          {kWrongKey, {0x7F, 0x27, 0x35}, 11000ms}}},
        {"a reset locks and returns to the default session",
         unlockedThen({{{0x11, 0x01}, {0x51, 0x01}},
                       {downloadRequest(0, 16), {0x7F, 0x34, 0x7F}},
                       {{0x10, 0x02}, {0x50, 0x02, 0x00, 0x32, 0x01, 0xF4}},
                       {downloadRequest(0, 16), {0x7F, 0x34, 0x33}},
                       {{0x11, 0x02}, {0x7F, 0x11, 0x12}},
                       {{0x11}, {0x7F, 0x11, 0x13}}})},
        {"another session locks",
         unlockedThen({{{0x10, 0x03}, {0x50, 0x03, 0x00, 0x32, 0x01, 0xF4}},
                       {{0x10, 0x02}, {0x50, 0x02, 0x00, 0x32, 0x01, 0xF4}},
                       {downloadRequest(0, 16), {0x7F, 0x34, 0x33}}})},
    };
    runEach(scripts);
}

// A key of 0 never unlocks, and no seed is handed out whose key would be 0.
TEST(UdsSecurityAccessTest, ZeroIsNeverASeedNorAKey) {
    const uint32_t seedWithZeroKey = 0x3E14B87C;  // rotated left by 11: 0xA5C3E1F0
    ASSERT_EQ(UdsSecurityAccess::keyFor(seedWithZeroKey), 0u);
    std::vector<uint32_t> draws{0, seedWithZeroKey, kSeed};
    UdsSecurityAccess security([&] {
        const uint32_t seed = draws.front();
        draws.erase(draws.begin());
        return seed;
    });
    EXPECT_EQ(security.answer(Bytes{0x27, 0x01}, kStart), kSeedAnswer);
    EXPECT_EQ(security.answer(kZeroKey, kStart), (Bytes{0x7F, 0x27, 0x35}));
    EXPECT_FALSE(security.unlocked());
}

TEST(UdsServerTest, Download) {
    const Bytes flashedVersion = Bytes{0x62, 0xF1, 0x95} + textOf("SW-F4A7FD67");
    const Script scripts[] = {
        {"image downloaded, checked and flashed",
         unlockedThen({{downloadRequest(0x1000, 16), {0x74, 0x20, 0x0F, 0xFF}},
                       {Bytes{0x36, 0x01} + kFirstHalf, {0x76, 0x01}},
                       {Bytes{0x36, 0x02} + kSecondHalf, {0x76, 0x02}},
                       {{0x37}, {0x77}},
                       {checkRequest(kImageCrc ^ 1), {0x71, 0x01, 0x02, 0x02, 0x01}},
                       {{0x22, 0xF1, 0x95}, Bytes{0x62, 0xF1, 0x95} + textOf("SW-00000000")},
                       {checkRequest(kImageCrc), {0x71, 0x01, 0x02, 0x02, 0x00}},
                       {{0x22, 0xF1, 0x95}, flashedVersion},
                       {{0x11, 0x01}, {0x51, 0x01}},
                       {{0x22, 0xF1, 0x95}, flashedVersion}})},
        {"transfer errors",
         unlockedThen({{{0x36, 0x01, 0xAA}, {0x7F, 0x36, 0x24}},
                       {{0x37}, {0x7F, 0x37, 0x24}},
                       {checkRequest(kImageCrc), {0x7F, 0x31, 0x24}},
                       {downloadRequest(0, 16), {0x74, 0x20, 0x0F, 0xFF}},
                       {downloadRequest(0, 16), {0x7F, 0x34, 0x22}},
                       {Bytes{0x36, 0x02} + kFirstHalf, {0x7F, 0x36, 0x73}},
                       {{0x36, 0x01}, {0x7F, 0x36, 0x13}},
                       {Bytes{0x36, 0x01} + kImage + Bytes{0xAA}, {0x7F, 0x36, 0x71}},
                       {Bytes{0x36, 0x01} + kFirstHalf, {0x76, 0x01}},
                       {{0x37}, {0x7F, 0x37, 0x22}},
                       {{0x37, 0x00}, {0x7F, 0x37, 0x13}},
                       {checkRequest(kImageCrc), {0x7F, 0x31, 0x22}},
                       {eraseRequest(0, 16), {0x7F, 0x31, 0x22}},
                       {Bytes{0x36, 0x02} + Bytes(4094, 0xAA), {0x7F, 0x36, 0x13}}})},
        {"request errors",
         unlockedThen({{downloadRequest(0x000FFFFF, 2), {0x7F, 0x34, 0x31}},
                       {downloadRequest(0, 0), {0x7F, 0x34, 0x31}},
                       {downloadRequest(0xFFFFFFF0, 0x20), {0x7F, 0x34, 0x31}},
                       {{0x34, 0x00, 0x33, 0, 0, 0, 0, 0, 0}, {0x7F, 0x34, 0x31}},
                       {{0x34, 0x11, 0x44, 0, 0, 0, 0, 0, 0, 0, 1}, {0x7F, 0x34, 0x31}},
                       {{0x34, 0x00, 0x44, 0, 0, 0, 0, 0, 0, 1}, {0x7F, 0x34, 0x13}},
                       {{0x34, 0x00}, {0x7F, 0x34, 0x13}},
                       {eraseRequest(0x000FFFFF, 2), {0x7F, 0x31, 0x31}},
                       {{0x31, 0x01, 0xFF, 0x00, 0x00}, {0x7F, 0x31, 0x13}},
                       {{0x31, 0x01, 0x02, 0x02}, {0x7F, 0x31, 0x13}},
                       {{0x31, 0x01, 0x12, 0x34}, {0x7F, 0x31, 0x31}},
                       {{0x31, 0x02, 0xFF, 0x00}, {0x7F, 0x31, 0x12}},
                       {{0x31, 0x01, 0xFF}, {0x7F, 0x31, 0x13}},
                       {downloadRequest(0x000FFFF0, 16), {0x74, 0x20, 0x0F, 0xFF}}})},
    };
    runEach(scripts);
}

// The block counter runs 1 to 0xFF, then 0x00 and on.
TEST(UdsServerTest, BlockCounterWraps) {
    UdsServer server = countingServer();
    run(server, {"unlock", kUnlockedForProgramming});
    constexpr uint32_t kBlocks = 258;
    ASSERT_EQ(server.handle(downloadRequest(0, kBlocks), kStart).front().payload,
              (Bytes{0x74, 0x20, 0x0F, 0xFF}));
    for (uint32_t block = 1; block <= kBlocks; ++block) {
        const auto counter = static_cast<uint8_t>(block);
        const auto answers = server.handle(Bytes{0x36, counter, 0x5A}, kStart);
        ASSERT_EQ(answers.front().payload, (Bytes{0x76, counter})) << block;
    }
    EXPECT_EQ(server.handle(Bytes{0x37}, kStart).front().payload, Bytes{0x77});
}

// An erase answers response pending at once and its result kEraseTime later; the memory it
// covers reads erased, so a download over it checks against the new bytes only.
TEST(UdsServerTest, EraseAnswersPendingThenItsResult) {
    UdsServer server = countingServer();
    run(server, {"download", unlockedThen({{downloadRequest(0, 16), {0x74, 0x20, 0x0F, 0xFF}},
                                           {Bytes{0x36, 0x01} + kImage, {0x76, 0x01}},
                                           {{0x37}, {0x77}}})});
    const SimClock::time_point at = kStart + 5s;
    const std::vector<UdsServer::Answer> answers = server.handle(eraseRequest(0, 8), at);
    ASSERT_EQ(answers.size(), 2u);
    EXPECT_EQ(answers[0].payload, (Bytes{0x7F, 0x31, 0x78}));
    EXPECT_EQ(answers[0].due, at);
    EXPECT_EQ(answers[1].payload, (Bytes{0x71, 0x01, 0xFF, 0x00, 0x00}));
    EXPECT_EQ(answers[1].due, at + UdsServer::kEraseTime);

    Bytes erasedImage(8, 0xFF);
    erasedImage.insert(erasedImage.end(), kSecondHalf.begin(), kSecondHalf.end());
    run(server, {"check after erase",
                 {{checkRequest(crc32(erasedImage)), {0x71, 0x01, 0x02, 0x02, 0x00}}}});
}

TEST(UdsCrc32Test, KnownValues) {
    const struct {
        std::string_view text;
        uint32_t crc;
    } cases[] = {{"", 0x00000000}, {"123456789", 0xCBF43926}, {"a", 0xE8B7BE43}};
    for (const auto& c : cases) {
        const Bytes bytes = textOf(c.text);
        EXPECT_EQ(crc32(bytes), c.crc) << c.text;
    }
    // In pieces, the same as in one go.
    const Bytes whole = textOf("123456789");
    const uint32_t head = crc32(std::span(whole).first(4));
    EXPECT_EQ(crc32(std::span(whole).subspan(4), head), 0xCBF43926u);
}

}  // namespace
}  // namespace vtx::sim
