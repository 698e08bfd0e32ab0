#include "tests/soak/GrowthCheck.h"

namespace vtx::soak {

void GrowthCheck::add(const ResourceSample& sample) {
    if (!baseline_) {
        baseline_ = sample;
        return;
    }
    if (failure_.empty()) {
        judge(sample);
    }
}

void GrowthCheck::judge(const ResourceSample& sample) {
    const ResourceSample& base = *baseline_;
    const int64_t rssLimit = base.rssKb + kRssAllowanceKb + base.rssKb * kRssAllowancePercent / 100;
    if (sample.rssKb > rssLimit) {
        failure_ = "RSS grew from " + std::to_string(base.rssKb) + " kB to " +
                   std::to_string(sample.rssKb) + " kB (limit " + std::to_string(rssLimit) + ")";
    } else if (sample.threads > base.threads) {
        failure_ = "threads grew from " + std::to_string(base.threads) + " to " +
                   std::to_string(sample.threads);
    } else if (sample.descriptors > base.descriptors) {
        failure_ = "descriptors grew from " + std::to_string(base.descriptors) + " to " +
                   std::to_string(sample.descriptors);
    }
}

}  // namespace vtx::soak
