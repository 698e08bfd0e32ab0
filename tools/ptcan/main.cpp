// ptcan: talks CAN through any J2534 library, loaded by path, the way can-utils do through a
// socket: `ptcan LIBRARY COMMAND [OPTIONS]` (ptcan LIBRARY --help lists the commands).
// Exit status: 0 success, 1 a J2534 call (or the tool) failed, 2 bad usage.
#include <cstdio>

#include "tools/ptcan/CommandLine.h"
#include "tools/ptcan/Interrupt.h"
#include "tools/ptcan/PassThruError.h"
#include "tools/ptcan/PassThruLibrary.h"

int main(int argc, char** argv) {
    ptcan::CommandLine commandLine;
    if (const std::optional<int> status = commandLine.parse(argc, argv)) {
        return *status;
    }
    ptcan::PassThruLibrary library;
    if (!library.load(commandLine.libraryPath())) {
        std::fprintf(stderr, "ptcan: cannot load %s: %s\n", commandLine.libraryPath().c_str(),
                     library.error().c_str());
        return 1;
    }
    ptcan::Interrupt::install();
    try {
        return commandLine.run(library);
    } catch (const ptcan::PassThruError& error) {
        std::fprintf(stderr, "ptcan: %s\n", error.what());
    } catch (const ptcan::ToolError& error) {
        std::fprintf(stderr, "ptcan: %s\n", error.what());
    }
    return 1;
}
