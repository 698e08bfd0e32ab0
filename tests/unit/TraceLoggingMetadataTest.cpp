#include "trace/TraceLoggingMetadata.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vtx::trace {
namespace {

using namespace std::string_view_literals;

std::string_view asText(const std::vector<uint8_t>& bytes, std::size_t size) {
    return std::string_view(reinterpret_cast<const char*>(bytes.data()), size);
}

std::string metadataOf(const TraceEvent& event) {
    std::vector<uint8_t> out(eventMetadataSize(event) + 16, 0xAA);
    const std::size_t size = encodeEventMetadata(event, out);
    EXPECT_EQ(size, eventMetadataSize(event));
    return std::string(asText(out, size));
}

std::string dataOf(const TraceEvent& event, std::vector<uint32_t>* ends = nullptr) {
    std::vector<uint8_t> out(eventDataSize(event) + 16, 0xAA);
    std::vector<uint32_t> valueEnds(eventValueCount(event));
    const std::size_t size = encodeEventData(event, out, valueEnds);
    EXPECT_EQ(size, eventDataSize(event));
    if (ends != nullptr) {
        *ends = valueEnds;
    }
    return std::string(asText(out, size));
}

const TraceField kConnectFields[] = {u32("devID", 1), hex("flags", 0x900), i32("chID", -2),
                                     ansi("fw", "V1")};
const TraceField kTransferFields[] = {u32("t", 3)};

struct Case {
    const char* label;
    TraceEvent event;
    std::string_view metadata;
    std::string_view data;
    std::vector<uint32_t> valueEnds;
};

TraceEvent makeEvent(std::string_view name, std::string_view message,
                     std::span<const TraceField> fields, bool hasCounter, uint32_t counter,
                     uint32_t thread) {
    TraceEvent event;
    event.name = name;
    event.message = message;
    event.fields = fields;
    event.hasCounter = hasCounter;
    event.counter = counter;
    event.thread = thread;
    return event;
}

// Expected bytes written out by hand: size (little-endian, including itself), tag byte, event
// name, then per field its name and in-type (2 text, 7 signed, 8 unsigned, 20 hexadecimal). The
// messages are samples of the lengths of real ones; the encoding does not depend on the text.
const Case kCases[] = {
    {"entry point, no named fields",
     makeEvent("DllMain", "sample entry message", {}, true, 0, 0x1234),
     "\x2B\x00"
     "\x00"
     "DllMain\0"
     "\"sample entry message\"\0\x02"
     "C=\0\x08"
     "T=\0\x08"sv,
     "sample entry message\0"
     "\x00\x00\x00\x00"
     "\x34\x12\x00\x00"sv,
     {21, 25, 29}},
    {"every field type",
     makeEvent("PassThru", "m() -0-", kConnectFields, true, 7, 0x01020304),
     "\x3B\x00"
     "\x00"
     "PassThru\0"
     "\"m() -0-\"\0\x02"
     "devID=\0\x08"
     "flags=\0\x14"
     "chID=\0\x07"
     "fw=\0\x02"
     "C=\0\x08"
     "T=\0\x08"sv,
     "m() -0-\0"
     "\x01\x00\x00\x00"
     "\x00\x09\x00\x00"
     "\xFE\xFF\xFF\xFF"
     "V1\0"
     "\x07\x00\x00\x00"
     "\x04\x03\x02\x01"sv,
     {8, 12, 16, 20, 23, 27, 31}},
    {"transfer event without counter",
     makeEvent("USBInterface", "the sample transfer message", kTransferFields, false, 99, 9),
     "\x37\x00"
     "\x00"
     "USBInterface\0"
     "\"the sample transfer message\"\0\x02"
     "t=\0\x08"
     "T=\0\x08"sv,
     "the sample transfer message\0"
     "\x03\x00\x00\x00"
     "\x09\x00\x00\x00"sv,
     {28, 32, 36}},
};

TEST(TraceLoggingMetadata, EncodesEventsByteForByte) {
    for (const Case& c : kCases) {
        EXPECT_EQ(metadataOf(c.event), c.metadata) << c.label;
        std::vector<uint32_t> ends;
        EXPECT_EQ(dataOf(c.event, &ends), c.data) << c.label;
        EXPECT_EQ(ends, c.valueEnds) << c.label;
        EXPECT_EQ(eventValueCount(c.event), c.valueEnds.size()) << c.label;
    }
}

TEST(TraceLoggingMetadata, ProviderTraitsCarryTheName) {
    std::vector<uint8_t> out(32, 0xAA);
    const std::size_t size = encodeProviderTraits("vtxpts32.dll", out);
    EXPECT_EQ(size, providerTraitsSize("vtxpts32.dll"));
    EXPECT_EQ(asText(out, size), "\x0F\x00vtxpts32.dll\0"sv);
}

TEST(TraceLoggingMetadata, InTypesOfTheFieldTypes) {
    EXPECT_EQ(inTypeOf(FieldType::U32), 8);
    EXPECT_EQ(inTypeOf(FieldType::I32), 7);
    EXPECT_EQ(inTypeOf(FieldType::Hex32), 20);
    EXPECT_EQ(inTypeOf(FieldType::Ansi), 2);
}

// A zero inside a text would end it early for every decoder and shift every later field: the
// text ends at its first zero everywhere.
TEST(TraceLoggingMetadata, TextsEndAtTheirFirstZero) {
    const TraceField fields[] = {ansi("x\0y"sv, "p\0q"sv)};
    const TraceEvent event = makeEvent("Chan\0nel"sv, "ab\0cd"sv, fields, false, 0, 5);
    EXPECT_EQ(metadataOf(event),
              "\x16\x00"
              "\x00"
              "Chan\0"
              "\"ab\"\0\x02"
              "x=\0\x02"
              "T=\0\x08"sv);
    EXPECT_EQ(dataOf(event),
              "ab\0"
              "p\0"
              "\x05\x00\x00\x00"sv);
}

TEST(TraceLoggingMetadata, RefusesABufferTooSmall) {
    const TraceEvent& event = kCases[1].event;
    std::vector<uint8_t> metadata(eventMetadataSize(event) - 1, 0xAA);
    EXPECT_EQ(encodeEventMetadata(event, metadata), 0u);
    EXPECT_EQ(metadata, std::vector<uint8_t>(metadata.size(), 0xAA));

    std::vector<uint8_t> data(eventDataSize(event) - 1, 0xAA);
    std::vector<uint32_t> ends(eventValueCount(event));
    EXPECT_EQ(encodeEventData(event, data, ends), 0u);
    EXPECT_EQ(data, std::vector<uint8_t>(data.size(), 0xAA));

    std::vector<uint8_t> enoughData(eventDataSize(event));
    std::vector<uint32_t> tooFewEnds(eventValueCount(event) - 1);
    EXPECT_EQ(encodeEventData(event, enoughData, tooFewEnds), 0u);

    std::vector<uint8_t> traits(providerTraitsSize("vtxpts32.dll") - 1);
    EXPECT_EQ(encodeProviderTraits("vtxpts32.dll", traits), 0u);
}

// The metadata size is a 16-bit field: 0xFFFF bytes is the most an event can describe, and a
// larger event is refused rather than written with a wrapped size.
TEST(TraceLoggingMetadata, MetadataSizeNeverWraps) {
    // DllMain with the counter: 23 bytes besides the message text.
    const std::string longest(0xFFFF - 23, 'm');
    const std::string tooLong(longest.size() + 1, 'm');
    std::vector<uint8_t> out(0x10000 + 64, 0xAA);

    const TraceEvent fits = makeEvent("DllMain", longest, {}, true, 0, 0);
    ASSERT_EQ(eventMetadataSize(fits), 0xFFFFu);
    EXPECT_EQ(encodeEventMetadata(fits, out), 0xFFFFu);
    EXPECT_EQ(out[0], 0xFF);
    EXPECT_EQ(out[1], 0xFF);

    std::fill(out.begin(), out.end(), 0xAA);
    const TraceEvent refused = makeEvent("DllMain", tooLong, {}, true, 0, 0);
    EXPECT_EQ(eventMetadataSize(refused), 0x10000u);
    EXPECT_EQ(encodeEventMetadata(refused, out), 0u);
    EXPECT_EQ(out[0], 0xAA);
    EXPECT_EQ(out[1], 0xAA);
}

TEST(TraceLoggingMetadata, RefusesOversizedDataAndTraits) {
    const std::string huge(0x10000, 'v');
    const TraceField fields[] = {ansi("codProdotto", huge)};
    const TraceEvent event = makeEvent("WinUSBInterface", "m", fields, true, 0, 0);
    std::vector<uint8_t> data(eventDataSize(event) + 16);
    std::vector<uint32_t> ends(eventValueCount(event));
    EXPECT_GT(eventDataSize(event), kMaxBlobSize);
    EXPECT_EQ(encodeEventData(event, data, ends), 0u);

    std::vector<uint8_t> traits(huge.size() + 16);
    EXPECT_EQ(encodeProviderTraits(huge, traits), 0u);
}

// The tracing facility takes 128 data blocks per event, two of them the metadata.
TEST(TraceLoggingMetadata, RefusesMoreValuesThanDataBlocks) {
    const std::vector<TraceField> mostFields(kMaxEventValues - 3, u32("n", 0));
    const std::vector<TraceField> tooManyFields(kMaxEventValues - 2, u32("n", 0));
    std::vector<uint8_t> data(4096);
    std::vector<uint32_t> ends(256);

    const TraceEvent most = makeEvent("Channel", "m", mostFields, true, 0, 0);
    EXPECT_EQ(eventValueCount(most), kMaxEventValues);
    EXPECT_EQ(encodeEventData(most, data, ends), eventDataSize(most));

    const TraceEvent tooMany = makeEvent("Channel", "m", tooManyFields, true, 0, 0);
    EXPECT_EQ(eventValueCount(tooMany), kMaxEventValues + 1);
    EXPECT_EQ(encodeEventData(tooMany, data, ends), 0u);
}

}  // namespace
}  // namespace vtx::trace
