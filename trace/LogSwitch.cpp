#include "trace/LogSwitch.h"

#include <charconv>

namespace vtx::trace {

namespace {
template <typename T>
std::optional<T> parseWhole(std::string_view text, int base) {
    T value{};
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value, base);
    if (text.empty() || ec != std::errc{} || ptr != end) {
        return std::nullopt;
    }
    return value;
}
}  // namespace

std::optional<uint32_t> parseLogSwitch(std::string_view text) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        return parseWhole<uint32_t>(text.substr(2), 16);
    }
    return parseWhole<uint32_t>(text, 10);
}

uint8_t parseSessionLevel(std::string_view text, uint8_t fallback) {
    return parseWhole<uint8_t>(text, 10).value_or(fallback);
}

}  // namespace vtx::trace
