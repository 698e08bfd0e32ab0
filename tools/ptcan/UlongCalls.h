// The calls of a PassThruLibrary whose library takes the standard header's `unsigned long`
// integers where those are 64 bits: each widens this tree's 32-bit arguments and records for the
// library, and narrows what the library wrote back.
#pragma once

#include "tools/ptcan/PassThruLibrary.h"

namespace ptcan {

// Sets the library's fourteen calls (all but open, which learns the integers) to go through
// the unsigned-long functions among symbols.
void bridgeUnsignedLong(PassThruLibrary& library, const PassThruLibrary::Symbols& symbols);

}  // namespace ptcan
