// What building a JSON document holds in memory at its peak follows the values
// its text holds, not the text's length or what it claims.
#include "support/json.h"

#include "heap/heap.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>

namespace {

// The heap peak of building a document from text, moved in as the game's loader
// does; the text itself was allocated before.
std::size_t build_peak(std::string text) {
    test::heap::start_count();
    {
        kesp::Json_doc doc(std::move(text));
    }
    return test::heap::stop_count();
}

// White space, as a text padded out or indented at length, holds nothing.
TEST(JsonMemory, ALongTextAroundASmallValueHoldsLittle) {
    std::string text(64 << 20, ' ');
    text.replace(text.size() / 2, 3, "[1]");
    EXPECT_LT(build_peak(std::move(text)), std::size_t{1} << 20);
}

// At its peak a big array holds its values on the builder's stack and in its own
// block, never more.
TEST(JsonMemory, ABigArrayHoldsItsValuesAtMostTwice) {
    constexpr std::size_t values = 200000;
    std::string text = "[0";
    for (std::size_t i = 1; i < values; ++i) text += ",0";
    text += "]";
    EXPECT_LT(build_peak(std::move(text)), 2 * values * sizeof(kesp::Json) + (std::size_t{1} << 20));
}

}  // namespace
