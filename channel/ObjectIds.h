#pragma once

#include <cstdint>

namespace vtx {

// Identifiers handed to the caller for channels, filters and periodic messages: 32 bits on every
// platform, never 0, not small consecutive numbers, and never given twice in a process (for
// 2^32 - 1 objects), so a stale identifier never reaches a newer object. The owning lists find
// the object again by its identifier.
uint32_t nextObjectId();

}  // namespace vtx
