#include "trace/TraceProvider.h"

namespace vtx::trace {

namespace {
constinit TraceProvider theProvider;
constexpr uint32_t kSwitchGroupBits = 0xFF;
}  // namespace

TraceProvider& TraceProvider::instance() {
    return theProvider;
}

void TraceProvider::start(std::optional<uint32_t> logSwitch, std::unique_ptr<TraceBackend> backend,
                          ThreadIdSource threadId) {
    traceCounter_.store(0);
    threadId_ = threadId;
    enableLog_ = logSwitch.value_or(0);
    if (enableLog_ == 0 || !backend) {
        return;
    }
    registered_ = backend->registerProvider(kProviderName, enabledLevel_);
    if (registered_) {
        backend_ = backend.release();
    }
}

void TraceProvider::termTrace() {
    if (registered_) {
        backend_->unregisterProvider();
        registered_ = false;
    }
    enabledLevel_.store(0);
}

void TraceProvider::releaseBackend() {
    termTrace();
    delete backend_;
    backend_ = nullptr;
}

bool TraceProvider::groupAdmits(Group group) const {
    switch (group) {
        case Group::PassThru:
            return true;
        case Group::EntryPoint:
            return enableLog_ != 0;
        default:
            return (enableLog_ & kSwitchGroupBits & static_cast<uint32_t>(group)) != 0;
    }
}

void TraceProvider::write(std::string_view name, std::string_view message,
                          std::initializer_list<TraceField> fields, Counter counter) {
    TraceBackend* backend = backend_;
    if (backend == nullptr) {
        return;
    }
    TraceEvent event;
    event.name = name;
    event.message = message;
    event.fields = std::span<const TraceField>(fields.begin(), fields.size());
    event.hasCounter = counter == Counter::Take;
    if (event.hasCounter) {
        event.counter = traceCounter_.fetch_add(1, std::memory_order_relaxed);
    }
    event.thread = threadId_ != nullptr ? threadId_() : 0;
    backend->write(event);
}

}  // namespace vtx::trace
