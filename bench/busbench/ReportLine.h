// One line of busbench's report: a scenario's name and figures, each figure printed with its
// label, and for a figure with a target whether it met it.
#pragma once

#include <string>

#include "bench/busbench/Figures.h"

namespace busbench {

class ReportLine {
  public:
    ReportLine(const char* name, Figures figures);

    // A figure, printed with format (one %f conversion); 0 when the run did not measure it.
    ReportLine& value(const char* label, const char* key, const char* format);
    // A figure with its upper limit, and "met" or "MISSED".
    ReportLine& target(const char* label, const char* key, const char* format, double limit);
    ReportLine& note(const std::string& text);
    // Prints the line; whether every target was met (false when nothing was measured).
    bool print() const;

  private:
    double get(const char* key) const;

    Figures figures_;
    std::string text_;
    bool allMet_ = true;
};

}  // namespace busbench
