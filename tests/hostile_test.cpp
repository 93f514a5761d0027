#include "game/mob_hostile.h"

#include "game/mob_effect.h"
#include "game/mob_player.h"
#include "game/scene.h"

#include "common/game_files.h"
#include "common/gl_window.h"

#include <GL/glew.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace {

using kesp::Box;
using kesp::Vec;

// Every test sheet has 8 x 8 cells whose four quarters carry the sheet, the cell
// and the quarter (0 top left, 1 top right, 2 bottom left, 3 bottom right) in
// their colour, so a drawn sprite tells its frame and how it was turned.
enum Sheet_id { rotten_sheet, bones_sheet, bone_sheet, peeper_sheet, crawler_sheet };

std::uint32_t colour(int sheet, int cell, int quarter) {
    return test::rgba(30 + 30 * cell, 40 + 50 * quarter, 100 + 20 * sheet, 255);
}

// Which sheet quarter shows in each screen quarter.
using Quarters = std::array<int, 4>;
constexpr Quarters upright{0, 1, 2, 3};
constexpr Quarters mirrored{1, 0, 3, 2};
constexpr Quarters quarter_turn_cw{2, 0, 3, 1};
constexpr Quarters half_turn{3, 2, 1, 0};
constexpr Quarters quarter_turn_ccw{1, 3, 0, 2};

struct Look {
    int sheet;
    int frame;
    Quarters quarters;
    bool operator==(const Look&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Look& l) {
    return out << "sheet " << l.sheet << " frame " << l.frame << " quarters " << l.quarters[0]
               << l.quarters[1] << l.quarters[2] << l.quarters[3];
}

class Hostile_test : public test::Gl_test {
protected:
    void SetUp() override {
        test::Gl_test::SetUp();
        if (HasFatalFailure()) return;
        fps = kesp::conf.fps;
        kesp::conf.fps = 60;
        files.emplace();
        sheets();
        files->sound("kill.wav");
        build();
    }

    void TearDown() override {
        player.reset();
        scene.reset();
        files.reset();
        kesp::conf.fps = fps;
    }

    void sheets() {
        const struct {
            Sheet_id id;
            const char* file;
            int cols;
        } all[] = {{rotten_sheet, "rotten.png", 7},
                   {bones_sheet, "bones.png", 7},
                   {bone_sheet, "bone.png", 3},
                   {peeper_sheet, "peeper.png", 4},
                   {crawler_sheet, "crawler.png", 2}};
        for (const auto& s : all)
            files->sheet(s.file, s.cols, 1, 8, 8, [id = s.id](int cell, int x, int y) {
                return colour(id, cell, (y < 4 ? 0 : 2) + (x < 4 ? 0 : 1));
            });
    }

    // An empty 60 x 60 map whose top-left 40 x 30 cells are the room, with a
    // player that stays out of the roster: tests place it and set its strike.
    void build() {
        player.reset();
        scene.emplace();
        mobs().clock = [this] { return now; };
        mobs().next_tick = now + 33;
        scene->physics.solid.resize(60, 60);
        for (std::size_t y = 0; y < 60; ++y)
            for (std::size_t x = 0; x < 60; ++x) scene->physics.solid.at(x, y) = false;
        scene->room = {0, 320, 0, 240};
        player = std::make_unique<Mob_player>(mobs(), Box::from_center({300, 20}, {4, 8}), nullptr);
    }

    Mobs& mobs() { return scene->mobs; }

    // Cells x0..x1 by y0..y1, both ends included, made solid.
    void solid(int x0, int y0, int x1, int y1) {
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x)
                scene->physics.solid.at(static_cast<std::size_t>(x), static_cast<std::size_t>(y)) = true;
    }

    template <class Kind>
    Kind* add(const char* type, Vec centre, Vec half = {4, 4}) {
        return dynamic_cast<Kind*>(mobs().construct(type, centre, half, nullptr));
    }

    void place_player(Vec centre) {
        player->pos = centre;
        player->box = Box::from_center(centre, player->half);
    }
    void strike(const Box& box) { player->attack_box = box; }

    // One pass of the container, with or without a tick of its clock.
    void update(bool tick) {
        now = tick ? mobs().next_tick + 1 : mobs().next_tick;
        mobs().update(*scene);
        ASSERT_EQ(mobs().tick, tick);
    }
    // A pass and the physics step after it, as the game runs them.
    void step(bool tick = false) {
        update(tick);
        scene->physics.step(30.0f / static_cast<float>(kesp::conf.fps));
    }

    bool alive(const Mob* mob) const {
        for (const auto& m : scene->mobs.roster)
            if (m.get() == mob) return true;
        return false;
    }
    template <class Kind>
    std::vector<Kind*> all() {
        std::vector<Kind*> found;
        for (auto& m : mobs().roster)
            if (auto* k = dynamic_cast<Kind*>(m.get())) found.push_back(k);
        return found;
    }

    // Draws every mob through the view and reads the 8 x 8 sprite centred on
    // world point c; nothing when no sprite of a test sheet covers it.
    std::optional<Look> look(Vec c, const Box& view = {0, 320, 0, 240}) {
        glViewport(0, 0, test::gl_width, test::gl_height);
        glClearColor(0, 0, 0, 0);
        glClear(GL_COLOR_BUFFER_BIT);
        mobs().render(view);
        const test::Pixels p = test::read_window();
        const int x = static_cast<int>(c.x - view.l), y = static_cast<int>(c.y - view.u);
        if (x < 2 || y < 2 || x + 2 > p.w || y + 2 > p.h) return std::nullopt;
        const int at[4][2] = {{x - 2, y - 2}, {x + 1, y - 2}, {x - 2, y + 1}, {x + 1, y + 1}};
        Look l{};
        for (int q = 0; q < 4; ++q) {
            const std::uint32_t px = p.at(at[q][0], at[q][1]);
            const int r = px & 0xff, g = px >> 8 & 0xff, b = px >> 16 & 0xff;
            if (r < 30 || g < 40 || b < 100) return std::nullopt;
            const int sheet = (b - 100) / 20, frame = (r - 30) / 30;
            if (q > 0 && (sheet != l.sheet || frame != l.frame)) return std::nullopt;
            l.sheet = sheet;
            l.frame = frame;
            l.quarters[q] = (g - 40) / 50;
        }
        return l;
    }

    bool empty_window() {
        glViewport(0, 0, test::gl_width, test::gl_height);
        glClearColor(0, 0, 0, 0);
        glClear(GL_COLOR_BUFFER_BIT);
        mobs().render({0, 320, 0, 240});
        for (std::uint32_t px : test::read_window().data)
            if (px != test::rgba(0, 0, 0, 255)) return false;
        return true;
    }

    int kill_plays() { return mobs().load_audio("kill.wav")->plays(); }

    std::int32_t fps = 60;
    std::uint64_t now = 1000;
    std::optional<test::Game_files> files;
    std::optional<Scene> scene;
    std::unique_ptr<Mob_player> player;
};

constexpr float inf = std::numeric_limits<float>::infinity();
const Box no_strike{inf, inf, inf, inf};

// The kinds as the factory builds them.

TEST_F(Hostile_test, FactoryBuildsEveryKindWithItsFlagsAndSize) {
    const struct {
        const char* type;
        std::int32_t flags;
    } kinds[] = {{"rotten", 0xE10}, {"bones", 0xE10}, {"bone", 0xE00},
                 {"peeper", 0xC00}, {"crawler", 0xE10}, {"thorns", 0x400}};
    for (const auto& k : kinds) {
        SCOPED_TRACE(k.type);
        Mob* mob = mobs().construct(k.type, Box{40, 56, 20, 44}, nullptr);
        ASSERT_NE(mob, nullptr);
        EXPECT_EQ(mob->flags, k.flags);
        EXPECT_FLOAT_EQ(mob->pos.x, 48);
        EXPECT_FLOAT_EQ(mob->pos.y, 32);
        EXPECT_FLOAT_EQ(mob->half.x, 8);
        EXPECT_FLOAT_EQ(mob->half.y, 12);
        EXPECT_EQ(mob->vel.x, 0);
        EXPECT_EQ(mob->vel.y, 0);
    }
    EXPECT_EQ(mobs().construct("Rotten", Box{0, 8, 0, 8}, nullptr), nullptr);
}

// The death rule of the four kinds the attack kills.

TEST_F(Hostile_test, StruckMobLeavesOneEffectAndSparesThePlayer) {
    struct Case {
        const char* type;
        bool splat;     // else a poof
        float rise;     // the effect's centre above the mob's
    };
    const Case cases[] = {{"rotten", true, 2}, {"bones", false, 2}, {"peeper", false, 0}, {"crawler", false, 0}};
    for (const Case& c : cases) {
        for (bool struck : {true, false}) {
            SCOPED_TRACE(testing::Message() << c.type << (struck ? " struck" : " not struck"));
            build();
            Mob* mob = mobs().construct(c.type, Vec{100, 100}, Vec{4, 4}, nullptr);
            ASSERT_NE(mob, nullptr);
            place_player({100, 100});  // overlapping: a mob left alive hurts it
            // Only touching the mob's right edge.
            strike(struck ? Box{104, 120, 96, 104} : no_strike);
            const int plays = kill_plays();
            update(false);
            EXPECT_EQ(alive(mob), !struck);
            EXPECT_EQ(kill_plays(), plays + (struck ? 1 : 0));
            EXPECT_EQ(player->health, struck ? 127 : 127 - 32);
            const auto splats = all<Mob_splat>();
            const auto poofs = all<Mob_poof>();
            ASSERT_EQ(splats.size() + poofs.size(), struck ? 1u : 0u);
            if (!struck) continue;
            ASSERT_EQ(splats.size(), c.splat ? 1u : 0u);
            const Mob* effect = c.splat ? static_cast<Mob*>(splats[0]) : poofs[0];
            EXPECT_FLOAT_EQ(effect->pos.x, 100);
            EXPECT_FLOAT_EQ(effect->pos.y, 100 - c.rise);
            EXPECT_FLOAT_EQ(effect->half.x, 8);
            EXPECT_FLOAT_EQ(effect->half.y, 8);
        }
    }
}

TEST_F(Hostile_test, ThePlayersStrikeKillsAWalkerThatItReaches) {
    // The player in the roster, attacking on its own update.
    player.reset();
    mobs().player = nullptr;
    solid(0, 13, 59, 13);
    auto* hero = dynamic_cast<Mob_player*>(mobs().construct("player", Box::from_center({100, 96}, {4, 8}), nullptr));
    ASSERT_NE(hero, nullptr);
    Mob* rotten = add<Mob_rotten>("rotten", {112, 100});  // walking away to the right
    ASSERT_NE(rotten, nullptr);
    for (int i = 0; i < 4; ++i) step(i % 2 == 0);
    ASSERT_TRUE(hero->is(Body::touch_dn));
    const int plays = kill_plays();
    hero->begin_attack();
    int killed = -1;
    for (int i = 0; i < 30 && killed < 0; ++i) {
        step(i % 2 == 0);
        if (!alive(rotten)) killed = i;
    }
    // After the wind-up, in the strike's first update.
    EXPECT_EQ(killed, 7);
    EXPECT_EQ(all<Mob_splat>().size(), 1u);
    EXPECT_EQ(kill_plays(), plays + 1);
    EXPECT_EQ(hero->health, 127);
}

TEST_F(Hostile_test, NothingKillsABoneOrThorns) {
    Mob* bone = add<Mob_bone>("bone", {100, 100});
    Mob* thorns = add<Mob_thorns>("thorns", {120, 100});
    ASSERT_TRUE(bone && thorns);
    strike({0, 320, 0, 240});
    const int plays = kill_plays();
    step(true);
    EXPECT_TRUE(alive(bone));
    EXPECT_TRUE(alive(thorns));
    EXPECT_EQ(kill_plays(), plays);
    EXPECT_EQ(mobs().roster.size(), 2u);
}

// The rotten.

TEST_F(Hostile_test, RottenTurnsAtWallsAndFacesRightBetweenTwo) {
    struct Case {
        const char* name;
        std::int32_t touch;
        bool facing_left;
        bool left_after;
    };
    const Case cases[] = {
        {"no wall, right", 0, false, false},
        {"no wall, left", 0, true, true},
        {"wall on the right", Body::touch_rt, false, true},
        {"wall on the left", Body::touch_lf, true, false},
        {"walls both sides, facing left", Body::touch_lf | Body::touch_rt, true, false},
        {"walls both sides, facing right", Body::touch_lf | Body::touch_rt, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        build();
        auto* rotten = add<Mob_rotten>("rotten", {100, 100});
        ASSERT_NE(rotten, nullptr);
        // As the last physics step left it.
        rotten->flags |= c.touch | (c.facing_left ? Body::flip : 0);
        step();
        EXPECT_EQ(rotten->is(Body::flip), c.left_after);
        // From rest, half a unit of walking at rate 1 and of gravity at 1.6.
        EXPECT_FLOAT_EQ(rotten->vel.x, c.left_after ? -0.5f : 0.5f);
        EXPECT_FLOAT_EQ(rotten->vel.y, 0.8f);
    }
}

TEST_F(Hostile_test, RottenWalksOffALedgeAndFalls) {
    solid(0, 13, 12, 13);   // a ledge ending at x = 104
    solid(0, 29, 59, 29);   // the ground far below
    auto* rotten = add<Mob_rotten>("rotten", {96, 100});
    ASSERT_NE(rotten, nullptr);
    std::vector<float> falling;
    for (int i = 0; i < 200 && !(falling.size() > 3 && rotten->is(Body::touch_dn)); ++i) {
        step();
        EXPECT_FALSE(rotten->is(Body::flip));
        if (!rotten->is(Body::touch_dn)) falling.push_back(rotten->vel.y);
    }
    ASSERT_GT(falling.size(), 4u);
    EXPECT_GT(rotten->box.l, 104);
    for (std::size_t i = 1; i < falling.size() && falling[i] < 8; ++i)
        EXPECT_NEAR(falling[i] - falling[i - 1], 0.8f, 1e-4) << "step " << i;
    EXPECT_FLOAT_EQ(rotten->box.d, 232);  // landed on the ground
    EXPECT_FLOAT_EQ(rotten->vel.x, 1);
}

// Past the map's edge there is nothing to walk on or into: the walker goes on
// out of the room, which removes it, and nothing reads outside the map.
TEST_F(Hostile_test, RottenLeavesTheMapAndIsRemovedWithTheRoom) {
    struct Case {
        const char* what;
        Box room;
        int floor_from, floor_to;  // cells of row 13 under it; -1: none
        Vec start;
        bool facing_left;
    };
    const Box whole{0, 480, 0, 480};
    const Case cases[] = {
        {"off the left edge", {0, 320, 0, 240}, 0, 12, {20, 100}, true},
        {"off the right edge", whole, 50, 59, {460, 100}, false},
        {"down through the bottom", whole, -1, -1, {100, 460}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        build();
        scene->room = c.room;
        if (c.floor_from >= 0) solid(c.floor_from, 13, c.floor_to, 13);
        auto* rotten = add<Mob_rotten>("rotten", c.start);
        ASSERT_NE(rotten, nullptr);
        if (c.facing_left) rotten->set(Body::flip);
        bool removed = false, left_the_map = false;
        for (int i = 0; i < 400 && !removed; ++i) {
            const bool outside = !rotten->box.overlaps(scene->room);
            left_the_map |= !whole.contains(rotten->pos);
            ASSERT_NO_THROW(step()) << "update " << i;
            removed = !alive(rotten);
            ASSERT_EQ(removed, outside) << "update " << i;
        }
        EXPECT_TRUE(removed);
        EXPECT_TRUE(left_the_map);
    }
}

TEST_F(Hostile_test, RottenCyclesFramesForwardWalkingEitherWay) {
    solid(0, 13, 14, 13);
    solid(0, 5, 0, 12);    // walls at x 8 and x 112
    solid(14, 5, 14, 12);
    auto* rotten = add<Mob_rotten>("rotten", {60, 100});
    ASSERT_NE(rotten, nullptr);
    std::vector<int> right, left;
    bool turned_back = false;
    for (int i = 0; i < 600 && !(turned_back && !rotten->is(Body::flip)); ++i) {
        step();
        const bool facing_left = rotten->is(Body::flip);
        turned_back |= facing_left;
        const auto seen = look(rotten->pos.floor() + Vec{0, -4});
        ASSERT_TRUE(seen) << "update " << i;
        EXPECT_EQ(seen->sheet, rotten_sheet);
        EXPECT_EQ(seen->quarters, facing_left ? mirrored : upright);
        auto& frames = facing_left ? left : right;
        if (frames.empty() || frames.back() != seen->frame) frames.push_back(seen->frame);
    }
    for (auto* frames : {&right, &left}) {
        ASSERT_GT(frames->size(), 8u);
        for (std::size_t i = 1; i < frames->size(); ++i)
            EXPECT_EQ((*frames)[i], ((*frames)[i - 1] + 1) % 4) << "change " << i;
    }
}

// The walk follows the position, truncated toward zero. Too far for 64 bits,
// the frame of the nearest end of their range, 2^63 - 1 being 3 modulo 4 and
// -2^63 being 0; not a number, frame 0. What can be seen is drawn in that frame.
TEST_F(Hostile_test, RottenFrameTruncatesTowardZero) {
    struct Case {
        float x;
        bool facing_left;
        int frame;
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const Case cases[] = {{0, false, 0},     {5.9f, false, 0},   {-5.9f, false, 0},   {-0.5f, true, 0},
                          {6, false, 1},     {-6, false, 3},     {-6, true, 1},       {6, true, 3},
                          {12.5f, false, 2}, {-18, false, 1},    {23.9f, false, 3},   {24, false, 0},
                          {nan, false, 0},   {nan, true, 0},     {inf, false, 3},     {-inf, false, 0},
                          {inf, true, 0},    {-inf, true, 3},    {1e30f, false, 3},   {-1e30f, false, 0},
                          {1e30f, true, 0},  {-1e30f, true, 3},  {0x1p66f, false, 3}, {-0x1p66f, false, 0}};
    auto* rotten = add<Mob_rotten>("rotten", {0, 0});
    ASSERT_NE(rotten, nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "x " << c.x << (c.facing_left ? " facing left" : ""));
        rotten->pos = {c.x, 0};
        rotten->flags = c.facing_left ? Body::flip : 0;
        EXPECT_EQ(rotten->cycle_frame(), c.frame);
        if (!(std::fabs(c.x) < 100)) continue;
        const auto seen = look(rotten->pos.floor() + Vec{0, -4}, {-160, 160, -120, 120});
        ASSERT_TRUE(seen);
        EXPECT_EQ(seen->frame, c.frame);
        EXPECT_EQ(seen->quarters, c.facing_left ? mirrored : upright);
    }
}

// The bones.

class Bones_test : public Hostile_test {
protected:
    // A bones standing on a floor at y 104, after the seven ticks of standing
    // and the one that chooses (with the player dx to its right).
    Mob_bones* chosen(float dx, Vec centre = {100, 100}, bool floor = true) {
        if (floor) solid(0, 13, 59, 13);
        auto* bones = add<Mob_bones>("bones", centre);
        if (!bones) return nullptr;
        place_player({centre.x + dx, 60});
        for (int i = 1; i < 8; ++i) {
            step(true);
            EXPECT_EQ(bones->state, i);
            step(false);
            EXPECT_EQ(bones->state, i);
        }
        update(true);
        return bones;
    }
};

TEST_F(Bones_test, WalksTowardAPlayerAtLeast32Away) {
    struct Case {
        float dx;
        int state;
        bool facing_left;
    };
    const Case cases[] = {{32, 8, false},  {31.9f, 32, false}, {-32, 8, true},
                          {-31.9f, 32, true}, {0, 32, false},   {150, 8, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "dx " << c.dx);
        build();
        Mob_bones* bones = chosen(c.dx);
        ASSERT_NE(bones, nullptr);
        EXPECT_EQ(bones->state, c.state);
        EXPECT_EQ(bones->is(Body::flip), c.facing_left);
        scene->physics.step(0.5f);
        const float speed = c.state == 8 ? 0.5f : 0;
        EXPECT_FLOAT_EQ(bones->vel.x, c.facing_left ? -speed : speed);
    }
}

TEST_F(Bones_test, NeverSetsOffWhereItCannotWalk) {
    struct Case {
        const char* name;
        float x, y;
        int ground_from, ground_to;  // cells of row 13 under it; -1: none
        int wall_column;             // -1: none
        float dx;                    // where the player is: the way it faces
        bool walks;
    };
    const Case cases[] = {
        {"open floor", 100, 100, 0, 59, -1, 150, true},
        {"open floor, to the left", 100, 100, 0, 59, -1, -150, true},
        {"wall ahead", 100, 100, 0, 59, 13, 150, false},
        {"wall ahead on the left", 100, 100, 0, 59, 11, -150, false},
        {"wall behind", 100, 100, 0, 59, 11, 150, true},
        {"in the air", 100, 40, -1, -1, -1, 150, false},
        {"ledge corner on a cell line", 100, 100, 0, 12, -1, 150, false},
        {"ledge corner half a pixel inside", 99.5f, 100, 0, 12, -1, 150, true},
        {"ledge on the left", 103.5f, 100, 13, 59, -1, -150, false},
        {"left corner on a cell line tests the cell to its right", 100, 100, 12, 59, -1, -150, true},
        {"left corner past the map's edge", 3.5f, 100, 0, 59, -1, -150, false},
        {"left corner on the map's edge", 4, 100, 0, 59, -1, -150, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        build();
        solid(0, 29, 59, 29);
        if (c.wall_column >= 0) solid(c.wall_column, 11, c.wall_column, 12);
        if (c.ground_from >= 0) solid(c.ground_from, 13, c.ground_to, 13);
        Mob_bones* bones = chosen(c.dx, {c.x, c.y}, false);
        ASSERT_NE(bones, nullptr);
        EXPECT_EQ(bones->state, c.walks ? 8 : 0);
        const float x = bones->pos.x;
        scene->physics.step(0.5f);
        const float ahead = c.dx < 0 ? -1.f : 1.f;
        EXPECT_FLOAT_EQ(bones->vel.x, c.walks ? 0.5f * ahead : 0);
        EXPECT_EQ((bones->pos.x - x) * ahead > 0, c.walks);
    }
}

TEST_F(Bones_test, WalksAtMost24TicksThenStandsAgain) {
    const int walk_frames[] = {1, 1, 2, 2, 3, 3, 4, 4};
    Mob_bones* bones = chosen(-150);  // far off on the left
    ASSERT_NE(bones, nullptr);
    for (int state = 8; state <= 31; ++state) {
        SCOPED_TRACE(testing::Message() << "state " << state);
        ASSERT_EQ(bones->state, state);
        scene->physics.step(0.5f);
        EXPECT_LT(bones->vel.x, 0);
        const auto seen = look(bones->pos.floor() + Vec{0, -4});
        ASSERT_TRUE(seen);
        EXPECT_EQ(*seen, (Look{bones_sheet, walk_frames[(state - 8) % 8], mirrored}));
        step(false);
        update(true);
    }
    EXPECT_EQ(bones->state, 0);
    scene->physics.step(0.5f);
    EXPECT_EQ(bones->vel.x, 0);
    const auto seen = look(bones->pos.floor() + Vec{0, -4});
    ASSERT_TRUE(seen);
    EXPECT_EQ(*seen, (Look{bones_sheet, 0, mirrored}));
}

TEST_F(Bones_test, StopsWhereItsLeadingCornerLeavesTheGround) {
    solid(0, 13, 12, 13);  // ground up to x 104
    solid(0, 29, 59, 29);
    auto* bones = add<Mob_bones>("bones", {90, 100});
    ASSERT_NE(bones, nullptr);
    place_player({300, 60});
    // Ticks on every second update, as at 60 frames per second. From rest it
    // walks 0.25 px, then 0.5 px per update: its right edge runs 103.75, 104.25.
    bool walked = false;
    for (int i = 0; i < 200 && !(walked && bones->state == 0); ++i) {
        update(i % 2 == 0);
        if (bones->state >= 8) {
            walked = true;
            EXPECT_LT(bones->box.r, 104);
        }
        scene->physics.step(0.5f);
    }
    ASSERT_TRUE(walked);
    EXPECT_FLOAT_EQ(bones->box.r, 104.25f);
    EXPECT_EQ(bones->vel.x, 0);
    EXPECT_TRUE(bones->is(Body::touch_dn));
    step(false);
    EXPECT_FLOAT_EQ(bones->box.r, 104.25f);
}

TEST_F(Bones_test, ThrowsOnTheTickThatEndsState34) {
    for (bool left : {false, true}) {
        SCOPED_TRACE(left ? "player on the left" : "player on the right");
        build();
        Mob_bones* bones = chosen(left ? -10.f : 10.f);
        ASSERT_NE(bones, nullptr);
        ASSERT_EQ(bones->state, 32);
        step(false);
        for (int state = 33; state <= 34; ++state) {
            step(true);
            EXPECT_EQ(bones->state, state);
            const auto seen = look(bones->pos.floor() + Vec{0, -4});
            ASSERT_TRUE(seen);
            EXPECT_EQ(seen->frame, state == 33 ? 5 : 6);
            EXPECT_EQ(seen->quarters, left ? mirrored : upright);
            step(false);
            EXPECT_TRUE(all<Mob_bone>().empty());
        }
        update(true);
        EXPECT_EQ(bones->state, 35);
        const auto bones_thrown = all<Mob_bone>();
        ASSERT_EQ(bones_thrown.size(), 1u);
        const Mob_bone* bone = bones_thrown[0];
        EXPECT_FLOAT_EQ(bone->vel.x, left ? -2 : 2);
        EXPECT_FLOAT_EQ(bone->vel.y, -8);
        EXPECT_FLOAT_EQ(bone->pos.x, bones->pos.x);
        EXPECT_FLOAT_EQ(bone->pos.y, bones->pos.y);
        EXPECT_FLOAT_EQ(bone->half.x, 4);
        EXPECT_FLOAT_EQ(bone->half.y, 4);
        EXPECT_FALSE(bone->is(Body::flip));
        scene->physics.step(0.5f);
        // From then on only its gravity acts on it.
        const Vec bone_vel = bone->vel;
        step(true);
        EXPECT_EQ(bones->state, 36);
        EXPECT_FLOAT_EQ(bone->vel.x, left ? -2 : 2);
        EXPECT_FLOAT_EQ(bone->vel.y, bone_vel.y + 0.8f);
        // On to the tick that ends state 47, throwing no other bone.
        for (int state = 37; state <= 47; ++state) {
            step(true);
            EXPECT_EQ(bones->state, state);
            EXPECT_EQ(all<Mob_bone>().size(), 1u);
        }
        step(true);
        EXPECT_EQ(bones->state, 0);
        EXPECT_EQ(all<Mob_bone>().size(), 1u);
        EXPECT_EQ(bones->vel.x, 0);
    }
}

// The bone.

TEST_F(Hostile_test, BoneSpinsOneFramePerTick) {
    auto* bone = add<Mob_bone>("bone", {100, 60});
    ASSERT_NE(bone, nullptr);
    std::vector<int> frames;
    auto seen_frame = [&] {
        const auto seen = look(bone->pos.floor());
        EXPECT_TRUE(seen);
        if (!seen) return -1;
        EXPECT_EQ(seen->sheet, bone_sheet);
        EXPECT_EQ(seen->quarters, upright);
        return seen->frame;
    };
    frames.push_back(seen_frame());
    for (bool tick : {true, false, true, false, false, true, true}) {
        step(tick);
        frames.push_back(seen_frame());
    }
    EXPECT_EQ(frames, (std::vector<int>{0, 1, 1, 2, 2, 2, 0, 1}));
}

TEST_F(Hostile_test, BoneFliesThroughTilesAndThePlayerUntilItLeavesTheRoom) {
    solid(10, 4, 20, 14);  // a block in its path
    solid(0, 29, 59, 29);
    auto* bone = add<Mob_bone>("bone", {70, 100});
    ASSERT_NE(bone, nullptr);
    bone->vel = {2, -8};
    place_player({78, 92});
    strike({0, 320, 0, 240});
    bool through_tiles = false, removed = false;
    for (int i = 0; i < 300 && !removed; ++i) {
        const bool outside = !bone->box.overlaps(scene->room);
        step(true);
        removed = !alive(bone);
        ASSERT_EQ(removed, outside) << "update " << i;
        if (!removed && bone->pos.y < 240) through_tiles |= scene->physics.at(bone->pos);
    }
    EXPECT_TRUE(removed);
    EXPECT_TRUE(through_tiles);
    EXPECT_EQ(player->health, 127 - 32);
}

// The peeper.

class Peeper_test : public Hostile_test {
protected:
    // A peeper at dx, dy from a player at (160, 120).
    Mob_peeper* peeper(float dx, float dy) {
        place_player({160, 120});
        return add<Mob_peeper>("peeper", {160 + dx, 120 + dy});
    }
};

TEST_F(Peeper_test, WakesWithinReachWhateverTheHeight) {
    struct Case {
        float dx;
        bool wakes;
        bool flies_left;
    };
    const Case cases[] = {{-64, true, false}, {-64.5f, false, false}, {-10, true, false},
                          {0, true, true},    {63.5f, true, true},    {64, false, false}};
    for (const Case& c : cases) {
        for (float dy : {0.f, 100.f, -100.f}) {
            SCOPED_TRACE(testing::Message() << "dx " << c.dx << " dy " << dy);
            build();
            Mob_peeper* p = peeper(c.dx, dy);
            ASSERT_NE(p, nullptr);
            step(false);  // no tick: nothing happens yet
            EXPECT_EQ(p->state, 0);
            step(true);
            EXPECT_EQ(p->state, c.wakes ? 1 : 0);
            EXPECT_EQ(p->is(Body::flip), c.flies_left);
            EXPECT_FLOAT_EQ(p->vel.x, c.wakes ? (c.flies_left ? -1.5f : 1.5f) : 0);
            // Waiting it hangs still; woken it sinks at 0.1.
            EXPECT_FLOAT_EQ(p->vel.y, c.wakes ? 0.05f : 0);
            EXPECT_FLOAT_EQ(p->pos.y, 120 + dy + (c.wakes ? 0.025f : 0));
        }
    }
}

TEST_F(Peeper_test, GlidingOnlySinksAndItsVerticalSpeedIsClamped) {
    Mob_peeper* p = peeper(-40, 0);
    ASSERT_NE(p, nullptr);
    step(true);
    ASSERT_EQ(p->state, 1);
    for (int i = 2; i <= 10; ++i) {
        step(false);
        EXPECT_EQ(p->state, 1);
        EXPECT_FLOAT_EQ(p->vel.x, 1.5f);
        EXPECT_NEAR(p->vel.y, 0.05f * static_cast<float>(i), 1e-5);
    }
    // Whatever horizontal speed it has, no engine pulls it toward its facing speed.
    p->vel.x = 0.5f;
    step(false);
    EXPECT_EQ(p->state, 1);
    EXPECT_FLOAT_EQ(p->vel.x, 0.5f);
    for (float vy : {5.f, -5.f, 2.f, -1.f}) {
        SCOPED_TRACE(testing::Message() << "vertical speed " << vy);
        p->vel.y = vy;
        update(false);
        EXPECT_FLOAT_EQ(p->vel.y, std::fmax(-2.f, std::fmin(2.f, vy)));
        scene->physics.step(0.5f);
    }
}

TEST_F(Peeper_test, FlapsWhileLowerThanThePlayer) {
    Mob_peeper* p = peeper(-40, 10);
    ASSERT_NE(p, nullptr);
    step(true);
    ASSERT_EQ(p->state, 1);
    std::vector<int> states;
    for (int i = 0; i < 10; ++i) {
        const float vy = p->vel.y;
        step(true);
        states.push_back(p->state);
        const bool lift = p->state == 4 || p->state == 5;
        EXPECT_NEAR(p->vel.y - vy, lift ? -0.5f : 0.05f, 1e-5) << "state " << int(p->state);
        EXPECT_FLOAT_EQ(p->vel.x, 1.5f);
    }
    EXPECT_EQ(states, (std::vector<int>{2, 3, 4, 5, 6, 7, 8, 9, 1, 2}));
}

TEST_F(Peeper_test, TurnsBackOnceAtFullSpeedTheOtherWay) {
    Mob_peeper* p = peeper(-40, 0);
    ASSERT_NE(p, nullptr);
    step(true);
    ASSERT_EQ(p->state, 1);
    // The player drops behind: overshot by more than 32.
    place_player({p->pos.x - 33, p->pos.y});
    step(true);
    ASSERT_EQ(p->state, 10);
    EXPECT_TRUE(p->is(Body::flip));
    int previous = 10, updates = 0;
    while (p->state != 1 && updates < 100) {
        const bool at_speed = p->vel.x == -1.5f;
        step(true);
        ++updates;
        if (at_speed) {
            EXPECT_EQ(p->state, 1);
        } else {
            EXPECT_EQ(p->state, previous == 16 ? 10 : previous + 1);
        }
        previous = p->state;
    }
    // 1.5 to -1.5 at 0.25 per unit, half a unit per update, from the turn on.
    EXPECT_EQ(updates, 24);
    EXPECT_EQ(p->vel.x, -1.5f);
}

TEST_F(Peeper_test, GlidingTurnsBackOnlyOnceOvershotByMoreThan32) {
    struct Case {
        const char* name;
        bool flying_left;
        Vec d;  // from the player to the peeper at the tick
        int state;
        bool left_after;
    };
    const Case cases[] = {
        {"flying right, 32 past", false, {32, 0}, 1, false},
        {"flying right, 32.5 past", false, {32.5f, 0}, 10, true},
        {"flying right, past and lower", false, {40, 10}, 10, true},
        {"flying right, short of it and lower", false, {-40, 10}, 2, false},
        {"flying left, 32 past", true, {-32, 0}, 1, true},
        {"flying left, 32.5 past", true, {-32.5f, 0}, 10, false},
        {"flying left, behind it by 40", true, {40, 0}, 1, true},
        {"flying left, level", true, {0, 0}, 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        build();
        Mob_peeper* p = peeper(c.flying_left ? 40.f : -40.f, 0);
        ASSERT_NE(p, nullptr);
        step(true);
        ASSERT_EQ(p->state, 1);
        ASSERT_EQ(p->is(Body::flip), c.flying_left);
        place_player(p->pos - c.d);
        update(true);
        EXPECT_EQ(p->state, c.state);
        EXPECT_EQ(p->is(Body::flip), c.left_after);
    }
}

TEST_F(Peeper_test, DrawsTheFrameOfItsStateMirroredWhenFacingLeft) {
    const int frames[] = {0, 3, 2, 2, 1, 1, 2, 2, 3, 3, 2, 2, 1, 1, 2, 2, 3};
    Mob_peeper* p = peeper(-40, 0);
    ASSERT_NE(p, nullptr);
    p->pos = {100.5f, 80.75f};
    for (bool left : {false, true}) {
        for (int state = 0; state <= 16; ++state) {
            SCOPED_TRACE(testing::Message() << "state " << state << (left ? " facing left" : ""));
            p->state = static_cast<std::uint8_t>(state);
            p->flags = Body::harmful | Body::physical | (left ? Body::flip : 0);
            const auto seen = look({100, 80});
            ASSERT_TRUE(seen);
            EXPECT_EQ(*seen, (Look{peeper_sheet, frames[state], left ? mirrored : upright}));
        }
    }
}

TEST_F(Peeper_test, FliesThroughTilesAndOutOfTheRoom) {
    solid(25, 0, 25, 59);  // a wall across its way
    Mob_peeper* p = peeper(-40, -60);
    ASSERT_NE(p, nullptr);
    step(true);
    bool in_wall = false;
    for (int i = 0; i < 400 && p->pos.x < 340; ++i) {
        step(false);
        in_wall |= scene->physics.at(p->pos);
        ASSERT_TRUE(alive(p));
    }
    EXPECT_TRUE(in_wall);
    EXPECT_FALSE(p->box.overlaps(scene->room));
    step(false);
    EXPECT_TRUE(alive(p));
}

// The crawler.

class Crawler_test : public Hostile_test {
protected:
    // Steps until the direction has changed `turns` times, ticking on every
    // second update; gives the directions taken, the first included.
    std::vector<int> crawl(Mob_crawler* c, std::size_t turns, int limit = 2000) {
        std::vector<int> dirs;
        for (int i = 0; i < limit && dirs.size() <= turns; ++i) {
            const bool tick = i % 2 == 1;
            step(tick);
            if (dirs.empty() || c->dir != dirs.back()) {
                if (!dirs.empty()) {
                    EXPECT_TRUE(tick) << "turned without a tick at update " << i;
                }
                dirs.push_back(c->dir);
            }
        }
        return dirs;
    }
};

TEST_F(Crawler_test, FirstUpdateStartsRightWithoutATurn) {
    for (bool tick : {true, false}) {
        SCOPED_TRACE(tick ? "on a tick" : "between ticks");
        build();
        auto* c = add<Mob_crawler>("crawler", {100, 100});
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(c->dir, 255);
        update(tick);
        EXPECT_EQ(c->dir, 0);
        EXPECT_FLOAT_EQ(c->vel.x, 1);
        EXPECT_FLOAT_EQ(c->vel.y, 10);
    }
}

TEST_F(Crawler_test, ClimbsAWallAtTheEndOfAFloor) {
    solid(0, 20, 59, 20);   // floor at y 160
    solid(20, 10, 20, 19);  // wall at x 160, from y 80
    auto* c = add<Mob_crawler>("crawler", {140, 156});
    ASSERT_NE(c, nullptr);
    for (int i = 0; i < 400 && !c->is(Body::touch_rt); ++i) {
        step(i % 2 == 1);
        ASSERT_EQ(c->dir, 0);
    }
    ASSERT_TRUE(c->is(Body::touch_rt));
    EXPECT_FLOAT_EQ(c->box.r, 160);
    step(false);
    EXPECT_EQ(c->dir, 0);
    step(true);  // the next tick turns it up the wall
    EXPECT_EQ(c->dir, 3);
    const float y = c->pos.y;
    step(false);
    EXPECT_TRUE(c->is(Body::touch_rt));
    EXPECT_LT(c->pos.y, y);
    EXPECT_EQ(crawl(c, 1), (std::vector<int>{3, 0}));
    // On top of the wall, crawling right along it.
    for (int i = 0; i < 4; ++i) step(false);
    const float x = c->pos.x;
    step(false);
    EXPECT_FLOAT_EQ(c->box.d, 80);
    EXPECT_TRUE(c->is(Body::touch_dn));
    EXPECT_GT(c->box.r, 160);
    EXPECT_FLOAT_EQ(c->pos.x, x + 0.5f);
}

TEST_F(Crawler_test, GoesRoundABlockClockwise) {
    solid(10, 10, 14, 12);  // a block from (80, 80) to (120, 104)
    auto* c = add<Mob_crawler>("crawler", {100, 76});
    ASSERT_NE(c, nullptr);
    const int holds[4] = {Body::touch_dn, Body::touch_lf, Body::touch_up, Body::touch_rt};
    bool held[4] = {};
    std::vector<int> dirs;
    for (int i = 0; i < 2000 && dirs.size() < 6; ++i) {
        step(i % 2 == 1);
        if (dirs.empty() || c->dir != dirs.back()) dirs.push_back(c->dir);
        held[c->dir] |= c->is(holds[c->dir]);
        // Never further from the block than one step of its push.
        EXPECT_TRUE(c->box.grow(4.5f).overlaps(Box{80, 120, 80, 104})) << "update " << i;
    }
    EXPECT_EQ(dirs, (std::vector<int>{0, 1, 2, 3, 0, 1}));
    for (int d = 0; d < 4; ++d) EXPECT_TRUE(held[d]) << "direction " << d;
}

TEST_F(Crawler_test, WalkingOffABlockTurnsDownOnlyOnTheNextTick) {
    solid(10, 10, 14, 12);  // a block from (80, 80) to (120, 104)
    auto* c = add<Mob_crawler>("crawler", {110, 76});
    ASSERT_NE(c, nullptr);
    step(true);
    ASSERT_TRUE(c->is(Body::touch_dn));
    // No ticks: it runs off the top's right end and keeps its direction.
    for (int i = 0; i < 100 && c->is(Body::touch_dn); ++i) {
        step(false);
        ASSERT_EQ(c->dir, 0);
    }
    ASSERT_FALSE(c->is(Body::touch_dn));
    step(false);
    EXPECT_EQ(c->dir, 0);
    EXPECT_FLOAT_EQ(c->vel.x, 1);
    ASSERT_GT(c->box.d, 80);
    ASSERT_GE(c->box.l, 120);
    step(true);
    EXPECT_EQ(c->dir, 1);
    // Pressed back against the block's right face.
    EXPECT_TRUE(c->is(Body::touch_lf));
    EXPECT_FLOAT_EQ(c->box.l, 120);
}

TEST_F(Crawler_test, LoopsInPlaceInTheAir) {
    auto* c = add<Mob_crawler>("crawler", {100, 100});
    ASSERT_NE(c, nullptr);
    step(true);
    const Vec start = c->pos;
    std::vector<int> dirs;
    for (int i = 0; i < 8; ++i) {
        step(true);
        dirs.push_back(c->dir);
    }
    EXPECT_EQ(dirs, (std::vector<int>{1, 2, 3, 0, 1, 2, 3, 0}));
    EXPECT_FLOAT_EQ(c->pos.x, start.x);
    EXPECT_FLOAT_EQ(c->pos.y, start.y);
}

// Along its direction too far for 64 bits: the frame of the nearest end of
// their range, 2^63 - 1 being odd; not a number, as an infinity across the
// direction makes it: frame 0. What can be seen is drawn in that frame.
TEST_F(Crawler_test, SpriteLiesOnTheFaceItHolds) {
    struct Case {
        int dir;
        Vec pos;
        int frame;
        Quarters quarters;
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const Case cases[] = {
        {255, {100.5f, 100}, 0, upright},  // drawn before its first update
        {0, {100.5f, 100}, 0, upright},
        {0, {101.7f, 100}, 1, upright},
        {1, {100, 101.2f}, 1, quarter_turn_cw},
        {1, {101, 100}, 0, quarter_turn_cw},
        {2, {100.5f, 100}, 0, half_turn},  // -100.5 truncates to -100
        {2, {101, 100}, 1, half_turn},
        {3, {100, 99.5f}, 1, quarter_turn_ccw},
        {0, {inf, 100}, 1, upright},
        {0, {-inf, 100}, 0, upright},
        {2, {inf, 100}, 0, half_turn},
        {2, {-inf, 100}, 1, half_turn},
        {0, {1e30f, 100}, 1, upright},
        {0, {-1e30f, 100}, 0, upright},
        {3, {100, -1e30f}, 1, quarter_turn_ccw},
        {1, {100, -1e30f}, 0, quarter_turn_cw},
        {0, {nan, 100}, 0, upright},
        {1, {100, nan}, 0, quarter_turn_cw},
        {1, {inf, 100}, 0, quarter_turn_cw},
        {255, {1e30f, 100}, 1, upright},
    };
    auto* c = add<Mob_crawler>("crawler", {100, 100});
    ASSERT_NE(c, nullptr);
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message() << "direction " << k.dir << " at " << k.pos.x << ", " << k.pos.y);
        c->dir = static_cast<std::uint8_t>(k.dir);
        c->pos = k.pos;
        EXPECT_EQ(c->cycle_frame(), k.frame);
        if (!(std::fabs(k.pos.x) < 1000 && std::fabs(k.pos.y) < 1000)) continue;
        const auto seen = look(c->pos.floor());
        ASSERT_TRUE(seen);
        EXPECT_EQ(*seen, (Look{crawler_sheet, k.frame, k.quarters}));
    }
}

// The thorns.

TEST_F(Hostile_test, ThornsHurtOnEveryUpdateUnlessInvincible) {
    auto* thorns = add<Mob_thorns>("thorns", {100, 100}, {8, 4});
    ASSERT_NE(thorns, nullptr);
    // A second hazard on the player in the same updates: the first one's hit
    // makes the player invincible before the second is tried.
    ASSERT_NE(add<Mob_thorns>("thorns", {104, 100}, {8, 4}), nullptr);
    place_player({100, 112});  // the player's top edge touches the thorns' bottom
    strike({0, 320, 0, 240});
    update(true);
    EXPECT_EQ(player->health, 127 - 32);
    EXPECT_GT(player->invincible_timer, 0);
    update(false);
    EXPECT_EQ(player->health, 127 - 32);
    player->invincible_timer = 0;
    update(false);
    EXPECT_EQ(player->health, 127 - 64);
    EXPECT_TRUE(alive(thorns));
    EXPECT_TRUE(scene->physics.bodies.empty());
    EXPECT_TRUE(scene->physics.engines.empty());
    EXPECT_TRUE(empty_window());
    place_player({100, 113});
    player->invincible_timer = 0;
    update(false);
    EXPECT_EQ(player->health, 127 - 64);
}

// Drawing without sheets.

TEST_F(Hostile_test, KindsWithoutTheirSheetDrawNothing) {
    player.reset();
    scene.reset();
    files.reset();
    files.emplace();  // no sheets at all
    build();
    for (const char* type : {"rotten", "bones", "bone", "peeper", "crawler", "thorns"})
        ASSERT_NE(mobs().construct(type, Vec{100, 100}, Vec{4, 4}, nullptr), nullptr) << type;
    EXPECT_TRUE(empty_window());  // the crawler before its first update too
    step(true);
    EXPECT_TRUE(empty_window());
}

}  // namespace
