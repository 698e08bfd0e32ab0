#include "bench/busbench/MeteredPipeTransport.h"

#include <time.h>

#include "device/SimulatedDeviceHost.h"
#include "sim/SimWorld.h"

namespace busbench {

namespace {

thread_local bool applicationThread = false;

uint64_t threadCpuNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1'000'000'000u + static_cast<uint64_t>(now.tv_nsec);
}

}  // namespace

std::atomic<uint64_t> MeteredPipeTransport::libraryNanoseconds_{0};
std::atomic<uint64_t> MeteredPipeTransport::applicationNanoseconds_{0};
std::atomic<uint64_t> MeteredPipeTransport::transfers_{0};

// Adds the calling thread's CPU time from its construction to its destruction to the totals.
// The two clock readings (system calls) count too, as the simulator's.
class MeteredPipeTransport::Meter {
  public:
    Meter() : start_(threadCpuNanoseconds()) {}
    ~Meter() {
        const uint64_t spent = threadCpuNanoseconds() - start_;
        (applicationThread ? applicationNanoseconds_ : libraryNanoseconds_).fetch_add(spent);
    }
    Meter(const Meter&) = delete;
    Meter& operator=(const Meter&) = delete;

  private:
    const uint64_t start_;
};

MeteredPipeTransport& MeteredPipeTransport::instance() {
    static MeteredPipeTransport transport;
    return transport;
}

TransportTotals MeteredPipeTransport::totals() {
    return TransportTotals{static_cast<double>(libraryNanoseconds_.load()) * 1e-9,
                           static_cast<double>(applicationNanoseconds_.load()) * 1e-9,
                           transfers_.load()};
}

void MeteredPipeTransport::markApplicationThread() {
    applicationThread = true;
}

vtx::PipeTransport& MeteredPipeTransport::inner() {
    return vtx::sim::SimWorld::process().transport();
}

std::vector<std::string> MeteredPipeTransport::enumerateDevicePaths() {
    const Meter meter;
    return inner().enumerateDevicePaths();
}

bool MeteredPipeTransport::isDevicePresent() {
    const Meter meter;
    return inner().isDevicePresent();
}

bool MeteredPipeTransport::open(const std::string& path) {
    const Meter meter;
    return inner().open(path);
}

bool MeteredPipeTransport::setInPipeTimeout(uint32_t ms) {
    const Meter meter;
    return inner().setInPipeTimeout(ms);
}

void MeteredPipeTransport::close() {
    const Meter meter;
    inner().close();
}

bool MeteredPipeTransport::isOpen() const {
    const Meter meter;
    return inner().isOpen();
}

int MeteredPipeTransport::writePipe(const uint8_t* bytes, int length) {
    const Meter meter;
    transfers_.fetch_add(1);
    return inner().writePipe(bytes, length);
}

int MeteredPipeTransport::readPipe(uint8_t* bytes, int length) {
    const Meter meter;
    transfers_.fetch_add(1);
    return inner().readPipe(bytes, length);
}

}  // namespace busbench

// The library, linked into this program, finds this function in the program and talks to the
// metered transport; the device file path is lent unmetered (busbench uses the pipe path).
extern "C" __attribute__((visibility("default"))) void vtxSimulatedDeviceHost(
    vtx::SimulatedDeviceHost* host) {
    host->pipe = &busbench::MeteredPipeTransport::instance();
    host->deviceFile = &vtx::sim::SimWorld::process().deviceFile();
}
