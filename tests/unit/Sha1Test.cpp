#include "trace/Sha1.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace vtx::trace {
namespace {

std::string hexOf(const Sha1::Digest& digest) {
    std::string text;
    for (const uint8_t byte : digest) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", byte);
        text += pair;
    }
    return text;
}

std::string digestOf(std::string_view message) {
    Sha1 sha;
    sha.update(message);
    return hexOf(sha.finish());
}

struct Vector {
    const char* label;
    std::string message;
    const char* digest;
};

// The FIPS 180 examples, and messages whose padding ends just before, at and after a block
// boundary.
const Vector kVectors[] = {
    {"abc", "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
    {"448 bits", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
     "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
    {"896 bits",
     "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlm"
     "nopqrsmnopqrstnopqrstu",
     "a49b2446a02c645bf419f995b67091253a04a259"},
    {"empty", "", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
    {"one million a", std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
    {"55 bytes", std::string(55, 'x'), "cef734ba81a024479e09eb5a75b6ddae62e6abf1"},
    {"56 bytes", std::string(56, 'x'), "901305367c259952f4e7af8323f480d59f81335b"},
    {"63 bytes", std::string(63, 'x'), "0ddc4e0cccd9a12850deb5abb0853a4425559fec"},
    {"64 bytes", std::string(64, 'x'), "bb2fa3ee7afb9f54c6dfb5d021f14b1ffe40c163"},
    {"65 bytes", std::string(65, 'x'), "78c741ddc482e4cdf8c474a0876347a0905b6233"},
};

TEST(Sha1, DigestsOfKnownMessages) {
    for (const Vector& vector : kVectors) {
        EXPECT_EQ(digestOf(vector.message), vector.digest) << vector.label;
    }
}

TEST(Sha1, PiecewiseUpdatesEqualOneUpdate) {
    const std::string message = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    for (const std::size_t piece : {1u, 3u, 7u, 63u, 64u, 65u}) {
        Sha1 sha;
        for (std::size_t at = 0; at < message.size(); at += piece) {
            sha.update(std::string_view(message).substr(at, piece));
        }
        EXPECT_EQ(hexOf(sha.finish()), "84983e441c3bd26ebaae4aa1f95129e5e54670f1")
            << "pieces of " << piece;
    }
}

TEST(Sha1, MillionBytesInBlocksOfThousand) {
    const std::string block(1000, 'a');
    Sha1 sha;
    for (int i = 0; i < 1000; ++i) {
        sha.update(block);
    }
    EXPECT_EQ(hexOf(sha.finish()), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
}

TEST(Sha1, FinishStartsANewMessage) {
    Sha1 sha;
    sha.update("something else entirely");
    (void)sha.finish();
    sha.update("abc");
    EXPECT_EQ(hexOf(sha.finish()), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(hexOf(sha.finish()), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
}

}  // namespace
}  // namespace vtx::trace
