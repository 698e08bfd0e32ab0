// The commands of ptcan, each run against a loaded J2534 library. A command returns the exit
// status (0 success); a failing J2534 call throws PassThruError, a failure of the tool's own
// ToolError (both exit status 1). Each one's source is a file of its name.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/ptcan/CanChannel.h"
#include "tools/ptcan/CommonOptions.h"
#include "tools/ptcan/Frame.h"
#include "tools/ptcan/FrameGenerator.h"
#include "tools/ptcan/PassThruLibrary.h"

namespace ptcan {

struct DumpOptions {
    std::vector<PassFilter> filters;  // none: everything passes
    std::string logFile;
    bool loopback = false;
    std::vector<Frame> send;     // sent once the channel listens (to provoke answers)
    uint64_t count = 0;          // end after this many frames (0: until Ctrl-C)
    uint32_t idleTimeoutMs = 0;  // end when no frame came for this long (0: never)
};

struct GenOptions {
    FrameGenerator::Settings settings;
    uint32_t gapMs = 200;
    uint64_t count = 0;  // 0: until Ctrl-C
    std::string logFile;
    bool verbose = false;
};

struct PlayOptions {
    std::string file;
    uint32_t loops = 1;
    bool verbose = false;
};

struct IsoTpOptions {
    uint32_t txId = 0;
    uint32_t rxId = 0;
    bool pad = false;
    std::vector<uint8_t> request;
    uint32_t timeoutMs = 2000;
};

struct LoadOptions {
    uint32_t seconds = 0;  // 0: until Ctrl-C
};

int runOpen(PassThruLibrary& library, const std::string& path);
int runInfo(PassThruLibrary& library, const CommonOptions& common);
int runDump(PassThruLibrary& library, const CommonOptions& common, const DumpOptions& options);
int runSend(PassThruLibrary& library, const CommonOptions& common,
            const std::vector<Frame>& frames);
int runGen(PassThruLibrary& library, const CommonOptions& common, const GenOptions& options);
int runPlay(PassThruLibrary& library, const CommonOptions& common, const PlayOptions& options);
int runIsoTp(PassThruLibrary& library, const CommonOptions& common, const IsoTpOptions& options);
// rawCan: over raw CAN even when an ISO 15765 channel would connect.
int runObd(PassThruLibrary& library, const CommonOptions& common, bool rawCan);
int runLoad(PassThruLibrary& library, const CommonOptions& common, const LoadOptions& options);

// After a command that ran until told to stop: disconnects and closes, and says so on stderr
// with the command's summary.
void finish(CanChannel& channel, PassThruDevice& device, const std::string& summary);

}  // namespace ptcan
