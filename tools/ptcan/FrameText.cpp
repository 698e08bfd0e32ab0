#include "tools/ptcan/FrameText.h"

#include <cstdio>

namespace ptcan {

namespace {
constexpr std::size_t kMaxStandardDigits = 3;
constexpr std::size_t kMaxExtendedDigits = 8;
constexpr uint32_t kMaxStandardId = 0x7FF;
constexpr uint32_t kMaxExtendedId = 0x1FFFFFFF;
constexpr std::size_t kMaxDataBytes = 8;

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Whole hex string as a number of at most 8 digits.
std::optional<uint32_t> hexNumber(std::string_view text) {
    if (text.empty() || text.size() > kMaxExtendedDigits) {
        return std::nullopt;
    }
    uint32_t value = 0;
    for (const char c : text) {
        const int digit = hexDigit(c);
        if (digit < 0) {
            return std::nullopt;
        }
        value = (value << 4) | static_cast<uint32_t>(digit);
    }
    return value;
}

// Pairs of hex digits; separators (dots, spaces) are skipped between whole bytes only.
std::optional<std::vector<uint8_t>> hexBytes(std::string_view text, std::string_view separators) {
    std::vector<uint8_t> bytes;
    std::size_t i = 0;
    while (i < text.size()) {
        if (separators.find(text[i]) != std::string_view::npos) {
            ++i;
            continue;
        }
        if (i + 1 >= text.size()) {
            return std::nullopt;
        }
        const int high = hexDigit(text[i]);
        const int low = hexDigit(text[i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<uint8_t>((high << 4) | low));
        i += 2;
    }
    return bytes;
}
}  // namespace

std::optional<FrameText::Id> FrameText::parseId(std::string_view text, bool forceExtended) {
    const std::optional<uint32_t> value = hexNumber(text);
    if (!value) {
        return std::nullopt;
    }
    const bool extended = forceExtended || text.size() > kMaxStandardDigits;
    if (*value > (extended ? kMaxExtendedId : kMaxStandardId)) {
        return std::nullopt;
    }
    return Id{*value, extended};
}

std::optional<Frame> FrameText::parse(std::string_view text) {
    const std::size_t hash = text.find('#');
    if (hash == std::string_view::npos) {
        return std::nullopt;
    }
    const std::optional<Id> id = parseId(text.substr(0, hash));
    std::optional<std::vector<uint8_t>> data = hexBytes(text.substr(hash + 1), ".");
    if (!id || !data || data->size() > kMaxDataBytes) {
        return std::nullopt;
    }
    return Frame{id->value, id->extended, std::move(*data)};
}

std::string FrameText::format(const Frame& frame) {
    char id[16];
    std::snprintf(id, sizeof id, frame.extended ? "%08X#" : "%03X#", frame.id);
    std::string text(id);
    for (const uint8_t byte : frame.data) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02X", byte);
        text += pair;
    }
    return text;
}

std::optional<PassFilter> FrameText::parseFilter(std::string_view text, bool forceExtended) {
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) {
        return std::nullopt;
    }
    const std::optional<Id> id = parseId(text.substr(0, colon), forceExtended);
    const std::optional<uint32_t> mask = hexNumber(text.substr(colon + 1));
    if (!id || !mask) {
        return std::nullopt;
    }
    return PassFilter{id->value, *mask, id->extended};
}

std::optional<std::vector<uint8_t>> FrameText::parseHex(const std::vector<std::string>& parts) {
    std::string joined;
    for (const std::string& part : parts) {
        joined += part;
        joined += ' ';
    }
    return hexBytes(joined, " .");
}

std::string FrameText::formatHex(const std::vector<uint8_t>& bytes) {
    std::string text;
    for (const uint8_t byte : bytes) {
        char pair[4];
        std::snprintf(pair, sizeof pair, text.empty() ? "%02X" : " %02X", byte);
        text += pair;
    }
    return text;
}

}  // namespace ptcan
