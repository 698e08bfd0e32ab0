// The figures one run of a scenario measured, by name, and their medians over several runs.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace busbench {

using Figures = std::map<std::string, double>;

// For each name, the median of the runs that have it (the lower middle for an even count).
Figures medianOf(const std::vector<Figures>& runs);

// The nearest-rank percentile (0 < share <= 1) of values, 0 when there are none.
double percentile(std::vector<double> values, double share);

}  // namespace busbench
