#include "game/scene.h"

#include "game/mob_player.h"
#include "game/strings.h"

#include "common/log_record.h"
#include "common/process.h"
#include "common/scene_map.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

using namespace test;

// --- what a map fills in

TEST_F(Scene_test, FreshSceneIsEmpty) {
    expect_box(scene->room, {0, 0, 0, 0});
    EXPECT_TRUE(scene->places.empty());
    EXPECT_TRUE(scene->rooms.empty());
    EXPECT_EQ(scene->music, nullptr);
    EXPECT_EQ(scene->background.tiles.size(), 0u);
    EXPECT_EQ(scene->physics.solid.size(), 0u);
}

TEST_F(Scene_test, TileLayerFillsBothGridsRowByRow) {
    Map map;
    map.width = "3";
    map.layers = "[" + tilelayer("[1,2,0,4,2,3]") + "," + objectgroup({_player}) + "]";
    load(map);
    ASSERT_EQ(scene->background.tiles.width(), 3u);
    ASSERT_EQ(scene->background.tiles.height(), 2u);
    EXPECT_EQ(tiles(), (std::vector<std::int32_t>{1, 2, 0, 4, 2, 3}));
    EXPECT_EQ(solids(), (std::vector<bool>{false, true, false, false, true, false}));
    EXPECT_EQ(scene->physics.solid.width(), 3u);
    EXPECT_EQ(scene->physics.solid.height(), 2u);
}

TEST_F(Scene_test, FlippedTileIsStoredBitForBitAndKeepsItsSolidity) {
    Map map;
    map.tilesets = R"([{"tilecount":2,"imagewidth":32,"imageheight":8,"image":"tiles.png",)"
                   R"("tiles":[{"id":0,"type":"solid"}]}])";
    // tile number 1 mirrored left-right; tile 2 turned by all three bits
    map.layers = "[" + tilelayer("[2147483649,3758096386,1,0]") + "," + objectgroup({_player}) + "]";
    load(map);
    EXPECT_EQ(tiles(), (std::vector<std::int32_t>{static_cast<std::int32_t>(0x80000001u),
                                                  static_cast<std::int32_t>(0xE0000002u), 1, 0}));
    EXPECT_LT(tiles()[0], 0);
    EXPECT_EQ(solids(), (std::vector<bool>{true, false, true, false}));
}

TEST_F(Scene_test, NumbersReadByTheirLeadingDigits) {
    Map map;
    map.width = "2.0";
    map.height = "1.9";
    map.tilewidth = "8e0";
    map.layers = "[" + tilelayer("[1.7,2]") + "," + objectgroup({_player}) + "]";
    load(map);
    EXPECT_EQ(scene->background.tiles.width(), 2u);
    EXPECT_EQ(scene->background.tiles.height(), 1u);
    EXPECT_EQ(tiles(), (std::vector<std::int32_t>{1, 2}));
}

TEST_F(Scene_test, LastTileLayerIsWhatRemains) {
    Map map;
    map.layers = "[" + tilelayer("[1,1,1,1]") + "," + objectgroup({_player}) + "," + tilelayer("[0,2,3,0]") + "]";
    load(map);
    EXPECT_EQ(tiles(), (std::vector<std::int32_t>{0, 2, 3, 0}));
    EXPECT_EQ(solids(), (std::vector<bool>{false, true, false, false}));
}

TEST_F(Scene_test, HiddenLayerIsReadLikeAnyOther) {
    Map map;
    map.layers = R"([{"type":"tilelayer","visible":false,"data":[2,2,2,2]},)" + objectgroup({_player}) + "]";
    load(map);
    EXPECT_EQ(tiles(), (std::vector<std::int32_t>{2, 2, 2, 2}));
}

TEST_F(Scene_test, ObjectsBecomeRoomsAndPlacesInMapOrder) {
    Map map;
    map.layers = "[" + tilelayer("[0,0,0,0]") + "," +
                 objectgroup({object("rotten", "r1", "1.5", "2", "3", "4"), _room, _player,
                              object("target", "m", "40", "8", "8", "8")}) +
                 "," +
                 objectgroup({object("room", "second", "16", "0", "32", "16"),
                              object("no such kind", "odd \\\" name", "0", "0", "0", "0"),
                              object("brush", "", "-8", "-16", "8", "16"),
                              // as far as a float holds whole pixels
                              object("target", "edge", "-16777216", "16777216", "16777216", "0")}) +
                 "]";
    load(map);
    ASSERT_EQ(scene->rooms.size(), 2u);
    expect_box(scene->rooms[0], {0, 16, 0, 16});
    expect_box(scene->rooms[1], {16, 48, 0, 16});
    ASSERT_EQ(scene->places.size(), 5u);
    EXPECT_EQ(scene->places[0].type, "rotten");
    EXPECT_EQ(scene->places[0].name, "r1");
    expect_box(scene->places[0].box, {1.5f, 4.5f, 2, 6});
    EXPECT_EQ(scene->places[1].type, "target");
    EXPECT_EQ(scene->places[2].type, "no such kind");
    EXPECT_EQ(scene->places[2].name, "odd \\\" name");  // raw text, escapes kept
    EXPECT_EQ(scene->places[3].type, "brush");
    EXPECT_EQ(scene->places[3].name, "");
    expect_box(scene->places[3].box, {-8, 0, -16, 0});
    expect_box(scene->places[4].box, {-16777216, 0, 16777216, 16777216});
    expect_box(scene->room, {0, 0, 0, 0});  // entering a room is the game's business
}

TEST_F(Scene_test, EveryPlayerObjectMakesAPlayerAndTheLastOneReadIsThePlayer) {
    Map map;
    map.layers = "[" + tilelayer("[0,0,0,0]") + "," +
                 objectgroup({object("player", "", "0", "0", "8", "8"), _room,
                              object("player", "", "20", "4", "6", "10")}) +
                 "]";
    load(map);
    ASSERT_EQ(scene->mobs.roster.size(), 2u);
    ASSERT_NE(scene->mobs.player, nullptr);
    EXPECT_EQ(static_cast<Mob*>(scene->mobs.player), scene->mobs.roster.back().get());
    EXPECT_FLOAT_EQ(scene->mobs.player->pos.x, 23);
    EXPECT_FLOAT_EQ(scene->mobs.player->pos.y, 9);
    EXPECT_FLOAT_EQ(scene->mobs.roster.front()->pos.x, 4);
    EXPECT_TRUE(scene->places.empty());
}

TEST_F(Scene_test, ImageAndGroupLayersAreSkippedWithTheirContents) {
    Map map;
    map.layers = "[" + tilelayer("[0,0,0,0]") + "," + objectgroup({_player}) +
                 R"(,{"type":"imagelayer","image":"sky.png","objects":[)" + object("rotten", "a", "0", "0", "8", "8") +
                 R"(]},{"type":"group","layers":[)" + objectgroup({object("rotten", "b", "0", "0", "8", "8")}) + "," +
                 tilelayer("[1,1,1,1]") + "]}]";
    load(map);
    EXPECT_TRUE(scene->places.empty());
    EXPECT_EQ(tiles(), (std::vector<std::int32_t>{0, 0, 0, 0}));
}

TEST_F(Scene_test, TilesetTilesSetTheirFlagsInOrder) {
    struct Case {
        const char* tiles;
        std::vector<bool> want;  // solidity of layer cells 1, 2, 3, 4
    } cases[] = {
        {R"([])", {false, false, false, false}},
        {R"([{"id":0,"type":"solid"},{"id":3,"type":"solid"}])", {true, false, false, true}},
        // a later entry for the same id overrides an earlier one
        {R"([{"id":2,"type":"solid"},{"id":2,"type":"ladder"}])", {false, false, false, false}},
        {R"([{"id":2,"type":"wall"},{"id":2,"type":"solid"}])", {false, false, true, false}},
        // the type's raw text must be exactly solid
        {R"([{"id":1,"type":"Solid"},{"id":0,"type":"solid "}])", {false, false, false, false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tiles);
        scene = std::make_unique<Scene>();
        Map map;
        map.tilesets = R"([{"tilecount":4,"imagewidth":32,"imageheight":8,"image":"tiles.png","tiles":)" +
                       std::string(c.tiles) + "}]";
        map.layers = "[" + tilelayer("[1,2,3,4]") + "," + objectgroup({_player}) + "]";
        load(map);
        EXPECT_EQ(solids(), c.want);
    }
}

TEST_F(Scene_test, TilesetImageIsCutByTheMapsTileSize) {
    Map map;
    map.tilewidth = "16";  // two 16 x 8 cells; the grid still has an 8-pixel spacing
    map.tilesets = R"([{"tilecount":2,"imagewidth":32,"imageheight":8,"image":"tiles.png","tiles":[]}])";
    map.layers = "[" + tilelayer("[2,0,0,0]") + "," + objectgroup({_player}) + "]";
    load(map);
    // Tile 1 of the atlas exists, tile 2 does not.
    EXPECT_NO_THROW(scene->background.upload({0, 16, 0, 16}));
    scene->background.tiles.at(0, 0) = 3;
    EXPECT_THROW(scene->background.upload({0, 16, 0, 16}), std::out_of_range);
}

TEST_F(Scene_test, TilesetImageIsWrittenAsBkgrPng) {
    load(Map{});
    EXPECT_TRUE(fs::exists(tmp / "state" / basedir / "bkgr.png"));
}

TEST_F(Scene_test, EmptyMapSizeGivesEmptyGrids) {
    Map map;
    map.width = map.height = "0";
    map.layers = "[" + tilelayer("[]") + "," + objectgroup({_player}) + "]";
    load(map);
    EXPECT_EQ(scene->background.tiles.size(), 0u);
    EXPECT_EQ(scene->physics.solid.size(), 0u);
}

// --- properties and music

TEST_F(Scene_test, LogsTheTitleAndTheLoadTime) {
    std::string log = load_logged(Map{});
    EXPECT_NE(log.find("Playing Tiny\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Loading scene: "), std::string::npos) << log;
    EXPECT_LT(log.find("Playing Tiny"), log.find("Loading scene: "));
}

TEST_F(Scene_test, MapWithoutTitleLogsPlayingAndNothing) {
    Map map;
    map.properties = "[" + property("author", "someone") + "]";
    std::string log = load_logged(map);
    EXPECT_NE(log.find("Playing \n"), std::string::npos) << log;
}

TEST_F(Scene_test, TitleIsLoggedAsWrittenWithItsEscapes) {
    Map map;
    map.properties = "[" + property("title", "first") + "," + property("title", R"(Caf\u00e9 \/ \"Q\")") + "]";
    std::string log = load_logged(map);
    EXPECT_NE(log.find(R"(Playing Caf\u00e9 \/ \"Q\")"), std::string::npos) << log;
    EXPECT_EQ(log.find("Playing first"), std::string::npos) << log;  // the later one overwrites
}

TEST_F(Scene_test, MusicPathIsDecodedAndRelativeToTheMap) {
    write_silent_wav(tmp / "sub" / "song.wav", 2205);  // a tenth of a second
    Map map;
    map.properties = "[" + property("music", R"(sub\/song.wav)") + "]";
    load(map);
    ASSERT_NE(scene->music, nullptr);
    EXPECT_EQ(scene->music->plays(), 1);
}

TEST_F(Scene_test, WithoutMusicTheGameRunsSilent) {
    Map map;
    map.properties = "[" + property("music", "missing.wav") + "]";
    EXPECT_NO_THROW(load(map));
    EXPECT_EQ(scene->music, nullptr);
    // A map that asks for no music has nothing to complain of.
    scene = std::make_unique<Scene>();
    map.properties = "[]";
    test::Log_record log;
    EXPECT_NO_THROW(load(map));
    EXPECT_EQ(scene->music, nullptr);
    EXPECT_EQ(log.problems(), std::vector<std::string>{});
}

// Names as the editor writes them, in raw UTF-8 beyond the Basic Multilingual
// Plane, and a file name escaped as a surrogate pair.
TEST_F(Scene_test, TextBeyondTheBasicPlaneIsKeptAsWritten) {
    const std::string note = "\xF0\x9F\x8E\xB5";  // U+1F3B5
    write_silent_wav(tmp / (note + ".wav"), 2205);
    Map map;
    map.properties = "[" + property("title", "Caf\xC3\xA9 " + note) + "," + property("music", R"(\uD83C\uDFB5.wav)") + "]";
    map.layers = "[" + tilelayer("[0,0,0,0]") + "," +
                 objectgroup({_player, object("room", note, "0", "0", "16", "16"),
                              object("target", "the " + note, "0", "0", "8", "8")}) +
                 "]";
    std::string log = load_logged(map);
    EXPECT_NE(log.find("Playing Caf\xC3\xA9 " + note + "\n"), std::string::npos) << log;
    ASSERT_EQ(scene->places.size(), 1u);
    EXPECT_EQ(scene->places[0].name, "the " + note);
    ASSERT_NE(scene->music, nullptr);
    EXPECT_EQ(scene->music->plays(), 1);
}

// --- swapping blocks of tiles

class Swap_test : public Scene_test {
protected:
    // An 8 x 5 map whose cell (x, y) holds 1 + x + 8y; odd numbers are solid.
    void SetUp() override {
        Scene_test::SetUp();
        fill();
    }
    void fill() {
        scene->background.tiles.resize(8, 5);
        scene->physics.solid.resize(8, 5);
        for (std::size_t y = 0; y < 5; ++y)
            for (std::size_t x = 0; x < 8; ++x) {
                scene->background.tiles.at(x, y) = static_cast<std::int32_t>(1 + x + 8 * y);
                scene->physics.solid.at(x, y) = (x + 8 * y) % 2 == 0;
            }
    }
    // The grid after exchanging each listed pair of cells in turn.
    void expect_swapped(const std::vector<std::pair<std::pair<int, int>, std::pair<int, int>>>& pairs) {
        std::vector<std::int32_t> want(40);
        for (std::size_t i = 0; i < want.size(); ++i) want[i] = static_cast<std::int32_t>(1 + i);
        for (auto [a, b] : pairs) std::swap(want[a.first + 8 * a.second], want[b.first + 8 * b.second]);
        EXPECT_EQ(tiles(), want);
        std::vector<bool> solid;
        for (std::int32_t v : want) solid.push_back(v % 2 == 1);
        EXPECT_EQ(solids(), solid);
    }
};

TEST_F(Swap_test, ExchangesTheBlockThatTheFirstBoxCovers) {
    scene->swap_tiles({8, 24, 16, 32}, {40, 56, 16, 32});
    expect_swapped({{{1, 2}, {5, 2}}, {{1, 3}, {5, 3}}, {{2, 2}, {6, 2}}, {{2, 3}, {6, 3}}});
}

TEST_F(Swap_test, FirstBoxTakesEveryCellItTouches) {
    scene->swap_tiles({4, 12, 0, 8}, {33, 100, 9, 10});  // the second box's far edges are not read
    expect_swapped({{{0, 0}, {4, 1}}, {{1, 0}, {5, 1}}});
}

TEST_F(Swap_test, CellsAreExchangedColumnByColumnTopDown) {
    // Blocks overlapping one column right and one row up show the order: cell (1, 1)
    // is swapped with (0, 2) before it is swapped with (2, 0).
    scene->swap_tiles({0, 16, 8, 24}, {8, 8, 0, 0});
    expect_swapped({{{0, 1}, {1, 0}}, {{0, 2}, {1, 1}}, {{1, 1}, {2, 0}}, {{1, 2}, {2, 1}}});
}

TEST_F(Swap_test, BlocksReachingOutsideTheMapThrowAndSwapNothing) {
    // Map coordinates beyond int's range, or a box parked at infinity, still name
    // cells outside the grid. A block that only partly lies outside changes no cell.
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        const char* what;
        kesp::Box a, b;
    };
    const Case cases[] = {
        {"second block right of the map", {0, 8, 0, 8}, {64, 72, 0, 8}},
        {"first box starting left of the map", {-1, 8, 0, 8}, {16, 24, 0, 8}},
        {"second block below the map", {0, 8, 0, 8}, {0, 8, 40, 48}},
        {"first block's last column outside", {48, 72, 0, 8}, {0, 8, 0, 8}},
        {"second block's last row outside", {0, 8, 0, 16}, {16, 24, 32, 40}},
        {"first box reaching far left", {-1e30f, 8, 0, 8}, {16, 24, 0, 8}},
        {"first box from minus infinity", {-inf, 8, 0, 8}, {16, 24, 0, 8}},
        {"first box far below", {0, 8, 1e30f, 1e31f}, {16, 24, 0, 8}},
        {"second box at infinity", {0, 8, 0, 8}, {inf, inf, inf, inf}},
        {"second box far left", {0, 8, 0, 8}, {-1e30f, 0, 0, 8}},
        {"not a number", {nan, 8, 0, 8}, {16, 24, 0, 8}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(scene->can_swap(c.a, c.b));
        EXPECT_THROW(scene->swap_tiles(c.a, c.b), std::out_of_range);
        expect_swapped({});
    }
}

TEST_F(Swap_test, BlocksReachingTheMapsEdgesAreInside) {
    struct Case {
        const char* what;
        kesp::Box a, b;
        std::vector<std::pair<std::pair<int, int>, std::pair<int, int>>> pairs;
    };
    const Case cases[] = {
        {"top left and bottom right cells", {0, 8, 0, 8}, {56, 64, 32, 40}, {{{0, 0}, {7, 4}}}},
        {"a block ending on the right edge", {48, 64, 32, 40}, {0, 8, 0, 8}, {{{6, 4}, {0, 0}}, {{7, 4}, {1, 0}}}},
        {"an empty block anywhere", {8, 8, 0, 8}, {1000, 1008, 0, 8}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fill();
        EXPECT_TRUE(scene->can_swap(c.a, c.b));
        scene->swap_tiles(c.a, c.b);
        expect_swapped(c.pairs);
    }
}

// --- a map saved by the Tiled editor

TEST_F(Scene_test, MapExportedByTiledLoads) {
    test::Result which = test::run({"/bin/sh", "-c", "command -v tiled"});
    if (which.status != 0) GTEST_SKIP() << "tiled is not installed";
    std::string tiled = which.out.substr(0, which.out.find('\n'));
    test::write_file(tmp / "ed" / "tiles.png", test::read_file(tmp / "tiles.png"));
    test::write_file(tmp / "ed" / "level.tmx", R"(<?xml version="1.0" encoding="UTF-8"?>
<map version="1.8" orientation="orthogonal" renderorder="right-down" width="3" height="2" tilewidth="8" tileheight="8" infinite="0" nextlayerid="4" nextobjectid="5">
 <properties>
  <property name="title" value="From the editor"/>
 </properties>
 <tileset firstgid="1" name="tiles" tilewidth="8" tileheight="8" tilecount="4" columns="4">
  <image source="tiles.png" width="32" height="8"/>
  <tile id="1" type="solid"/>
 </tileset>
 <layer id="1" name="ground" width="3" height="2">
  <data encoding="csv">
0,2,2147483651,
4,1,2
</data>
 </layer>
 <objectgroup id="2" name="things">
  <object id="1" name="start" type="player" x="8" y="2" width="6" height="14"/>
  <object id="2" name="hall" type="room" x="0" y="0" width="24" height="16"/>
  <object id="3" name="m" type="mirror" x="16.5" y="0" width="8" height="8"/>
 </objectgroup>
 <imagelayer id="3" name="sky"/>
</map>
)");
    test::Result r = test::run({tiled, "--export-map", "json", (tmp / "ed" / "level.tmx").string(),
                                (tmp / "ed" / "level.tmj").string()},
                               {"QT_QPA_PLATFORM=offscreen"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    testing::internal::CaptureStderr();
    scene->load(tmp / "ed" / "level.tmj");
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("Playing From the editor\n"), std::string::npos) << log;
    EXPECT_EQ(tiles(), (std::vector<std::int32_t>{0, 2, static_cast<std::int32_t>(0x80000003u), 4, 1, 2}));
    EXPECT_EQ(solids(), (std::vector<bool>{false, true, false, false, false, true}));
    ASSERT_EQ(scene->rooms.size(), 1u);
    expect_box(scene->rooms[0], {0, 24, 0, 16});
    ASSERT_EQ(scene->places.size(), 1u);
    EXPECT_EQ(scene->places[0].type, "mirror");
    EXPECT_EQ(scene->places[0].name, "m");
    expect_box(scene->places[0].box, {16.5f, 24.5f, 0, 8});
}

}  // namespace
