#include "tools/ptcan/LogOutput.h"

#include "tools/ptcan/PassThruError.h"
#include "tools/ptcan/PassThruMessage.h"

namespace ptcan {

LogOutput::LogOutput(bool toStdout, const std::string& path, bool markDirection)
    : toStdout_(toStdout), markDirection_(markDirection) {
    if (!path.empty()) {
        file_ = std::fopen(path.c_str(), "w");
        if (file_ == nullptr) {
            throw ToolError("cannot create the log file " + path);
        }
    }
}

LogOutput::~LogOutput() {
    if (file_ != nullptr) {
        std::fclose(file_);
    }
}

void LogOutput::write(const PASSTHRU_MSG& msg) {
    LogEntry entry;
    entry.timestampUs = clock_.wallMicros(msg.Timestamp);
    entry.frame = PassThruMessage::toFrame(msg);
    if (markDirection_) {
        entry.direction = (msg.RxStatus & TX_MSG_TYPE) != 0 ? LogEntry::Direction::Sent
                                                            : LogEntry::Direction::Received;
    }
    const std::string line = CandumpLog::formatLine(entry) + '\n';
    if (toStdout_) {
        std::fputs(line.c_str(), stdout);
        std::fflush(stdout);
    }
    if (file_ != nullptr) {
        std::fputs(line.c_str(), file_);
        std::fflush(file_);
    }
    ++lines_;
}

}  // namespace ptcan
