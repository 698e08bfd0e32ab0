// The integer arguments of one call through the unsigned-long exports, narrowed to the core's 32
// bits. A value that does not fit is never cut short: the first one refuses the call, with the
// status that belongs to that argument and a text that names it.
#pragma once

#include <cstdint>

#include "api/WideRecords.h"
#include "base/ErrorTexts.h"
#include "base/J2534.h"

namespace vtx {

class NarrowCall {
  public:
    // The value, or 0 after recording the refusal when it does not fit.
    uint32_t value(wide::Integer value, uint32_t statusWhenTooWide, const char* argument);
    // A bound (a timeout) that does not fit is held at the largest 32-bit value: the longest
    // the library can wait, which is the caller's meaning too.
    static uint32_t bound(wide::Integer value);

    bool refused() const { return status_ != STATUS_NOERROR; }
    uint32_t status() const { return status_; }
    const char* text() const { return text_; }

  private:
    uint32_t status_ = STATUS_NOERROR;
    char text_[kErrorTextSize] = {};
};

}  // namespace vtx
