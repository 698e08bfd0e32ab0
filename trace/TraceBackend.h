#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>

#include "trace/TraceEvent.h"

namespace vtx::trace {

// The tracing facility of a platform: Windows event tracing, or the JSON-lines session on
// POSIX. The provider asks it to register, keeps the enabled level it reports, and hands it
// every event that passed the provider's tests.
class TraceBackend {
  public:
    virtual ~TraceBackend() = default;

    // Registers the named provider. While registered, the backend keeps enabledLevel at the
    // highest level a listening session has enabled (0: nobody listens). False when the
    // facility refuses; the provider then stays unregistered.
    virtual bool registerProvider(std::string_view name, std::atomic<uint8_t>& enabledLevel) = 0;

    // Ends the registration: the level goes back to 0 and later writes are dropped. Safe while
    // another thread is inside write().
    virtual void unregisterProvider() = 0;

    // Writes one event; a failure is ignored. Called from any thread.
    virtual void write(const TraceEvent& event) = 0;
};

}  // namespace vtx::trace
