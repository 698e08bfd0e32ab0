// The trace provider's back end on Windows: event tracing (ETW) with self-describing
// (TraceLogging) events, so that any listener decodes them without a manifest.
#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>
#include <vector>

#include "trace/TraceBackend.h"

namespace vtx::platform {

class EtwTraceBackend final : public trace::TraceBackend {
  public:
    EtwTraceBackend() = default;
    // Unregisters if still registered.
    ~EtwTraceBackend() override;
    EtwTraceBackend(const EtwTraceBackend&) = delete;
    EtwTraceBackend& operator=(const EtwTraceBackend&) = delete;

    // Registers the provider under its name-based GUID, then announces its name as the
    // provider's traits. The enable notifications of the tracing facility may arrive from
    // inside the registration, before it returns. One registration per object: false when
    // called again.
    bool registerProvider(std::string_view name, std::atomic<uint8_t>& enabledLevel) override;
    void unregisterProvider() override;
    void write(const trace::TraceEvent& event) override;

    // What an enable notification of the tracing facility does to the provider's level: enable
    // sets the level the listening sessions asked for (0 meaning every level, so 255),
    // disable sets 0, any other control code changes nothing. Ignored outside registration
    // (from the start of registerProvider to the start of unregisterProvider). Called by the
    // enable callback on a thread of the facility.
    void applyControl(uint32_t controlCode, uint8_t level);

    bool registered() const { return handle_.load() != 0; }

  private:
    void writeEncoded(uint64_t handle, const trace::TraceEvent& event);
    // Waits, within a bound, until no write and no enable notification is in progress.
    void waitUntilIdle() const;

    // The provider traits blob: set before the handle is published, cleared only after
    // unregistration has waited for the writes in progress; read by write() meanwhile.
    std::vector<uint8_t> traits_;
    // The registration handle, 0 while not registered. write() takes it once per event.
    std::atomic<uint64_t> handle_{0};
    // The provider's enabled level, which enable notifications set: set before registration,
    // cleared before unregistration.
    std::atomic<std::atomic<uint8_t>*> enabledLevel_{nullptr};
    // Writes and enable notifications in progress; unregistration waits for them to leave
    // before it lets the registration and the level go.
    mutable std::atomic<uint32_t> busy_{0};
};

}  // namespace vtx::platform
