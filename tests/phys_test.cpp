#include "game/phys.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

using kesp::Box;
using kesp::Vec;

namespace {

const float inf = std::numeric_limits<float>::infinity();
const float nan = std::numeric_limits<float>::quiet_NaN();

void expect_vec(Vec got, Vec want) {
    EXPECT_FLOAT_EQ(got.x, want.x);
    EXPECT_FLOAT_EQ(got.y, want.y);
}

// A 10 x 10 map with no solid tile; tests wall it in where they need to.
class Phys_test : public ::testing::Test {
protected:
    void SetUp() override {
        phys.solid.resize(10, 10);
        std::fill(phys.solid.begin(), phys.solid.begin() + phys.solid.size(), false);
    }

    void wall(std::size_t x, std::size_t y) { phys.solid.at(x, y) = true; }

    // A solid body of half size (4, 4) centred at c.
    static Body solid_at(Vec c) { return Body(Box::from_center(c, {4, 4}), Body::solid); }

    void step_once(Body& b, float dt = 0.5f) {
        phys.add_body(&b);
        phys.step(dt);
    }

    Phys phys;
};

constexpr int touch_any = Body::touch_lf | Body::touch_rt | Body::touch_up | Body::touch_dn;

TEST(Body, TakesCentreAndHalfSizeFromTheBox) {
    Body b(Box{10, 30, -4, 4}, 0x810);
    expect_vec(b.pos, {20, 0});
    expect_vec(b.half, {10, 4});
    expect_vec(b.vel, {0, 0});
    EXPECT_EQ(b.box.l, 10);
    EXPECT_EQ(b.box.d, 4);
    EXPECT_TRUE(b.is(Body::solid | Body::flip));
    EXPECT_FALSE(b.is(Body::flip | Body::harmful));
    b.set(Body::flip);
    b.unset(Body::solid);
    EXPECT_EQ(b.flags, 0x900);
}

TEST_F(Phys_test, FallingBodyLandsFlushOnTheTile) {
    wall(2, 5);
    Body b = solid_at({20, 35.2f});
    b.vel = {0, 4};
    step_once(b);
    expect_vec(b.pos, {20, 36});
    expect_vec(b.vel, {0, 0});
    EXPECT_FLOAT_EQ(b.box.l, 16);
    EXPECT_FLOAT_EQ(b.box.r, 24);
    EXPECT_FLOAT_EQ(b.box.u, 32);
    EXPECT_FLOAT_EQ(b.box.d, 40);
    EXPECT_EQ(b.flags & touch_any, Body::touch_dn);
}

TEST_F(Phys_test, LandedBodyKeepsStandingWithOrWithoutGravity) {
    wall(2, 5);
    for (bool gravity : {false, true}) {
        SCOPED_TRACE(gravity ? "gravity" : "no engine");
        Body b = solid_at({20, 35.2f});
        b.vel = {0, 4};
        step_once(b);
        if (gravity) phys.add_engine(&b, {0, 1}, inf, 1.6f);
        step_once(b);
        expect_vec(b.pos, {20, 36});
        expect_vec(b.vel, {0, 0});
        EXPECT_FLOAT_EQ(b.box.d, 40);
        EXPECT_EQ(b.flags & touch_any, Body::touch_dn);
    }
}

TEST_F(Phys_test, SolidBodiesAreSpeedLimitedGhostsAreNot) {
    Body solid = solid_at({40, 40});
    solid.vel = {20, -30};
    step_once(solid);
    expect_vec(solid.pos, {44, 36});
    expect_vec(solid.vel, {8, -8});

    // Far outside the map: a ghost reads no tile.
    Body ghost(Box::from_center({-400, 40}, {4, 4}), Body::touch_lf);
    ghost.vel = {20, -30};
    step_once(ghost);
    expect_vec(ghost.pos, {-390, 25});
    expect_vec(ghost.vel, {20, -30});
    EXPECT_FLOAT_EQ(ghost.box.l, -394);
    EXPECT_FLOAT_EQ(ghost.box.u, 21);
    EXPECT_EQ(ghost.flags, Body::touch_lf);
}

TEST_F(Phys_test, FallingSolidBodyNeverExceedsTheLimit) {
    Body b = solid_at({40, 8});
    for (int i = 0; i < 12; ++i) {
        phys.add_engine(&b, {0, 1}, inf, 1.6f);
        step_once(b);
    }
    EXPECT_FLOAT_EQ(b.vel.y, 8);
    // 0.8, 1.6 ... 8.0, then twice the limit, each for half a unit of time.
    EXPECT_NEAR(b.pos.y, 8 + 0.5f * (44 + 16), 1e-4);
}

TEST_F(Phys_test, EnginesDriveTheSpeedAlongTheirDirection) {
    struct Case { Vec dir; float target, rate; Vec vel, want; };
    const Case cases[] = {
        {{1, 0}, 5, 1.5f, {2, 0}, {2.75f, 0}},
        {{1, 0}, 5, 1.5f, {4.5f, 3}, {5, 3}},
        {{1, 0}, 5, 1.5f, {6, 0}, {5.25f, 0}},
        {{0, 1}, inf, 1.6f, {1, 2}, {1, 2.8f}},
        {{0, 1}, inf, -1, {1, 2}, {1, 1.5f}},
        {{1, 0}, 0, inf, {-7.5f, 2}, {0, 2}},
        {{1, 0}, 0, inf, {123, 0}, {0, 0}},
        {{-1, 0}, 3, 1, {0, 0}, {-0.5f, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "dir (" << c.dir.x << ", " << c.dir.y << ") target "
                                        << c.target << " rate " << c.rate << " vel (" << c.vel.x
                                        << ", " << c.vel.y << ")");
        Body b(Box{}, 0);
        b.vel = c.vel;
        Engine{&b, c.dir, c.target, c.rate}.apply(0.5f);
        expect_vec(b.vel, c.want);
    }
}

TEST_F(Phys_test, EnginesOnOneBodyActInQueueOrderEvenUnqueued) {
    Body b(Box{}, 0);
    b.vel = {4, 0};
    // Braking to 0 first and accelerating second ends above zero; the other way round at 0.
    phys.add_engine(&b, {1, 0}, 0, inf);
    phys.add_engine(&b, {1, 0}, 5, 1);
    phys.step(0.5f);
    expect_vec(b.vel, {0.5f, 0});
    expect_vec(b.pos, {0, 0});  // not queued: not moved
    EXPECT_TRUE(phys.engines.empty());
}

TEST_F(Phys_test, LeftMoveLandingOnATileLineStopsOneStepLater) {
    wall(4, 2);
    Body b = solid_at({48, 20});  // left edge 44
    b.vel = {-8, 0};
    step_once(b);
    EXPECT_FLOAT_EQ(b.box.l, 40);
    EXPECT_FLOAT_EQ(b.vel.x, -8);
    EXPECT_EQ(b.flags & touch_any, 0);
    step_once(b);
    EXPECT_FLOAT_EQ(b.box.l, 40);
    EXPECT_FLOAT_EQ(b.vel.x, 0);
    EXPECT_EQ(b.flags & touch_any, Body::touch_lf);
}

TEST_F(Phys_test, RightMoveLandingOnATileLineStopsAtOnce) {
    wall(5, 2);
    Body b = solid_at({32, 20});  // right edge 36
    b.vel = {8, 0};
    step_once(b);
    EXPECT_FLOAT_EQ(b.box.r, 40);
    EXPECT_FLOAT_EQ(b.pos.x, 36);
    EXPECT_FLOAT_EQ(b.vel.x, 0);
    EXPECT_EQ(b.flags & touch_any, Body::touch_rt);
}

TEST_F(Phys_test, StepsOfATileOrMoreStillStopAtTheFirstSolidLine) {
    // At 15, 5 and 1 frames per second a body at the limit covers 2, 6 and 30
    // tiles in one step: a floor one tile thick under column 2, a wall in column 8.
    for (float dt : {2.0f, 6.0f, 30.0f}) {
        SCOPED_TRACE(dt);
        SetUp();
        for (std::size_t x = 0; x < 10; ++x) wall(x, 8);
        for (std::size_t y = 0; y < 8; ++y) wall(8, y);
        Body faller = solid_at({20, 20});
        Body runner = solid_at({20, 36});
        for (int i = 0; i < 10; ++i) {
            phys.add_engine(&faller, {0, 1}, inf, 1.6f);
            runner.vel.x = 8;
            phys.add_body(&faller);
            phys.add_body(&runner);
            ASSERT_NO_THROW(phys.step(dt)) << "step " << i;
        }
        expect_vec(faller.pos, {20, 60});
        EXPECT_EQ(faller.flags & touch_any, Body::touch_dn);
        expect_vec(runner.pos, {60, 36});
        EXPECT_EQ(runner.flags & touch_any, Body::touch_rt);
    }
}

TEST_F(Phys_test, UpwardMoveHitsTheCeilingAndClearsOldContacts) {
    wall(4, 1);
    Body b = solid_at({36, 22});  // top edge 18, row 1 ends at 16
    b.vel = {0, -8};
    b.set(Body::touch_dn | Body::touch_lf);
    step_once(b);
    EXPECT_FLOAT_EQ(b.box.u, 16);
    EXPECT_FLOAT_EQ(b.vel.y, 0);
    EXPECT_EQ(b.flags & touch_any, Body::touch_up);
}

TEST_F(Phys_test, VerticalTestScansTheColumnsAfterTheHorizontalMove) {
    // Moving right from columns 1..2 (pixels 14..22) to columns 2..3 (18..26).
    struct Case { std::size_t floor_x; float y; int touch; };
    const Case cases[] = {{3, 28, Body::touch_dn}, {1, 32, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "floor under column " << c.floor_x);
        SetUp();
        wall(c.floor_x, 4);
        Body b = solid_at({18, 28});  // bottom edge 32, on row 4
        b.vel = {8, 8};
        step_once(b);
        EXPECT_FLOAT_EQ(b.pos.x, 22);
        EXPECT_FLOAT_EQ(b.pos.y, c.y);
        EXPECT_EQ(b.flags & touch_any, c.touch);
    }
}

TEST_F(Phys_test, RestingBodyKissesOnlyWallsItsEdgeLiesOn) {
    wall(3, 2);  // pixels x 24..32
    struct Case { float right_edge; int touch; };
    const Case cases[] = {{24, Body::touch_rt}, {23.5f, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.right_edge);
        Body b = solid_at({c.right_edge - 4, 20});
        step_once(b);
        EXPECT_FLOAT_EQ(b.box.r, c.right_edge);
        EXPECT_EQ(b.flags & touch_any, c.touch);
    }
}

TEST_F(Phys_test, KissTestsFindWallsOnEverySide) {
    // A 2 x 2 tile body at tiles (4..5, 4..5), walled on one side at a time.
    struct Case { std::size_t x, y; int touch; };
    const Case cases[] = {
        {3, 5, Body::touch_lf}, {6, 4, Body::touch_rt},
        {5, 3, Body::touch_up}, {4, 6, Body::touch_dn},
        {3, 3, 0},  // diagonal neighbours touch nothing
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "wall (" << c.x << ", " << c.y << ")");
        SetUp();
        wall(c.x, c.y);
        Body b(Box{32, 48, 32, 48}, Body::solid);
        step_once(b);
        expect_vec(b.pos, {40, 40});
        EXPECT_EQ(b.flags & touch_any, c.touch);
    }
}

TEST_F(Phys_test, NanVelocityRestsAndKissesInsteadOfMoving) {
    wall(6, 4);
    wall(4, 6);
    Body b(Box{32, 48, 32, 48}, Body::solid);
    b.vel = {nan, nan};
    step_once(b);
    expect_vec(b.pos, {40, 40});
    EXPECT_EQ(b.flags & touch_any, Body::touch_rt | Body::touch_dn);
}

TEST_F(Phys_test, BodyQueuedTwiceMovesTwice) {
    Body b = solid_at({40, 40});
    b.vel = {2, 0};
    phys.add_body(&b);
    phys.add_body(&b);
    phys.step(0.5f);
    EXPECT_FLOAT_EQ(b.pos.x, 42);
    EXPECT_TRUE(phys.bodies.empty());
}

TEST_F(Phys_test, EmptyStepChangesNothing) {
    Body b = solid_at({40, 40});
    b.vel = {2, 3};
    b.set(Body::touch_dn);
    phys.step(0.5f);
    expect_vec(b.pos, {40, 40});
    expect_vec(b.vel, {2, 3});
    EXPECT_EQ(b.flags, Body::solid | Body::touch_dn);
}

TEST_F(Phys_test, AtReadsTheTileHoldingThePoint) {
    wall(0, 1);
    EXPECT_TRUE(phys.at({7.9f, 8}));
    EXPECT_FALSE(phys.at({8, 8}));
    EXPECT_FALSE(phys.at({7.9f, 7.9f}));
    EXPECT_TRUE(phys.at({0, 15.99f}));
}

TEST_F(Phys_test, AtOutsideTheMapIsEmpty) {
    // Solid all round the map's border, so that a read that strayed onto the
    // nearest cell inside would show.
    for (std::size_t i = 0; i < 10; ++i) {
        wall(i, 0);
        wall(i, 9);
        wall(0, i);
        wall(9, i);
    }
    struct Case { const char* what; Vec point; bool solid; };
    const Case points[] = {
        {"left edge", {0, 40}, true},    {"just left", {-0.01f, 40}, false},
        {"top edge", {40, 0}, true},     {"just above", {40, -0.5f}, false},
        {"right edge", {79.9f, 40}, true}, {"at 8 x width", {80, 40}, false},
        {"bottom edge", {40, 79.9f}, true}, {"at 8 x height", {40, 80}, false},
        {"nan", {nan, 4}, false},        {"infinite", {inf, -inf}, false},
        {"far", {-1e30f, 4}, false},     {"far below", {4, 1e30f}, false},
    };
    for (const Case& c : points) {
        SCOPED_TRACE(c.what);
        bool got = !c.solid;
        ASSERT_NO_THROW(got = phys.at(c.point));
        EXPECT_EQ(got, c.solid);
    }
}

// A body on the map's outer boundary or beyond it finds nothing outside: it
// rests or moves on as in open air. The decoy is the solid cell inside the map
// nearest to where the body reads outside, which a read that strayed back onto
// the map would find.
TEST_F(Phys_test, BodiesAtAndBeyondTheMapsEdgeMeetNothingOutside) {
    struct Case { const char* what; Box box; Vec vel; Vec pos; std::size_t decoy_x, decoy_y; };
    const Case cases[] = {
        {"resting on the left edge", {0, 8, 32, 40}, {0, 0}, {4, 36}, 0, 4},
        {"resting on the top edge", {32, 40, 0, 8}, {0, 0}, {36, 4}, 4, 0},
        {"resting on the right edge", {72, 80, 32, 40}, {0, 0}, {76, 36}, 9, 4},
        {"resting on the bottom edge", {32, 40, 72, 80}, {0, 0}, {36, 76}, 4, 9},
        {"leaving through the left", {0, 8, 32, 40}, {-8, 0}, {0, 36}, 0, 4},
        {"leaving through the top", {32, 40, 0, 8}, {0, -8}, {36, 0}, 4, 0},
        {"leaving through the right", {72, 80, 32, 40}, {8, 0}, {80, 36}, 9, 4},
        {"leaving through the bottom", {32, 40, 72, 80}, {0, 8}, {36, 80}, 4, 9},
        {"resting outside the corner", {-16, -8, -16, -8}, {0, 0}, {-12, -12}, 0, 0},
        {"falling far below", {32, 40, 1000, 1008}, {0, 8}, {36, 1008}, 4, 9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        wall(c.decoy_x, c.decoy_y);
        Body b(c.box, Body::solid);
        b.vel = c.vel;
        ASSERT_NO_THROW(step_once(b));
        expect_vec(b.pos, c.pos);
        EXPECT_EQ(b.flags & touch_any, 0);
    }
}

TEST_F(Phys_test, HugeBodiesScanOnlyTheMap) {
    wall(6, 7);
    struct Case { const char* what; float half_y; };
    // A scan over every row such a body covers would not end in reasonable time.
    for (const Case& c : {Case{"a thousand million pixels high", 1e9f}, Case{"infinitely high", inf}}) {
        SCOPED_TRACE(c.what);
        Body b = solid_at({40, 0});
        b.half = {8, c.half_y};
        ASSERT_NO_THROW(step_once(b));
        EXPECT_FLOAT_EQ(b.pos.x, 40);
        EXPECT_EQ(b.flags & touch_any, Body::touch_rt);
    }
}

}  // namespace
