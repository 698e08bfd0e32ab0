#pragma once

#include <cstdint>
#include <new>

#include "api/Library.h"
#include "base/ErrorTexts.h"
#include "base/J2534.h"
#include "operations/PassThru.h"

namespace vtx {

// Runs one J2534 call against the library's PassThru object and returns its status. The
// operation orders itself against the others (PassThru's call lock), so calls from different
// threads wait only for what they need. No exception leaves it: one that escapes the operation
// ends the call with ERR_FAILED.
template <typename Operation>
uint32_t callOperation(Operation&& operation) {
    PassThru* passThru = Library::passThru();
    if (passThru == nullptr) {
        // Only when the object could not be created at load; Windows refuses such a load.
        return ERR_FAILED;
    }
    try {
        return operation(*passThru);
    } catch (const std::bad_alloc&) {
        return passThru->failOperation(text::kOutOfMemory);
    } catch (...) {
        return passThru->failOperation(text::kInternalError);
    }
}

}  // namespace vtx
