// How the player jumps and lands: held and released jumps, coyote time, buffered
// presses, wall slides and wall jumps, landings at any frame rate, and reset.
#include "game/mob_player.h"

#include "game/mob_main.h"
#include "game/phys.h"
#include "game/scene.h"
#include "support/media.h"

#include "common/player_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

using kesp::Box;
using kesp::Vec;
using test::floor_row;
using test::floor_y;
using test::map_w;
using test::Player_test;
using test::standing;

// --- jumping ----------------------------------------------------------------

TEST_F(Player_test, AHeldJumpLeavesAtMinusEightAndFloatsNearItsPeak) {
    struct Case {
        int fps;
        int first_float;  // the update, counting the jump's as 1, that first floats
        float first_float_vel;
        int floating;  // updates that float before velocity y reaches 3
    };
    const Case cases[] = {{60, 8, -2.4f, 18}, {30, 5, -1.6f, 8}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fps);
        build(c.fps, standing(100));
        settle();
        p->begin_jump();
        update();
        EXPECT_EQ(p->vel.y, -8.0f);
        EXPECT_TRUE(p->is(Body::jumping));
        EXPECT_EQ(p->jump_sound->plays(), 1);
        EXPECT_EQ(p->jump_buffer_timer, 0);
        physics();

        const float gravity = 1.6f * dt(), lift = 1.0f * dt();
        int first = 0, floating = 0;
        for (int k = 2; k < 60 && p->vel.y < 4; ++k) {
            float seen = p->vel.y;
            update();
            // The queue holds this update's engines in order: horizontal,
            // the float when it acts, gravity last.
            const auto& engines = scene->physics.engines;
            bool floats = engines.size() == 3;
            ASSERT_GE(engines.size(), 2u);
            EXPECT_EQ(engines.front().dir.x, 1.0f);
            EXPECT_EQ(engines.back().dir.y, 1.0f);
            EXPECT_EQ(engines.back().rate, 1.6f);
            if (floats) {
                EXPECT_EQ(engines[1].dir.y, -1.0f);
                EXPECT_EQ(engines[1].rate, 1.0f);
                if (!first) {
                    first = k;
                    EXPECT_NEAR(seen, c.first_float_vel, 1e-5) << "k " << k;
                }
                ++floating;
            }
            EXPECT_EQ(floats, std::fabs(seen) < 3.0f) << "k " << k << " vel " << seen;
            physics();
            EXPECT_NEAR(p->vel.y - seen, floats ? gravity - lift : gravity, 1e-5) << "k " << k;
        }
        EXPECT_EQ(first, c.first_float);
        EXPECT_EQ(floating, c.floating);
        EXPECT_FALSE(p->is(Body::touch_dn)) << "still in the air";
    }
}

TEST_F(Player_test, AReleasedJumpDoesNotFloat) {
    build(60, standing(100));
    settle();
    p->begin_jump();
    step();
    p->end_jump();
    EXPECT_FALSE(p->is(Body::jumping));
    for (int k = 0; k < 20; ++k) {
        update();
        EXPECT_EQ(scene->physics.engines.size(), 2u) << "k " << k;
        physics();
    }
}

TEST_F(Player_test, AHeldJumpStaysSetAfterLandingAndKeepsFloating) {
    build(60, standing(100));
    settle();
    p->begin_jump();
    for (int i = 0; i < 200 && !(p->is(Body::touch_dn) && p->vel.y == 0 && i > 5); ++i) step();
    ASSERT_TRUE(p->is(Body::touch_dn));
    EXPECT_TRUE(p->is(Body::jumping));
    update();
    EXPECT_EQ(scene->physics.engines.size(), 3u) << "velocity 0 is below the threshold";
    EXPECT_EQ(p->jump_sound->plays(), 1) << "no second jump without a second press";
}

TEST_F(Player_test, AJumpCountsAsFromTheGroundForTheCoyoteTimeAfterALedge) {
    struct Case {
        int fps;
        int last;  // the last update in the air in which a press still jumps
    };
    for (const Case& c : {Case{60, 5}, Case{30, 2}}) {
        for (int n = 1; n <= c.last + 1; ++n) {
            SCOPED_TRACE(testing::Message() << c.fps << " fps, pressed in air update " << n);
            // A ledge that ends at x = 160; the player walks off it to the right.
            build(c.fps, standing(150), [](Scene& s) {
                for (int x = 20; x < map_w; ++x) s.physics.solid.at(x, floor_row) = false;
            });
            settle();
            hold(0, 1);
            for (int i = 0; i < 100 && p->is(Body::touch_dn); ++i) step();
            ASSERT_FALSE(p->is(Body::touch_dn));
            step(n - 1);
            p->begin_jump();
            update();
            EXPECT_EQ(p->vel.y == -8.0f, n <= c.last) << "vel " << p->vel.y;
            EXPECT_EQ(p->jump_sound->plays(), n <= c.last ? 1 : 0);
        }
    }
}

TEST_F(Player_test, ABufferedJumpStartsOnTouchDown) {
    struct Case {
        const char* what;
        int ahead;     // updates before the touch-down update that the press comes
        bool release;  // released right after the press
        bool jumps;
    };
    for (int fps : {60, 30}) {
        const int buffer = fps == 60 ? 12 : 6;
        const Case cases[] = {
            {"pressed one buffer length ahead", buffer - 1, false, true},
            {"pressed one update earlier", buffer, false, false},
            {"pressed and released", 2, true, false},
        };
        // The update in which the ground contact is first seen, from a drop.
        const Box drop = Box::from_center({100, 120}, {4, 8});
        build(fps, drop);
        int touch = 0;
        for (int k = 1; k < 200 && !touch; ++k) {
            if (p->is(Body::touch_dn)) touch = k;
            step();
        }
        ASSERT_GT(touch, buffer + 1);

        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << fps << " fps, " << c.what);
            build(fps, drop);
            int jumped = 0;
            for (int k = 1; k <= touch + 2; ++k) {
                if (k == touch - c.ahead) {
                    p->begin_jump();
                    if (c.release) p->end_jump();
                }
                update();
                if (p->vel.y == -8.0f && !jumped) jumped = k;
                physics();
            }
            EXPECT_EQ(jumped, c.jumps ? touch : 0);
            EXPECT_EQ(p->jump_sound->plays(), c.jumps ? 1 : 0);
            EXPECT_EQ(p->land_sound->plays(), 1) << "the touch-down is a landing either way";
        }
    }
}

// Walls beside a player hanging in the air with its edges on tile lines, so that
// the physics reports the contact while it does not move sideways.
TEST_F(Player_test, WallJumpsGoAwayFromTheWallAndToTheRightBetweenTwo) {
    struct Case {
        const char* what;
        bool left_wall, right_wall, on_ground, flipped;
        Vec vel;
        bool flip_after;
    };
    const Case cases[] = {
        {"wall on the left", true, false, false, true, {3, -8}, false},
        {"wall on the right", false, true, false, false, {-3, -8}, true},
        {"walls on both sides", true, true, false, true, {3, -8}, false},
        {"on the ground next to a wall", true, false, true, true, {0, -8}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // The player covers x 96 to 104, tiles 12 up to 13.
        float y = c.on_ground ? floor_y - 8 : 100;
        build(60, Box::from_center({100, y}, {4, 8}), [&](Scene& s) {
            for (int row = 0; row < floor_row; ++row) {
                if (c.left_wall) s.physics.solid.at(11, row) = true;
                if (c.right_wall) s.physics.solid.at(13, row) = true;
            }
        });
        if (c.flipped) p->set(Body::flip);
        if (c.on_ground)
            settle();
        else
            step(10);  // long past the coyote time of a fresh player (none)
        ASSERT_EQ(p->is(Body::touch_lf), c.left_wall);
        ASSERT_EQ(p->is(Body::touch_rt), c.right_wall);
        p->begin_jump();
        update();
        EXPECT_EQ(p->vel.x, c.vel.x);
        EXPECT_EQ(p->vel.y, c.vel.y);
        EXPECT_TRUE(p->is(Body::jumping));
        EXPECT_EQ(p->is(Body::flip), c.flip_after);
        EXPECT_EQ(p->jump_sound->plays(), 1);
    }
}

// An earlier jump still held (a second binding, or an analogue one moving) must
// not swallow the press: it waits, silent, and starts a jump on touch-down.
TEST_F(Player_test, APressInTheAirAwayFromWallsWaitsForTheGround) {
    for (bool held : {false, true}) {
        SCOPED_TRACE(held ? "an earlier jump still held" : "falling");
        build(60, Box::from_center({100, 224}, {4, 8}));
        if (held) p->set(Body::jumping);
        step(2);
        ASSERT_FALSE(p->is(Body::touch_dn));
        p->begin_jump();
        int touched = 0, jumped = 0;
        for (int k = 1; k <= 12; ++k) {  // the buffer's length
            if (p->is(Body::touch_dn) && !touched) touched = k;
            update();
            if (p->vel.y == -8.0f && !jumped) jumped = k;
            if (!touched) {
                EXPECT_EQ(int{p->jump_buffer_timer}, 12 - k) << "k " << k;
                EXPECT_EQ(p->jump_sound->plays(), 0) << "k " << k;
            }
            physics();
        }
        EXPECT_GT(touched, 1);
        EXPECT_EQ(jumped, touched);
        EXPECT_EQ(p->jump_sound->plays(), 1);
        EXPECT_TRUE(p->is(Body::jumping));
    }
}

TEST_F(Player_test, SlidesDownAWallAtMostOnePlusOneStepOfGravity) {
    for (int fps : {60, 30}) {
        SCOPED_TRACE(fps);
        build(fps, Box::from_center({100, 16}, {4, 8}), [](Scene& s) {
            for (int row = 0; row < floor_row; ++row) s.physics.solid.at(11, row) = true;
        });
        float fastest = 0;
        step(2);
        ASSERT_TRUE(p->is(Body::touch_lf));
        for (int i = 0; i < 40 && !p->is(Body::touch_dn); ++i) {
            step();
            fastest = std::max(fastest, p->vel.y);
        }
        EXPECT_FLOAT_EQ(fastest, 1.0f + 1.6f * dt());
    }
}

// --- landing and reset ----------------------------------------------------------

TEST_F(Player_test, TouchDownAfterTheCoyoteTimeIsALandingWithSoundDustAndPose) {
    build(60, Box::from_center({100, 120}, {4, 8}));
    for (int i = 0; i < 100 && !p->is(Body::touch_dn); ++i) step();
    ASSERT_TRUE(p->is(Body::touch_dn));
    update();
    EXPECT_EQ(p->land_sound->plays(), 1);
    EXPECT_EQ(dust(), 2) << "standing still: a mirrored pair";
    EXPECT_EQ(p->frame, 11 + 1) << "run frame 1";
    EXPECT_EQ(p->step_sound->plays(), 0) << "the landing pose plays no step";
    physics();
    step(10);
    EXPECT_EQ(p->land_sound->plays(), 1) << "staying on the ground is no landing";
    EXPECT_EQ(p->dunk_sound->plays(), 0);
}

// The coyote timer is refreshed on the ground and counted down at the end of
// the same update; set to 1 (below 20 frames per second) or wrapped to 0 (2560)
// it would be out when the next update looks, and standing still would land
// again and again.
TEST_F(Player_test, StandingStillLandsOnlyOnceAtAnyFrameRate) {
    struct Case {
        int fps;
        int coyote;  // as set on the ground
    };
    const Case cases[] = {{1, 2},  {5, 2},  {9, 2},  {10, 2}, {15, 2},
                          {19, 2}, {20, 2}, {30, 3}, {60, 6}, {2560, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.fps << " fps");
        build(c.fps, standing(100));
        step();  // meets the floor
        update();
        ASSERT_EQ(p->land_sound->plays(), 1) << "a fresh player lands";
        physics();
        scene->mobs.roster.resize(1);  // the landing's dust
        for (int k = 0; k < 10; ++k) {
            update();
            EXPECT_EQ(p->land_sound->plays(), 1) << "update " << k;
            EXPECT_EQ(dust(), 0) << "update " << k;
            EXPECT_EQ(p->coyote_timer + 1, c.coyote) << "update " << k;
            EXPECT_EQ(p->pos.y, floor_y - 8) << "update " << k;
            physics();
        }
    }
}

TEST_F(Player_test, AJumpStartsFromTheGroundAtLowFrameRates) {
    for (int fps : {5, 9, 10, 19, 20}) {
        SCOPED_TRACE(testing::Message() << fps << " fps");
        build(fps, standing(100));
        settle();
        p->begin_jump();
        update();
        EXPECT_EQ(p->vel.y, -8.0f);
        EXPECT_EQ(p->jump_sound->plays(), 1);
    }
}

TEST_F(Player_test, ResetRevivesButLetsARunningAttackGoOn) {
    build(60, standing(100));
    settle();
    p->set(Body::flip | Body::jumping);
    p->begin_attack();
    step(5);
    for (int hits = 0; hits < 4; ++hits) {
        p->invincible_timer = 0;
        p->harm(p->box);
    }
    update();
    ASSERT_TRUE(p->is(Body::dead));
    const Vec pos = p->pos;
    const std::uint8_t attack = p->attack_timer;
    p->begin_jump();
    p->reset();
    EXPECT_FALSE(p->is(Body::dead));
    EXPECT_TRUE(p->is(Body::flip));
    EXPECT_TRUE(p->is(Body::jumping));
    EXPECT_EQ(p->vel.x, 0.0f);
    EXPECT_EQ(p->vel.y, 0.0f);
    EXPECT_EQ(p->pos.x, pos.x);
    EXPECT_EQ(p->pos.y, pos.y);
    for (std::uint8_t timer : {p->coyote_timer, p->landing_timer, p->jump_buffer_timer,
                               p->invincible_timer, p->recovery_timer})
        EXPECT_EQ(timer, 0);
    EXPECT_EQ(p->attack_timer, attack);
    EXPECT_EQ(p->health, 127);
    EXPECT_EQ(p->frame, 0);
    EXPECT_EQ(p->last_frame, 0);
    const int landed = p->land_sound->plays();
    update();
    EXPECT_EQ(p->land_sound->plays(), landed + 1) << "the first ground update after a reset lands";
    EXPECT_EQ(p->attack_timer, attack - 1);
}

}  // namespace
