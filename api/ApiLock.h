#pragma once

#include <cstdint>
#include <new>

#include "api/Library.h"
#include "base/ErrorTexts.h"
#include "base/J2534.h"
#include "operations/PassThru.h"

namespace vtx {

// Holds the process-wide J2534 API lock, a mutex waited for as long as it takes. Every exported
// function holds it for the whole of its call, waits inside included.
class ApiLockGuard {
  public:
    ApiLockGuard();
    ~ApiLockGuard();
    ApiLockGuard(const ApiLockGuard&) = delete;
    ApiLockGuard& operator=(const ApiLockGuard&) = delete;
};

// Runs one J2534 call under the API lock against the library's PassThru object and returns its
// status. No exception leaves it: one that escapes the operation ends the call with ERR_FAILED.
template <typename Operation>
uint32_t callLocked(Operation&& operation) {
    const ApiLockGuard lock;
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
