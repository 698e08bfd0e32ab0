// The event-tracing back end on Windows (run under Wine, whose tracing accepts registrations
// but has no sessions that listen).
#ifdef _WIN32

#include "platform/win32/core/EtwTraceBackend.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/TraceServices.h"
#include "trace/JsonLinesSession.h"
#include "trace/TracePlaces.h"
#include "trace/TraceProvider.h"

namespace vtx::platform {
namespace {

using trace::TraceEvent;
using trace::TraceField;

TraceEvent sampleEvent(std::span<const TraceField> fields) {
    TraceEvent event;
    event.name = "PassThru";
    event.message = trace::place::kConnectStarted;
    event.fields = fields;
    event.counter = 1;
    event.thread = 2;
    return event;
}

TEST(EtwTraceBackend, RegistersWritesAndUnregistersWithNobodyListening) {
    std::atomic<uint8_t> level{7};
    EtwTraceBackend backend;
    ASSERT_TRUE(backend.registerProvider(trace::kProviderName, level));
    EXPECT_TRUE(backend.registered());
    EXPECT_EQ(level.load(), 0);

    const TraceField fields[] = {trace::u32("devID", 1), trace::hex("flags", 0x900),
                                 trace::i32("chID", -1), trace::ansi("fw", "VTX20")};
    backend.write(sampleEvent(fields));
    // Larger than the stack buffers, and larger than the layout allows.
    const std::string large(5000, 'x');
    const std::string tooLarge(0x10000, 'x');
    const TraceField largeField[] = {trace::ansi("large", large)};
    const TraceField tooLargeField[] = {trace::ansi("tooLarge", tooLarge)};
    backend.write(sampleEvent(largeField));
    backend.write(sampleEvent(tooLargeField));

    backend.unregisterProvider();
    EXPECT_FALSE(backend.registered());
    EXPECT_EQ(level.load(), 0);
    backend.write(sampleEvent(fields));  // dropped
}

TEST(EtwTraceBackend, RegistersOncePerObject) {
    std::atomic<uint8_t> level{0};
    EtwTraceBackend backend;
    ASSERT_TRUE(backend.registerProvider(trace::kProviderName, level));
    EXPECT_FALSE(backend.registerProvider(trace::kProviderName, level));
    backend.unregisterProvider();
    EXPECT_FALSE(backend.registerProvider(trace::kProviderName, level));
}

TEST(EtwTraceBackend, EnableNotificationsSetTheLevel) {
    struct Step {
        uint32_t controlCode;
        uint8_t level;
        uint8_t expected;
    };
    // Enable (1) with the sessions' level, 0 meaning every level; disable (0); capture state
    // (2) and unknown codes leave the level alone.
    const Step steps[] = {{1, 5, 5}, {1, 4, 4}, {2, 1, 4}, {1, 0, 255},
                          {0, 5, 0}, {1, 5, 5}, {9, 1, 5}, {0, 0, 0}};
    std::atomic<uint8_t> level{0};
    EtwTraceBackend backend;
    ASSERT_TRUE(backend.registerProvider(trace::kProviderName, level));
    for (const Step& step : steps) {
        backend.applyControl(step.controlCode, step.level);
        EXPECT_EQ(level.load(), step.expected)
            << "control " << step.controlCode << " level " << int(step.level);
    }
    backend.applyControl(1, 5);
    backend.unregisterProvider();
    EXPECT_EQ(level.load(), 0);
    backend.applyControl(1, 5);  // after unregistration: nothing to enable
    EXPECT_EQ(level.load(), 0);
}

// Waits up to ten seconds for a condition.
template <typename Condition>
bool waitUntil(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::yield();
    }
    return true;
}

TEST(EtwTraceBackend, UnregistersWhileOtherThreadsWrite) {
    std::atomic<uint8_t> level{0};
    EtwTraceBackend backend;
    ASSERT_TRUE(backend.registerProvider(trace::kProviderName, level));
    const TraceField fields[] = {trace::u32("devID", 1), trace::ansi("fw", "VTX20")};
    const TraceEvent event = sampleEvent(fields);
    std::atomic<bool> stop{false};
    std::atomic<int> written{0};
    std::vector<std::thread> writers;
    for (int i = 0; i < 3; ++i) {
        writers.emplace_back([&] {
            while (!stop.load()) {
                backend.write(event);
                backend.applyControl(1, 5);
                written.fetch_add(1);
            }
        });
    }
    EXPECT_TRUE(waitUntil([&] { return written.load() >= 100; }));
    backend.unregisterProvider();
    const int atUnregistration = written.load();
    EXPECT_TRUE(waitUntil([&] { return written.load() >= atUnregistration + 100; }));
    stop.store(true);
    for (std::thread& writer : writers) {
        writer.join();
    }
    EXPECT_FALSE(backend.registered());
    EXPECT_EQ(level.load(), 0);
}

// Sets or clears a variable of the process environment for one test.
class ScopedVariable {
  public:
    ScopedVariable(const char* name, const char* value) : name_(name) { _putenv_s(name, value); }
    ~ScopedVariable() { _putenv_s(name_, ""); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

  private:
    const char* name_;
};

TEST(TraceBackendFactory, EventTracingUnlessATraceFileIsNamed) {
    ScopedVariable noTrace("VTXPTS_TRACE", "");
    const std::unique_ptr<trace::TraceBackend> backend = createTraceBackend();
    EXPECT_NE(dynamic_cast<EtwTraceBackend*>(backend.get()), nullptr);
}

TEST(TraceBackendFactory, NamedTraceFileTakesTheSessionLevel) {
    const std::string path = ::testing::TempDir() + "vtx_factory_trace.jsonl";
    std::remove(path.c_str());
    ScopedVariable trace("VTXPTS_TRACE", path.c_str());
    ScopedVariable traceLevel("VTXPTS_TRACE_LEVEL", "4");
    std::unique_ptr<trace::TraceBackend> backend = createTraceBackend();
    ASSERT_NE(dynamic_cast<trace::JsonLinesSession*>(backend.get()), nullptr);
    std::atomic<uint8_t> level{0};
    ASSERT_TRUE(backend->registerProvider(trace::kProviderName, level));
    EXPECT_EQ(level.load(), 4);
    backend->unregisterProvider();
    backend.reset();
    std::remove(path.c_str());
}

}  // namespace
}  // namespace vtx::platform

#endif  // _WIN32
