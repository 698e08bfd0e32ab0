// candump's log format, one frame a line: `(seconds.micro) INTERFACE ID#DATA`, optionally
// followed by ` R` or ` T` (received or sent by this tester), as candump -x and python-can's
// log reader understand it.
#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/ptcan/Frame.h"

namespace ptcan {

struct LogEntry {
    enum class Direction : uint8_t { Unmarked, Received, Sent };

    int64_t timestampUs = 0;  // microseconds since the epoch (or any origin the log chose)
    std::string interface = "j2534";
    Frame frame;
    Direction direction = Direction::Unmarked;
};

class CandumpLog {
  public:
    static std::string formatLine(const LogEntry& entry);
    static std::optional<LogEntry> parseLine(std::string_view line);

    // Every entry of the stream, blank lines skipped; false with error naming the first line
    // that is not a log line.
    static bool read(std::istream& in, std::vector<LogEntry>& entries, std::string& error);
};

}  // namespace ptcan
