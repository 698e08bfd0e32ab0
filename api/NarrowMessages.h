// The caller's messages, as the unsigned-long exports take them, in the core's 32-bit records:
// copied in before a call (writes, filters, periodic messages). Reads need no copy of their own
// (InPlaceWidening).
#pragma once

#include <cstddef>
#include <memory>

#include "api/NarrowCall.h"
#include "api/WideRecords.h"
#include "base/J2534.h"

namespace vtx {

class NarrowMessages {
  public:
    // Room for count messages, their contents undefined until taken or written by the core.
    explicit NarrowMessages(std::size_t count);

    PASSTHRU_MSG* data() { return messages_.get(); }

    // Copies the caller's messages in; a field that does not fit refuses the call
    // (ERR_INVALID_MSG). Only the bytes each message's DataSize covers are copied.
    void takeFrom(const wide::Message* caller, NarrowCall& call);
    // Copies one message in, all of its data (for a filter's or periodic message, whose bytes
    // past DataSize the core may look at), and returns it; null where the caller's is.
    PASSTHRU_MSG* takeOne(std::size_t index, const wide::Message* caller, NarrowCall& call);

  private:
    std::size_t count_;
    std::unique_ptr<PASSTHRU_MSG[]> messages_;
};

}  // namespace vtx
