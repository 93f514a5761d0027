// The default level as the game itself reads, plays and draws it: the map through
// the real loader, a few seconds of scripted play through the real game object,
// the whole level played from the start to the throne room by keys alone, and
// frames of three rooms compared with pictures kept in the repo.
//
// The pictures are tests/reference/start.png and the screenshots docs/*.png. When
// the art or the map changes on purpose, make them again with
//   QUORLA_UPDATE_PICTURES=1 xvfb-run -a -s "-screen 0 1920x1080x24 +extension GLX"
//       build/<dir>/level_test --gtest_filter='*Pictures*'
// which writes every picture into the source tree instead of comparing; then look
// at them before committing.
#include "game/conf.h"
#include "game/game.h"
#include "game/mob_player.h"
#include "game/scene.h"
#include "support/input.h"
#include "support/media.h"
#include "support/paths.h"

#include "common/events.h"
#include "common/game_files.h"
#include "common/gl_window.h"
#include "common/log_record.h"
#include "common/offscreen.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const fs::path _data_root = QUORLA_DATA_ROOT;
const fs::path _map = _data_root / "quorla" / "level" / "princess.tmj";
const fs::path _source = QUORLA_SOURCE_DIR;

const std::set<std::string> _kinds{"bone", "bones", "crack", "crawler", "dust", "mirror",
                                   "thorns", "peeper", "player", "poof", "rotten", "splat"};
const std::set<std::string> _markers{"target", "brush"};

constexpr int _fps = 60;

const kesp::Box* room_of(const Scene& scene, kesp::Vec p) {
    for (const kesp::Box& room : scene.rooms)
        if (room.contains(p)) return &room;
    return nullptr;
}

// Whether the cell of the physics grid holding world point p is solid.
bool solid_at(const Scene& scene, kesp::Vec p) {
    return scene.physics.solid.at(static_cast<std::size_t>(p.x / 8), static_cast<std::size_t>(p.y / 8));
}

// The build's data tree as the only data folder, and a fresh state folder for
// the atlases that the scene writes. The game's files come from the build's
// `quorla_data` target.
class Level_test : public test::Gl_test {
protected:
    void SetUp() override {
        test::Gl_test::SetUp();
        kesp::paths.data.roots = {_data_root};  // files puts the real list back
        saved_fps = kesp::conf.fps;
        saved_wsize = kesp::wsize;
        kesp::conf.fps = _fps;
        ASSERT_TRUE(fs::exists(_map)) << _map << " is made by the quorla_data target";
        log.emplace();  // after the window, whose set-up may warn
    }
    void TearDown() override {
        kesp::conf.fps = saved_fps;
        kesp::wsize = saved_wsize;
    }

    test::Game_files files;
    std::optional<test::Log_record> log;
    std::int32_t saved_fps = 0;
    kesp::Vec saved_wsize;
};

// --- the map through the loader

class Default_map : public Level_test {
protected:
    void SetUp() override {
        Level_test::SetUp();
        if (HasFatalFailure()) return;
        scene.emplace();
        scene->load(_map);
    }
    void TearDown() override {
        scene.reset();
        Level_test::TearDown();
    }

    Mob_player& player() { return *scene->mobs.player; }
    // Where the player's strike would land on the box.
    void strike(const kesp::Box& box) { player().attack_box = box; }

    std::optional<Scene> scene;
};

TEST_F(Default_map, LoadsQuietlyWithThePlayerStartingInARoom) {
    EXPECT_EQ(log->problems(), std::vector<std::string>{});
    ASSERT_NE(scene->mobs.player, nullptr);
    EXPECT_NE(room_of(*scene, player().pos), nullptr)
        << "the player starts at " << player().pos.x << ", " << player().pos.y;
    EXPECT_NE(scene->music, nullptr);
}

TEST_F(Default_map, EveryMobKindIsPlacedAndEveryPlaceIsAKindOrAMarker) {
    std::set<std::string> placed{"player"};
    for (Place& place : scene->places) {
        SCOPED_TRACE(place.type + " \"" + place.name + "\"");
        // The factory decides what is a kind: a misspelt type would spawn nothing.
        const Mob* mob = scene->mobs.construct(place.type, place.box, &place);
        EXPECT_EQ(mob != nullptr, _kinds.count(place.type) == 1);
        EXPECT_TRUE(mob || _markers.count(place.type)) << "neither a mob kind nor a marker";
        if (mob) placed.insert(place.type);
    }
    scene->mobs.clear();
    EXPECT_EQ(placed, _kinds);
}

TEST_F(Default_map, EveryRoomHoldsSolidGroundWithOpenSpaceAboveIt) {
    const kesp::Grid<bool>& solid = scene->physics.solid;
    ASSERT_GE(scene->rooms.size(), 3u);
    for (const kesp::Box& room : scene->rooms) {
        SCOPED_TRACE("room at " + std::to_string(room.l) + ", " + std::to_string(room.u));
        const Cell_range cells = room_cells(room, static_cast<int>(solid.width()), static_cast<int>(solid.height()));
        ASSERT_LT(cells.x0, cells.x1);
        ASSERT_LT(cells.y0, cells.y1);
        bool ground = false;
        for (int y = cells.y0 + 1; y < cells.y1 && !ground; ++y)
            for (int x = cells.x0; x < cells.x1 && !ground; ++x)
                ground = solid.at(x, y) && !solid.at(x, y - 1);
        EXPECT_TRUE(ground);
    }
}

TEST_F(Default_map, EveryMirrorSendsThePlayerToItsTargetInARoom) {
    int mirrors = 0;
    for (Place& place : scene->places) {
        if (place.type != "mirror") continue;
        SCOPED_TRACE("mirror \"" + place.name + "\"");
        ++mirrors;
        Mob* mirror = scene->mobs.construct("mirror", place.box, &place);
        ASSERT_NE(mirror, nullptr);
        const kesp::Vec start = player().pos;
        strike(place.box);
        mirror->update(*scene);
        EXPECT_EQ(log->problems(), std::vector<std::string>{});
        // Moved to the centre of a target of the mirror's name.
        bool on_target = false;
        for (const Place& p : scene->places)
            on_target |= p.type == "target" && p.name == place.name && !(p.box.ct() != player().pos);
        EXPECT_TRUE(on_target);
        EXPECT_NE(player().pos, start);
        EXPECT_NE(room_of(*scene, player().pos), nullptr);
        EXPECT_FALSE(solid_at(*scene, player().pos));
        player().pos = start;
        scene->mobs.clear();
    }
    EXPECT_GE(mirrors, 1);
}

TEST_F(Default_map, EveryCrackFindsTwoBrushesAndOpensTheWallItIsOn) {
    int cracks = 0;
    for (Place& place : scene->places) {
        if (place.type != "crack") continue;
        SCOPED_TRACE("crack \"" + place.name + "\"");
        ++cracks;
        const kesp::Box wall = place.box;  // the swap spends the place's own box
        const kesp::Vec inside = wall.ct();
        ASSERT_TRUE(solid_at(*scene, inside)) << "the crack is not on a wall";
        Mob* crack = scene->mobs.construct("crack", place.box, &place);
        ASSERT_NE(crack, nullptr);
        strike(wall);
        EXPECT_TRUE(crack->update(*scene)) << "the crack did not break";
        EXPECT_EQ(log->problems(), std::vector<std::string>{});
        EXPECT_FALSE(solid_at(*scene, inside)) << "the way on is still shut";
        scene->mobs.clear();
    }
    EXPECT_GE(cracks, 1);
}

// --- the game driven like a player would, and its frames

bool is_live(const kesp::Box& strike) { return std::isfinite(strike.l); }

class Playing : public Level_test {
protected:
    void SetUp() override {
        Level_test::SetUp();
        if (HasFatalFailure()) return;
        conf_init();  // the default keys: arrows to run, X to jump, Z to attack
        for (kesp::Input& input : kesp::inputs) input.value = 0;
        SDL_PumpEvents();
        SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    }
    void TearDown() override {
        for (kesp::Input& input : kesp::inputs) input.value = 0;
        Level_test::TearDown();
    }
};

TEST_F(Playing, AFewSecondsOfRunningJumpingAndAttackingGoWithoutAnError) {
    Game game(_map);
    Mob_player& player = *game.scene.mobs.player;
    const kesp::Vec start = player.pos;
    float furthest = start.x;
    bool airborne = false, struck = false;
    // Four seconds, holding right: a jump held for 20 frames every second, and
    // in the last second two blows.
    // Passes in the order of the game's own loop; the keys pressed during a
    // frame are read at its end.
    for (int frame = 0; frame < 4 * _fps; ++frame) {
        game.update();
        game.render();
        if (frame == 0) test::push_key(SDL_SCANCODE_RIGHT, true);
        if (frame % _fps == 10) test::push_key(SDL_SCANCODE_X, true);
        if (frame % _fps == 30) test::push_key(SDL_SCANCODE_X, false);
        if (frame == 190 || frame == 220) test::push_key(SDL_SCANCODE_Z, true);
        if (frame == 192 || frame == 222) test::push_key(SDL_SCANCODE_Z, false);
        game.input();
        furthest = std::max(furthest, player.pos.x);
        airborne |= player.pos.y < start.y - 8;
        struck |= is_live(player.attack_box);
        ASSERT_TRUE(game.running) << "frame " << frame;
    }
    EXPECT_EQ(log->problems(), std::vector<std::string>{});
    EXPECT_GT(furthest, start.x + 128) << "she never got far";
    EXPECT_TRUE(airborne) << "she never jumped";
    EXPECT_TRUE(struck) << "she never struck";
    // The menu key ends the game the ordinary way.
    test::push_key(SDL_SCANCODE_ESCAPE, true);
    game.input();
    EXPECT_FALSE(game.running);
}

// --- the whole level, played through by keys alone

// A step of a played route: keys let go of and pressed at its start, then
// frames until its condition holds. Running out of frames fails the test.
struct Step {
    const char* what;
    std::vector<SDL_Scancode> release;
    std::vector<SDL_Scancode> press;
    std::function<bool(const Game&, int frames)> until;
    int limit;
};

constexpr SDL_Scancode _left = SDL_SCANCODE_LEFT;
constexpr SDL_Scancode _right = SDL_SCANCODE_RIGHT;
constexpr SDL_Scancode _jump = SDL_SCANCODE_X;
constexpr SDL_Scancode _attack = SDL_SCANCODE_Z;

const Mob_player& player_of(const Game& game) { return *game.scene.mobs.player; }

// Conditions of a step. Places are in tiles, as in the level's text source.
auto right_of(float tile) {
    return [tile](const Game& game, int) { return player_of(game).pos.x > tile * 8; };
}
auto left_of(float tile) {
    return [tile](const Game& game, int) { return player_of(game).pos.x < tile * 8; };
}
// On the ground, her feet at or above the top edge of the row.
auto landed_on(float row) {
    return [row](const Game& game, int) {
        const Mob_player& p = player_of(game);
        return p.is(Body::touch_dn) && p.box.d <= row * 8;
    };
}
auto touching(int sides) {
    return [sides](const Game& game, int) { return player_of(game).is(sides); };
}
auto after(int count) {
    return [count](const Game&, int frames) { return frames >= count; };
}
// A harmful mob at her height and in front of her, its near side at most gap
// pixels from hers.
auto foe_within(float gap) {
    return [gap](const Game& game, int) {
        const Mob_player& p = player_of(game);
        const float facing = p.is(Body::flip) ? -1.0f : 1.0f;
        for (const auto& mob : game.scene.mobs.roster) {
            if (!mob->is(Body::harmful) || mob->box.d < p.box.u || mob->box.u > p.box.d) continue;
            const float ahead = (mob->pos.x - p.pos.x) * facing;
            if (ahead > 0 && ahead - p.half.x - mob->half.x <= gap) return true;
        }
        return false;
    };
}

std::string where(const Game& game) {
    const Mob_player& p = player_of(game);
    std::ostringstream text;
    text << "she is at tile " << p.pos.x / 8 << ", " << p.pos.y / 8;
    if (const kesp::Box* room = room_of(game.scene, p.pos))
        text << " in the room at " << room->l / 8 << ", " << room->u / 8;
    text << ", health " << static_cast<int>(p.health);
    return text.str();
}

// In the narrow climbs: off one wall as soon as she touches it, over to the other.
const Step _wall_jump_left = {"wall jump left", {_jump, _right}, {_jump, _left}, touching(Body::touch_lf), 60};
const Step _wall_jump_right = {"wall jump right", {_jump, _left}, {_jump, _right}, touching(Body::touch_rt), 60};

const Step _walkthrough[] = {
    // courtyard
    {"run to the mound", {}, {_right}, right_of(17), 600},
    {"jump onto it", {}, {_jump}, landed_on(61), 60},
    {"run at the rotten", {_jump}, {}, foe_within(10), 600},
    {"strike it", {}, {_attack}, after(14), 14},
    {"run on to the step", {_attack}, {}, right_of(44), 600},
    {"jump onto it", {}, {_jump}, landed_on(62), 60},
    // hall
    {"run on into the hall", {_jump}, {}, right_of(66), 600},
    {"jump the thorns", {}, {_jump}, landed_on(63), 60},
    {"run to the mound", {_jump}, {}, touching(Body::touch_rt), 120},
    {"jump and strike the bones on it", {}, {_jump, _attack}, after(16), 16},
    {"fall back", {_jump, _attack}, {}, landed_on(63), 60},
    {"jump onto the mound", {}, {_jump}, landed_on(61), 60},
    {"run off it to the pillar", {_jump}, {}, right_of(89), 200},
    {"jump onto the pillar", {}, {_jump}, landed_on(61), 60},
    {"run on under the beam", {_jump}, {}, right_of(110), 600},
    // shaft
    {"run into the shaft", {}, {}, right_of(127), 600},
    {"turn back under the climb", {_right}, {_left}, left_of(126.5), 120},
    {"stand still", {_left}, {}, after(20), 20},
    {"jump up against its right wall", {}, {_jump, _right}, touching(Body::touch_rt), 60},
    _wall_jump_left,
    _wall_jump_right,
    _wall_jump_left,
    _wall_jump_right,
    _wall_jump_left,
    {"wall jump right onto the ledge", {_jump, _left}, {_jump, _right}, landed_on(49), 120},
    {"run to the second climb", {_jump}, {}, touching(Body::touch_rt), 120},
    {"jump up it", {}, {_jump}, touching(Body::touch_rt), 60},
    _wall_jump_left,
    _wall_jump_right,
    _wall_jump_left,
    _wall_jump_right,
    _wall_jump_left,
    {"wall jump right onto the ledge", {_jump, _left}, {_jump, _right}, landed_on(35), 120},
    // gallery
    {"run into the gallery", {_jump}, {}, right_of(146), 120},
    {"stop at the edge of the ledge", {_right}, {}, after(20), 20},
    {"step off", {}, {_right}, right_of(147.6f), 60},
    {"drop to the floor", {_right}, {}, landed_on(50), 120},
    {"run to the pit", {}, {_right}, right_of(173), 600},
    {"jump it", {}, {_jump}, landed_on(50), 60},
    {"run to the cracked wall", {_jump}, {}, touching(Body::touch_rt), 120},
    {"strike it", {}, {_attack}, after(14), 14},
    // mirror chamber
    {"run through it to the mirror", {_attack}, {}, right_of(201), 120},
    {"strike the mirror", {}, {_attack}, after(14), 14},
};

TEST_F(Playing, TheLevelCanBePlayedFromTheStartToTheThroneRoom) {
    Game game(_map);
    // The enemies' clock follows the frames, so every run plays the same.
    int frame = 0;
    game.scene.mobs.clock = [&frame] { return static_cast<std::uint64_t>(frame) * 1000 / _fps; };
    game.scene.mobs.next_tick = 33;
    for (const Step& step : _walkthrough) {
        for (SDL_Scancode key : step.release) test::push_key(key, false);
        for (SDL_Scancode key : step.press) test::push_key(key, true);
        for (int frames = 1;; ++frames) {
            game.input();
            ++frame;
            game.update();
            game.render();
            ASSERT_TRUE(game.running);
            ASSERT_EQ(game.reset_timer, 0) << "she died: " << step.what << "; " << where(game);
            if (step.until(game, frames)) break;
            ASSERT_LT(frames, step.limit) << "ran out of frames: " << step.what << "; " << where(game);
        }
    }
    const kesp::Box throne_room = {60 * 8, 108 * 8, 6 * 8, 33 * 8};
    EXPECT_TRUE(throne_room.contains(player_of(game).pos)) << where(game);
    EXPECT_EQ(log->problems(), std::vector<std::string>{});
}

// One frame as a window of 384 x 216 times scale shows it.
test::Pixels capture(Game& game, int scale) {
    test::Offscreen target(384 * scale, 216 * scale);
    EXPECT_TRUE(target.complete());
    kesp::wsize = {384.0f * scale, 216.0f * scale};
    game.recalculate_view();  // the viewport for that window
    game.render();
    return target.read();
}

// A channel further than this from the picture makes a pixel differ, and at
// most this share of the pixels may differ: room for rounding in the GL
// rasteriser, none for a sprite drawn in the wrong place.
constexpr int _channel_tolerance = 8;
constexpr double _share_tolerance = 0.001;

int channel_distance(std::uint32_t a, std::uint32_t b) {
    int worst = 0;
    for (int shift = 0; shift < 32; shift += 8)
        worst = std::max(worst, std::abs(static_cast<int>(a >> shift & 0xff) - static_cast<int>(b >> shift & 0xff)));
    return worst;
}

void expect_like_picture(const test::Pixels& frame, const fs::path& file) {
    const test::Surface picture = test::load_image(file);
    ASSERT_TRUE(picture) << file << " can't be read; QUORLA_UPDATE_PICTURES=1 makes it";
    ASSERT_EQ(picture->w, frame.w);
    ASSERT_EQ(picture->h, frame.h);
    int differing = 0;
    for (int y = 0; y < frame.h; ++y)
        for (int x = 0; x < frame.w; ++x)
            differing += channel_distance(frame.at(x, y), test::pixel_at(picture.get(), x, y)) > _channel_tolerance;
    EXPECT_LE(differing, _share_tolerance * frame.w * frame.h)
        << differing << " pixels differ from " << file << "; QUORLA_UPDATE_PICTURES=1 makes it again";
}

bool updating_pictures() {
    const char* v = std::getenv("QUORLA_UPDATE_PICTURES");
    return v && *v;
}

// Where the player is put before the frame: the start, or a point of another
// room (in tiles) from which she drops to the floor.
struct Shot {
    const char* name;
    fs::path file;
    int scale;
    std::optional<kesp::Vec> tile;
};

const Shot _shots[] = {
    {"start", _source / "tests" / "reference" / "start.png", 1, std::nullopt},
    {"courtyard", _source / "docs" / "courtyard.png", 2, kesp::Vec{24, 58}},
    {"hall", _source / "docs" / "hall.png", 2, kesp::Vec{82, 55}},
    {"gallery", _source / "docs" / "gallery.png", 2, kesp::Vec{168, 46}},
};

void PrintTo(const Shot& shot, std::ostream* out) { *out << shot.name; }

class Pictures : public Level_test, public testing::WithParamInterface<Shot> {};

TEST_P(Pictures, AFrameOfTheRoomLooksLikeItsPicture) {
    const Shot& shot = GetParam();
    Game game(_map);
    // The enemies' clock follows the frames, not the wall clock, so every run
    // draws the same moment.
    std::uint64_t now = 0;
    game.scene.mobs.clock = [&now] { return now; };
    game.scene.mobs.next_tick = 33;
    Mob_player& player = *game.scene.mobs.player;
    if (shot.tile) {
        player.pos = *shot.tile * 8 + kesp::Vec{4, 4};
        player.box = kesp::Box::from_center(player.pos, player.half);
        game.room_init();
        ASSERT_NE(room_of(game.scene, player.pos), nullptr);
    }
    // A second to land and look about.
    for (int frame = 1; frame <= _fps; ++frame) {
        now = static_cast<std::uint64_t>(frame) * 1000 / _fps;
        game.update();
    }
    const test::Pixels frame = capture(game, shot.scale);
    EXPECT_EQ(log->problems(), std::vector<std::string>{});
    if (updating_pictures()) {
        fs::create_directories(shot.file.parent_path());
        const test::Surface image = test::to_image(frame);
        ASSERT_TRUE(image);
        test::save_image(image.get(), shot.file);
        GTEST_SKIP() << "wrote " << shot.file;
    }
    expect_like_picture(frame, shot.file);
}

INSTANTIATE_TEST_SUITE_P(DefaultLevel, Pictures, testing::ValuesIn(_shots),
                         [](const testing::TestParamInfo<Shot>& info) { return std::string(info.param.name); });

}  // namespace
