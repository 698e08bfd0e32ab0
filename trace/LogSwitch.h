#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace vtx::trace {

// The log switch as text (the POSIX environment variable): decimal or 0x-prefixed hexadecimal,
// a 32-bit unsigned value. Anything else is unreadable: nullopt, and logging stays off.
std::optional<uint32_t> parseLogSwitch(std::string_view text);

// A session level as text: decimal 0 to 255; anything else gives fallback.
uint8_t parseSessionLevel(std::string_view text, uint8_t fallback);

}  // namespace vtx::trace
