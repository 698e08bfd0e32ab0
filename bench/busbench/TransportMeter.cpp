#include "bench/busbench/TransportMeter.h"

#include <time.h>

namespace busbench {

namespace {

thread_local bool applicationThread = false;

uint64_t threadCpuNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1'000'000'000u + static_cast<uint64_t>(now.tv_nsec);
}

// What one clock reading costs the calling thread, measured once. The meter's two readings
// bracket the transport call, but each is taken part-way through its own system call: the part
// of the first before its reading and the part of the second after it, about one reading in
// all, fall outside the bracket and would count as the caller's. The meter adds it back.
uint64_t readingNanoseconds() {
    static const uint64_t cost = [] {
        constexpr int kReadings = 2000;
        const uint64_t start = threadCpuNanoseconds();
        for (int i = 0; i < kReadings; ++i) {
            (void)threadCpuNanoseconds();
        }
        return (threadCpuNanoseconds() - start) / (kReadings + 1);
    }();
    return cost;
}

}  // namespace

std::atomic<uint64_t> TransportMeter::libraryNanoseconds_{0};
std::atomic<uint64_t> TransportMeter::applicationNanoseconds_{0};
std::atomic<uint64_t> TransportMeter::transfers_{0};

TransportMeter::TransportMeter(Kind kind) : start_(threadCpuNanoseconds()) {
    if (kind == Kind::Transfer) {
        transfers_.fetch_add(1);
    }
}

TransportMeter::~TransportMeter() {
    const uint64_t spent = threadCpuNanoseconds() - start_ + readingNanoseconds();
    (applicationThread ? applicationNanoseconds_ : libraryNanoseconds_).fetch_add(spent);
}

void TransportMeter::calibrate() {
    (void)readingNanoseconds();
}

TransportTotals TransportMeter::totals() {
    return TransportTotals{static_cast<double>(libraryNanoseconds_.load()) * 1e-9,
                           static_cast<double>(applicationNanoseconds_.load()) * 1e-9,
                           transfers_.load()};
}

void TransportMeter::markApplicationThread() {
    applicationThread = true;
}

}  // namespace busbench
