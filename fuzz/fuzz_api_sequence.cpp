// The fourteen exported functions called in sequences the input picks, with arbitrary
// arguments, against the simulated device (behind the WinUSB path unless VTXPTS_DEVICE says
// otherwise), from two threads at once: the first byte says where the input splits between the
// two sequences. Each input gets a freshly loaded library and simulated device, and ends with
// the device closed and the library unloaded, so that nothing carries over to the next input.
// Which call of one thread meets which of the other is the scheduler's: a failure may need
// several runs of its input to come back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <thread>

#include "api/Library.h"
#include "fuzz/ApiSequence.h"
#include "fuzz/FuzzCheck.h"
#include "fuzz/FuzzInput.h"
#include "platform/DynamicLibrary.h"

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    if (std::getenv("VTXPTS_DEVICE") == nullptr) {
        vtx::platform::setEnvironment("VTXPTS_DEVICE", "sim");
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    FUZZ_CHECK(vtx::Library::onProcessAttach());
    const std::size_t split = size == 0 ? 0 : 1 + data[0] * (size - 1) / 256;
    vtx::fuzz::FuzzInput first(data + (size == 0 ? 0 : 1), split - (size == 0 ? 0 : 1));
    vtx::fuzz::FuzzInput second(data + split, size - split);
    std::thread other([&] { vtx::fuzz::ApiSequence(second).run(); });
    vtx::fuzz::ApiSequence(first).run();
    other.join();
    vtx::Library::onProcessDetach();
    return 0;
}
