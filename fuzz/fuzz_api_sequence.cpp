// The fourteen exported functions called in sequences the input picks, with arbitrary
// arguments, against the simulated device (behind the WinUSB path unless VTXPTS_DEVICE says
// otherwise). Each input gets a freshly loaded library and simulated device, and ends with the
// device closed and the library unloaded, so that nothing carries over to the next input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

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
    vtx::fuzz::FuzzInput input(data, size);
    vtx::fuzz::ApiSequence(input).run();
    vtx::Library::onProcessDetach();
    return 0;
}
