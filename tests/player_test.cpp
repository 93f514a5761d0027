#include "game/mob_player.h"

#include "game/mob_effect.h"
#include "game/mob_main.h"
#include "game/phys.h"
#include "game/scene.h"
#include "support/input.h"
#include "support/media.h"

#include "common/game_files.h"
#include "common/gl_window.h"

#include <GL/glew.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

using kesp::Box;
using kesp::Vec;

constexpr float inf = std::numeric_limits<float>::infinity();

// The player's sheets in load order, and the first frame of each when they are
// the first sheets of the atlas.
struct Sheet_file {
    const char* name;
    int cols;
    int first;
};
const Sheet_file sheets[] = {
    {"player_idle.png", 1, 0},  {"player_walk.png", 10, 1}, {"player_run.png", 10, 11},
    {"player_jump.png", 10, 21}, {"player_skid.png", 1, 31}, {"player_hurt.png", 2, 32},
    {"player_reel.png", 1, 34}, {"player_attk.png", 4, 35}, {"player_head.png", 3, 39},
};
const char* const sounds[] = {"step.wav", "jump.wav", "land.wav", "skid.wav",
                              "dunk.wav", "hurt.wav", "attk.wav"};

// Body cells are 8 x 16, each body frame its own colour; head cells are 4 x 4,
// their left and right halves told apart so that mirroring shows.
constexpr int body_w = 8, body_h = 16, head_side = 4;
constexpr std::uint32_t body_colour(int frame) { return test::rgba(frame + 1, 200, 50, 255); }
constexpr std::uint32_t head_colour(int frame, bool right_half) {
    return test::rgba(frame + 1, right_half ? 100 : 0, 200, 255);
}

// The test map: 64 x 40 tiles, empty but for a floor whose top is at y = 240.
constexpr int map_w = 64, map_h = 40, floor_row = 30;
constexpr float floor_y = floor_row * 8;

// A player standing on the floor with its centre at x.
Box standing(float x) { return Box::from_center({x, floor_y - 8}, {4, 8}); }

class Player_test : public test::Gl_test {
protected:
    void SetUp() override {
        test::Gl_test::SetUp();
        if (HasFatalFailure()) return;
        saved_fps = kesp::conf.fps;
        saved_inputs = std::exchange(kesp::inputs, {});
        kesp::inputs.resize(8);
        files.emplace();
        write_files(true);
    }

    void TearDown() override {
        scene.reset();
        files.reset();
        kesp::inputs = std::move(saved_inputs);
        kesp::conf.fps = saved_fps;
    }

    void write_files(bool walk_sheet) {
        for (const Sheet_file& s : sheets) {
            if (!walk_sheet && std::string(s.name) == "player_walk.png") continue;
            bool head = std::string(s.name) == "player_head.png";
            int w = head ? head_side : body_w, h = head ? head_side : body_h;
            int first = s.first;
            files->sheet(s.name, s.cols, 1, w, h, [=](int cell, int x, int) {
                return head ? head_colour(cell, x >= head_side / 2) : body_colour(first + cell);
            });
        }
        files->sheet("dust.png", 4, 1, 8, 8, [](int, int, int) { return test::rgba(9, 9, 9, 255); });
        for (const char* s : sounds) files->sound(s);
    }

    // A fresh scene at the frame rate, with the player built from box; prepare
    // runs on the empty scene first (extra walls, other sheets).
    void build(int fps, const Box& box, const std::function<void(Scene&)>& prepare = {}) {
        kesp::conf.fps = fps;
        scene.reset();
        scene.emplace();
        scene->room = {0, map_w * 8, 0, map_h * 8};
        scene->mobs.clock = [this] { return now; };
        scene->mobs.next_tick = now + 33;
        kesp::Grid<bool>& solid = scene->physics.solid;
        solid.resize(map_w, map_h);
        for (int y = 0; y < map_h; ++y)
            for (int x = 0; x < map_w; ++x) solid.at(x, y) = y == floor_row;
        if (prepare) prepare(*scene);
        p = static_cast<Mob_player*>(scene->mobs.construct("player", box, nullptr));
        ASSERT_NE(p, nullptr);
        ASSERT_EQ(scene->mobs.player, p);
        for (const kesp::Audio* sound : {p->step_sound, p->jump_sound, p->land_sound, p->skid_sound,
                                         p->dunk_sound, p->hurt_sound, p->attk_sound})
            ASSERT_NE(sound, nullptr);
        hold(0, 0);
    }

    // Solid tiles in the half-open tile range [x0, x1) x [y0, y1).
    void wall(int x0, int y0, int x1, int y1) {
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) scene->physics.solid.at(x, y) = true;
    }

    void hold(float left, float right) {
        kesp::inputs[0].value = left;
        kesp::inputs[1].value = right;
    }

    float dt() const { return 30.0f / static_cast<float>(kesp::conf.fps); }

    // The mob pass alone, as the game runs it before the physics step.
    void update() {
        now += ms_per_update;
        scene->mobs.update(*scene);
    }
    void physics() { scene->physics.step(dt()); }
    void step(int n = 1) {
        for (int i = 0; i < n; ++i) {
            update();
            physics();
        }
    }
    // Steps until the player stands on the ground past its landing pose.
    void settle() {
        for (int i = 0; i < 100 && (!p->is(Body::touch_dn) || p->coyote_timer == 0 ||
                                    p->landing_timer != 0);
             ++i)
            step();
        ASSERT_TRUE(p->is(Body::touch_dn));
        ASSERT_EQ(p->landing_timer, 0);
    }
    // The player's own update alone, with the queues it fills emptied again:
    // the frame choice sees exactly the state a test set.
    void update_alone() {
        p->update(*scene);
        scene->physics.engines.clear();
    }

    int dust() const {
        int n = 0;
        for (const auto& mob : scene->mobs.roster) n += dynamic_cast<const Mob_dust*>(mob.get()) != nullptr;
        return n;
    }

    int saved_fps = 60;
    std::vector<kesp::Input> saved_inputs;
    std::uint64_t now = 5000;
    std::uint64_t ms_per_update = 0;  // no ticks unless a test asks
    std::optional<test::Game_files> files;
    std::optional<Scene> scene;
    Mob_player* p = nullptr;
};

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
