// The text forms of frames on the command line and in logs: `123#DEADBEEF` (11-bit),
// `1ABCDEF0#00` (29-bit: the identifier has more than three hex digits), `ID:MASK` filters and
// hex payloads such as `22 F1 90` or `22F190`.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/ptcan/Frame.h"

namespace ptcan {

class FrameText {
  public:
    // `ID#DATA`: up to 8 data bytes, two hex digits each, optionally separated by dots.
    static std::optional<Frame> parse(std::string_view text);
    // Upper-case hex, the identifier as 3 digits (11-bit) or 8 (29-bit).
    static std::string format(const Frame& frame);

    // A hex identifier; 29-bit when it has more than 3 digits or when forced.
    struct Id {
        uint32_t value = 0;
        bool extended = false;
    };
    static std::optional<Id> parseId(std::string_view text, bool forceExtended = false);

    // `ID:MASK`, both hex; the identifier's digits (or forceExtended) give the width.
    static std::optional<PassFilter> parseFilter(std::string_view text, bool forceExtended);

    // Hex bytes: the arguments are joined, spaces and dots ignored; an odd digit count fails.
    static std::optional<std::vector<uint8_t>> parseHex(const std::vector<std::string>& parts);
    // Bytes as upper-case hex pairs separated by spaces.
    static std::string formatHex(const std::vector<uint8_t>& bytes);
};

}  // namespace ptcan
