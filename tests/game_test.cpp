// The game object on small maps written here: rooms, resets, the death
// countdown, pause and quit from pushed events, and the view in the window.
#include "game/game.h"

#include "game/conf.h"
#include "game/mob_effect.h"
#include "game/mob_player.h"
#include "support/input.h"
#include "support/media.h"

#include "common/events.h"
#include "common/game_files.h"
#include "common/gl_window.h"
#include "common/process.h"

#include <GL/glew.h>
#include <SDL.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// The world, in pixels; the map is 175 x 100 tiles of 8.
//
//   (400, 0)  T  (800, 240)
//   L   B   R   W          B is the room the player starts in, at (600, 460);
//       D                  W is 200 wide; the top left corner is in no room.
constexpr int _cols = 175;
constexpr int _rows = 100;
const kesp::Box _b{400, 800, 240, 480};
const kesp::Box _t{400, 800, 0, 240};
const kesp::Box _l{0, 400, 240, 480};
const kesp::Box _r{800, 1200, 240, 480};
const kesp::Box _d{400, 800, 480, 720};
const kesp::Box _w{1200, 1400, 240, 480};
const kesp::Vec _start{600, 460};

// Tile numbers of tiles.png: 1 is solid, 2 is not.
constexpr std::uint32_t _floor_colour = test::rgba(230, 120, 40, 255);
constexpr std::uint32_t _back_colour = test::rgba(40, 90, 230, 255);
constexpr std::uint32_t _player_colour = test::rgba(250, 20, 20, 255);
constexpr std::uint32_t _black = test::rgba(0, 0, 0, 255);

std::string number(float v) { return std::to_string(v); }

std::string object(const std::string& type, const kesp::Box& b) {
    return R"({"type":")" + type + R"(","name":"","x":)" + number(b.l) + R"(,"y":)" + number(b.u) +
           R"(,"width":)" + number(b.r - b.l) + R"(,"height":)" + number(b.d - b.u) + "}";
}

kesp::Box player_box(kesp::Vec centre) { return kesp::Box::from_center(centre, {4, 8}); }

std::string rooms() {
    std::string s;
    for (const kesp::Box& r : {_b, _t, _l, _r, _d, _w}) s += "," + object("room", r);
    return s;
}

// Places in map order: a poof inside B, one touching B's top edge from T, one
// inside T, a marker in B that is no mob kind, a poof in W and one in L.
std::string places() {
    std::string s;
    for (const kesp::Box& b : {kesp::Box{500, 508, 440, 448}, kesp::Box{600, 608, 232, 240},
                               kesp::Box{600, 608, 100, 108}})
        s += "," + object("poof", b);
    return s + "," + object("target", {700, 708, 440, 448}) + "," + object("poof", {1300, 1308, 440, 448}) +
           "," + object("poof", {300, 308, 300, 308});
}

// A map of cols x rows tiles with the given tile numbers, row by row, and the
// player, the objects (each after a comma) and one tileset of tiles.png.
std::string map_json(int cols, int rows, const std::vector<std::uint32_t>& cells, kesp::Vec player,
                     const std::string& objects) {
    std::string data;
    for (std::uint32_t c : cells) data += (data.empty() ? "" : ",") + std::to_string(c);
    return R"({"width":)" + std::to_string(cols) + R"(,"height":)" + std::to_string(rows) +
           R"(,"tilewidth":8,"tileheight":8,"properties":[{"name":"title","value":"Rooms"}],)"
           R"("tilesets":[{"tilecount":2,"imagewidth":16,"imageheight":8,"image":"tiles.png",)"
           R"("tiles":[{"id":0,"type":"solid"}]}],)"
           R"("layers":[{"type":"tilelayer","data":[)" +
           data + R"(]},{"type":"objectgroup","objects":[)" + object("player", player_box(player)) +
           objects + "]}]}";
}

// Solid floors along the bottom of the rooms of the middle row and of D; one
// non-solid tile behind the player's start.
std::string map_text(kesp::Vec player) {
    std::vector<std::uint32_t> cells(_cols * _rows, 0);
    for (int x = 0; x < _cols; ++x) cells[59 * _cols + x] = 1;
    for (int x = 50; x < 100; ++x) cells[89 * _cols + x] = 1;
    cells[57 * _cols + 75] = 2;
    return map_json(_cols, _rows, cells, player, rooms() + places());
}

void expect_box(const kesp::Box& got, const kesp::Box& want) {
    EXPECT_FLOAT_EQ(got.l, want.l);
    EXPECT_FLOAT_EQ(got.r, want.r);
    EXPECT_FLOAT_EQ(got.u, want.u);
    EXPECT_FLOAT_EQ(got.d, want.d);
}

void expect_vec(kesp::Vec got, kesp::Vec want) {
    EXPECT_FLOAT_EQ(got.x, want.x);
    EXPECT_FLOAT_EQ(got.y, want.y);
}

class Game_test : public test::Gl_test {
protected:
    void SetUp() override {
        test::Gl_test::SetUp();
        saved_fps = kesp::conf.fps;
        saved_wsize = kesp::wsize;
        conf_init();
        for (kesp::Input& input : kesp::inputs) input.value = 0;
        SDL_PumpEvents();
        SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
        test::Surface tiles = test::make_image(16, 8, [](int x, int) { return x < 8 ? _floor_colour : _back_colour; });
        ASSERT_TRUE(tiles);
        ASSERT_NO_FATAL_FAILURE(test::save_image(tiles.get(), tmp / "tiles.png"));
    }
    void TearDown() override {
        game.reset();
        kesp::conf.fps = saved_fps;
        kesp::wsize = saved_wsize;
    }

    void start(kesp::Vec player = _start) { start_map(map_text(player)); }
    void start_map(const std::string& text) {
        test::write_file(tmp / "map.tmj", text);
        game = std::make_unique<Game>(tmp / "map.tmj");
    }

    Mob_player& player() { return *game->scene.mobs.player; }
    // Where a physics move would leave the player: centre and box together.
    void put(kesp::Vec centre) {
        player().pos = centre;
        player().box = kesp::Box::from_center(centre, player().half);
    }
    void updates(int n) {
        for (int i = 0; i < n; ++i) game->update();
    }

    // The poofs spawned from places (the player's own dust left out): their
    // centres and their ages in sprite frames, in roster order.
    std::vector<kesp::Vec> spawned() {
        std::vector<kesp::Vec> v;
        for (const Mob_poof* p : poofs()) v.push_back(p->pos);
        return v;
    }
    std::vector<float> ages() {
        std::vector<float> v;
        for (const Mob_poof* p : poofs()) v.push_back(p->time);
        return v;
    }
    std::vector<const Mob_poof*> poofs() {
        std::vector<const Mob_poof*> v;
        for (const auto& mob : game->scene.mobs.roster)
            if (auto* p = dynamic_cast<const Mob_poof*>(mob.get())) v.push_back(p);
        return v;
    }

    test::Game_files files;
    test::Temp_dir tmp;
    std::int32_t saved_fps = 60;
    kesp::Vec saved_wsize;
    std::unique_ptr<Game> game;
};

// The centres of the poofs of each room's places.
const std::vector<kesp::Vec> _b_mobs{{504, 444}, {604, 236}};
const std::vector<kesp::Vec> _t_mobs{{604, 236}, {604, 104}};

void expect_centres(const std::vector<kesp::Vec>& got, const std::vector<kesp::Vec>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) expect_vec(got[i], want[i]);
}

// --- construction and destruction

TEST_F(Game_test, ConstructionEntersTheRoomHoldingThePlayerAndSpawnsItsPlaces) {
    start();
    EXPECT_TRUE(game->running);
    EXPECT_FALSE(game->paused);
    EXPECT_EQ(game->reset_timer, 0);
    expect_box(game->scene.room, _b);
    expect_vec(game->respawn, _start);
    // The player first, then the poofs of the places overlapping B in map order,
    // the one touching its top edge included; the marker spawns nothing.
    EXPECT_EQ(game->scene.mobs.roster.front().get(), &player());
    EXPECT_EQ(game->scene.mobs.roster.size(), 3u);
    expect_centres(spawned(), _b_mobs);
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE);
}

TEST_F(Game_test, DestructionShowsTheCursorAndWritesTheMobAtlas) {
    start();
    ASSERT_FALSE(fs::exists(files.state() / "mobs.png"));
    game.reset();
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_ENABLE);
    EXPECT_TRUE(test::load_image(files.state() / "mobs.png"));
}

TEST_F(Game_test, AMapThatCannotBeOpenedPassesTheErrorOn) {
    fs::path missing = tmp / "missing.tmj";
    try {
        Game g(missing);
        FAIL() << "a missing map was played";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "can't open \"" + missing.string() + "\"");
    }
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_ENABLE);
}

// --- rooms

TEST_F(Game_test, WhereThePlayerLeavesDecidesTheRoom) {
    struct Case {
        const char* what;
        kesp::Vec to;
        kesp::Box room;
        kesp::Vec respawn;
        std::vector<kesp::Vec> mobs;
        bool fresh;  // spawned anew: entered or reset
    };
    const Case cases[] = {
        {"inside", {600, 300}, _b, _start, _b_mobs, false},
        {"on the top edge", {600, 240}, _b, _start, _b_mobs, false},
        {"on the left edge", {400, 300}, _b, _start, _b_mobs, false},
        {"through the top", {600, 239.5f}, _t, {600, 239.5f}, _t_mobs, true},
        {"through the left", {399.5f, 300}, _l, {399.5f, 300}, {{304, 304}}, true},
        {"through the right", {800.5f, 300}, _r, {800.5f, 300}, {}, true},
        // B is first in map order and holds its own right edge: entered again.
        {"onto the right edge", {800, 300}, _b, {800, 300}, _b_mobs, true},
        // D holds the point, but a fall never drops into the room below.
        {"onto the bottom edge", {600, 480}, _b, _start, _b_mobs, true},
        {"below and to the left", {399.5f, 500}, _b, _start, _b_mobs, true},
        {"below and to the right", {800, 480}, _b, _start, _b_mobs, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        start();
        updates(3);
        put(c.to);
        game->room_update();
        expect_box(game->scene.room, c.room);
        expect_vec(game->respawn, c.respawn);
        expect_centres(spawned(), c.mobs);
        for (float age : ages()) EXPECT_EQ(age == 0, c.fresh);
    }
}

TEST_F(Game_test, AFallPutsThePlayerBackWhereTheRoomWasEnteredAndRevivesIt) {
    start();
    put({600.5f, 239.5f});
    game->update();  // into T
    ASSERT_NO_FATAL_FAILURE(expect_box(game->scene.room, _t));
    kesp::Vec entry = game->respawn;
    put({450, 240});
    player().vel = {2, 5};
    game->room_update();
    expect_box(game->scene.room, _t);
    expect_vec(player().pos, entry);
    expect_vec(player().vel, {0, 0});
    // The box goes with the player, so the fresh mobs test harm where it stands.
    expect_box(player().box, kesp::Box::from_center(entry, player().half));
    expect_centres(spawned(), _t_mobs);
}

TEST_F(Game_test, RoomLogicRunsInEveryUpdateBeforeTheMobs) {
    start();
    put({600, 239.5f});
    game->update();
    expect_box(game->scene.room, _t);
    // The new room's mobs have had this update's pass.
    ASSERT_EQ(ages().size(), 2u);
    for (float age : ages()) EXPECT_FLOAT_EQ(age, 12.0f / 60);
}

TEST_F(Game_test, APlayerOutsideEveryRoomGetsAMakeshiftRoom) {
    start();
    updates(3);
    std::vector<float> aged = ages();
    put({399.5f, 239.5f});  // out of B's top left corner, into no room
    testing::internal::CaptureStderr();
    game->room_update();
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("WARN: Player fell outside the world"), std::string::npos) << log;
    expect_box(game->scene.room, player_box({399.5f, 239.5f}).grow(100));
    expect_vec(game->respawn, _start);
    EXPECT_EQ(ages(), aged);  // nothing spawned or cleared
}

// Out through a makeshift room's bottom, the player goes back to where the last
// real room was entered, or to its start. Outside the makeshift room, that
// room is entered again (or a makeshift room made there): otherwise each update
// would find the player under it and reset once more.
TEST_F(Game_test, AFallOutOfAMakeshiftRoomResetsIntoTheRoomOfTheRespawn) {
    struct Case {
        const char* what;
        kesp::Vec start;
        std::optional<kesp::Vec> entry;  // a room entered before leaving into nowhere
        kesp::Vec out;                   // where it leaves into nowhere
        kesp::Vec respawn;
        kesp::Box room;
        std::vector<kesp::Vec> mobs;
    };
    const kesp::Vec corner{399.5f, 239.5f};  // out of B's top left corner
    const Case cases[] = {
        {"entered far below", _start, std::nullopt, corner, _start, _b, _b_mobs},
        // L entered within the makeshift room: the places that it overlaps.
        {"entered inside it", _start, kesp::Vec{399.5f, 300}, corner, {399.5f, 300},
         player_box(corner).grow(100), {{304, 304}}},
        {"started outside every room", {200, 230}, std::nullopt, {350, 230}, {200, 230},
         player_box({200, 230}).grow(100), {{304, 304}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testing::internal::CaptureStderr();
        start(c.start);
        if (c.entry) {
            put(*c.entry);
            game->update();
        }
        put(c.out);
        game->update();
        const kesp::Box makeshift = player_box(c.out).grow(100);
        ASSERT_NO_FATAL_FAILURE(expect_box(game->scene.room, makeshift));
        put({c.out.x, makeshift.d});
        for (int k = 0; k < 3; ++k) game->update();
        testing::internal::GetCapturedStderr();
        expect_vec(game->respawn, c.respawn);
        EXPECT_NEAR(player().pos.x, c.respawn.x, 1e-3);
        EXPECT_NEAR(player().pos.y, c.respawn.y, 3) << "no more than three updates' fall";
        expect_box(game->scene.room, c.room);
        expect_centres(spawned(), c.mobs);
    }
}

TEST_F(Game_test, APlayerThatStartsOutsideEveryRoomSpawnsNothing) {
    testing::internal::CaptureStderr();
    start({200, 100});
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("WARN: Player fell outside the world"), std::string::npos) << log;
    expect_box(game->scene.room, player_box({200, 100}).grow(100));
    expect_vec(game->respawn, {200, 100});
    EXPECT_EQ(game->scene.mobs.roster.size(), 1u);
}

TEST_F(Game_test, APlayerThatStartsOutsideEveryRoomFallsBackToItsStart) {
    const kesp::Vec from{200, 100};
    testing::internal::CaptureStderr();
    start(from);
    float deepest = from.y;
    int k = 0;
    // Nothing holds it up: it falls out through the makeshift room's bottom.
    for (; k < 100 && player().pos.y >= deepest; ++k) {
        deepest = player().pos.y;
        ASSERT_NO_THROW(game->update()) << "update " << k;
    }
    testing::internal::GetCapturedStderr();
    ASSERT_LT(k, 100) << "never reset";
    EXPECT_GE(deepest, player_box(from).grow(100).d);
    // Reset, then moved by one update's gravity alone.
    EXPECT_FLOAT_EQ(player().pos.x, from.x);
    EXPECT_NEAR(player().pos.y, from.y, 1);
    expect_vec(game->respawn, from);
}

// A map whose one room is the whole map, 60 x 30 tiles, with a floor along the
// bottom row but for a pit under x 88 to 112.
const kesp::Box _whole{0, 480, 0, 240};
const kesp::Vec _edge_start{240, 224};

std::string edge_map_text() {
    constexpr int cols = 60, rows = 30;
    std::vector<std::uint32_t> cells(cols * rows, 0);
    for (int x = 0; x < cols; ++x) cells[(rows - 1) * cols + x] = x < 11 || x > 13 ? 1 : 0;
    return map_json(cols, rows, cells, _edge_start, "," + object("room", _whole));
}

TEST_F(Game_test, APlayerLeavingTheMapAtAnyEdgeComesBackWhereTheRoomWasEntered) {
    struct Case {
        const char* what;
        kesp::Vec at, vel;
        bool outside_the_world;  // leaves every room before it falls out
    };
    const Case cases[] = {
        {"down the pit, out through the bottom", {100, 200}, {0, 0}, false},
        {"off the left edge", {4, 224}, {-3, 0}, true},
        {"off the right edge", {476, 224}, {3, 0}, true},
        {"out through the top", {240, 8}, {0, -8}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        start_map(edge_map_text());
        put(c.at);
        player().vel = c.vel;
        testing::internal::CaptureStderr();
        bool left_the_map = false;
        for (int k = 0; k < 200; ++k) {
            ASSERT_NO_THROW(game->update()) << "update " << k;
            left_the_map |= !_whole.contains(player().pos);
        }
        std::string log = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(left_the_map);
        EXPECT_EQ(log.find("Player fell outside the world") != std::string::npos, c.outside_the_world) << log;
        // Reset to the start, standing on the floor, in the room entered again.
        expect_vec(player().pos, _edge_start);
        EXPECT_TRUE(player().is(Body::touch_dn));
        expect_box(game->scene.room, _whole);
    }
}

// --- the death countdown

TEST_F(Game_test, ADeathResetsTheRoomAfterHalfASecondOfUpdates) {
    struct Case {
        std::int32_t fps;
        int countdown;  // updates after the one that saw the player dead
    };
    // Half a second of 1 frame per second truncates to none; it lasts one update.
    const Case cases[] = {{60, 30}, {30, 15}, {3, 1}, {2, 1}, {1, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fps);
        kesp::conf.fps = c.fps;
        start();
        const kesp::Vec death{700, 460};
        game->update();  // ages the poofs, or at 1 fps outlives them
        put(death);
        player().set(Body::dead);
        std::vector<float> aged = ages();
        game->update();
        EXPECT_EQ(game->reset_timer, c.countdown);
        for (int i = 1; i < c.countdown; ++i) game->update();
        // Nothing moved or aged while counting down.
        EXPECT_TRUE(player().is(Body::dead));
        expect_vec(player().pos, death);
        EXPECT_EQ(ages(), aged);

        game->update();
        EXPECT_EQ(game->reset_timer, 0);
        EXPECT_FALSE(player().is(Body::dead));
        expect_vec(player().pos, _start);
        expect_box(player().box, player_box(_start));
        // Spawned afresh in an update that ends before the mob pass.
        expect_centres(spawned(), _b_mobs);
        for (float age : ages()) EXPECT_EQ(age, 0);
    }
}

TEST_F(Game_test, TheCountdownRunsWhilePausedAndThroughAStartPress) {
    start();
    game->paused = true;
    player().set(Body::dead);
    game->update();
    ASSERT_EQ(game->reset_timer, 30);
    updates(10);
    test::push_key(SDL_SCANCODE_RETURN, true);
    game->input();
    EXPECT_FALSE(game->paused);
    EXPECT_EQ(game->reset_timer, 20);
    test::push_key(SDL_SCANCODE_RETURN, false);
    test::push_key(SDL_SCANCODE_RETURN, true);
    game->input();
    ASSERT_TRUE(game->paused);
    updates(20);
    EXPECT_FALSE(player().is(Body::dead));
    expect_vec(player().pos, _start);
    // Still paused afterwards: the fresh mobs wait.
    updates(2);
    expect_centres(spawned(), _b_mobs);
    for (float age : ages()) EXPECT_EQ(age, 0);
}

// --- pause, quit, jump and attack from events

TEST_F(Game_test, EventsReachThePauseTheLoopAndThePlayer) {
    using Key = std::pair<SDL_Scancode, bool>;
    constexpr SDL_Scancode start_key = SDL_SCANCODE_RETURN, menu = SDL_SCANCODE_ESCAPE,
                           jump = SDL_SCANCODE_X, attack = SDL_SCANCODE_Z, right = SDL_SCANCODE_RIGHT;
    struct Case {
        const char* what;
        bool paused_before;
        std::vector<Key> keys;
        bool paused, running, jump_waiting, attacking;
    };
    const Case cases[] = {
        {"start", false, {{start_key, true}, {start_key, false}}, true, true, false, false},
        {"start twice in a batch", false,
         {{start_key, true}, {start_key, false}, {start_key, true}, {start_key, false}}, false, true, false, false},
        {"start released only", true, {{start_key, false}}, true, true, false, false},
        {"menu, then start behind it", false, {{menu, true}, {start_key, true}}, true, false, false, false},
        {"menu released only", false, {{menu, false}}, false, true, false, false},
        {"jump while paused", true, {{jump, true}}, true, true, true, false},
        {"jump pressed and released", false, {{jump, true}, {jump, false}}, false, true, false, false},
        {"attack while paused, released", true, {{attack, true}, {attack, false}}, true, true, false, true},
        {"movement", false, {{right, true}}, false, true, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        start();
        game->paused = c.paused_before;
        for (const Key& k : c.keys) ASSERT_NO_FATAL_FAILURE(test::push_key(k.first, k.second));
        game->input();
        EXPECT_EQ(game->paused, c.paused);
        EXPECT_EQ(game->running, c.running);
        EXPECT_EQ(player().jump_buffer_timer != 0, c.jump_waiting);
        EXPECT_EQ(player().attack_timer != 0, c.attacking);
        for (kesp::Input& input : kesp::inputs) input.value = 0;
    }
}

TEST_F(Game_test, AnAxisOnTheStartActionTogglesAtEveryChangeThatIsNotZero) {
    struct Case {
        const char* what;
        std::vector<Sint16> values;
        bool paused;
    };
    const Case cases[] = {
        {"pushed", {16000}, true},
        // no edge detection: pushed further is a second press
        {"pushed, then further", {8000, 16000}, false},
        {"pushed three times further", {8000, 16000, 32767}, true},
        {"pushed and let go", {8000, 0}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        start();
        kesp::inputs[6].catches = {kesp::Catch_jaxis<1>{0}};
        for (Sint16 v : c.values) {
            SDL_Event e{};
            e.type = SDL_JOYAXISMOTION;
            e.jaxis.axis = 0;
            e.jaxis.value = v;
            test::push_event(e);
        }
        game->input();
        EXPECT_EQ(game->paused, c.paused);
        EXPECT_TRUE(game->running);
        for (kesp::Input& input : kesp::inputs) input.value = 0;
    }
}

TEST_F(Game_test, PausedUpdatesLeaveTheWorldAndTheViewAlone) {
    start();
    kesp::wsize = {1920, 1080};
    game->update();
    kesp::Box view = game->view;
    std::vector<float> aged = ages();
    game->paused = true;
    put({500, 300});
    updates(3);
    expect_vec(player().pos, {500, 300});
    expect_box(game->view, view);
    EXPECT_EQ(ages(), aged);
    game->paused = false;
    game->update();
    EXPECT_NE(game->view.u, view.u);
    EXPECT_NE(ages(), aged);
}

TEST_F(Game_test, TheLoopEndsAfterThePassThatReadTheMenuAction) {
    start();
    test::push_key(SDL_SCANCODE_ESCAPE, true);
    test::push_key(SDL_SCANCODE_RETURN, true);
    std::vector<float> aged = ages();
    game->run();
    EXPECT_FALSE(game->running);
    EXPECT_TRUE(game->paused);  // the event behind the menu press still counted
    EXPECT_NE(ages(), aged);    // one update ran
}

// --- the view

TEST_F(Game_test, TheViewFollowsThePlayerInsideTheRoomAtAWholeScale) {
    struct Case {
        const char* what;
        kesp::Vec player;
        kesp::Vec window;
        kesp::Box view;
        std::array<GLint, 4> viewport;  // x, y, width, height
    };
    const Case cases[] = {
        {"full HD: scale 5, filled", {600, 460}, {1920, 1080}, {408, 792, 264, 480}, {0, 0, 1920, 1080}},
        {"1366 x 768: scale 3, centred", {600, 460}, {1366, 768}, {408, 792, 264, 480}, {107, 60, 1152, 648}},
        {"centred on the floored centre", {600.7f, 360.2f}, {384, 216}, {408, 792, 252, 468}, {0, 0, 384, 216}},
        {"pushed in at the top left", {410, 300}, {384, 216}, {400, 784, 240, 456}, {0, 0, 384, 216}},
        {"a room 200 wide", {1300, 400}, {1920, 1080}, {1200, 1400, 264, 480}, {460, 0, 1000, 1080}},
        {"too narrow: scale 0", {600, 460}, {383, 1080}, {408, 792, 264, 480}, {191, 540, 0, 0}},
        {"too low: scale 0", {600, 460}, {1920, 215}, {408, 792, 264, 480}, {960, 107, 0, 0}},
        // the first update, before any frame has read the window's size
        {"no window size yet: scale 0", {600, 460}, {0, 0}, {408, 792, 264, 480}, {0, 0, 0, 0}},
    };
    start();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        put(c.player);
        game->room_init();
        kesp::wsize = c.window;
        game->recalculate_view();
        expect_box(game->view, c.view);
        std::array<GLint, 4> viewport{};
        glGetIntegerv(GL_VIEWPORT, viewport.data());
        EXPECT_EQ(viewport, c.viewport);
    }
}

TEST_F(Game_test, AFrameDrawsTheBackgroundThenTheMobsThroughTheView) {
    files.sheet("player_idle.png", 1, 1, 8, 16, [](int, int, int) { return _player_colour; });
    start();
    // Scale 1: the view (408, 792, 264, 480) fills the bottom 216 rows of the
    // test window, so world (x, y) shows at (x - 408, y - 240).
    kesp::wsize = {384, 216};
    game->recalculate_view();
    game->render();
    test::Pixels p = test::read_window();
    EXPECT_EQ(p.at(10, 236), _floor_colour);   // the floor, world (418, 476)
    EXPECT_EQ(p.at(199, 220), _back_colour);   // the back tile beside the player
    EXPECT_EQ(p.at(194, 220), _player_colour); // the player over the back tile
    EXPECT_EQ(p.at(10, 100), _black);
    EXPECT_EQ(p.at(10, 10), _black);           // above the drawing area
}

TEST_F(Game_test, AWindowBelowTheVirtualScreenShowsOnlyTheClearColour) {
    start();
    // Two passes, as the loop runs them: the first frame reads the test
    // window's size, 320 x 240, and the second update places the view by it.
    game->update();
    game->render();
    ASSERT_EQ(kesp::wsize.x, test::gl_width);
    game->update();
    game->render();
    test::Pixels p = test::read_window();
    for (int y = 0; y < p.h; y += 4)
        for (int x = 0; x < p.w; x += 4) ASSERT_EQ(p.at(x, y), _black) << x << ", " << y;
}

}  // namespace
