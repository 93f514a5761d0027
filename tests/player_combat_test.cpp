// The player's attack, the harm it takes and the health it wins back.
#include "game/mob_player.h"

#include "game/mob_main.h"
#include "game/phys.h"
#include "game/scene.h"
#include "support/media.h"

#include "common/player_fixture.h"

#include <gtest/gtest.h>

namespace {

using kesp::Box;
using kesp::Vec;
using test::floor_row;
using test::inf;
using test::Player_test;
using test::standing;

// --- attack -------------------------------------------------------------------

TEST_F(Player_test, TheAttackRunsWindUpStrikeAndRecoveryByItsTimer) {
    struct Case {
        int fps;
        int length, strike_from, strike_to;  // timer values as the update sees them
    };
    for (const Case& c : {Case{60, 30, 23, 19}, Case{30, 15, 11, 10}}) {
        SCOPED_TRACE(c.fps);
        build(c.fps, standing(100));
        settle();
        p->begin_attack();
        EXPECT_EQ(p->attk_sound->plays(), 1);
        for (int t = c.length; t > 0; --t) {
            ASSERT_EQ(p->attack_timer, t);
            step();
            bool live = p->attack_box.l != inf;
            bool strike = c.strike_to <= t && t <= c.strike_from;
            EXPECT_EQ(live, strike) << "t " << t;
            int phase_frame = strike ? 2 : t > c.strike_from ? 0 : 1;
            EXPECT_EQ(p->frame, 35 + phase_frame) << "t " << t;
        }
        EXPECT_EQ(p->attack_timer, 0);
        p->begin_attack();
        EXPECT_EQ(p->attack_timer, c.length) << "a new attack once the timer is out";
        EXPECT_EQ(p->attk_sound->plays(), 2);
    }
}

TEST_F(Player_test, BeginAttackDuringAnAttackDoesNothing) {
    build(60, standing(100));
    settle();
    p->begin_attack();
    step(3);
    p->begin_attack();
    p->end_attack();
    EXPECT_EQ(p->attack_timer, 27);
    EXPECT_EQ(p->attk_sound->plays(), 1);
}

TEST_F(Player_test, TheStrikeBoxDependsOnGroundAndFacing) {
    struct Case {
        const char* what;
        bool air, flip;
        Box rel;  // relative to the player's centre
    };
    const Case cases[] = {
        {"in the air facing right", true, false, {-16, 16, -16, 0}},
        {"in the air facing left", true, true, {-16, 16, -16, 0}},
        {"on the ground facing left", false, true, {-16, 0, -4, 4}},
        {"on the ground facing right", false, false, {0, 16, -4, 4}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        build(60, c.air ? Box::from_center({100.25f, 60}, {4, 8}) : standing(100.25f));
        if (!c.air) settle();
        if (c.flip) p->set(Body::flip);
        p->begin_attack();
        step(7);
        update();  // the first update of the strike
        ASSERT_EQ(p->is(Body::touch_dn), !c.air);
        const Vec at = p->pos;  // the box is made before this update's step moves the player
        EXPECT_FLOAT_EQ(p->attack_box.l, at.x + c.rel.l);
        EXPECT_FLOAT_EQ(p->attack_box.r, at.x + c.rel.r);
        EXPECT_FLOAT_EQ(p->attack_box.u, at.y + c.rel.u);
        EXPECT_FLOAT_EQ(p->attack_box.d, at.y + c.rel.d);
        EXPECT_EQ(p->frame, c.air ? 35 + 3 : 35 + 2);
    }
}

// --- harm and health ----------------------------------------------------------

TEST_F(Player_test, HarmNeedsTheBoxesToTouchAndKnocksAwayFromTheHazard) {
    struct Case {
        const char* what;
        Box hazard;  // relative to the player's box, x 96 to 104, y 224 to 240
        bool hit;
        float knock;
    };
    const Case cases[] = {
        {"touching the right edge", {104, 110, 230, 235}, true, -3},
        {"touching the left edge", {90, 96, 230, 235}, true, 3},
        {"touching a corner", {104, 110, 218, 224}, true, -3},
        {"centred on the player", {98, 102, 200, 300}, true, -3},
        {"just apart", {104.01f, 110, 230, 235}, false, 0},
    };
    const Vec moving{-2.5f, 1.5f};  // a knock-back replaces it, nothing is added
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        build(60, standing(100));
        settle();
        p->set(Body::flip);
        p->vel = moving;
        ASSERT_EQ(p->box.r, 104.0f);
        EXPECT_EQ(p->harm(c.hazard), c.hit);
        EXPECT_EQ(p->health, c.hit ? 95 : 127);
        EXPECT_EQ(p->hurt_sound->plays(), c.hit ? 1 : 0);
        EXPECT_EQ(p->vel.x, c.hit ? c.knock : moving.x);
        EXPECT_EQ(p->vel.y, c.hit ? -6.0f : moving.y);
        EXPECT_TRUE(p->is(Body::flip)) << "the facing stays";
    }
}

// A hazard updated after the player hits it once the player's engines are queued:
// they act on the knock-back in the step that follows.
TEST_F(Player_test, TheQueuedEnginesWorkOnTheKnockBackInTheSameStep) {
    build(60, standing(100));
    settle();
    hold(0, 1);
    step(30);
    ASSERT_FLOAT_EQ(p->vel.x, 3.0f);
    update();
    ASSERT_TRUE(p->harm(Box::from_center(p->pos + Vec{2, 0}, {1, 1})));
    physics();
    EXPECT_FLOAT_EQ(p->vel.x, -3.0f + 0.25f * 0.5f) << "toward the held 3 at the ground rate";
    EXPECT_FLOAT_EQ(p->vel.y, -6.0f + 1.6f * 0.5f);
    EXPECT_FALSE(p->is(Body::flip)) << "still facing the held direction";
}

TEST_F(Player_test, InvincibilityBlocksTheNextHitEntirely) {
    build(60, standing(100));
    settle();
    ASSERT_TRUE(p->harm(p->box));
    step();
    const Vec vel = p->vel;
    EXPECT_FALSE(p->harm(Box::from_center(p->pos + Vec{-2, 0}, {1, 1})));
    EXPECT_EQ(p->vel.x, vel.x);
    EXPECT_EQ(p->vel.y, vel.y);
    EXPECT_EQ(p->health, 95);
    EXPECT_EQ(p->hurt_sound->plays(), 1);
    EXPECT_EQ(p->invincible_timer, 29);
}

TEST_F(Player_test, FourHitsKillAndDeathShowsInTheNextUpdate) {
    build(60, standing(100));
    settle();
    for (int want : {95, 63, 31, -1}) {
        for (int i = 0; i < 100 && p->invincible_timer != 0; ++i) step();
        EXPECT_FALSE(p->is(Body::dead));
        ASSERT_TRUE(p->harm(p->box));
        EXPECT_EQ(p->health, want);
    }
    EXPECT_FALSE(p->is(Body::dead)) << "harm itself sets no flag";
    update();
    EXPECT_TRUE(p->is(Body::dead));
    EXPECT_EQ(p->hurt_sound->plays(), 4);
}

// At 512 frames per second half a second is 256 updates, which is 0 in eight
// bits: no invincibility, so hits pile up in one update.
TEST_F(Player_test, HitsPilingUpNeverWrapHealthBackToFull) {
    build(512, standing(100));
    for (int i = 0; i < 12; ++i) ASSERT_TRUE(p->harm(p->box)) << "hit " << i;
    EXPECT_EQ(p->health, -128);
    update();
    EXPECT_TRUE(p->is(Body::dead));
}

TEST_F(Player_test, HealthReturnsOnePointPerTickAfterOneSecondOfStillness) {
    for (int fps : {60, 30}) {
        SCOPED_TRACE(fps);
        build(fps, standing(100));
        settle();
        ms_per_update = 34;  // a tick in every update
        ASSERT_TRUE(p->harm(p->box));
        int still = 0, first_gain = 0;
        for (int k = 1; k < 400 && !first_gain; ++k) {
            bool moving = p->vel.x != 0 || p->vel.y != 0;
            int before = p->health;
            step();
            if (moving) still = k;
            if (p->health > before) first_gain = k;
            EXPECT_TRUE(p->health == before || !moving) << "k " << k;
        }
        EXPECT_EQ(first_gain - still, fps) << "one second of updates without moving";
        EXPECT_EQ(p->health, 96);

        // Ticks every other update now: a point on each tick, none in between.
        ms_per_update = 17;
        int ticks = 0;
        for (int k = 0; k < 80; ++k) {
            int before = p->health;
            step();
            EXPECT_EQ(p->health - before, scene->mobs.tick && before < 127 ? 1 : 0) << "k " << k;
            ticks += scene->mobs.tick;
        }
        EXPECT_GE(ticks, 31);
        EXPECT_EQ(p->health, 127) << "and no further";
    }
}

TEST_F(Player_test, HealthDoesNotReturnWhileSlidingWalkingOrAttacking) {
    enum Doing { sliding, walking, attacking };
    for (Doing doing : {sliding, walking, attacking}) {
        SCOPED_TRACE(doing);
        if (doing == sliding)
            build(60, Box::from_center({100, 20}, {4, 8}), [](Scene& s) {
                for (int row = 0; row < floor_row; ++row) s.physics.solid.at(11, row) = true;
            });
        else
            build(60, standing(100));
        if (doing == sliding)
            step();
        else
            settle();
        if (doing == walking) hold(0, 0.4f);
        step();  // under way
        p->health = 100;
        ms_per_update = 34;
        for (int k = 0; k < 90; ++k) {
            if (doing == attacking && p->attack_timer == 0) p->begin_attack();
            step();
        }
        if (doing == sliding) {
            EXPECT_TRUE(p->is(Body::touch_lf) && !p->is(Body::touch_dn));
        }
        if (doing == attacking) {
            EXPECT_EQ(p->vel.x, 0.0f);
        }
        EXPECT_EQ(p->health, 100);
        EXPECT_GT(scene->mobs.tick_count, 80u);
    }
}

}  // namespace
