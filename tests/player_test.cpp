// How the player is built, runs and shows itself: its sheets, sounds and timers,
// its speed on the ground and in the air, the frame it picks with the step and
// skid sounds and dust that go with it, and its body and head on screen.
#include "game/mob_player.h"

#include "game/mob_main.h"
#include "game/phys.h"
#include "game/scene.h"
#include "support/media.h"

#include "common/gl_window.h"
#include "common/player_fixture.h"

#include <GL/glew.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <limits>

namespace {

using kesp::Box;
using kesp::Vec;
using test::body_colour;
using test::floor_y;
using test::head_colour;
using test::inf;
using test::Player_test;
using test::sheets;
using test::sounds;
using test::standing;

// --- construction ---------------------------------------------------------

TEST_F(Player_test, IsBuiltSolidAndPhysicalWithItsSheetsFirstInTheAtlas) {
    build(60, standing(100));
    EXPECT_EQ(p->flags, Body::solid | Body::physical);
    const std::uint64_t firsts[] = {p->idle_sheet, p->walk_sheet, p->run_sheet,
                                    p->jump_sheet, p->skid_sheet, p->hurt_sheet,
                                    p->reel_sheet, p->attk_sheet, p->head_sheet};
    for (std::size_t i = 0; i < std::size(sheets); ++i)
        EXPECT_EQ(firsts[i], static_cast<std::uint64_t>(sheets[i].first)) << sheets[i].name;
    // Each sound field holds its own file from the container's cache.
    const kesp::Audio* fields[] = {p->step_sound, p->jump_sound, p->land_sound, p->skid_sound,
                                   p->dunk_sound, p->hurt_sound, p->attk_sound};
    for (std::size_t i = 0; i < std::size(sounds); ++i)
        EXPECT_EQ(fields[i], scene->mobs.load_audio(sounds[i])) << sounds[i];
    EXPECT_EQ(p->health, 127);
    EXPECT_EQ(p->attack_box.l, inf);
    EXPECT_EQ(p->attack_box.r, inf);
    EXPECT_EQ(p->attack_box.u, inf);
    EXPECT_EQ(p->attack_box.d, inf);
    EXPECT_FALSE(p->update(*scene)) << "the player never asks to be removed";
}

TEST_F(Player_test, TimerLengthsFollowTheFrameRateInEightBits) {
    struct Case {
        int fps;
        int coyote, landing, buffer, invincible, recovery, attack;
    };
    const Case cases[] = {
        {60, 6, 3, 12, 30, 60, 30},
        {30, 3, 1, 6, 15, 30, 15},
        {20, 2, 1, 4, 10, 20, 10},
        {300, 30, 15, 60, 150, 44, 150},  // one second no longer fits: 300 mod 256
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fps);
        // As the input handlers and a hit set them.
        build(c.fps, Box::from_center({100, 100}, {4, 8}));
        p->begin_jump();
        EXPECT_EQ(p->jump_buffer_timer, c.buffer);
        p->begin_attack();
        EXPECT_EQ(p->attack_timer, c.attack);
        ASSERT_TRUE(p->harm(p->box));
        EXPECT_EQ(p->invincible_timer, c.invincible);

        build(c.fps, standing(100));
        step();  // meets the floor
        update();
        EXPECT_EQ(p->coyote_timer, c.coyote - 1) << "set, then counted down once";
        EXPECT_EQ(p->landing_timer, c.landing - 1);
        EXPECT_EQ(p->recovery_timer, 0) << "standing still from the start";
        p->vel.x = 0.5f;
        update_alone();
        EXPECT_EQ(p->recovery_timer, static_cast<std::uint8_t>(c.recovery - 1));
    }
}

// --- horizontal motion ------------------------------------------------------

struct Rate_case {
    int fps;
    int to_full;  // updates from standing to speed 3
    int to_stop;  // updates from speed 3 to standing, on the ground
};
const Rate_case rate_cases[] = {{60, 24, 12}, {30, 12, 6}};

TEST_F(Player_test, ReachesRunningSpeedAndStopsOnTheGround) {
    for (const Rate_case& c : rate_cases) {
        SCOPED_TRACE(c.fps);
        build(c.fps, standing(100));
        settle();
        hold(0, 1);
        step(c.to_full - 1);
        EXPECT_LT(p->vel.x, 3.0f);
        step();
        EXPECT_FLOAT_EQ(p->vel.x, 3.0f);
        step(5);
        EXPECT_FLOAT_EQ(p->vel.x, 3.0f) << "never past the target";
        hold(0, 0);
        step(c.to_stop - 1);
        EXPECT_GT(p->vel.x, 0.0f);
        step();
        EXPECT_EQ(p->vel.x, 0.0f);
        EXPECT_FALSE(p->is(Body::flip));
    }
}

TEST_F(Player_test, ReachesRunningSpeedInTheAirAsOnTheGround) {
    for (const Rate_case& c : rate_cases) {
        SCOPED_TRACE(c.fps);
        build(c.fps, Box::from_center({100, 40}, {4, 8}));
        hold(1, 0);
        step(c.to_full - 1);
        EXPECT_GT(p->vel.x, -3.0f);
        step();
        EXPECT_FLOAT_EQ(p->vel.x, -3.0f);
        EXPECT_FALSE(p->is(Body::touch_dn)) << "still falling";
        EXPECT_TRUE(p->is(Body::flip)) << "faces left";
    }
}

TEST_F(Player_test, DuringAnAttackBrakesWhateverTheInputWhileTheFacingFollowsIt) {
    struct Case {
        const char* what;
        float left, right;
        bool flip;
    };
    const Case cases[] = {
        {"holding left", 1, 0, true},
        {"holding right", 0, 1, false},
        {"holding both keeps the facing", 1, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        build(60, standing(100));
        settle();
        hold(0, 1);
        step(30);
        ASSERT_FLOAT_EQ(p->vel.x, 3.0f);
        p->begin_attack();
        hold(c.left, c.right);
        step();
        EXPECT_FLOAT_EQ(p->vel.x, 2.75f) << "ground deceleration 0.5 at dt 0.5";
        EXPECT_EQ(p->is(Body::flip), c.flip);
        step(11);
        EXPECT_EQ(p->vel.x, 0.0f);
        step(5);
        EXPECT_EQ(p->vel.x, 0.0f) << "held at 0 while the attack runs";
    }
}

TEST_F(Player_test, HoldingBothDirectionsBrakesAndKeepsTheFacing) {
    build(60, standing(100));
    settle();
    hold(1, 0);
    step(30);
    ASSERT_FLOAT_EQ(p->vel.x, -3.0f);
    hold(1, 1);
    step(12);
    EXPECT_EQ(p->vel.x, 0.0f);
    EXPECT_TRUE(p->is(Body::flip));
}

// --- frame choice ------------------------------------------------------------

TEST_F(Player_test, TheFrameFollowsTheTableRowsInOrder) {
    enum Ground { air, ground };
    struct Case {
        const char* what;
        Ground where;
        int attack, invincible, health;
        std::uint64_t ticks;
        float x;
        Vec vel;
        bool flip;
        int frame;
    };
    const Case cases[] = {
        {"wind-up wins over everything", ground, 24, 30, 50, 0, 100, {2, 0}, false, 35},
        {"strike on the ground", ground, 23, 30, 127, 0, 100, {0, 0}, false, 37},
        {"strike in the air", air, 19, 0, 127, 0, 100, {0, 3}, false, 38},
        {"reel in the first half of the invincibility", ground, 18, 16, 95, 0, 100, {0, 0}, false, 34},
        {"reel in the air too", air, 0, 16, 95, 0, 100, {0, -8}, false, 34},
        {"recovery after the first half", ground, 18, 15, 95, 0, 100, {0, 0}, false, 36},
        {"jump frame for velocity -8", air, 0, 0, 127, 0, 100, {0, -8}, false, 21 + 0},
        {"jump frame for velocity 0", air, 0, 0, 127, 0, 100, {0, 0}, false, 21 + 5},
        {"jump frame for velocity 5.5", air, 0, 0, 127, 0, 100, {0, 5.5f}, false, 21 + 9},
        {"jump frame for velocity 8", air, 0, 0, 127, 0, 100, {0, 8}, false, 21 + 9},
        {"jump frame for velocity -2.6", air, 0, 0, 127, 0, 100, {0, -2.6f}, false, 21 + 3},
        // (vel + 8) / 1.5 is 0.999999, which 21 + 0.999999 rounds up to 22 in float.
        {"jump frame summed in float", air, 0, 0, 127, 0, 100, {0, -6.50000143f}, false, 21 + 1},
        {"idle at full health", ground, 0, 0, 127, 0, 100, {0, 0}, false, 0},
        {"hurt pose while tick bit 8 is clear", ground, 0, 0, 126, 7, 100, {0, 0}, false, 33},
        {"hurt pose while tick bit 8 is set", ground, 0, 0, 126, 8, 100, {0, 0}, false, 32},
        {"hurt pose after sixteen ticks", ground, 0, 0, 126, 16, 100, {0, 0}, false, 33},
        {"skid moving left facing right", ground, 0, 0, 127, 0, 100, {-2, 0}, false, 31},
        {"skid moving right facing left", ground, 0, 0, 127, 0, 100, {0.5f, 0}, true, 31},
        {"walk at x 100 facing right", ground, 0, 0, 127, 0, 100, {1, 0}, false, 1 + 6},
        {"walk at x 112 facing right", ground, 0, 0, 127, 0, 112, {1, 0}, false, 1 + 8},
        {"walk at x 100 facing left", ground, 0, 0, 127, 0, 100, {-1, 0}, true, 1 + 6},
        {"walk at x 107 facing left", ground, 0, 0, 127, 0, 107, {-1, 0}, true, 1 + 4},
        {"walk below 1.5", ground, 0, 0, 127, 0, 100.9f, {1.49f, 0}, false, 1 + 6},
        {"run from 1.5", ground, 0, 0, 127, 0, 100, {1.5f, 0}, false, 11 + 6},
        {"run at x 112 facing left", ground, 0, 0, 127, 0, 112, {-3, 0}, true, 11 + 4},
        {"run at x 60 facing right", ground, 0, 0, 127, 0, 60, {3, 0}, false, 11 + 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        build(60, c.where == ground ? standing(c.x) : Box::from_center({c.x, 100}, {4, 8}));
        if (c.where == ground) settle();
        p->pos.x = c.x;
        p->vel = c.vel;
        p->attack_timer = static_cast<std::uint8_t>(c.attack);
        p->invincible_timer = static_cast<std::uint8_t>(c.invincible);
        p->health = static_cast<std::int8_t>(c.health);
        scene->mobs.tick_count = c.ticks;
        hold(c.flip ? 1.0f : 0.0f, c.flip ? 0.0f : (c.vel.x != 0 ? 1.0f : 0.0f));
        if (c.flip) p->set(Body::flip);
        update_alone();
        EXPECT_EQ(p->frame, c.frame);
    }
}

// A position too far for 64 bits strides on the frame of the nearest end of
// their range: 2^63 - 1 and -2^63 as unsigned both divide by 6 to cycle frame 1.
// One not a number strides on frame 0.
TEST_F(Player_test, TheStrideOfAPositionBeyondAnyMap) {
    struct Case {
        const char* what;
        float x;
        float vel;
        int frame;
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const Case cases[] = {
        {"walk at x not a number", nan, 1, 1 + 0},
        {"walk at x not a number facing left", nan, -1, 1 + 0},
        {"walk at x infinity", inf, 1, 1 + 1},
        {"walk at x minus infinity", -inf, 1, 1 + 1},
        {"walk at x infinity facing left", inf, -1, 1 + 1},
        {"run at x 1e30", 1e30f, 3, 11 + 1},
        {"run at x -1e30 facing left", -1e30f, -3, 11 + 1},
        {"run at x 2^63", 0x1p63f, 3, 11 + 1},
        {"walk at x 2^62 + 3 * 2^39, within range", 0x1.000006p62f, 1, 1 + 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        build(60, standing(100));
        settle();
        p->pos.x = c.x;
        p->vel = {c.vel, 0};
        hold(c.vel < 0 ? 1.0f : 0.0f, c.vel < 0 ? 0.0f : 1.0f);
        update_alone();
        EXPECT_EQ(p->frame, c.frame);
    }
}

TEST_F(Player_test, StepAndSkidSoundsPlayOnlyWhenTheFrameChangesToThem) {
    build(60, standing(100));
    settle();
    struct Move {
        float x, vx;
        int steps, skids;  // totals after this update
    };
    const Move moves[] = {
        {7, 1, 1, 0},     // walk 1
        {8, 1, 1, 0},     // walk 1 again: no new step
        {13, 1, 1, 0},    // walk 2
        {36, 1, 2, 0},    // walk 6
        {36, 2, 3, 0},    // run 6: another frame, another step
        {6, 2, 4, 0},     // run 1
        {6, 2, 4, 0},     // the same
        {6, -2, 4, 1},    // skid
        {30, -2, 4, 1},   // still the skid frame
        {6, 1, 5, 1},     // walk 1 after the skid
    };
    int k = 0;
    for (const Move& m : moves) {
        p->pos.x = m.x;
        p->vel.x = m.vx;
        update_alone();
        EXPECT_EQ(p->step_sound->plays(), m.steps) << "move " << k;
        EXPECT_EQ(p->skid_sound->plays(), m.skids) << "move " << k;
        ++k;
    }
}

TEST_F(Player_test, RunStridesOnTheGroundRaiseDustAndAirStridesNone) {
    build(60, standing(100));
    settle();
    struct Move {
        float x;
        bool ground;
        int dust;  // puffs raised by this update
    };
    const Move moves[] = {
        {12, true, 0},  // run 2, after the landing pose (run 1)
        {6, true, 1},   // run 1
        {8, true, 0},   // still run 1
        {36, true, 1},  // run 6
        {12, true, 0},  // run 2
        {6, false, 0},  // run 1, but in the air
    };
    int k = 0;
    for (const Move& m : moves) {
        if (!m.ground) p->unset(Body::touch_dn);
        p->coyote_timer = 6;  // the frame stays a run frame in the air
        p->pos.x = m.x;
        p->vel.x = 2;
        int before = dust();
        update_alone();
        EXPECT_EQ(dust() - before, m.dust) << "move " << k;
        ++k;
    }
}

TEST_F(Player_test, ASkidOnTheGroundRaisesDustInAboutHalfItsUpdates) {
    build(60, standing(100));
    settle();
    int raised = 0;
    const int updates = 400;
    for (int k = 0; k < updates; ++k) {
        p->vel.x = -2;  // one puff each time, moving sideways faster than 1
        int before = dust();
        update_alone();
        ASSERT_EQ(p->frame, 31);
        raised += dust() > before;
        scene->mobs.roster.resize(1);  // only the player
    }
    EXPECT_GT(raised, updates * 3 / 10);
    EXPECT_LT(raised, updates * 7 / 10);
    EXPECT_EQ(p->skid_sound->plays(), 1);
}

// --- drawing ---------------------------------------------------------------------

class Player_draw_test : public Player_test {
protected:
    // Draws the scene's mobs through a view at the window's size and reads it back.
    test::Pixels draw() {
        glViewport(0, 0, test::gl_width, test::gl_height);
        glClearColor(0, 0, 0, 0);
        glClear(GL_COLOR_BUFFER_BIT);
        scene->mobs.render(view);
        return test::read_window();
    }
    std::uint32_t at(const test::Pixels& px, int x, int y) const {
        return px.at(x - static_cast<int>(view.l), y - static_cast<int>(view.u));
    }
    static int lit(const test::Pixels& px) {
        int n = 0;
        for (std::uint32_t c : px.data) n += c != test::rgba(0, 0, 0, 255);
        return n;
    }

    const Box view{0, static_cast<float>(test::gl_width), 100, 100 + static_cast<float>(test::gl_height)};
};

TEST_F(Player_draw_test, TheHeadIsDrawnOverTheBodyAtItsOffsetAndMirroredWithIt) {
    struct Case {
        const char* what;
        int frame;
        bool flip;
        Vec head;  // the head's centre relative to the floored body centre
        int head_frame;
    };
    const Case cases[] = {
        {"idle", 0, false, {0, -9}, 0},
        {"hurt 0", 32, false, {1, -7}, 1},
        {"reel", 34, false, {0, -9}, 2},
        {"run 3 facing right", 14, false, {2, -10}, 0},
        {"run 3 facing left", 14, true, {-2, -10}, 0},
        {"wind-up facing left", 35, true, {2, -8}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        build(60, Box::from_center({150.75f, 180.5f}, {4, 8}));
        p->frame = static_cast<std::uint16_t>(c.frame);
        if (c.flip) p->set(Body::flip);
        test::Pixels px = draw();
        const int bx = 150, by = 180;  // the floored centre
        const int hx = bx + static_cast<int>(c.head.x), hy = by + static_cast<int>(c.head.y);
        // The body's 8 x 16 pixels around the centre, where the head leaves them.
        EXPECT_EQ(at(px, bx - 4, by + 7), body_colour(c.frame));
        EXPECT_EQ(at(px, bx + 3, by + 7), body_colour(c.frame));
        EXPECT_EQ(at(px, bx - 4, by - 8 + 5), body_colour(c.frame));
        EXPECT_EQ(at(px, bx - 5, by), test::rgba(0, 0, 0, 255));
        EXPECT_EQ(at(px, bx + 4, by), test::rgba(0, 0, 0, 255));
        // The head's 4 x 4 pixels, over the body where they meet; a mirrored head
        // shows its right half on the left.
        EXPECT_EQ(at(px, hx - 2, hy - 2), head_colour(c.head_frame, c.flip));
        EXPECT_EQ(at(px, hx - 1, hy + 1), head_colour(c.head_frame, c.flip));
        EXPECT_EQ(at(px, hx, hy - 2), head_colour(c.head_frame, !c.flip));
        EXPECT_EQ(at(px, hx + 1, hy + 1), head_colour(c.head_frame, !c.flip));
        EXPECT_EQ(at(px, hx, hy - 3), test::rgba(0, 0, 0, 255));
        // Nothing else: the two quads and no more.
        const int overlap = std::max(0, std::min(hx + 2, bx + 4) - std::max(hx - 2, bx - 4)) *
                            std::max(0, std::min(hy + 2, by + 8) - std::max(hy - 2, by - 8));
        EXPECT_EQ(lit(px), 8 * 16 + 4 * 4 - overlap);
    }
}

TEST_F(Player_draw_test, ABodyFrameBeyondTheHeadTablesDrawsNoHead) {
    // Another sheet loaded first moves the player's frames up by four: the
    // attack's last three frames are 40 to 42, past the tables.
    build(60, Box::from_center({150, 180}, {4, 8}),
          [](Scene& s) { ASSERT_EQ(s.mobs.load_frames("dust.png", 4, 1), 0); });
    ASSERT_EQ(p->attk_sheet, 39u);
    p->frame = 41;
    test::Pixels px = draw();
    EXPECT_EQ(at(px, 146, 172), body_colour(35 + 2)) << "attack frame 2 of the body";
    EXPECT_EQ(lit(px), 8 * 16) << "the body alone";
}

TEST_F(Player_draw_test, FramesOfASheetThatFailedToLoadDrawNothing) {
    files.reset();
    files.emplace();
    write_files(false);
    build(60, standing(150));
    ASSERT_EQ(p->walk_sheet, std::numeric_limits<std::uint64_t>::max());
    ASSERT_EQ(p->run_sheet, 1u) << "the later sheets move down";
    settle();
    scene->mobs.roster.resize(1);  // the landing's dust

    p->vel.x = 1;  // walking, from the missing sheet
    p->pos.x = 151;  // walk frame 1 would step
    update_alone();
    EXPECT_EQ(lit(draw()), 0);
    EXPECT_EQ(p->step_sound->plays(), 0);

    p->vel.x = 2;  // running, from a sheet that loaded
    update_alone();
    test::Pixels px = draw();
    EXPECT_EQ(at(px, 147, floor_y - 1), body_colour(11 + 5));
    EXPECT_GT(lit(px), 8 * 16) << "with its head";
}

TEST_F(Player_draw_test, AResetWithoutSheetsDrawsNothing) {
    // No sheet at all: the atlas is empty, so no frame may name a tile.
    files.reset();
    files.emplace();
    for (const char* s : sounds) files->sound(s);
    build(60, standing(150));
    ASSERT_EQ(p->idle_sheet, std::numeric_limits<std::uint64_t>::max());
    p->reset();
    test::Pixels px;
    EXPECT_NO_THROW(px = draw());
    EXPECT_EQ(lit(px), 0);
}

}  // namespace
