// The library's trace provider "vtxpts32.dll": the log switch read at load, registration with
// the platform's tracing facility, the group and level tests, the shared event counter.
#pragma once

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string_view>

#include "trace/TraceBackend.h"
#include "trace/TraceEvent.h"

namespace vtx::trace {

inline constexpr char kProviderName[] = "vtxpts32.dll";

// Which bit of the log switch admits an event. PassThru events belong to no group; entry-point
// events need only a non-zero switch.
enum class Group : uint32_t {
    PassThru = 0,
    EntryPoint = 0x100,  // outside the low byte: never a switch bit
    CommAndChannel = 0x01,
    DriverDetection = 0x08,
    WinUsb = 0x10,
    KernelUsb = 0x20,
};

enum class Counter : uint8_t { Take, None };

class TraceProvider {
  public:
    constexpr TraceProvider() = default;
    ~TraceProvider() = default;
    TraceProvider(const TraceProvider&) = delete;
    TraceProvider& operator=(const TraceProvider&) = delete;

    // The provider of this library, one per process.
    static TraceProvider& instance();

    // Where the T= field of an event comes from: the calling thread's identity.
    using ThreadIdSource = uint32_t (*)();

    // At process attach, with the log switch (nullopt: key or value missing) and the platform's
    // backend: registers when the switch is on. Events carry the thread identity that
    // threadId gives (none: 0).
    void start(std::optional<uint32_t> logSwitch, std::unique_ptr<TraceBackend> backend,
               ThreadIdSource threadId = nullptr);
    // At process detach: unregisters; nothing is written afterwards. The backend object stays
    // allocated until releaseBackend(), so a thread still inside write() cannot outlive it.
    void termTrace();
    // After every thread of the library has ended.
    void releaseBackend();

    // Group test, then level test (verbose level, keyword 0). Two plain reads.
    bool admits(Group group) const {
        return groupAdmits(group) && enabledLevel_.load(std::memory_order_relaxed) >= kLevelVerbose;
    }
    bool registered() const { return backend_ != nullptr && registered_; }
    uint32_t enableLog() const { return enableLog_; }

    void write(std::string_view name, std::string_view message,
               std::initializer_list<TraceField> fields, Counter counter = Counter::Take);

  private:
    bool groupAdmits(Group group) const;

    // Written only while the library is attached or detached, before or after every other
    // thread of the library; read freely otherwise.
    uint32_t enableLog_ = 0;
    bool registered_ = false;
    TraceBackend* backend_ = nullptr;  // owned; a raw pointer keeps the object constinit
    ThreadIdSource threadId_ = nullptr;
    // Kept by the backend: the level that listening sessions have enabled.
    std::atomic<uint8_t> enabledLevel_{0};
    // C= of the next event; taken and advanced in one step by any thread.
    std::atomic<uint32_t> traceCounter_{0};
};

}  // namespace vtx::trace

// Writes an event when its group and the provider's level admit it. The field values are
// computed only after the tests have passed.
#define VTX_TRACE(group, eventName, message, ...)                                                 \
    do {                                                                                          \
        ::vtx::trace::TraceProvider& vtxTraceProvider_ = ::vtx::trace::TraceProvider::instance(); \
        if (vtxTraceProvider_.admits(group)) {                                                    \
            vtxTraceProvider_.write(eventName, message, {__VA_ARGS__});                           \
        }                                                                                         \
    } while (false)

// The same for the few transfer events that carry T= without C= and leave the counter alone.
#define VTX_TRACE_NO_COUNTER(group, eventName, message, ...)                                      \
    do {                                                                                          \
        ::vtx::trace::TraceProvider& vtxTraceProvider_ = ::vtx::trace::TraceProvider::instance(); \
        if (vtxTraceProvider_.admits(group)) {                                                    \
            vtxTraceProvider_.write(eventName, message, {__VA_ARGS__},                            \
                                    ::vtx::trace::Counter::None);                                 \
        }                                                                                         \
    } while (false)
