#include "api/ApiLock.h"

#include <mutex>

namespace vtx {

namespace {
// A plain mutex, not a recursive one: a call made from within a call would wait forever, and
// the library makes no callbacks. Uncontended, taking it costs no system call. Its constructor
// is constant, so it is ready before any load code runs.
constinit std::mutex apiLock;
}  // namespace

ApiLockGuard::ApiLockGuard() {
    apiLock.lock();
}

ApiLockGuard::~ApiLockGuard() {
    apiLock.unlock();
}

}  // namespace vtx
