// Messages the core read into the caller's own buffer of unsigned-long messages, in its 32-bit
// layout, moved into the caller's layout where they lie: a read through the unsigned-long exports
// needs no room of its own, whatever count the caller gives.
#pragma once

#include <cstddef>

#include "api/WideRecords.h"
#include "base/J2534.h"

namespace vtx {

// The caller's buffer seen as the core's messages: count of them fit, each being 24 bytes
// shorter than the caller's.
PASSTHRU_MSG* narrowView(wide::Message* caller);

// Moves the first count 32-bit messages of narrowView(caller) into the caller's layout, from the
// last to the first: message i of the caller's layout begins at or after the end of 32-bit
// message i - 1, so no message is overwritten before it has moved.
void widenInPlace(wide::Message* caller, std::size_t count);

}  // namespace vtx
