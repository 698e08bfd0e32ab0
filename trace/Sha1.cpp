#include "trace/Sha1.h"

#include <algorithm>
#include <bit>

namespace vtx::trace {

namespace {

constexpr std::array<uint32_t, 5> kInitialState = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu,
                                                   0x10325476u, 0xC3D2E1F0u};

uint32_t readBigEndian32(const uint8_t* bytes) {
    return (static_cast<uint32_t>(bytes[0]) << 24) | (static_cast<uint32_t>(bytes[1]) << 16) |
           (static_cast<uint32_t>(bytes[2]) << 8) | static_cast<uint32_t>(bytes[3]);
}

// The round function and constant of round t (0 to 79).
uint32_t roundMix(int t, uint32_t b, uint32_t c, uint32_t d) {
    if (t < 20) {
        return ((b & c) | (~b & d)) + 0x5A827999u;
    }
    if (t < 40) {
        return (b ^ c ^ d) + 0x6ED9EBA1u;
    }
    if (t < 60) {
        return ((b & c) | (b & d) | (c & d)) + 0x8F1BBCDCu;
    }
    return (b ^ c ^ d) + 0xCA62C1D6u;
}

}  // namespace

Sha1::Sha1() {
    reset();
}

void Sha1::reset() {
    state_ = kInitialState;
    pendingSize_ = 0;
    messageBytes_ = 0;
}

void Sha1::update(std::string_view text) {
    update(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

void Sha1::update(std::span<const uint8_t> bytes) {
    messageBytes_ += bytes.size();
    while (!bytes.empty()) {
        const std::size_t take = std::min(kBlockSize - pendingSize_, bytes.size());
        std::copy_n(bytes.begin(), take,
                    pending_.begin() + static_cast<std::ptrdiff_t>(pendingSize_));
        pendingSize_ += take;
        bytes = bytes.subspan(take);
        if (pendingSize_ == kBlockSize) {
            processBlock(pending_.data());
            pendingSize_ = 0;
        }
    }
}

Sha1::Digest Sha1::finish() {
    const uint64_t messageBits = messageBytes_ * 8u;
    // A single 1 bit, zeros up to 56 bytes into a block, then the length in bits, big-endian.
    pending_[pendingSize_++] = 0x80;
    if (pendingSize_ > kBlockSize - 8) {
        std::fill(pending_.begin() + static_cast<std::ptrdiff_t>(pendingSize_), pending_.end(), 0);
        processBlock(pending_.data());
        pendingSize_ = 0;
    }
    std::fill(pending_.begin() + static_cast<std::ptrdiff_t>(pendingSize_), pending_.end() - 8, 0);
    for (int i = 0; i < 8; ++i) {
        pending_[kBlockSize - 1 - i] = static_cast<uint8_t>(messageBits >> (8 * i));
    }
    processBlock(pending_.data());

    Digest digest{};
    for (std::size_t i = 0; i < state_.size(); ++i) {
        for (std::size_t j = 0; j < 4; ++j) {
            digest[4 * i + j] = static_cast<uint8_t>(state_[i] >> (24 - 8 * j));
        }
    }
    reset();
    return digest;
}

void Sha1::processBlock(const uint8_t* block) {
    std::array<uint32_t, 80> w{};
    for (int t = 0; t < 16; ++t) {
        w[t] = readBigEndian32(block + 4 * t);
    }
    for (int t = 16; t < 80; ++t) {
        w[t] = std::rotl(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
    }
    uint32_t a = state_[0];
    uint32_t b = state_[1];
    uint32_t c = state_[2];
    uint32_t d = state_[3];
    uint32_t e = state_[4];
    for (int t = 0; t < 80; ++t) {
        const uint32_t temp = std::rotl(a, 5) + roundMix(t, b, c, d) + e + w[t];
        e = d;
        d = c;
        c = std::rotl(b, 30);
        b = a;
        a = temp;
    }
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
    state_[4] += e;
}

}  // namespace vtx::trace
