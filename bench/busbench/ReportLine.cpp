#include "bench/busbench/ReportLine.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace busbench {

namespace {
constexpr std::size_t kNameWidth = 14;
}  // namespace

ReportLine::ReportLine(const char* name, Figures figures)
    : figures_(std::move(figures)), text_(name) {
    text_.resize(std::max(text_.size(), kNameWidth), ' ');
}

ReportLine& ReportLine::value(const char* label, const char* key, const char* format) {
    char piece[96];
    std::snprintf(piece, sizeof piece, format, get(key));
    text_ += std::string("  ") + label + " " + piece;
    return *this;
}

ReportLine& ReportLine::target(const char* label, const char* key, const char* format,
                               double limit) {
    value(label, key, format);
    const bool met = get(key) <= limit;
    char piece[64];
    std::snprintf(piece, sizeof piece, " (<= %g %s)", limit, met ? "met" : "MISSED");
    text_ += piece;
    allMet_ = allMet_ && met;
    return *this;
}

ReportLine& ReportLine::note(const std::string& text) {
    text_ += "  " + text;
    return *this;
}

bool ReportLine::print() const {
    if (figures_.empty()) {
        std::printf("%s  FAILED: the session could not be set up\n", text_.c_str());
        return false;
    }
    std::printf("%s\n", text_.c_str());
    return allMet_;
}

double ReportLine::get(const char* key) const {
    const auto found = figures_.find(key);
    return found != figures_.end() ? found->second : 0;
}

}  // namespace busbench
