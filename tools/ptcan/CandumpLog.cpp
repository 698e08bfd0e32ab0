#include "tools/ptcan/CandumpLog.h"

#include <cinttypes>
#include <cstdio>

#include "tools/ptcan/FrameText.h"

namespace ptcan {

namespace {
constexpr int64_t kMicrosPerSecond = 1000000;
constexpr std::size_t kMicroDigits = 6;

// The words of a line, split at blanks.
std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) {
            ++i;
        }
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') {
            ++i;
        }
        if (i > start) {
            out.push_back(line.substr(start, i - start));
        }
    }
    return out;
}

std::optional<int64_t> decimal(std::string_view text) {
    if (text.empty() || text.size() > 12) {
        return std::nullopt;
    }
    int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

// `(seconds.fraction)`: the fraction's digits scaled to microseconds (candump writes six).
std::optional<int64_t> timestamp(std::string_view text) {
    if (text.size() < 3 || text.front() != '(' || text.back() != ')') {
        return std::nullopt;
    }
    text = text.substr(1, text.size() - 2);
    const std::size_t dot = text.find('.');
    const std::string_view whole = text.substr(0, dot);
    std::string fraction(dot == std::string_view::npos ? "" : text.substr(dot + 1));
    if (fraction.size() > kMicroDigits) {
        fraction.resize(kMicroDigits);
    }
    fraction.append(kMicroDigits - fraction.size(), '0');
    const std::optional<int64_t> seconds = decimal(whole);
    const std::optional<int64_t> micros = decimal(fraction);
    if (!seconds || !micros) {
        return std::nullopt;
    }
    return *seconds * kMicrosPerSecond + *micros;
}

std::optional<LogEntry::Direction> direction(std::string_view text) {
    if (text == "R" || text == "r") {
        return LogEntry::Direction::Received;
    }
    if (text == "T" || text == "t") {
        return LogEntry::Direction::Sent;
    }
    return std::nullopt;
}
}  // namespace

std::string CandumpLog::formatLine(const LogEntry& entry) {
    char stamp[48];
    std::snprintf(stamp, sizeof stamp, "(%" PRId64 ".%06" PRId64 ") ",
                  entry.timestampUs / kMicrosPerSecond, entry.timestampUs % kMicrosPerSecond);
    std::string line = stamp + entry.interface + ' ' + FrameText::format(entry.frame);
    if (entry.direction == LogEntry::Direction::Received) {
        line += " R";
    } else if (entry.direction == LogEntry::Direction::Sent) {
        line += " T";
    }
    return line;
}

std::optional<LogEntry> CandumpLog::parseLine(std::string_view line) {
    const std::vector<std::string_view> parts = words(line);
    if (parts.size() != 3 && parts.size() != 4) {
        return std::nullopt;
    }
    LogEntry entry;
    const std::optional<int64_t> stamp = timestamp(parts[0]);
    std::optional<Frame> frame = FrameText::parse(parts[2]);
    if (!stamp || !frame) {
        return std::nullopt;
    }
    if (parts.size() == 4) {
        const std::optional<LogEntry::Direction> marked = direction(parts[3]);
        if (!marked) {
            return std::nullopt;
        }
        entry.direction = *marked;
    }
    entry.timestampUs = *stamp;
    entry.interface = std::string(parts[1]);
    entry.frame = std::move(*frame);
    return entry;
}

bool CandumpLog::read(std::istream& in, std::vector<LogEntry>& entries, std::string& error) {
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (words(line).empty()) {
            continue;
        }
        std::optional<LogEntry> entry = parseLine(line);
        if (!entry) {
            error = "line " + std::to_string(number) + " is not a candump log line: " + line;
            return false;
        }
        entries.push_back(std::move(*entry));
    }
    return true;
}

}  // namespace ptcan
