// uds_flash: a reprogramming session over ISO15765 through any J2534 library, loaded by path:
// programming session, security access, erase, request download, transfer data in the largest
// blocks the ECU grants, transfer exit, CRC check, reset, and the software version read back.
// Prints each step, a progress bar and the payload rate.
//
//   uds_flash LIBRARY IMAGE     (VTXPTS_DEVICE=sim selects the simulated device and its ECU)
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "examples/DiagnosticSession.h"
#include "examples/UdsFlasher.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: uds_flash LIBRARY IMAGE\n");
        return 2;
    }
    std::ifstream file(argv[2], std::ios::binary);
    const std::vector<uint8_t> image{std::istreambuf_iterator<char>(file),
                                     std::istreambuf_iterator<char>()};
    if (!file.good() && !file.eof()) {
        std::fprintf(stderr, "uds_flash: cannot read %s\n", argv[2]);
        return 1;
    }
    if (image.empty()) {
        std::fprintf(stderr, "uds_flash: %s is empty or missing\n", argv[2]);
        return 1;
    }
    ptcan::PassThruLibrary lib;
    if (!lib.load(argv[1])) {
        std::fprintf(stderr, "uds_flash: cannot load %s: %s\n", argv[1], lib.error().c_str());
        return 1;
    }
    examples::DiagnosticSession session(lib, examples::DiagnosticSession::Echo::Quiet);
    if (!session.open()) {
        return 1;
    }
    std::printf("flashing %zu bytes\n", image.size());
    const bool flashed =
        examples::UdsFlasher(session, examples::UdsFlasher::Progress::Bar).run(image);
    session.close();
    return flashed ? 0 : 1;
}
