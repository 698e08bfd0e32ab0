#include "sim/UdsSecurityAccess.h"

#include <bit>
#include <random>

#include "sim/UdsCodes.h"

namespace vtx::sim {

namespace {

constexpr uint8_t kRequestSeed = 0x01;
constexpr uint8_t kSendKey = 0x02;
constexpr std::size_t kSeedRequestLength = 2;
constexpr std::size_t kKeyRequestLength = 6;
constexpr std::size_t kKeyOffset = 2;
constexpr uint32_t kNeverRightKey = 0;
constexpr uint32_t kNoSeed = 0;
// A source that keeps drawing unusable seeds gets this one instead after so many draws.
constexpr int kSeedDraws = 16;
constexpr uint32_t kFallbackSeed = 0x00C0FFEE;

bool usableSeed(uint32_t seed) {
    return seed != kNoSeed && UdsSecurityAccess::keyFor(seed) != kNeverRightKey;
}

std::vector<uint8_t> positiveAnswer(uint8_t level) {
    return {uds::positiveService(uds::kSecurityAccess), level};
}

std::vector<uint8_t> refusal(uint8_t code) {
    return uds::negativeAnswer(uds::kSecurityAccess, code);
}

}  // namespace

uint32_t UdsSecurityAccess::keyFor(uint32_t seed) {
    return std::rotl(seed, kKeyRotation) ^ kKeyMask;
}

UdsSecurityAccess::SeedSource UdsSecurityAccess::randomSeeds() {
    return [engine = std::mt19937(std::random_device{}())]() mutable {
        return static_cast<uint32_t>(engine());
    };
}

UdsSecurityAccess::UdsSecurityAccess(SeedSource seeds) : seeds_(std::move(seeds)) {}

std::vector<uint8_t> UdsSecurityAccess::answer(std::span<const uint8_t> request,
                                               SimClock::time_point now) {
    if (request.size() < kSeedRequestLength) {
        return refusal(uds::kIncorrectLength);
    }
    const uint8_t level = request[1];
    if (level != kRequestSeed && level != kSendKey) {
        return refusal(uds::kSubFunctionNotSupported);
    }
    if (lockedOut(now)) {
        return refusal(uds::kRequiredTimeDelayNotExpired);
    }
    return level == kRequestSeed ? answerSeedRequest(request) : answerKey(request, now);
}

void UdsSecurityAccess::lock() {
    unlocked_ = false;
    seed_.reset();
}

std::vector<uint8_t> UdsSecurityAccess::answerSeedRequest(std::span<const uint8_t> request) {
    if (request.size() != kSeedRequestLength) {
        return refusal(uds::kIncorrectLength);
    }
    seed_ = drawSeed();
    std::vector<uint8_t> answer = positiveAnswer(kRequestSeed);
    uds::appendBigEndian32(answer, *seed_);
    return answer;
}

std::vector<uint8_t> UdsSecurityAccess::answerKey(std::span<const uint8_t> request,
                                                  SimClock::time_point now) {
    if (request.size() != kKeyRequestLength) {
        return refusal(uds::kIncorrectLength);
    }
    if (!seed_) {
        return refusal(uds::kRequestSequenceError);
    }
    const uint32_t key = uds::readBigEndian32(request, kKeyOffset);
    const uint32_t expected = keyFor(*seed_);
    seed_.reset();
    if (key == kNeverRightKey || key != expected) {
        return refuseKey(now);
    }
    unlocked_ = true;
    wrongKeysInARow_ = 0;
    return positiveAnswer(kSendKey);
}

std::vector<uint8_t> UdsSecurityAccess::refuseKey(SimClock::time_point now) {
    if (++wrongKeysInARow_ < kWrongKeysBeforeLockout) {
        return refusal(uds::kInvalidKey);
    }
    wrongKeysInARow_ = 0;
    lockoutEnds_ = now + kLockoutTime;
    return refusal(uds::kExceededNumberOfAttempts);
}

uint32_t UdsSecurityAccess::drawSeed() {
    for (int draw = 0; draw < kSeedDraws; ++draw) {
        const uint32_t seed = seeds_();
        if (usableSeed(seed)) {
            return seed;
        }
    }
    return kFallbackSeed;
}

bool UdsSecurityAccess::lockedOut(SimClock::time_point now) const {
    return lockoutEnds_ && now < *lockoutEnds_;
}

}  // namespace vtx::sim
