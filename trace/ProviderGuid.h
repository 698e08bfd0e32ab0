// The identifier that Windows event tracing derives from a provider's name, so that a listener
// who knows only the name ("vtxpts32.dll") finds the provider.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace vtx::trace {

// A GUID in its fields; Data1 to Data3 are numbers, Data4 is bytes in order.
struct ProviderGuid {
    uint32_t data1 = 0;
    uint16_t data2 = 0;
    uint16_t data3 = 0;
    std::array<uint8_t, 8> data4{};

    bool operator==(const ProviderGuid&) const = default;
};

// The name-based provider GUID: SHA-1 over the event-tracing name space and the upper-cased
// name in UTF-16 big-endian, the first 16 digest bytes read as a GUID in its little-endian
// layout, version nibble 5. The name is UTF-8 (malformed bytes count as U+FFFD); only the ASCII
// letters a to z are upper-cased, which covers every provider name of this library.
ProviderGuid providerGuidFromName(std::string_view name);

// "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx", lower-case hexadecimal.
std::string formatGuid(const ProviderGuid& guid);

}  // namespace vtx::trace
