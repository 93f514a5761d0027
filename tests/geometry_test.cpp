#include "support/geometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <utility>

using kesp::Box;
using kesp::Grid;
using kesp::Mat;
using kesp::Vec;

namespace {

const float inf = std::numeric_limits<float>::infinity();
const float nan = std::numeric_limits<float>::quiet_NaN();

void expect_vec(Vec got, Vec want) {
    EXPECT_EQ(got.x, want.x);
    EXPECT_EQ(got.y, want.y);
}

void expect_box(const Box& got, const Box& want) {
    EXPECT_EQ(got.l, want.l);
    EXPECT_EQ(got.r, want.r);
    EXPECT_EQ(got.u, want.u);
    EXPECT_EQ(got.d, want.d);
}

TEST(Box, NinthIsHalfOpenWhileContainsIsClosed) {
    const Box b{0, 10, 0, 10};
    struct Case { Vec p; int ninth; bool contains; };
    const Case cases[] = {
        {{0, 0}, 4, true},       {{10, 5}, 5, true},       {{5, 10}, 7, true},
        {{10, 10}, 8, true},     {{-0.5f, -0.5f}, 0, false}, {{9.5f, 9.5f}, 4, true},
        {{5, -1}, 1, false},     {{11, -1}, 2, false},     {{-1, 5}, 3, false},
        {{-1, 11}, 6, false},    {{nan, 5}, 5, false},     {{5, nan}, 7, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "(" << c.p.x << ", " << c.p.y << ")");
        EXPECT_EQ(b.ninth(c.p), c.ninth);
        EXPECT_EQ(b.contains(c.p), c.contains);
    }
}

TEST(Box, OverlapCountsTouchingAndIgnoresParkedBoxes) {
    const Box b{0, 10, 0, 10};
    const Box parked{inf, inf, inf, inf};
    struct Case { Box o; bool overlaps; };
    const Case cases[] = {
        {{10, 20, 10, 20}, true},    // one shared corner
        {{10.5f, 20, 0, 10}, false},
        {{-5, 0, 3, 4}, true},       // shared left edge
        {{2, 3, 2, 3}, true},        // inside
        {parked, false},
        {{nan, 5, 0, 5}, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(b.overlaps(c.o), c.overlaps);
        EXPECT_EQ(c.o.overlaps(b), c.overlaps);
    }
}

TEST(Box, ClampMovesInsideAndCutsToTheBounds) {
    const Box bounds{0, 100, 0, 50};
    struct Case { Box in, out; };
    const Case cases[] = {
        {{-10, 20, 5, 15}, {0, 30, 5, 15}},
        {{90, 120, 40, 60}, {70, 100, 30, 50}},
        {{-10, 200, 0, 10}, {0, 100, 0, 10}},
        {{10, 200, 0, 10}, {0, 100, 0, 10}},
        {{10, 20, 10, 20}, {10, 20, 10, 20}},
        {{0, 100, -60, 60}, {0, 100, 0, 50}},
    };
    for (const Case& c : cases) expect_box(bounds.clamp(c.in), c.out);
}

TEST(Box, FactoriesAndAccessors) {
    const Box b = Box::from_center({10, 20}, {3, 4});
    expect_box(b, {7, 13, 16, 24});
    expect_box(Box::from_corner({1, 2}, {3, 4}), {1, 4, 2, 6});
    expect_vec(b.ct(), Vec{10, 20});
    expect_vec(b.size(), Vec{6, 8});
    expect_vec(b.dl(), Vec{7, 24});
    expect_vec(b.dr(), Vec{13, 24});
    expect_box(b.grow(1), {6, 14, 15, 25});
    Box s{1, 2, 3, 4};
    s *= 2;
    expect_box(s, {2, 4, 6, 8});
}

TEST(Vec, ArithmeticDecompositionAndNaN) {
    const Vec v{3, 4};
    expect_vec(v + Vec{1, 1}, Vec{4, 5});
    expect_vec(v - Vec{1, 1}, Vec{2, 3});
    expect_vec(v * 2, Vec{6, 8});
    expect_vec(v / 2, Vec{1.5f, 2});
    EXPECT_EQ((v * Vec{2, 1}), 10);
    expect_vec(Vec{-1.5f, 2.5f}.floor(), Vec{-2, 2});
    const Vec d = v.decomp({0, 1});
    expect_vec(d, Vec{4, -3});
    EXPECT_FALSE(d.recomp({0, 1}) != v);
    EXPECT_TRUE((Vec{1, nan} != Vec{1, nan}));
    EXPECT_TRUE((Vec{1, 2} != Vec{1, 3}));
    EXPECT_FALSE((Vec{1, 2} != Vec{1, 2}));
    Vec w{1, 2};
    w += {1, 1};
    w *= 3;
    w /= 2;
    expect_vec(w, Vec{3, 4.5f});
}

TEST(Mat, CompositionActsRightFirst) {
    Mat m = Mat::translate(10, 20);
    m *= Mat::rotate({0, 1});
    m *= Mat::translate(1, 0);
    expect_vec(m * Vec{0, 0}, Vec{10, 21});
    expect_vec(Mat::scale(-1, 1) * Vec{3, 4}, Vec{-3, 4});
    expect_vec(Mat::translate(Vec{2, 3}) * Vec{1, 1}, Vec{3, 4});

    // (S * M) p == S (M p) for a general pair.
    const Mat s{2, 3, 5, 7, 11, 13};
    const Mat n{17, 19, 23, 29, 31, 37};
    const Vec p{0.5f, -2};
    EXPECT_FALSE((s * n) * p != s * (n * p));
}

TEST(Grid, BoundsTestedAccess) {
    Grid<int> g;
    EXPECT_THROW(g.at(0, 0), std::out_of_range);
    g.resize(3, 2);
    for (int i = 0; i < 6; ++i) g.begin()[i] = i;
    EXPECT_EQ(g.at(2, 1), 5);
    EXPECT_EQ(&g.at(2, 1), g.begin() + 5);
    EXPECT_EQ(g.size(), 6u);
    EXPECT_EQ(g.width(), 3u);
    EXPECT_EQ(g.height(), 2u);
    try {
        g.at(3, 0);
        FAIL() << "no throw";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "Grid accessed out of range");
    }
    EXPECT_THROW(g.at(0, 2), std::out_of_range);
    EXPECT_THROW(g.at(static_cast<std::size_t>(-1), 0), std::out_of_range);
}

TEST(Grid, ResizeKeepsTheTopLeftBlock) {
    Grid<int> g;
    g.resize(3, 2);
    for (int i = 0; i < 6; ++i) g.begin()[i] = 10 + i;
    int* before = g.begin();
    g.resize(3, 2);
    EXPECT_EQ(g.begin(), before);  // same size: nothing happens
    g.resize(2, 3);
    EXPECT_EQ(g.at(0, 0), 10);
    EXPECT_EQ(g.at(1, 0), 11);
    EXPECT_EQ(g.at(0, 1), 13);
    EXPECT_EQ(g.at(1, 1), 14);
    EXPECT_EQ(g.width(), 2u);
    EXPECT_EQ(g.height(), 3u);
}

TEST(Grid, MovedFromGridIsEmpty) {
    Grid<bool> a;
    a.resize(2, 2);
    Grid<bool> b = std::move(a);
    EXPECT_EQ(b.size(), 4u);
    EXPECT_EQ(a.size(), 0u);
    EXPECT_THROW(a.at(0, 0), std::out_of_range);
}


// Each value converted to I, with the result expected.
template <class I, class F>
void expect_saturated(std::initializer_list<std::pair<F, I>> cases) {
    for (auto [v, want] : cases) EXPECT_EQ(kesp::saturate_cast<I>(v), want) << "from " << v;
}

TEST(SaturateCast, TruncatesTowardZeroInsideTheRange) {
    expect_saturated<std::int32_t, float>({{0.0f, 0},
                                           {-0.0f, 0},
                                           {1.9f, 1},
                                           {-1.9f, -1},
                                           {2147483520.0f, 2147483520},  // the last float below 2^31
                                           {-2147483648.0f, std::numeric_limits<std::int32_t>::min()}});
    expect_saturated<std::int64_t, float>({{0x1.fffffep62f, 9223371487098961920}, {-0x1p63f, INT64_MIN}});
    expect_saturated<std::uint8_t, float>({{255.9f, 255}, {-0.9f, 0}});
    expect_saturated<std::uint32_t, double>({{4294967295.9, 4294967295u}, {-0.9, 0u}});
    expect_saturated<std::int64_t, double>({{9223372036854774784.0, 9223372036854774784}});
}

TEST(SaturateCast, HoldsValuesBeyondTheRangeAtItsEndsAndNaNAtZero) {
    constexpr std::int32_t lo32 = std::numeric_limits<std::int32_t>::min();
    constexpr std::int32_t hi32 = std::numeric_limits<std::int32_t>::max();
    expect_saturated<std::int32_t, float>({{nan, 0},
                                           {-nan, 0},
                                           {inf, hi32},
                                           {-inf, lo32},
                                           {1e30f, hi32},
                                           {-1e30f, lo32},
                                           {2147483648.0f, hi32},
                                           {-2147483904.0f, lo32}});  // the first float below -2^31
    expect_saturated<std::int64_t, float>({{nan, 0}, {0x1p63f, INT64_MAX}, {-0x1.000002p63f, INT64_MIN},
                                           {inf, INT64_MAX}, {-inf, INT64_MIN}});
    expect_saturated<std::uint8_t, float>({{256.0f, 255}, {-1.0f, 0}, {-1e30f, 0}, {inf, 255}, {nan, 0}});
    expect_saturated<std::uint64_t, float>({{0x1p64f, UINT64_MAX}, {-inf, 0u}, {nan, 0u}});
    expect_saturated<std::uint32_t, double>({{4294967296.0, UINT32_MAX}, {-1.0, 0u}, {1e300, UINT32_MAX},
                                             {std::numeric_limits<double>::quiet_NaN(), 0u}});
}

}  // namespace
