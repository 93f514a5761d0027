#include "support/rpack.h"

#include <SDL_rect.h>
#include <gtest/gtest.h>

#include <cctype>
#include <climits>
#include <ostream>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

using Skyline = std::vector<std::pair<int, int>>;

Skyline skyline(const kesp::Rpack& p) {
    Skyline s;
    for (const kesp::Rpack_rect& point : p.skyline()) s.emplace_back(point.x, point.y);
    return s;
}

struct Size {
    int w;
    int h;
};

// A packer of the given side after placing the rectangles in order.
kesp::Rpack packed(int side, const std::vector<Size>& before) {
    kesp::Rpack p(side);
    for (Size s : before) {
        SDL_Rect r{0, 0, s.w, s.h};
        EXPECT_TRUE(p.add(r)) << s.w << " x " << s.h << " during set-up";
    }
    return p;
}

struct Placement {
    const char* what;
    int side;
    std::vector<Size> before;
    Skyline start;
    Size rect;
    int x, y;
    Skyline after;
};

void PrintTo(const Placement& p, std::ostream* os) { *os << p.what; }

class Placing : public testing::TestWithParam<Placement> {};

TEST_P(Placing, LowestRestingRowWinsAndTheSkylineIsReshaped) {
    const Placement& c = GetParam();
    kesp::Rpack p = packed(c.side, c.before);
    ASSERT_EQ(skyline(p), c.start);
    SDL_Rect r{-1, -1, c.rect.w, c.rect.h};
    ASSERT_TRUE(p.add(r));
    EXPECT_EQ(r.x, c.x);
    EXPECT_EQ(r.y, c.y);
    EXPECT_EQ(r.w, c.rect.w);
    EXPECT_EQ(r.h, c.rect.h);
    EXPECT_EQ(skyline(p), c.after);
}

INSTANTIATE_TEST_SUITE_P(Rpack, Placing, testing::Values(
    Placement{"first rectangle splits the empty line", 1024, {}, {{0, 0}, {1024, 1024}},
              {16, 8}, 0, 0, {{0, 8}, {16, 0}, {1024, 1024}}},
    Placement{"full width rises the only stretch", 1024, {}, {{0, 0}, {1024, 1024}},
              {1024, 5}, 0, 0, {{0, 5}, {1024, 1024}}},
    Placement{"whole square into an empty packer", 64, {}, {{0, 0}, {64, 64}},
              {64, 64}, 0, 0, {{0, 64}, {64, 64}}},
    // Equal rows stay separate points; the tie goes to the left one.
    Placement{"tie goes left, no merging", 32, {{4, 4}, {28, 4}}, {{0, 4}, {4, 4}, {32, 32}},
              {4, 4}, 0, 4, {{0, 8}, {4, 4}, {32, 32}}},
    // Rows 10 at 0; 6 at 4 (the deeper stretch from 12 lies under it); 6 at 12.
    Placement{"covered deeper stretch sets the row", 32, {{4, 10}, {8, 2}, {20, 6}},
              {{0, 10}, {4, 2}, {12, 6}, {32, 32}},
              {12, 3}, 4, 6, {{0, 10}, {4, 9}, {16, 6}, {32, 32}}},
    // Columns 8 and 9 now begin at row 6: the free rows 2 to 5 there are given up.
    Placement{"partly covered stretch takes the top row", 10, {{4, 6}, {6, 2}},
              {{0, 6}, {4, 2}, {10, 10}},
              {8, 2}, 0, 6, {{0, 8}, {8, 6}, {10, 10}}},
    // Every stretch it covers is erased, however many, before the line closes.
    Placement{"full width erases every stretch it covers", 16, {{4, 1}, {4, 2}, {8, 3}},
              {{0, 1}, {4, 2}, {8, 3}, {16, 16}},
              {16, 1}, 0, 3, {{0, 4}, {16, 16}}},
    Placement{"two stretches erased, then the last one split", 16, {{4, 1}, {4, 2}, {8, 3}},
              {{0, 1}, {4, 2}, {8, 3}, {16, 16}},
              {12, 1}, 0, 3, {{0, 4}, {12, 3}, {16, 16}}}),
    [](const testing::TestParamInfo<Placement>& info) {
        std::string name = info.param.what;
        for (char& ch : name)
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return name;
    });

struct Refusal {
    const char* what;
    int side;
    std::vector<Size> before;
    Size rect;
};

TEST(Rpack, RefusalsChangeNeitherTheSkylineNorTheRectangle) {
    const Refusal cases[] = {
        {"wider than the square", 1024, {}, {1025, 1}},
        {"whole square once anything is placed", 64, {{1, 1}}, {64, 64}},
        {"too tall at every point", 10, {{4, 6}, {6, 2}}, {5, 9}},
        {"taller than the square", 16, {}, {1, 17}},
        {"negative width", 16, {}, {-4, 4}},
        {"negative height", 16, {}, {4, -4}},
        {"huge width", 16, {}, {INT_MAX, 1}},
        {"huge height", 16, {{2, 2}}, {1, INT_MAX}},
    };
    for (const Refusal& c : cases) {
        kesp::Rpack p = packed(c.side, c.before);
        Skyline before = skyline(p);
        SDL_Rect r{-7, -9, c.rect.w, c.rect.h};
        EXPECT_FALSE(p.add(r)) << c.what;
        EXPECT_EQ(skyline(p), before) << c.what;
        EXPECT_EQ(r.x, -7) << c.what;
        EXPECT_EQ(r.y, -9) << c.what;
        EXPECT_EQ(r.w, c.rect.w) << c.what;
        EXPECT_EQ(r.h, c.rect.h) << c.what;
    }
}

TEST(Rpack, ClearPlacesAsIfNew) {
    kesp::Rpack p = packed(64, {{64, 60}, {10, 4}});
    SDL_Rect full{0, 0, 64, 64};
    ASSERT_FALSE(p.add(full));
    p.clear();
    EXPECT_EQ(skyline(p), (Skyline{{0, 0}, {64, 64}}));
    SDL_Rect r{0, 0, 16, 8};
    ASSERT_TRUE(p.add(r));
    EXPECT_EQ(r.x, 0);
    EXPECT_EQ(r.y, 0);
    EXPECT_EQ(skyline(p), (Skyline{{0, 8}, {16, 0}, {64, 64}}));
    EXPECT_TRUE(p.add(full = {0, 0, 64, 56}));
}

// Many mixed rectangles: every placed one lies inside the square, none overlap,
// and the skyline keeps its shape throughout.
TEST(Rpack, PlacedRectanglesStayInsideAndNeverOverlap) {
    const int side = 256;
    kesp::Rpack p(side);
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> dim(1, 40);
    std::vector<SDL_Rect> placed;
    int refused = 0;
    for (int i = 0; i < 400; ++i) {
        SDL_Rect r{0, 0, dim(random), dim(random)};
        if (!p.add(r)) {
            ++refused;
            continue;
        }
        ASSERT_GE(r.x, 0);
        ASSERT_GE(r.y, 0);
        ASSERT_LE(r.x + r.w, side);
        ASSERT_LE(r.y + r.h, side);
        for (const SDL_Rect& o : placed)
            ASSERT_FALSE(r.x < o.x + o.w && o.x < r.x + r.w && r.y < o.y + o.h && o.y < r.y + r.h)
                << "rectangle " << i << " overlaps an earlier one";
        placed.push_back(r);

        const auto& line = p.skyline();
        ASSERT_EQ(line.front().x, 0);
        ASSERT_EQ(line.back().x, side);
        ASSERT_EQ(line.back().y, side);
        for (auto a = line.begin(), b = std::next(a); b != line.end(); ++a, ++b)
            ASSERT_LE(a->x, b->x);
    }
    EXPECT_GT(placed.size(), 30u);
    EXPECT_GT(refused, 0);  // the square did fill up
}

}  // namespace
