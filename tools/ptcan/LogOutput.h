// Where the commands write frames in candump's log format: standard output, a log file, or
// both. Each line is flushed at once, so a reader of a pipe sees frames as they come.
#pragma once

#include <cstdio>
#include <string>

#include "base/J2534.h"
#include "tools/ptcan/CandumpLog.h"
#include "tools/ptcan/LogClock.h"

namespace ptcan {

class LogOutput {
  public:
    // An empty path: no log file. Throws ToolError when the file cannot be created.
    LogOutput(bool toStdout, const std::string& path, bool markDirection);
    ~LogOutput();
    LogOutput(const LogOutput&) = delete;
    LogOutput& operator=(const LogOutput&) = delete;

    // A received raw CAN message (a loopback copy is marked as sent when marking).
    void write(const PASSTHRU_MSG& msg);
    uint64_t lines() const { return lines_; }

  private:
    const bool toStdout_;
    const bool markDirection_;
    std::FILE* file_ = nullptr;
    LogClock clock_;
    uint64_t lines_ = 0;
};

}  // namespace ptcan
