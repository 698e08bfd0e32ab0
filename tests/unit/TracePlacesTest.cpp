// The table of trace places against its golden copy: a text the logs are read by cannot change,
// nor a place go, without the golden copy changing with it.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "GoldenPlaces.h"
#include "trace/TracePlaces.h"

namespace {

using vtx::trace::kTracePlaceCount;
using vtx::trace::kTracePlaces;

struct GoldenRow {
    std::string identifier;
    std::string text;
};

// The rows of the golden copy: "identifier<TAB>text" a line; blank lines and lines starting with
// '#' are not rows.
std::vector<GoldenRow> goldenRows() {
    std::vector<GoldenRow> rows;
    std::string_view rest = vtx::test::kGoldenPlaces;
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        const std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
        if (line.empty() || line.front() == '#') {
            continue;
        }
        const std::size_t tab = line.find('\t');
        if (tab == std::string_view::npos || line.find('\t', tab + 1) != std::string_view::npos) {
            ADD_FAILURE() << "not one tab in the golden row: " << line;
            continue;
        }
        rows.push_back({std::string(line.substr(0, tab)), std::string(line.substr(tab + 1))});
    }
    return rows;
}

TEST(TracePlacesTest, TableMatchesTheGoldenCopyRowByRow) {
    const std::vector<GoldenRow> golden = goldenRows();
    ASSERT_EQ(kTracePlaceCount, golden.size());
    for (std::size_t i = 0; i < golden.size(); ++i) {
        EXPECT_EQ(kTracePlaces[i].identifier, golden[i].identifier) << "row " << i;
        EXPECT_EQ(kTracePlaces[i].text, golden[i].text) << kTracePlaces[i].identifier;
    }
}

// Two places with one text could not be told apart in the log.
TEST(TracePlacesTest, EachTextBelongsToOnePlace) {
    std::set<std::string_view> texts;
    for (const auto& place : kTracePlaces) {
        EXPECT_TRUE(texts.insert(place.text).second) << place.identifier << ": " << place.text;
    }
}

}  // namespace
