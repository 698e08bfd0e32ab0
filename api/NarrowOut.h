// An integer the core writes through a caller's pointer (an ID, a count, a resistor state), held
// in 32 bits for the core and given back to the caller's unsigned long.
#pragma once

#include <cstdint>

#include "api/WideRecords.h"

namespace vtx {

class NarrowOut {
  public:
    // initial: what the core reads first, for a value that goes both ways (a message count).
    explicit NarrowOut(wide::Integer* caller, uint32_t initial = 0)
        : caller_(caller), value_(initial) {}

    // The core's pointer: null where the caller's is, so that the core answers for it.
    uint32_t* get() { return caller_ != nullptr ? &value_ : nullptr; }
    uint32_t value() const { return value_; }
    void giveBack() const {
        if (caller_ != nullptr) {
            *caller_ = value_;
        }
    }

  private:
    wide::Integer* caller_;
    uint32_t value_;
};

}  // namespace vtx
