#include "trace/ProviderGuid.h"

#include <cstdio>
#include <vector>

#include "trace/Sha1.h"

namespace vtx::trace {

namespace {

constexpr std::array<uint8_t, 16> kNameSpace = {0x48, 0x2C, 0x2D, 0xB2, 0xC3, 0x90, 0x47, 0xC8,
                                                0x87, 0xF8, 0x1A, 0x15, 0xBF, 0xC1, 0x30, 0xFB};
constexpr char32_t kReplacement = 0xFFFD;

// How a UTF-8 sequence starting with a lead byte goes on: its length (0 for a byte that cannot
// start one), the value bits of the lead byte, and the least value it may encode (shorter
// encodings of smaller values are malformed).
struct SequenceShape {
    std::size_t length;
    char32_t leadBits;
    char32_t minimum;
};

SequenceShape shapeOf(uint8_t lead) {
    if ((lead & 0xE0) == 0xC0) {
        return {2, static_cast<char32_t>(lead & 0x1F), 0x80};
    }
    if ((lead & 0xF0) == 0xE0) {
        return {3, static_cast<char32_t>(lead & 0x0F), 0x800};
    }
    if ((lead & 0xF8) == 0xF0) {
        return {4, static_cast<char32_t>(lead & 0x07), 0x10000};
    }
    return {0, 0, 0};
}

// Decodes the UTF-8 sequence at text[pos] and advances pos past it. A malformed sequence
// (bad lead or continuation byte, overlong form, surrogate, beyond U+10FFFF, cut short) yields
// U+FFFD and consumes one byte.
char32_t nextCodePoint(std::string_view text, std::size_t& pos) {
    const auto lead = static_cast<uint8_t>(text[pos]);
    if (lead < 0x80) {
        ++pos;
        return lead;
    }
    const SequenceShape shape = shapeOf(lead);
    if (shape.length == 0 || shape.length > text.size() - pos) {
        ++pos;
        return kReplacement;
    }
    char32_t value = shape.leadBits;
    for (std::size_t i = 1; i < shape.length; ++i) {
        const auto next = static_cast<uint8_t>(text[pos + i]);
        if ((next & 0xC0) != 0x80) {
            ++pos;
            return kReplacement;
        }
        value = (value << 6) | (next & 0x3F);
    }
    if (value < shape.minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        ++pos;
        return kReplacement;
    }
    pos += shape.length;
    return value;
}

void appendUtf16BigEndian(std::vector<uint8_t>& out, char16_t unit) {
    out.push_back(static_cast<uint8_t>(unit >> 8));
    out.push_back(static_cast<uint8_t>(unit & 0xFF));
}

// The name as the hash sees it: upper-cased, UTF-16 big-endian.
std::vector<uint8_t> hashedName(std::string_view name) {
    std::vector<uint8_t> out;
    out.reserve(name.size() * 2);
    for (std::size_t pos = 0; pos < name.size();) {
        char32_t c = nextCodePoint(name, pos);
        if (c >= U'a' && c <= U'z') {
            c -= U'a' - U'A';
        }
        if (c < 0x10000) {
            appendUtf16BigEndian(out, static_cast<char16_t>(c));
        } else {
            c -= 0x10000;
            appendUtf16BigEndian(out, static_cast<char16_t>(0xD800 + (c >> 10)));
            appendUtf16BigEndian(out, static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        }
    }
    return out;
}

}  // namespace

ProviderGuid providerGuidFromName(std::string_view name) {
    Sha1 sha;
    sha.update(kNameSpace);
    sha.update(hashedName(name));
    Sha1::Digest bytes = sha.finish();
    bytes[7] = static_cast<uint8_t>((bytes[7] & 0x0F) | 0x50);

    ProviderGuid guid;
    guid.data1 = static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
                 (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
    guid.data2 = static_cast<uint16_t>(bytes[4] | (bytes[5] << 8));
    guid.data3 = static_cast<uint16_t>(bytes[6] | (bytes[7] << 8));
    for (std::size_t i = 0; i < guid.data4.size(); ++i) {
        guid.data4[i] = bytes[8 + i];
    }
    return guid;
}

std::string formatGuid(const ProviderGuid& guid) {
    char text[37];
    const auto& d = guid.data4;
    std::snprintf(text, sizeof text, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                  static_cast<unsigned>(guid.data1), static_cast<unsigned>(guid.data2),
                  static_cast<unsigned>(guid.data3), d[0], d[1], d[2], d[3], d[4], d[5], d[6],
                  d[7]);
    return text;
}

}  // namespace vtx::trace
