// Message bytes: the same bytes whichever side of the inline capacity they end up on, including
// a message that crosses it with bytes already held inline.
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "protocol/MessageBytes.h"

namespace vtx {
namespace {

struct AppendCase {
    const char* name;
    std::vector<std::size_t> pieces;  // lengths appended one after the other
};

TEST(MessageBytes, AppendsKeepEveryByteInOrder) {
    const AppendCase cases[] = {
        {"empty", {}},
        {"one frame's message", {4, 8}},
        {"exactly the inline bytes", {12}},
        {"one past them, in one piece", {13}},
        {"crossing with bytes held inline", {4, 8, 1}},
        {"byte by byte past them", std::vector<std::size_t>(20, 1)},
        {"a long transfer", {5, 4095}},
    };
    for (const AppendCase& c : cases) {
        SCOPED_TRACE(c.name);
        MessageBytes bytes;
        std::vector<uint8_t> expected;
        for (const std::size_t length : c.pieces) {
            std::vector<uint8_t> piece(length);
            std::iota(piece.begin(), piece.end(), static_cast<uint8_t>(expected.size() * 7));
            bytes.append(piece);
            expected.insert(expected.end(), piece.begin(), piece.end());
        }
        EXPECT_TRUE(bytes == expected);
        // A moved message keeps its bytes wherever they were.
        const MessageBytes moved = std::move(bytes);
        EXPECT_TRUE(moved == expected);
    }
}

}  // namespace
}  // namespace vtx
