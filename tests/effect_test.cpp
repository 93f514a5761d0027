#include "game/mob_effect.h"

#include "game/scene.h"

#include "common/game_files.h"
#include "common/gl_window.h"

#include <GL/glew.h>
#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace {

using kesp::Box;
using kesp::Vec;

// A mob that stands still, to raise dust from.
class Still : public Mob {
public:
    Still(Vec pos, Vec half, Vec vel, int flags) : Mob(Box::from_center(pos, half), flags) { this->vel = vel; }
    bool update(Scene&) override { return false; }
    void render(Mobs&) override {}
};

// Frame k of every test sheet: its left half left_of(k), its right half right_of(k).
std::uint32_t left_of(int frame) { return test::rgba(40 + 50 * frame, 0, 255, 255); }
std::uint32_t right_of(int frame) { return test::rgba(0, 40 + 50 * frame, 90, 255); }

class Effect_test : public test::Gl_test {
protected:
    void SetUp() override {
        test::Gl_test::SetUp();
        if (HasFatalFailure()) return;
        fps = kesp::conf.fps;
        files.emplace();
        auto halves = [](int cell, int x, int) { return x < 4 ? left_of(cell) : right_of(cell); };
        files->sheet("dust.png", 4, 1, 8, 8, halves);
        files->sheet("splat.png", 5, 1, 8, 8, halves);
        // No "poof.png": its sheet fails to load.
        scene.emplace();
    }

    void TearDown() override {
        scene.reset();
        files.reset();
        kesp::conf.fps = fps;
    }

    Mobs& mobs() { return scene->mobs; }

    // The window after drawing every mob through a view of the window's size.
    test::Pixels draw() {
        glViewport(0, 0, test::gl_width, test::gl_height);
        glClearColor(0, 0, 0, 0);
        glClear(GL_COLOR_BUFFER_BIT);
        mobs().render({0, test::gl_width, 0, test::gl_height});
        return test::read_window();
    }

    std::int32_t fps = 60;
    std::optional<test::Game_files> files;
    std::optional<Scene> scene;
};

TEST_F(Effect_test, EffectsLastTheirFramesAtTwelvePerSecond) {
    struct Case {
        const char* type;
        std::int32_t fps;
        int updates;
    };
    const Case cases[] = {{"dust", 60, 20},  {"splat", 60, 26}, {"poof", 60, 36},
                          {"dust", 30, 10},  {"splat", 30, 13}, {"poof", 30, 18},
                          {"dust", 12, 4},   {"poof", 144, 84}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.type << " at " << c.fps);
        kesp::conf.fps = c.fps;
        mobs().roster.clear();
        // Outside the room (still all zero): effects are not room-bound.
        ASSERT_NE(mobs().construct(c.type, Box{200, 208, 200, 208}, nullptr), nullptr);
        int updates = 0;
        while (!mobs().roster.empty() && updates < 1000) {
            mobs().update(*scene);
            ++updates;
        }
        EXPECT_EQ(updates, c.updates);
        EXPECT_TRUE(scene->physics.bodies.empty());
    }
}

TEST_F(Effect_test, EffectsStartAtFrameZeroWithNoFlags) {
    for (const char* type : {"dust", "splat", "poof"}) {
        SCOPED_TRACE(type);
        auto* effect = dynamic_cast<Mob_effect*>(mobs().construct(type, Box{0, 8, 0, 8}, nullptr));
        ASSERT_NE(effect, nullptr);
        EXPECT_EQ(effect->time, 0);
        EXPECT_EQ(effect->flags, 0);
    }
}

TEST_F(Effect_test, DustFromAMobStandsOnItsBottomEdge) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Puff {
        float x;
        bool flipped;
    };
    struct Case {
        float vx;
        bool mob_flipped;
        std::vector<Puff> puffs;
    };
    // The mob's centre is (50, 40) and its half size (6, 10): puffs stand at y 46.
    const std::vector<Puff> pair{{47, false}, {53, true}};
    const Case cases[] = {
        {1, false, pair},           {-1, true, pair},          {0, true, pair},
        {nan, false, pair},         {-1.5f, true, {{50, true}}}, {1.5f, false, {{50, false}}},
        {-1.5f, false, {{50, false}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "speed " << c.vx << (c.mob_flipped ? " facing left" : ""));
        mobs().roster.clear();
        Still mob({50, 40}, {6, 10}, {c.vx, 2}, c.mob_flipped ? Body::flip : 0);
        Mob_dust::make_from(mobs(), &mob);
        ASSERT_EQ(mobs().roster.size(), c.puffs.size());
        auto it = mobs().roster.begin();
        for (const Puff& want : c.puffs) {
            const Mob& puff = **it++;
            EXPECT_NE(dynamic_cast<const Mob_dust*>(&puff), nullptr);
            EXPECT_FLOAT_EQ(puff.pos.x, want.x);
            EXPECT_FLOAT_EQ(puff.pos.y, 46);
            EXPECT_FLOAT_EQ(puff.half.x, 4);
            EXPECT_FLOAT_EQ(puff.half.y, 4);
            EXPECT_EQ(puff.flags, want.flipped ? Body::flip : 0);
        }
    }
}

TEST_F(Effect_test, DrawsTheCurrentFrameMirroringOnlyDust) {
    struct Case {
        const char* type;
        bool flipped;
        int updates;  // at 60 frames per second
        int frame;
        bool mirrored;
    };
    const Case cases[] = {
        {"dust", false, 0, 0, false},  {"dust", true, 0, 0, true},   {"dust", true, 6, 1, true},
        {"dust", false, 19, 3, false}, {"splat", true, 11, 2, false}, {"splat", false, 25, 4, false},
    };
    kesp::conf.fps = 60;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.type << (c.flipped ? " flipped" : "") << " after "
                                        << c.updates);
        mobs().roster.clear();
        Mob* effect = mobs().construct(c.type, Vec{100.7f, 50.2f}, Vec{4, 4}, nullptr);
        ASSERT_NE(effect, nullptr);
        if (c.flipped) effect->set(Body::flip);
        for (int i = 0; i < c.updates; ++i) ASSERT_FALSE(effect->update(*scene));

        // Centred on the floor of the centre: pixels 96..103 by 46..53.
        const test::Pixels shown = draw();
        const std::uint32_t left = c.mirrored ? right_of(c.frame) : left_of(c.frame);
        const std::uint32_t right = c.mirrored ? left_of(c.frame) : right_of(c.frame);
        EXPECT_EQ(shown.at(96, 46), left);
        EXPECT_EQ(shown.at(99, 53), left);
        EXPECT_EQ(shown.at(100, 46), right);
        EXPECT_EQ(shown.at(103, 53), right);
        EXPECT_EQ(shown.at(95, 50), test::rgba(0, 0, 0, 255));
        EXPECT_EQ(shown.at(104, 50), test::rgba(0, 0, 0, 255));
    }
}

TEST_F(Effect_test, AnEffectWhoseSheetFailedDrawsNothing) {
    auto* poof = dynamic_cast<Mob_effect*>(mobs().construct("poof", Vec{100, 50}, Vec{4, 4}, nullptr));
    ASSERT_NE(poof, nullptr);
    EXPECT_EQ(poof->sheet, -1);
    // A sheet that loaded, so that -1 plus a frame would name one of its tiles.
    auto* dust = dynamic_cast<Mob_effect*>(mobs().construct("dust", Vec{200, 50}, Vec{4, 4}, nullptr));
    ASSERT_EQ(dust->sheet, 0);
    for (int i = 0; i < 6; ++i) poof->update(*scene);

    test::Pixels shown;
    ASSERT_NO_THROW(shown = draw());
    for (int y = 40; y < 60; ++y)
        for (int x = 90; x < 110; ++x) ASSERT_EQ(shown.at(x, y), test::rgba(0, 0, 0, 255)) << x << ", " << y;
    EXPECT_EQ(shown.at(196, 46), left_of(0));
}

}  // namespace
