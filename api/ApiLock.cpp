#include "api/ApiLock.h"

#include <mutex>

namespace vtx {

namespace {
// A plain mutex, not a recursive one: a call made from within a call would wait forever, and
// the library makes no callbacks. Uncontended, taking it costs no system call. Only the exported
// functions use it, never the load and unload code, so its construction order against those
// does not matter (with Windows threads its constructor is not a constant one).
std::mutex apiLock;
}  // namespace

ApiLockGuard::ApiLockGuard() {
    apiLock.lock();
}

ApiLockGuard::~ApiLockGuard() {
    apiLock.unlock();
}

}  // namespace vtx
