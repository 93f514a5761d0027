#include "game/mob_solid.h"

#include "game/game.h"
#include "game/mob_player.h"
#include "game/scene.h"
#include "support/input.h"

#include "common/game_files.h"
#include "common/gl_window.h"
#include "common/log_record.h"
#include "common/process.h"

#include <GL/glew.h>
#include <SDL.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using kesp::Box;
using kesp::Vec;

constexpr float inf = std::numeric_limits<float>::infinity();
const Box no_strike{inf, inf, inf, inf};

// Tile i of the test tileset is one flat colour.
std::uint32_t tile_colour(int i) { return test::rgba(40 + 40 * i, 200, 30, 255); }

const char* const no_target = "Can't find the target for this mirror";
const char* const no_brushes = "Can't find the brushes for this crack";
const char* const brushes_outside = "The brushes for this crack reach outside the map";

// A 20 x 10 map whose cell (x, y) holds tile number 1 + (x + y) % 4, solid where
// x + y is even; the room is its left half, 80 x 80 pixels.
class Trigger_test : public test::Gl_test {
protected:
    void SetUp() override {
        test::Gl_test::SetUp();
        if (HasFatalFailure()) return;
        build(true);
    }

    void build(bool kill_sound) {
        files.emplace();
        if (kill_sound) files->sound("kill.wav");
        files->sheet("tiles.png", 4, 1, 8, 8, [](int cell, int, int) { return tile_colour(cell); });
        scene.emplace();
        scene->background.add_tiles(files->data() / "texture" / "tiles.png", 4, 1);
        scene->background.tiles.resize(20, 10);
        scene->physics.solid.resize(20, 10);
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 20; ++x) {
                scene->background.tiles.at(x, y) = 1 + (x + y) % 4;
                scene->physics.solid.at(x, y) = (x + y) % 2 == 0;
            }
        scene->room = {0, 80, 0, 80};
        player = std::make_unique<Mob_player>(scene->mobs, Box::from_center({40, 40}, {4, 8}), nullptr);
    }

    void TearDown() override {
        player.reset();
        scene.reset();
        files.reset();
    }

    void place(const char* type, const char* name, const Box& box) { scene->places.push_back({type, name, box}); }

    // Builds the mobs of every place that overlaps the room, as entering it does.
    void populate() {
        scene->background.upload(scene->room);
        for (Place& p : scene->places)
            if (p.box.overlaps(scene->room)) scene->mobs.construct(p.type, p.box, &p);
    }

    template <class Kind>
    std::vector<Kind*> all() {
        std::vector<Kind*> found;
        for (auto& m : scene->mobs.roster)
            if (auto* k = dynamic_cast<Kind*>(m.get())) found.push_back(k);
        return found;
    }

    void strike(const Box& box) { player->attack_box = box; }
    void update() { scene->mobs.update(*scene); }

    std::int32_t tile(int x, int y) { return scene->background.tiles.at(x, y); }
    bool solid(int x, int y) { return scene->physics.solid.at(x, y); }
    // The room's background as drawn, read at the centre of cell (x, y).
    std::uint32_t drawn(int x, int y) {
        glViewport(0, 0, test::gl_width, test::gl_height);
        glClearColor(0, 0, 0, 0);
        glClear(GL_COLOR_BUFFER_BIT);
        scene->background.render({0, 320, 0, 240});
        return test::read_window().at(8 * x + 4, 8 * y + 4);
    }
    std::uint32_t original_colour(int x, int y) { return tile_colour((x + y) % 4); }

    int kill_plays() {
        const kesp::Audio* kill = scene->mobs.load_audio("kill.wav");
        return kill ? kill->plays() : 0;
    }

    std::optional<test::Game_files> files;
    std::optional<Scene> scene;
    std::unique_ptr<Mob_player> player;
};

// The mirror.

TEST_F(Trigger_test, StruckMirrorSendsThePlayerToTheFirstTargetOfItsName) {
    place("mirror", "north", {16, 24, 16, 32});
    place("target", "south", {100, 108, 0, 8});
    place("brush", "north", {108, 116, 0, 8});
    place("target", "north", {120, 136, 40, 56});
    place("target", "north", {140, 148, 40, 48});
    populate();
    ASSERT_EQ(all<Mob_mirror>().size(), 1u);
    player->vel = {1.5f, -2};
    player->flags |= Body::flip;
    const std::int32_t flags = player->flags;
    const Box box = player->box;
    test::Log_record log;
    strike({24, 40, 28, 36});  // touches the mirror's right edge
    update();
    EXPECT_FLOAT_EQ(player->pos.x, 128);
    EXPECT_FLOAT_EQ(player->pos.y, 48);
    EXPECT_FLOAT_EQ(player->vel.x, 1.5f);
    EXPECT_FLOAT_EQ(player->vel.y, -2);
    EXPECT_EQ(player->flags, flags);
    // The box follows in the next physics step.
    EXPECT_FLOAT_EQ(player->box.l, box.l);
    EXPECT_EQ(all<Mob_mirror>().size(), 1u);
    // It acts again while the strike lasts.
    player->pos = {40, 40};
    update();
    EXPECT_FLOAT_EQ(player->pos.x, 128);
    EXPECT_EQ(log.errors(no_target), 0);
}

TEST_F(Trigger_test, MirrorIgnoresThePlayerWithoutAStrike) {
    place("mirror", "north", {16, 48, 16, 48});
    place("target", "north", {120, 136, 40, 56});
    populate();
    strike(no_strike);  // the player stands inside the mirror's box
    update();
    EXPECT_FLOAT_EQ(player->pos.x, 40);
    EXPECT_FLOAT_EQ(player->pos.y, 40);
}

// A place that a trigger may or may not take for its partner.
struct Partner {
    const char* type;
    const char* name;
};

TEST_F(Trigger_test, MirrorMatchesTypeAndNameExactly) {
    struct Case {
        const char* mirror;
        std::vector<Partner> partners;
        bool found;
    };
    const Case cases[] = {
        {"north", {}, false},
        {"north", {{"target", "south"}}, false},
        {"north", {{"brush", "north"}}, false},
        {"north", {{"target", "North"}}, false},
        {"north", {{"Target", "north"}}, false},
        {"", {{"target", ""}}, true},
        {"north", {{"crack", "north"}, {"target", "north"}}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "mirror \"" << c.mirror << "\", " << c.partners.size() << " partners");
        TearDown();
        build(true);
        place("mirror", c.mirror, {16, 24, 16, 32});
        float x = 100;
        for (const Partner& p : c.partners) {
            place(p.type, p.name, {x, x + 8, 40, 48});
            x += 16;
        }
        populate();
        test::Log_record log;
        strike({0, 80, 0, 80});
        update();
        update();
        EXPECT_FLOAT_EQ(player->pos.x, c.found ? x - 12 : 40);
        EXPECT_EQ(log.errors(no_target), c.found ? 0 : 2);
    }
}

// The crack.

TEST_F(Trigger_test, StruckCrackSwapsItsBrushesOnceAndForAll) {
    place("crack", "wall", {60, 68, 60, 68});
    place("brush", "wall", {8, 24, 16, 32});   // cells (1..2, 2..3), inside the room
    place("brush", "wall", {32, 40, 16, 24});  // from cell (4, 2): its own size is not read
    populate();
    auto cracks = all<Mob_crack>();
    ASSERT_EQ(cracks.size(), 1u);
    Place* spent = cracks[0]->place;
    ASSERT_EQ(drawn(1, 2), original_colour(1, 2));
    const int plays = kill_plays();
    test::Log_record log;
    strike({68, 80, 50, 60});  // touches the crack's top right corner
    update();
    EXPECT_TRUE(all<Mob_crack>().empty());
    EXPECT_EQ(kill_plays(), plays + 1);
    EXPECT_EQ(log.errors(no_brushes), 0);
    for (int y = 2; y <= 3; ++y)
        for (int x = 1; x <= 2; ++x) {
            SCOPED_TRACE(testing::Message() << "cell " << x << ", " << y);
            EXPECT_EQ(tile(x, y), 1 + (x + 3 + y) % 4);
            EXPECT_EQ(tile(x + 3, y), 1 + (x + y) % 4);
            EXPECT_EQ(solid(x, y), (x + 3 + y) % 2 == 0);
            EXPECT_EQ(solid(x + 3, y), (x + y) % 2 == 0);
            // The room shows the swap at once.
            EXPECT_EQ(drawn(x, y), original_colour(x + 3, y));
            EXPECT_EQ(drawn(x + 3, y), original_colour(x, y));
        }
    EXPECT_EQ(tile(6, 2), 1 + (6 + 2) % 4);
    EXPECT_EQ(spent->box.l, inf);
    EXPECT_EQ(spent->box.r, inf);
    EXPECT_EQ(spent->box.u, inf);
    EXPECT_EQ(spent->box.d, inf);
    // Entering or resetting the room again makes no crack, and nothing swaps back.
    scene->mobs.clear();
    populate();
    update();
    EXPECT_TRUE(all<Mob_crack>().empty());
    EXPECT_EQ(tile(1, 2), 1 + (4 + 2) % 4);
}

TEST_F(Trigger_test, CrackUsesTheFirstTwoBrushesOfItsName) {
    place("brush", "wall", {8, 16, 8, 16});     // cell (1, 1)
    place("brush", "other", {16, 24, 8, 16});   // cell (2, 1)
    place("target", "wall", {24, 32, 8, 16});   // cell (3, 1)
    place("crack", "wall", {60, 68, 60, 68});
    place("brush", "wall", {32, 40, 8, 16});    // cell (4, 1)
    place("brush", "wall", {40, 48, 8, 16});    // cell (5, 1): a third, ignored
    populate();
    strike({0, 80, 0, 80});
    update();
    EXPECT_TRUE(all<Mob_crack>().empty());
    EXPECT_EQ(tile(1, 1), 1 + 5 % 4);
    EXPECT_EQ(tile(4, 1), 1 + 2 % 4);
    for (int x : {2, 3, 5}) EXPECT_EQ(tile(x, 1), 1 + (x + 1) % 4) << "cell " << x;
}

TEST_F(Trigger_test, CrackWithoutTwoBrushesStaysArmed) {
    struct Case {
        const char* name;
        std::vector<Partner> partners;
    };
    const Case cases[] = {
        {"none", {}},
        {"one brush", {{"brush", "wall"}}},
        {"one brush and a target", {{"brush", "wall"}, {"target", "wall"}}},
        {"brushes of other names", {{"brush", "Wall"}, {"brush", "hall"}}},
        {"one brush and one of another name", {{"brush", "hall"}, {"brush", "wall"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        build(true);
        place("crack", "wall", {60, 68, 60, 68});
        float x = 8;
        for (const Partner& p : c.partners) {
            place(p.type, p.name, {x, x + 8, 8, 16});
            x += 8;
        }
        populate();
        const int plays = kill_plays();
        test::Log_record log;
        strike({0, 80, 0, 80});
        update();
        update();
        EXPECT_EQ(log.errors(no_brushes), 2);
        EXPECT_EQ(all<Mob_crack>().size(), 1u);
        EXPECT_EQ(kill_plays(), plays);
        EXPECT_FLOAT_EQ(scene->places[0].box.l, 60);
        for (int cx = 0; cx < 20; ++cx) EXPECT_EQ(tile(cx, 1), 1 + (cx + 1) % 4) << "cell " << cx;
        // Without a strike it says nothing.
        strike(no_strike);
        update();
        EXPECT_EQ(log.errors(no_brushes), 2);
    }
}

TEST_F(Trigger_test, CrackSwapsBrushesOutsideTheRoom) {
    place("crack", "far", {60, 68, 60, 68});
    place("brush", "far", {96, 104, 8, 16});    // cell (12, 1)
    place("brush", "far", {144, 152, 64, 72});  // cell (18, 8)
    populate();
    strike({0, 80, 0, 80});
    update();
    EXPECT_TRUE(all<Mob_crack>().empty());
    EXPECT_EQ(tile(12, 1), 1 + (18 + 8) % 4);
    EXPECT_EQ(tile(18, 8), 1 + (12 + 1) % 4);
    EXPECT_EQ(drawn(1, 1), original_colour(1, 1));
}

// A map whose brushes reach off the map plays on: the crack says so and stays.
TEST_F(Trigger_test, CrackWithBrushesOutsideTheMapSwapsNothingAndStays) {
    struct Case {
        const char* what;
        Box first, second;
    };
    const Case cases[] = {
        {"second block past the right edge", {8, 24, 8, 16}, {152, 160, 8, 16}},  // columns 19 and 20
        {"first block past the bottom", {8, 16, 72, 88}, {24, 32, 8, 16}},       // rows 9 and 10
        {"first brush left of the map", {-8, 8, 8, 16}, {24, 40, 8, 16}},
        {"second brush far off", {8, 16, 8, 16}, {1e30f, 1e30f + 8, 8, 16}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        build(true);
        place("crack", "wall", {60, 68, 60, 68});
        place("brush", "wall", c.first);
        place("brush", "wall", c.second);
        populate();
        const int plays = kill_plays();
        test::Log_record log;
        strike({0, 80, 0, 80});
        ASSERT_NO_THROW(update());
        ASSERT_NO_THROW(update());
        EXPECT_EQ(log.errors(brushes_outside), 2);
        EXPECT_EQ(all<Mob_crack>().size(), 1u);
        EXPECT_EQ(kill_plays(), plays);
        EXPECT_FLOAT_EQ(scene->places[0].box.l, 60);
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 20; ++x) {
                ASSERT_EQ(tile(x, y), 1 + (x + y) % 4) << "cell " << x << ", " << y;
                ASSERT_EQ(solid(x, y), (x + y) % 2 == 0) << "cell " << x << ", " << y;
            }
    }
}

TEST_F(Trigger_test, CrackSwapsWithoutItsSound) {
    TearDown();
    build(false);
    place("crack", "wall", {60, 68, 60, 68});
    place("brush", "wall", {8, 16, 8, 16});
    place("brush", "wall", {24, 32, 8, 16});
    populate();
    ASSERT_EQ(scene->mobs.load_audio("kill.wav"), nullptr);
    strike({0, 80, 0, 80});
    update();
    EXPECT_TRUE(all<Mob_crack>().empty());
    EXPECT_EQ(tile(1, 1), 1 + 4 % 4);
}

TEST_F(Trigger_test, TriggersNeitherMoveNorHarmNorDraw) {
    place("mirror", "a", {16, 48, 16, 48});
    place("crack", "b", {16, 48, 16, 48});
    populate();
    for (Mob* m : {static_cast<Mob*>(all<Mob_mirror>().at(0)), static_cast<Mob*>(all<Mob_crack>().at(0))}) {
        EXPECT_EQ(m->flags, 0);
        EXPECT_FLOAT_EQ(m->box.l, 16);
        EXPECT_FLOAT_EQ(m->box.d, 48);
    }
    update();
    EXPECT_TRUE(scene->physics.bodies.empty());
    EXPECT_TRUE(scene->physics.engines.empty());
    EXPECT_EQ(player->health, 127);
    glViewport(0, 0, test::gl_width, test::gl_height);
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT);
    scene->mobs.render({0, 320, 0, 240});
    for (std::uint32_t px : test::read_window().data) ASSERT_EQ(px, test::rgba(0, 0, 0, 255));
}

// The triggers in a running game, on a map of two rooms side by side, A from
// x 0 to 240 and B from 240 to 480, above a floor at y 224 and a strip of map
// below them that no room holds. The player starts in A on the floor at
// (100, 216), facing right; its strike on the ground reaches x 100 to 116.
class Game_trigger_test : public test::Gl_test {
protected:
    struct Object {
        const char* type;
        const char* name;
        Box box;
    };

    void SetUp() override {
        test::Gl_test::SetUp();
        if (HasFatalFailure()) return;
        fps = kesp::conf.fps;
        kesp::conf.fps = 60;
        for (kesp::Input& input : kesp::inputs) input.value = 0;
        files.sound("kill.wav");
        test::Surface tiles = test::make_image(16, 8, [](int x, int) { return tile_colour(x / 8); });
        ASSERT_TRUE(tiles);
        ASSERT_NO_FATAL_FAILURE(test::save_image(tiles.get(), tmp.path() / "tiles.png"));
    }
    void TearDown() override {
        game.reset();
        kesp::conf.fps = fps;
    }

    // Tile 1 is solid, tile 2 is not; cell(x, y) may change any cell's tile.
    void start(const std::vector<Object>& objects, const std::function<int(int x, int y)>& cell = nullptr) {
        std::string data;
        for (int y = 0; y < rows; ++y)
            for (int x = 0; x < cols; ++x) {
                const int v = cell ? cell(x, y) : -1;
                data += (data.empty() ? "" : ",") + std::to_string(v >= 0 ? v : y == 28 ? 1 : 0);
            }
        std::string list = json_object({"player", "", Box::from_center({100, 216}, {4, 8})});
        for (const Box& room : {Box{0, 240, 0, 240}, Box{240, 480, 0, 240}}) list += "," + json_object({"room", "", room});
        for (const Object& o : objects) list += "," + json_object(o);
        test::write_file(tmp.path() / "map.tmj",
                         R"({"width":)" + std::to_string(cols) + R"(,"height":)" + std::to_string(rows) +
                             R"(,"tilewidth":8,"tileheight":8,"properties":[],)"
                             R"("tilesets":[{"tilecount":2,"imagewidth":16,"imageheight":8,"image":"tiles.png",)"
                             R"("tiles":[{"id":0,"type":"solid"}]}],)"
                             R"("layers":[{"type":"tilelayer","data":[)" +
                             data + R"(]},{"type":"objectgroup","objects":[)" + list + "]}]}");
        game = std::make_unique<Game>(tmp.path() / "map.tmj");
        // Let it land, so that its strike is the one on the ground.
        for (int i = 0; i < 4; ++i) game->update();
        ASSERT_TRUE(player().is(Body::touch_dn));
    }

    static std::string json_object(const Object& o) {
        auto n = [](float v) { return std::to_string(v); };
        return std::string(R"({"type":")") + o.type + R"(","name":")" + o.name + R"(","x":)" + n(o.box.l) +
               R"(,"y":)" + n(o.box.u) + R"(,"width":)" + n(o.box.r - o.box.l) + R"(,"height":)" +
               n(o.box.d - o.box.u) + "}";
    }

    Mob_player& player() { return *game->scene.mobs.player; }
    void put(Vec centre) {
        player().pos = centre;
        player().box = Box::from_center(centre, player().half);
    }
    template <class Kind>
    std::size_t count() {
        std::size_t n = 0;
        for (auto& m : game->scene.mobs.roster) n += dynamic_cast<Kind*>(m.get()) != nullptr;
        return n;
    }
    std::int32_t tile(int x, int y) { return game->scene.background.tiles.at(x, y); }
    bool solid(int x, int y) { return game->scene.physics.solid.at(x, y); }

    static constexpr int cols = 60;
    static constexpr int rows = 40;
    const Box room_a{0, 240, 0, 240};
    const Box room_b{240, 480, 0, 240};
    const Box beside_player{104, 120, 208, 224};
    test::Game_files files;
    test::Temp_dir tmp;
    std::int32_t fps = 60;
    std::unique_ptr<Game> game;
};

TEST_F(Game_trigger_test, MirrorTargetInAnotherRoomChangesTheRoom) {
    start({{"mirror", "m", beside_player}, {"target", "m", {300, 316, 200, 216}}});
    player().begin_attack();
    int sent = -1;
    for (int i = 0; i < 40 && sent < 0; ++i) {
        game->update();
        if (player().pos.x > 240) sent = i;
        EXPECT_FLOAT_EQ(game->scene.room.r, room_a.r) << "update " << i;
    }
    ASSERT_GE(sent, 0);
    EXPECT_FLOAT_EQ(player().pos.x, 308);
    game->update();
    EXPECT_FLOAT_EQ(game->scene.room.l, room_b.l);
    EXPECT_FLOAT_EQ(game->scene.room.r, room_b.r);
    EXPECT_FLOAT_EQ(game->respawn.x, 308);
}

TEST_F(Game_trigger_test, MirrorTargetBelowTheRoomResetsIt) {
    // Its centre is on room A's bottom edge.
    start({{"mirror", "m", beside_player}, {"target", "m", {100, 116, 232, 248}}});
    player().begin_attack();
    bool sent = false;
    for (int i = 0; i < 60; ++i) {
        game->update();
        sent |= player().pos.y >= 240;
        EXPECT_FLOAT_EQ(game->scene.room.r, room_a.r) << "update " << i;
        EXPECT_FLOAT_EQ(game->scene.room.d, room_a.d) << "update " << i;
    }
    EXPECT_TRUE(sent);
    // The attack is over: back where the room was entered.
    EXPECT_FLOAT_EQ(player().pos.x, 100);
    EXPECT_FLOAT_EQ(player().pos.y, 216);
}

TEST_F(Game_trigger_test, SpentCrackStaysGoneAndItsTilesStaySwapped) {
    // Brushes of 2 x 2 cells: a decoration at cells 20..21 and a solid block at
    // 25..26, rows 25..26.
    auto cell = [](int x, int y) {
        if (y < 25 || y > 26) return -1;
        if (x == 20 || x == 21) return 2;
        if (x == 25 || x == 26) return 1;
        return -1;
    };
    start({{"crack", "c", beside_player}, {"brush", "c", {160, 176, 200, 216}}, {"brush", "c", {200, 216, 200, 216}}},
          cell);
    ASSERT_EQ(count<Mob_crack>(), 1u);
    const int plays = game->scene.mobs.load_audio("kill.wav")->plays();
    player().begin_attack();
    for (int i = 0; i < 30; ++i) game->update();
    EXPECT_EQ(count<Mob_crack>(), 0u);
    EXPECT_EQ(game->scene.mobs.load_audio("kill.wav")->plays(), plays + 1);
    auto swapped = [&] {
        for (int y = 25; y <= 26; ++y)
            for (int x = 0; x < 2; ++x) {
                SCOPED_TRACE(testing::Message() << "row " << y << ", column " << x);
                EXPECT_EQ(tile(20 + x, y), 1);
                EXPECT_TRUE(solid(20 + x, y));
                EXPECT_EQ(tile(25 + x, y), 2);
                EXPECT_FALSE(solid(25 + x, y));
            }
    };
    swapped();
    // A death resets the room.
    player().health = 0;
    bool died = false;
    for (int i = 0; i < 40; ++i) {
        game->update();
        died = died || game->reset_timer > 0;
    }
    ASSERT_TRUE(died);
    ASSERT_EQ(game->reset_timer, 0) << "no reset";
    EXPECT_FALSE(player().is(Body::dead));
    EXPECT_EQ(count<Mob_crack>(), 0u);
    swapped();
    // Leaving the room and coming back.
    put({300, 216});
    game->update();
    ASSERT_FLOAT_EQ(game->scene.room.l, room_b.l);
    put({100, 216});
    game->update();
    ASSERT_FLOAT_EQ(game->scene.room.l, room_a.l);
    EXPECT_EQ(count<Mob_crack>(), 0u);
    swapped();
}

}  // namespace
