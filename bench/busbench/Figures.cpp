#include "bench/busbench/Figures.h"

#include <algorithm>
#include <cmath>

namespace busbench {

Figures medianOf(const std::vector<Figures>& runs) {
    std::map<std::string, std::vector<double>> byName;
    for (const Figures& run : runs) {
        for (const auto& [name, value] : run) {
            byName[name].push_back(value);
        }
    }
    Figures medians;
    for (auto& [name, values] : byName) {
        std::sort(values.begin(), values.end());
        medians[name] = values[(values.size() - 1) / 2];
    }
    return medians;
}

double percentile(std::vector<double> values, double share) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const auto rank =
        static_cast<std::size_t>(std::ceil(share * static_cast<double>(values.size())));
    return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

}  // namespace busbench
