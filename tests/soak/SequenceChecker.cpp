#include "tests/soak/SequenceChecker.h"

#include <cstdio>

namespace vtx::soak {

void SequenceChecker::doubt(uint32_t first, uint32_t last) {
    doubts_.emplace_back(first, last);
}

void SequenceChecker::take(uint32_t sequence, bool intact) {
    ++frames_;
    corrupt_ += intact ? 0 : 1;
    const bool newSession = session_ != lastSession_;
    lastSession_ = session_;
    if (last_ && sequence != *last_ + 1) {
        if (newSession) {
            ++expectedGaps_;
        } else if (sequence > *last_) {
            countGap(*last_ + 1, sequence - 1);
        } else {
            ++outOfOrder_;
        }
    }
    last_ = sequence;
    while (!doubts_.empty() && doubts_.front().second < sequence) {
        doubts_.pop_front();
    }
}

void SequenceChecker::countGap(uint32_t first, uint32_t last) {
    uint64_t lost = last - first + 1;
    if (lost <= kLargestCheckedGap) {
        lost = 0;
        for (uint32_t sequence = first; sequence <= last; ++sequence) {
            ++(inDoubt(sequence) ? missingInDoubt_ : lost);
        }
    }
    if (lost > 0) {
        lost_ += lost;
        reportLoss(first, last, lost);
    }
}

void SequenceChecker::reportLoss(uint32_t first, uint32_t last, uint64_t count) {
    if (lossesReported_++ < 10) {
        std::fprintf(stderr, "soak: %llu frame(s) lost in the gap %u..%u\n",
                     static_cast<unsigned long long>(count), first, last);
    }
}

bool SequenceChecker::inDoubt(uint32_t sequence) const {
    for (const auto& [first, last] : doubts_) {
        if (sequence >= first && sequence <= last) {
            return true;
        }
    }
    return false;
}

}  // namespace vtx::soak
