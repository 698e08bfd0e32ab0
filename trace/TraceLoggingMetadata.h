// The self-describing ("TraceLogging") layout of trace events: the provider traits that carry
// the provider's name, each event's metadata that names the event and its fields with their
// types, and the field values as the event's payload. Pure encoding, no system calls.
//
// Provider traits:  UINT16 size (including itself), provider name, 0.
// Event metadata:   UINT16 size (including itself), tag byte 0, event name, 0,
//                   then per field: field name, 0, in-type byte.
// Event data:       per field: 4 bytes little-endian for numbers, the text and a 0 for strings.
//
// The fields of an event, in order: the message (named by its text in double quotes, its
// value the text itself), the catalogue fields ("chID="), "C=" when the event takes the
// counter, "T=". Texts end at their first zero byte, since the layout is zero-terminated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "trace/TraceEvent.h"

namespace vtx::trace {

// In-types: how a field's value is laid out and shown.
inline constexpr uint8_t kInAnsiString = 2;  // 8-bit text, zero-terminated
inline constexpr uint8_t kInInt32 = 7;
inline constexpr uint8_t kInUInt32 = 8;
inline constexpr uint8_t kInHexInt32 = 20;  // unsigned 32-bit, shown as hexadecimal

// The largest blob: metadata carry their size in 16 bits, and the tracing facility takes no
// event larger than 64 KB.
inline constexpr std::size_t kMaxBlobSize = 0xFFFF;
// The tracing facility takes at most 128 data blocks per event; two carry the metadata, so an
// event carries at most 126 values.
inline constexpr std::size_t kMaxEventValues = 126;

uint8_t inTypeOf(FieldType type);

// Each encoder writes its blob to out and returns its size in bytes; it returns 0 and leaves
// the blob unwritten when the blob exceeds kMaxBlobSize or out is too small. No blob is empty.
std::size_t providerTraitsSize(std::string_view providerName);
std::size_t encodeProviderTraits(std::string_view providerName, std::span<uint8_t> out);

std::size_t eventMetadataSize(const TraceEvent& event);
std::size_t encodeEventMetadata(const TraceEvent& event, std::span<uint8_t> out);

// The number of values (message, fields, C=, T=) and the size of their payload.
std::size_t eventValueCount(const TraceEvent& event);
std::size_t eventDataSize(const TraceEvent& event);
// Also stores where each value ends in the payload (valueEnds[i] = offset just past value i);
// 0 as well when valueEnds holds fewer than eventValueCount(event) entries or the event has
// more than kMaxEventValues values.
std::size_t encodeEventData(const TraceEvent& event, std::span<uint8_t> out,
                            std::span<uint32_t> valueEnds);

}  // namespace vtx::trace
