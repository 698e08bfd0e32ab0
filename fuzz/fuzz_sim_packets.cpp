// The simulated device's packet parser and firmware on arbitrary host traffic: byte sequences
// written to its OUT pipe, interleaved with reads, faults, replugs and frames from the bus, with
// the device's threads running.
#include <cstddef>
#include <cstdint>

#include "fuzz/FuzzInput.h"
#include "fuzz/SimSession.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    vtx::fuzz::FuzzInput input(data, size);
    vtx::fuzz::SimSession session(input);
    session.run();
    return 0;
}
