// What one trace event carries: the writing class as its name, the message, the typed named
// fields in catalogue order, the level and keyword it is written at, and the trailing counter
// (C=) and thread identity (T=). The layout matches what a self-describing event needs.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace vtx::trace {

inline constexpr uint8_t kLevelVerbose = 5;

enum class FieldType : uint8_t {
    U32,    // unsigned 32-bit, decimal
    Hex32,  // unsigned 32-bit, shown as hexadecimal
    I32,    // signed 32-bit
    Ansi,   // 8-bit zero-terminated text
};

// One named field. Names are given without the trailing '=' that they carry on the wire.
struct TraceField {
    std::string_view name;
    FieldType type;
    uint32_t number;        // U32, Hex32, I32 (two's complement)
    std::string_view text;  // Ansi
};

constexpr TraceField u32(std::string_view name, uint32_t value) {
    return {name, FieldType::U32, value, {}};
}
constexpr TraceField hex(std::string_view name, uint32_t value) {
    return {name, FieldType::Hex32, value, {}};
}
constexpr TraceField i32(std::string_view name, int32_t value) {
    return {name, FieldType::I32, static_cast<uint32_t>(value), {}};
}
constexpr TraceField ansi(std::string_view name, std::string_view value) {
    return {name, FieldType::Ansi, 0, value};
}

struct TraceEvent {
    std::string_view name;     // the writing class: PassThru, Channel, DllMain, ...
    std::string_view message;  // "****passThruOpen()**** -S-", "run() -0-", ...
    std::span<const TraceField> fields;
    uint8_t level = kLevelVerbose;
    uint64_t keyword = 0;
    bool hasCounter = true;
    uint32_t counter = 0;  // C=, when hasCounter
    uint32_t thread = 0;   // T=
};

}  // namespace vtx::trace
