#include "trace/ProviderGuid.h"

#include <gtest/gtest.h>

namespace vtx::trace {
namespace {

struct NamedProvider {
    std::string_view name;
    const char* guid;
};

// Published identifiers of named providers: "System.Runtime" and
// "Microsoft-Windows-DotNETRuntime" are the .NET runtime's event sources, whose identifiers are
// derived from their names; "MyProvider" is the example of the TraceLogging documentation.
// The others were computed independently (Python's hashlib over the name space and the
// upper-cased UTF-16BE name).
const NamedProvider kProviders[] = {
    {"System.Runtime", "49592c0f-5a05-516d-aa4b-a64e02026c89"},
    {"Microsoft-Windows-DotNETRuntime", "5e5bb766-bbfc-5662-0548-1d44fad9bb56"},
    {"MyProvider", "b3864c38-4273-58c5-545b-8b3608343471"},
    {"vtxpts32.dll", "82c5cc4b-3b9c-5e2c-b69a-a5a3ea5dfba0"},
    {"VTXPTS32.DLL", "82c5cc4b-3b9c-5e2c-b69a-a5a3ea5dfba0"},
    {"", "4445ee6c-fd5a-5b15-047a-5866ffa76aa6"},
    // UTF-8 names: three-byte characters, a character beyond the 16-bit plane (a surrogate
    // pair in UTF-16), and a byte that is no UTF-8 at all (U+FFFD).
    {"\xE6\xB8\xA9\xE5\xBA\xA6.Provider", "5690870c-38e1-53a8-a1be-98b29928ad8d"},
    {"Trace\xF0\x9F\x98\x80", "af61974f-3af6-5dd0-57f4-e70d3453a87c"},
    {"A\xFF"
     "b",
     "3c2c2f27-4985-5f73-2ba1-51e8f486ac1e"},
};

TEST(ProviderGuid, MatchesPublishedAndComputedIdentifiers) {
    for (const NamedProvider& provider : kProviders) {
        EXPECT_EQ(formatGuid(providerGuidFromName(provider.name)), provider.guid) << provider.name;
    }
}

TEST(ProviderGuid, FieldsReadTheDigestLittleEndian) {
    const ProviderGuid guid = providerGuidFromName("System.Runtime");
    EXPECT_EQ(guid.data1, 0x49592C0Fu);
    EXPECT_EQ(guid.data2, 0x5A05u);
    EXPECT_EQ(guid.data3, 0x516Du);
    const std::array<uint8_t, 8> data4 = {0xAA, 0x4B, 0xA6, 0x4E, 0x02, 0x02, 0x6C, 0x89};
    EXPECT_EQ(guid.data4, data4);
}

TEST(ProviderGuid, FormatKeepsLeadingZeros) {
    ProviderGuid guid;
    guid.data1 = 0x0000000A;
    guid.data2 = 0x000B;
    guid.data3 = 0x500C;
    guid.data4 = {0x00, 0x0D, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0E};
    EXPECT_EQ(formatGuid(guid), "0000000a-000b-500c-000d-00000000000e");
}

}  // namespace
}  // namespace vtx::trace
