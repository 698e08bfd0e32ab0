#include "trace/TraceLoggingMetadata.h"

#include <algorithm>

namespace vtx::trace {

namespace {

constexpr uint8_t kNoTags = 0;
constexpr std::string_view kCounterName = "C=";
constexpr std::string_view kThreadName = "T=";
constexpr std::size_t kSizeField = 2;
constexpr std::size_t kNumberSize = 4;

// The part of a text that a zero-terminated layout can carry.
std::string_view untilZero(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

// Sequential writer into a buffer whose size the caller has checked beforehand.
class Cursor {
  public:
    explicit Cursor(uint8_t* at) : at_(at) {}

    void byte(uint8_t value) { *at_++ = value; }
    void text(std::string_view value) { at_ = std::copy(value.begin(), value.end(), at_); }
    void zeroTerminated(std::string_view value) {
        text(untilZero(value));
        byte(0);
    }
    void u16(std::size_t value) {
        byte(static_cast<uint8_t>(value & 0xFF));
        byte(static_cast<uint8_t>((value >> 8) & 0xFF));
    }
    void u32(uint32_t value) {
        for (int shift = 0; shift < 32; shift += 8) {
            byte(static_cast<uint8_t>(value >> shift));
        }
    }
    uint8_t* position() const { return at_; }

  private:
    uint8_t* at_;
};

bool fits(std::size_t size, std::span<uint8_t> out) {
    return size <= kMaxBlobSize && size <= out.size();
}

// Field names on the wire: the message in double quotes, the others followed by '='.
std::size_t messageNameSize(std::string_view message) {
    return untilZero(message).size() + 3;  // two quotes and the zero
}
std::size_t fieldNameSize(std::string_view name) {
    return untilZero(name).size() + 2;  // '=' and the zero
}

std::size_t valueSize(const TraceField& field) {
    return field.type == FieldType::Ansi ? untilZero(field.text).size() + 1 : kNumberSize;
}

}  // namespace

uint8_t inTypeOf(FieldType type) {
    switch (type) {
        case FieldType::U32:
            return kInUInt32;
        case FieldType::Hex32:
            return kInHexInt32;
        case FieldType::I32:
            return kInInt32;
        case FieldType::Ansi:
            return kInAnsiString;
    }
    return kInUInt32;
}

std::size_t providerTraitsSize(std::string_view providerName) {
    return kSizeField + untilZero(providerName).size() + 1;
}

std::size_t encodeProviderTraits(std::string_view providerName, std::span<uint8_t> out) {
    const std::size_t size = providerTraitsSize(providerName);
    if (!fits(size, out)) {
        return 0;
    }
    Cursor cursor(out.data());
    cursor.u16(size);
    cursor.zeroTerminated(providerName);
    return size;
}

std::size_t eventMetadataSize(const TraceEvent& event) {
    std::size_t size = kSizeField + 1 + untilZero(event.name).size() + 1;
    size += messageNameSize(event.message) + 1;
    for (const TraceField& field : event.fields) {
        size += fieldNameSize(field.name) + 1;
    }
    if (event.hasCounter) {
        size += kCounterName.size() + 2;
    }
    return size + kThreadName.size() + 2;
}

std::size_t encodeEventMetadata(const TraceEvent& event, std::span<uint8_t> out) {
    const std::size_t size = eventMetadataSize(event);
    if (!fits(size, out)) {
        return 0;
    }
    Cursor cursor(out.data());
    cursor.u16(size);
    cursor.byte(kNoTags);
    cursor.zeroTerminated(event.name);

    cursor.byte('"');
    cursor.text(untilZero(event.message));
    cursor.byte('"');
    cursor.byte(0);
    cursor.byte(kInAnsiString);
    for (const TraceField& field : event.fields) {
        cursor.text(untilZero(field.name));
        cursor.byte('=');
        cursor.byte(0);
        cursor.byte(inTypeOf(field.type));
    }
    if (event.hasCounter) {
        cursor.zeroTerminated(kCounterName);
        cursor.byte(kInUInt32);
    }
    cursor.zeroTerminated(kThreadName);
    cursor.byte(kInUInt32);
    return size;
}

std::size_t eventValueCount(const TraceEvent& event) {
    return 1 + event.fields.size() + (event.hasCounter ? 1 : 0) + 1;
}

std::size_t eventDataSize(const TraceEvent& event) {
    std::size_t size = untilZero(event.message).size() + 1;
    for (const TraceField& field : event.fields) {
        size += valueSize(field);
    }
    if (event.hasCounter) {
        size += kNumberSize;
    }
    return size + kNumberSize;
}

std::size_t encodeEventData(const TraceEvent& event, std::span<uint8_t> out,
                            std::span<uint32_t> valueEnds) {
    const std::size_t size = eventDataSize(event);
    const std::size_t values = eventValueCount(event);
    if (!fits(size, out) || values > kMaxEventValues || valueEnds.size() < values) {
        return 0;
    }
    Cursor cursor(out.data());
    std::size_t value = 0;
    const auto endValue = [&] {
        valueEnds[value++] = static_cast<uint32_t>(cursor.position() - out.data());
    };
    cursor.zeroTerminated(event.message);
    endValue();
    for (const TraceField& field : event.fields) {
        if (field.type == FieldType::Ansi) {
            cursor.zeroTerminated(field.text);
        } else {
            cursor.u32(field.number);
        }
        endValue();
    }
    if (event.hasCounter) {
        cursor.u32(event.counter);
        endValue();
    }
    cursor.u32(event.thread);
    endValue();
    return size;
}

}  // namespace vtx::trace
