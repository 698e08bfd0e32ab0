#include "api/ApiLock.h"

#include <semaphore>

namespace vtx {

namespace {
// A semaphore rather than a recursive mutex: a call made from within a call would wait
// forever, and the library makes no callbacks. Only the exported functions use it, never the
// load and unload code, so its construction order against those does not matter.
std::binary_semaphore apiLock{1};
}  // namespace

ApiLockGuard::ApiLockGuard() {
    apiLock.acquire();
}

ApiLockGuard::~ApiLockGuard() {
    apiLock.release();
}

}  // namespace vtx
