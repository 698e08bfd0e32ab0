#include "platform/win32/core/EtwTraceBackend.h"

// clang-format off
#include <windows.h>
#include <evntprov.h>
#include <evntrace.h>
// clang-format on

#include <array>
#include <chrono>
#include <memory>
#include <new>
#include <span>
#include <thread>

#include "trace/ProviderGuid.h"
#include "trace/TraceLoggingMetadata.h"

namespace vtx::platform {

namespace {

// Values that mingw-w64's evntprov.h lacks.
// EVENT_INFO_CLASS: the provider traits, which carry the provider's name.
constexpr ULONG kEventProviderSetTraits = 2;
// EVENT_DATA_DESCRIPTOR.Type: what a data block is to the tracing facility.
constexpr ULONG kDescriptorTypeEventMetadata = 1;
constexpr ULONG kDescriptorTypeProviderMetadata = 2;

// The channel that marks an event as self-describing to every decoder.
constexpr UCHAR kTraceLoggingChannel = 11;
// A session that enables level 0 asks for every level.
constexpr uint8_t kAllLevels = 255;
// Events up to this size are encoded on the stack; the catalogue's largest are a few hundred
// bytes. Larger ones take the heap.
constexpr std::size_t kStackBlobSize = 1024;
// How long unregistration waits for writes and notifications in progress. They take
// microseconds; the bound matters only when the process ends and a thread was stopped inside
// one of them.
constexpr auto kIdleWaitLimit = std::chrono::milliseconds(250);

// EventSetInformation is missing from mingw-w64's import library and from old systems: found
// at run time in advapi32, which the registration functions have loaded already.
using EventSetInformationFunction = ULONG(WINAPI*)(REGHANDLE, ULONG, PVOID, ULONG);

EventSetInformationFunction findEventSetInformation() {
    HMODULE advapi = GetModuleHandleW(L"advapi32.dll");
    if (advapi == nullptr) {
        return nullptr;
    }
    FARPROC address = GetProcAddress(advapi, "EventSetInformation");
    return reinterpret_cast<EventSetInformationFunction>(reinterpret_cast<void*>(address));
}

GUID toWin32Guid(const trace::ProviderGuid& id) {
    GUID guid;
    guid.Data1 = id.data1;
    guid.Data2 = id.data2;
    guid.Data3 = id.data3;
    for (std::size_t i = 0; i < id.data4.size(); ++i) {
        guid.Data4[i] = id.data4[i];
    }
    return guid;
}

// The enable callback. The tracing facility calls it on one of its own threads, and from
// inside EventRegister when a session already listens, whenever the sessions' wishes change.
// Its context is the EtwTraceBackend that registered; it touches that object's busy_ and
// enabledLevel_ fields and the provider's enabled-level atomic, nothing else.
void NTAPI onEnableNotification(LPCGUID /*sourceId*/, ULONG controlCode, UCHAR level,
                                ULONGLONG /*matchAnyKeyword*/, ULONGLONG /*matchAllKeyword*/,
                                PEVENT_FILTER_DESCRIPTOR /*filterData*/, PVOID context) {
    static_cast<EtwTraceBackend*>(context)->applyControl(controlCode, level);
}

// Counts the caller among the writes and notifications in progress while it lives.
class BusyScope {
  public:
    explicit BusyScope(std::atomic<uint32_t>& busy) : busy_(busy) { busy_.fetch_add(1); }
    ~BusyScope() { busy_.fetch_sub(1); }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

  private:
    std::atomic<uint32_t>& busy_;
};

// Room for one blob: the stack buffer when it is large enough, else the heap. Empty when the
// heap has no room either.
std::span<uint8_t> roomFor(std::size_t size, std::span<uint8_t> onStack,
                           std::unique_ptr<uint8_t[]>& onHeap) {
    if (size <= onStack.size()) {
        return onStack.first(size);
    }
    onHeap.reset(new (std::nothrow) uint8_t[size]);
    return onHeap ? std::span<uint8_t>(onHeap.get(), size) : std::span<uint8_t>();
}

void describe(EVENT_DATA_DESCRIPTOR& descriptor, const void* data, std::size_t size, ULONG type) {
    descriptor.Ptr = static_cast<ULONGLONG>(reinterpret_cast<ULONG_PTR>(data));
    descriptor.Size = static_cast<ULONG>(size);
    descriptor.Reserved = type;  // the Type byte is the low byte
}

}  // namespace

EtwTraceBackend::~EtwTraceBackend() {
    unregisterProvider();
}

bool EtwTraceBackend::registerProvider(std::string_view name, std::atomic<uint8_t>& enabledLevel) {
    // One registration per object: the traits stay allocated for late writers until the end.
    if (!traits_.empty()) {
        return false;
    }
    try {
        traits_.assign(trace::providerTraitsSize(name), 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (trace::encodeProviderTraits(name, traits_) == 0) {
        return false;
    }
    // Ready for notifications before registering: the first may arrive from inside it.
    enabledLevel.store(0);
    enabledLevel_.store(&enabledLevel);
    const GUID providerId = toWin32Guid(trace::providerGuidFromName(name));
    REGHANDLE handle = 0;
    if (EventRegister(&providerId, &onEnableNotification, this, &handle) != ERROR_SUCCESS ||
        handle == 0) {
        enabledLevel_.store(nullptr);
        waitUntilIdle();
        enabledLevel.store(0);
        return false;
    }
    if (EventSetInformationFunction setInformation = findEventSetInformation()) {
        setInformation(handle, kEventProviderSetTraits, traits_.data(),
                       static_cast<ULONG>(traits_.size()));
    }
    handle_.store(handle);
    return true;
}

void EtwTraceBackend::unregisterProvider() {
    std::atomic<uint8_t>* enabledLevel = enabledLevel_.exchange(nullptr);
    const uint64_t handle = handle_.exchange(0);
    // A write or notification that took the handle or the level before the exchange finishes
    // with them before they go.
    waitUntilIdle();
    if (handle != 0) {
        EventUnregister(handle);
    }
    if (enabledLevel != nullptr) {
        enabledLevel->store(0);
    }
}

void EtwTraceBackend::applyControl(uint32_t controlCode, uint8_t level) {
    BusyScope busy(busy_);
    std::atomic<uint8_t>* enabledLevel = enabledLevel_.load();
    if (enabledLevel == nullptr) {
        return;
    }
    if (controlCode == EVENT_CONTROL_CODE_ENABLE_PROVIDER) {
        enabledLevel->store(level != 0 ? level : kAllLevels);
    } else if (controlCode == EVENT_CONTROL_CODE_DISABLE_PROVIDER) {
        enabledLevel->store(0);
    }
}

void EtwTraceBackend::write(const trace::TraceEvent& event) {
    BusyScope busy(busy_);
    const uint64_t handle = handle_.load();
    if (handle != 0) {
        writeEncoded(handle, event);
    }
}

void EtwTraceBackend::writeEncoded(uint64_t handle, const trace::TraceEvent& event) {
    const std::size_t values = trace::eventValueCount(event);
    const std::size_t metadataSize = trace::eventMetadataSize(event);
    const std::size_t dataSize = trace::eventDataSize(event);
    // An event too large for the layout is not written at all.
    if (values > trace::kMaxEventValues || metadataSize > trace::kMaxBlobSize ||
        dataSize > trace::kMaxBlobSize) {
        return;
    }
    std::array<uint8_t, kStackBlobSize> metadataOnStack;
    std::array<uint8_t, kStackBlobSize> dataOnStack;
    std::unique_ptr<uint8_t[]> metadataOnHeap;
    std::unique_ptr<uint8_t[]> dataOnHeap;
    const std::span<uint8_t> metadata = roomFor(metadataSize, metadataOnStack, metadataOnHeap);
    const std::span<uint8_t> data = roomFor(dataSize, dataOnStack, dataOnHeap);
    std::array<uint32_t, trace::kMaxEventValues> valueEnds;
    // Zero only when the heap had no room.
    if (trace::encodeEventMetadata(event, metadata) == 0 ||
        trace::encodeEventData(event, data, valueEnds) == 0) {
        return;
    }

    std::array<EVENT_DATA_DESCRIPTOR, 2 + trace::kMaxEventValues> blocks;
    describe(blocks[0], traits_.data(), traits_.size(), kDescriptorTypeProviderMetadata);
    describe(blocks[1], metadata.data(), metadata.size(), kDescriptorTypeEventMetadata);
    uint32_t start = 0;
    for (std::size_t i = 0; i < values; ++i) {
        describe(blocks[2 + i], data.data() + start, valueEnds[i] - start, 0);
        start = valueEnds[i];
    }

    EVENT_DESCRIPTOR descriptor{};
    descriptor.Id = 0;
    descriptor.Version = 0;
    descriptor.Channel = kTraceLoggingChannel;
    descriptor.Level = event.level;
    descriptor.Opcode = 0;
    descriptor.Task = 0;
    descriptor.Keyword = event.keyword;
    EventWriteTransfer(handle, &descriptor, nullptr, nullptr, static_cast<ULONG>(2 + values),
                       blocks.data());
}

void EtwTraceBackend::waitUntilIdle() const {
    const auto deadline = std::chrono::steady_clock::now() + kIdleWaitLimit;
    while (busy_.load() != 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

}  // namespace vtx::platform
