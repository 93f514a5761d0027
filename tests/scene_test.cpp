#include "game/scene.h"

#include "game/mob_player.h"

#include "game/strings.h"
#include "support/paths.h"

#include "common/gl_window.h"
#include "common/process.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <ostream>
#include <stdexcept>
#include <string>
#include <typeinfo>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string join(const std::vector<std::string>& items) {
    std::string s;
    for (const std::string& i : items) s += (s.empty() ? "" : ",") + i;
    return s;
}

std::string object(const std::string& type, const std::string& name, const std::string& x, const std::string& y,
                   const std::string& w, const std::string& h) {
    return R"({"type":")" + type + R"(","name":")" + name + R"(","x":)" + x + R"(,"y":)" + y + R"(,"width":)" +
           w + R"(,"height":)" + h + R"(,"id":1,"visible":true,"rotation":0})";
}

std::string objectgroup(const std::vector<std::string>& objects) {
    return R"({"type":"objectgroup","name":"things","visible":true,"objects":[)" + join(objects) + "]}";
}

std::string tilelayer(const std::string& data) {
    return R"({"type":"tilelayer","name":"ground","width":2,"height":2,"visible":true,"data":)" + data + "}";
}

std::string property(const std::string& name, const std::string& value) {
    return R"({"name":")" + name + R"(","type":"string","value":")" + value + R"("})";
}

const std::string _player = object("player", "", "16", "4", "8", "12");
const std::string _room = object("room", "first", "0", "0", "16", "16");

// tiles.png holds four tiles; tile 1 is solid.
const std::string _tileset =
    R"({"firstgid":1,"name":"t","tilecount":4,"columns":4,"imagewidth":32,"imageheight":8,)"
    R"("tilewidth":8,"tileheight":8,"image":"tiles.png","tiles":[{"id":1,"type":"solid"}]})";

// A Tiled map as text; a member left empty is left out.
struct Map {
    std::string width = "2", height = "2", tilewidth = "8", tileheight = "8";
    std::string properties = "[" + property("title", "Tiny") + "]";
    std::string tilesets = "[" + _tileset + "]";
    std::string layers = "[" + tilelayer("[1,2,0,4]") + "," + objectgroup({_player, _room}) + "]";

    std::string text() const {
        std::vector<std::string> members{R"("type":"map","orientation":"orthogonal","infinite":false)"};
        auto add = [&](const char* key, const std::string& v) {
            if (!v.empty()) members.push_back("\"" + std::string(key) + "\":" + v);
        };
        add("width", width);
        add("height", height);
        add("tilewidth", tilewidth);
        add("tileheight", tileheight);
        add("properties", properties);
        add("tilesets", tilesets);
        add("layers", layers);
        return "{" + join(members) + "}";
    }
};

void put_le(std::string& out, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(v >> (8 * i) & 0xFF));
}

// A tenth of a second of silence as a 16-bit mono PCM WAV file.
void write_wav(const fs::path& path) {
    const std::uint32_t rate = 22050, bytes = rate / 10 * 2;
    std::string wav = "RIFF";
    put_le(wav, 36 + bytes, 4);
    wav += "WAVEfmt ";
    put_le(wav, 16, 4);
    put_le(wav, 1, 2);  // PCM
    put_le(wav, 1, 2);  // mono
    put_le(wav, rate, 4);
    put_le(wav, rate * 2, 4);
    put_le(wav, 2, 2);
    put_le(wav, 16, 2);
    wav += "data";
    put_le(wav, bytes, 4);
    wav.append(bytes, '\0');
    test::write_file(path, wav);
}

class Scene_test : public test::Gl_test {
protected:
    void SetUp() override {
        test::Gl_test::SetUp();
        saved_state = kesp::paths.state.dir;
        kesp::paths.state.dir = tmp / "state";
        // Four 8 x 8 tiles of four greys.
        test::Surface image = test::make_image(32, 8, [](int x, int) {
            std::uint32_t v = 20 + 60 * static_cast<std::uint32_t>(x / 8);
            return test::rgba(v, v, v, 255);
        });
        ASSERT_TRUE(image);
        ASSERT_NO_FATAL_FAILURE(test::save_image(image.get(), tmp / "tiles.png"));
        scene = std::make_unique<Scene>();
    }
    void TearDown() override {
        scene.reset();
        kesp::paths.state.dir = saved_state;
    }

    fs::path write(const Map& map, const char* name = "map.tmj") {
        test::write_file(tmp / name, map.text());
        return tmp / name;
    }
    void load(const Map& map) { scene->load(write(map)); }
    // What loading logs to standard error.
    std::string load_logged(const Map& map) {
        fs::path path = write(map);
        testing::internal::CaptureStderr();
        scene->load(path);
        return testing::internal::GetCapturedStderr();
    }
    // The message of the E that loading the file throws, or what happened instead.
    template <class E> std::string thrown(const fs::path& path) {
        try {
            scene->load(path);
        } catch (const E& e) {
            return e.what();
        } catch (const std::exception& e) {
            return std::string("another exception: ") + e.what();
        }
        return "loaded";
    }
    template <class E> std::string thrown(const Map& map) { return thrown<E>(write(map)); }
    // Loads a fresh scene from the map that edit makes, which must throw an E
    // with this refusal.
    template <class E> void expect_thrown(void (*edit)(Map&), const std::string& refusal) {
        Map map;
        edit(map);
        SCOPED_TRACE(map.text());
        scene = std::make_unique<Scene>();
        EXPECT_EQ(thrown<E>(map), named(refusal));
    }
    // A refusal of the map file with this name: "\"<file>\": <place>: <problem>".
    std::string named(const std::string& place_and_problem, const char* name = "map.tmj") const {
        return "\"" + (tmp / name).string() + "\": " + place_and_problem;
    }

    std::vector<std::int32_t> tiles() const { return cells(scene->background.tiles); }
    std::vector<bool> solids() const { return cells(scene->physics.solid); }
    template <class T> static std::vector<T> cells(const kesp::Grid<T>& g) {
        std::vector<T> v;
        for (std::size_t y = 0; y < g.height(); ++y)
            for (std::size_t x = 0; x < g.width(); ++x) v.push_back(g.at(x, y));
        return v;
    }

    test::Temp_dir tmp;
    fs::path saved_state;
    std::unique_ptr<Scene> scene;
};

void expect_box(const kesp::Box& got, const kesp::Box& want) {
    EXPECT_FLOAT_EQ(got.l, want.l);
    EXPECT_FLOAT_EQ(got.r, want.r);
    EXPECT_FLOAT_EQ(got.u, want.u);
    EXPECT_FLOAT_EQ(got.d, want.d);
}

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
    map.tilesets = R"([{"tilecount":2,"imagewidth":16,"imageheight":8,"image":"tiles.png",)"
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
                              object("brush", "", "-8", "-16", "8", "16")}) +
                 "]";
    load(map);
    ASSERT_EQ(scene->rooms.size(), 2u);
    expect_box(scene->rooms[0], {0, 16, 0, 16});
    expect_box(scene->rooms[1], {16, 48, 0, 16});
    ASSERT_EQ(scene->places.size(), 4u);
    EXPECT_EQ(scene->places[0].type, "rotten");
    EXPECT_EQ(scene->places[0].name, "r1");
    expect_box(scene->places[0].box, {1.5f, 4.5f, 2, 6});
    EXPECT_EQ(scene->places[1].type, "target");
    EXPECT_EQ(scene->places[2].type, "no such kind");
    EXPECT_EQ(scene->places[2].name, "odd \\\" name");  // raw text, escapes kept
    EXPECT_EQ(scene->places[3].type, "brush");
    EXPECT_EQ(scene->places[3].name, "");
    expect_box(scene->places[3].box, {-8, 0, -16, 0});
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
    write_wav(tmp / "sub" / "song.wav");
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
    scene = std::make_unique<Scene>();
    map.properties = "[]";
    EXPECT_NO_THROW(load(map));
    EXPECT_EQ(scene->music, nullptr);
}

// --- maps that don't load

TEST_F(Scene_test, MissingFileIsNamed) {
    try {
        scene->load(tmp / "nowhere.tmj");
        FAIL() << "loaded";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "can't open \"" + (tmp / "nowhere.tmj").string() + "\"");
    }
}

TEST_F(Scene_test, TextThatIsNoJsonIsASyntaxErrorNamingTheFileAndLine) {
    struct Case {
        const char* text;
        int line;
    };
    const Case cases[] = {
        {"{\"width\": 2,,}", 1},
        {"[\n1,\n2\n3]", 4},
        {"{\n \"width\": 2,\n \"height\": [1,\n", 4},  // ends inside an array
        {"{\"title\": \"never closed}", 1},
        {"", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        scene = std::make_unique<Scene>();
        test::write_file(tmp / "bad.tmj", c.text);
        testing::internal::CaptureStderr();
        std::string message = thrown<std::runtime_error>(tmp / "bad.tmj");
        std::string report = testing::internal::GetCapturedStderr();
        EXPECT_EQ(message, named("line " + std::to_string(c.line) + ": syntax error", "bad.tmj"));
        // The scanner's own report, showing the same line, is still printed.
        std::string line = std::to_string(c.line);
        EXPECT_NE(report.find("\n" + std::string(5 - line.size(), ' ') + line + " | "), std::string::npos) << report;
    }
}

// A map edited at one place, and the place and problem its refusal names.
struct Faulty {
    const char* refusal;
    void (*edit)(Map&);
};

TEST_F(Scene_test, MissingKeyIsNamedWithItsPlace) {
    const Faulty cases[] = {
        {"width: missing, expected a number", [](Map& m) { m.width.clear(); }},
        {"tileheight: missing, expected a number", [](Map& m) { m.tileheight.clear(); }},
        {"properties: missing, expected an array", [](Map& m) { m.properties.clear(); }},
        {"tilesets: missing, expected an array", [](Map& m) { m.tilesets.clear(); }},
        {"layers: missing, expected an array", [](Map& m) { m.layers.clear(); }},
        {"properties[0].value: missing, expected a string", [](Map& m) { m.properties = R"([{"name":"title"}])"; }},
        {"properties[1].name: missing, expected a string",
         [](Map& m) { m.properties = "[" + property("title", "t") + R"(,{"value":"x"}])"; }},
        {"tilesets[0].tilecount: missing, expected a number",
         [](Map& m) { m.tilesets = R"([{"imagewidth":8,"imageheight":8,"image":"tiles.png","tiles":[]}])"; }},
        {"tilesets[0].image: missing, expected a string",
         [](Map& m) { m.tilesets = R"([{"tilecount":1,"imagewidth":8,"imageheight":8,"tiles":[]}])"; }},
        {"tilesets[0].tiles[1].id: missing, expected a number",
         [](Map& m) {
             m.tilesets = R"([{"tilecount":1,"imagewidth":8,"imageheight":8,"image":"tiles.png",)"
                          R"("tiles":[{"id":0,"type":"solid"},{"type":"solid"}]}])";
         }},
        {"layers[0].type: missing, expected a string", [](Map& m) { m.layers = R"([{"data":[0,0,0,0]}])"; }},
        // a layer of an infinite map has chunks instead
        {"layers[1].data: missing, expected an array",
         [](Map& m) { m.layers = "[" + objectgroup({_player}) + R"(,{"type":"tilelayer","chunks":[]}])"; }},
        {"layers[0].objects: missing, expected an array", [](Map& m) { m.layers = R"([{"type":"objectgroup"}])"; }},
        {"layers[0].objects[0].name: missing, expected a string",
         [](Map& m) {
             m.layers = R"([{"type":"objectgroup","objects":[{"type":"player","x":0,"y":0,"width":1,"height":1}]}])";
         }},
        {"layers[1].objects[2].y: missing, expected a number",
         [](Map& m) {
             m.layers = "[" + tilelayer("[0,0,0,0]") + "," +
                        objectgroup({_player, _room, R"({"type":"room","name":"","x":0,"width":1,"height":1})"}) + "]";
         }},
    };
    for (const Faulty& c : cases) expect_thrown<std::out_of_range>(c.edit, c.refusal);
}

TEST_F(Scene_test, TilesetWithoutTilesFailsAfterItsImageIsWritten) {
    Map map;
    map.tilesets = R"([{"tilecount":4,"imagewidth":32,"imageheight":8,"image":"tiles.png"}])";
    EXPECT_THROW(load(map), std::out_of_range);
    EXPECT_TRUE(fs::exists(tmp / "state" / basedir / "bkgr.png"));
}

TEST_F(Scene_test, ValueOfAnotherTypeIsABadCastNamingItsPlace) {
    const Faulty cases[] = {
        {"width: expected a number", [](Map& m) { m.width = "\"2\""; }},
        {"tilewidth: expected a number", [](Map& m) { m.tilewidth = "null"; }},
        {"properties: expected an array", [](Map& m) { m.properties = "{}"; }},
        {"properties[1]: expected an object", [](Map& m) { m.properties = "[" + property("title", "t") + ",5]"; }},
        {"properties[0].value: expected a string", [](Map& m) { m.properties = R"([{"name":"music","value":3}])"; }},
        {"properties[0].name: expected a string", [](Map& m) { m.properties = R"([{"name":["title"],"value":""}])"; }},
        {"tilesets[0]: expected an object", [](Map& m) { m.tilesets = R"(["tiles.png"])"; }},
        {"tilesets[0].imagewidth: expected a number",
         [](Map& m) { m.tilesets = R"([{"tilecount":4,"imagewidth":"32","imageheight":8,"image":"tiles.png","tiles":[]}])"; }},
        {"tilesets[0].tiles: expected an array",
         [](Map& m) { m.tilesets = R"([{"tilecount":4,"imagewidth":32,"imageheight":8,"image":"tiles.png","tiles":{}}])"; }},
        {"tilesets[0].tiles[0].id: expected a number",
         [](Map& m) {
             m.tilesets = R"([{"tilecount":4,"imagewidth":32,"imageheight":8,"image":"tiles.png",)"
                          R"("tiles":[{"id":"1","type":"solid"}]}])";
         }},
        {"tilesets[0].tiles[1].type: expected a string",
         [](Map& m) {
             m.tilesets = R"([{"tilecount":4,"imagewidth":32,"imageheight":8,"image":"tiles.png",)"
                          R"("tiles":[{"id":1,"type":"solid"},{"id":2,"type":true}]}])";
         }},
        {"layers[0].type: expected a string", [](Map& m) { m.layers = R"([{"type":7}])"; }},
        // an encoded layer
        {"layers[0].data: expected an array", [](Map& m) { m.layers = "[" + tilelayer("\"eJxjYGBgAAAABAAB\"") + "]"; }},
        {"layers[0].data[1]: expected a number", [](Map& m) { m.layers = "[" + tilelayer("[1,\"2\",0,0]") + "]"; }},
        {"layers[1].objects: expected an array",
         [](Map& m) { m.layers = "[" + tilelayer("[0,0,0,0]") + R"(,{"type":"objectgroup","objects":null}])"; }},
        {"layers[1].objects[1]: expected an object",
         [](Map& m) { m.layers = "[" + tilelayer("[0,0,0,0]") + "," + objectgroup({_player, "[]"}) + "]"; }},
        {"layers[0].objects[1].x: expected a number",
         [](Map& m) { m.layers = "[" + objectgroup({_player, object("room", "r", "null", "0", "8", "8")}) + "]"; }},
        {"layers[0].objects[0].type: expected a string",
         [](Map& m) { m.layers = "[" + objectgroup({R"({"type":0,"name":"","x":0,"y":0,"width":1,"height":1})"}) + "]"; }},
    };
    for (const Faulty& c : cases) expect_thrown<std::bad_cast>(c.edit, c.refusal);
    // The root too.
    for (const char* root : {"[]", "\"map\"", "2"}) {
        SCOPED_TRACE(root);
        scene = std::make_unique<Scene>();
        test::write_file(tmp / "root.tmj", root);
        EXPECT_EQ(thrown<std::bad_cast>(tmp / "root.tmj"), named("top level: expected an object", "root.tmj"));
    }
}

// A tileset image the atlas can't take is refused at load, with the platform's
// reason, instead of failing in the first room that draws one of its tiles.
TEST_F(Scene_test, TilesetImageThatCannotBeUsedIsRefusedNamingItAndTheReason) {
    test::write_file(tmp / "notes.png", "no picture here\n");
    fs::create_directories(tmp / "folder.png");
    test::Surface wide = test::make_image(2048, 8, [](int, int) { return test::rgba(1, 2, 3, 255); });
    ASSERT_TRUE(wide);
    ASSERT_NO_FATAL_FAILURE(test::save_image(wide.get(), tmp / "wide.png"));
    struct Case {
        const char* what;
        std::string tilesets;  // the image is the last tileset's
        const char* image;
        const char* reason;  // the atlas's own reason; null for the image loader's, whatever it says
        const char* tilewidth = "8";
    };
    auto tileset = [](const char* image, const char* width) {
        return std::string(R"({"tilecount":1,"imagewidth":)") + width + R"(,"imageheight":8,"image":")" + image +
               R"(","tiles":[]})";
    };
    const Case cases[] = {
        {"missing", "[" + tileset("missing.png", "8") + "]", "missing.png", nullptr},
        {"a directory", "[" + tileset("folder.png", "8") + "]", "folder.png", nullptr},
        {"not an image", "[" + tileset("notes.png", "8") + "]", "notes.png", nullptr},
        {"a cell bigger than the atlas", "[" + tileset("wide.png", "2048") + "]", "wide.png", "Atlas overflow",
         "2048"},
        {"more cells than pixels", "[" + tileset("tiles.png", "400") + "]", "tiles.png",
         "Atlas can't cut a 32 x 8 image into 50 x 1 cells"},
        {"narrower than a cell", "[" + tileset("tiles.png", "4") + "]", "tiles.png",
         "Atlas can't cut a 32 x 8 image into 0 x 1 cells"},
        {"the second tileset's", "[" + tileset("tiles.png", "32") + "," + tileset("missing.png", "8") + "]",
         "missing.png", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        scene = std::make_unique<Scene>();
        Map map;
        map.tilewidth = c.tilewidth;
        map.tilesets = c.tilesets;
        std::size_t index = c.tilesets.find("},{") == std::string::npos ? 0 : 1;
        testing::internal::CaptureStderr();
        std::string message = thrown<std::runtime_error>(map);
        std::string log = testing::internal::GetCapturedStderr();
        std::string start = named("tilesets[" + std::to_string(index) + "].image: can't use \"" +
                                  (tmp / c.image).string() + "\": ");
        ASSERT_EQ(message.substr(0, start.size()), start) << message;
        std::string reason = message.substr(start.size());
        if (c.reason)
            EXPECT_EQ(reason, c.reason);
        else
            EXPECT_FALSE(reason.empty());
        EXPECT_EQ(log.find("Playing"), std::string::npos) << log;
    }
}

struct Refusal {
    const char* name;
    void (*edit)(Map&);
    const char* problem;
};

std::ostream& operator<<(std::ostream& out, const Refusal& c) { return out << c.name; }

class Scene_refusal : public Scene_test, public ::testing::WithParamInterface<Refusal> {};

TEST_P(Scene_refusal, MapBreakingALimitIsRefusedWithTheProblemAndTheFile) {
    expect_thrown<std::runtime_error>(GetParam().edit, GetParam().problem);
}

INSTANTIATE_TEST_SUITE_P(
    Limits, Scene_refusal,
    ::testing::Values(
        Refusal{"data_too_long", [](Map& m) { m.layers = "[" + tilelayer("[1,2,0,4,1]") + "]"; },
                R"(layers[0].data: holds 5 entries, expected 2 x 2)"},
        Refusal{"data_too_short", [](Map& m) { m.layers = "[" + tilelayer("[1,2,0]") + "]"; },
                R"(layers[0].data: holds 3 entries, expected 2 x 2)"},
        Refusal{"data_of_the_largest_map_too_short",
                [](Map& m) {
                    m.width = m.height = "2147483647";
                    m.layers = "[" + tilelayer("[1]") + "]";
                },
                R"(layers[0].data: holds 1 entries, expected 2147483647 x 2147483647)"},
        // the layer's index and the entry's are named
        Refusal{"data_of_a_later_layer_too_long",
                [](Map& m) { m.layers = "[" + objectgroup({_player}) + "," + tilelayer("[1,2,0,4,1]") + "]"; },
                R"(layers[1].data: holds 5 entries, expected 2 x 2)"},
        Refusal{"width_negative", [](Map& m) { m.width = "-1"; }, R"(width: is -1, expected 0 or more)"},
        Refusal{"height_negative", [](Map& m) { m.height = "-2"; }, R"(height: is -2, expected 0 or more)"},
        Refusal{"tilewidth_negative", [](Map& m) { m.tilewidth = "-8"; }, R"(tilewidth: is -8, expected 1 or more)"},
        // a vector of 2^64 - 1 flags would fail with no word of the map
        Refusal{"tilecount_negative",
                [](Map& m) { m.tilesets = R"([{"tilecount":-1,"imagewidth":32,"imageheight":8,"image":"tiles.png","tiles":[]}])"; },
                R"(tilesets[0].tilecount: is -1, expected 0 or more)"},
        // the cell counts would wrap round to a negative or a huge number of columns
        Refusal{"imagewidth_negative",
                [](Map& m) {
                    m.tilewidth = "3";
                    m.tilesets = R"([{"tilecount":4,"imagewidth":-32,"imageheight":8,"image":"tiles.png","tiles":[]}])";
                },
                R"(tilesets[0].imagewidth: is -32, expected 0 or more)"},
        Refusal{"imageheight_negative",
                [](Map& m) { m.tilesets = R"([{"tilecount":4,"imagewidth":32,"imageheight":-1,"image":"tiles.png","tiles":[]}])"; },
                R"(tilesets[0].imageheight: is -1, expected 0 or more)"},
        Refusal{"tile_id_at_count",
                [](Map& m) {
                    m.tilesets = R"([{"tilecount":4,"imagewidth":32,"imageheight":8,"image":"tiles.png",)"
                                 R"("tiles":[{"id":4,"type":"solid"}]}])";
                },
                R"(tilesets[0].tiles[0].id: is 4, expected below "tilecount" 4)"},
        Refusal{"tile_id_negative",
                [](Map& m) {
                    m.tilesets = R"([{"tilecount":4,"imagewidth":32,"imageheight":8,"image":"tiles.png",)"
                                 R"("tiles":[{"id":-1,"type":"wall"}]}])";
                },
                R"(tilesets[0].tiles[0].id: is -1, expected below "tilecount" 4)"},
        Refusal{"tile_number_beyond_count", [](Map& m) { m.layers = "[" + tilelayer("[1,5,0,0]") + "]"; },
                R"(layers[0].data[1]: tile number 5 is beyond the tileset's "tilecount" 4)"},
        // the flip bits aside, tile 5 - 1 is past four tiles
        Refusal{"flipped_tile_number_beyond_count", [](Map& m) { m.layers = "[" + tilelayer("[1,2684354565,0,0]") + "]"; },
                R"(layers[0].data[1]: tile number 2684354565 is beyond the tileset's "tilecount" 4)"},
        Refusal{"tile_number_without_tileset",
                [](Map& m) {
                    m.tilesets = "[]";
                    m.layers = "[" + tilelayer("[0,1,0,0]") + "," + objectgroup({_player}) + "]";
                },
                R"(layers[0].data[1]: tile number 1 is beyond the tileset's "tilecount" 0)"},
        // the image holds two cells of the four that "tilecount" gives
        Refusal{"tile_number_beyond_the_image",
                [](Map& m) {
                    m.tilesets = R"([{"tilecount":4,"imagewidth":16,"imageheight":8,"image":"tiles.png","tiles":[]}])";
                    m.layers = "[" + tilelayer("[1,2,0,0]") + "," + tilelayer("[2,0,3,0]") + "]";
                },
                R"(layers[1].data[2]: tile number 3 is beyond the 2 tiles of the tileset image)"},
        Refusal{"flipped_tile_number_beyond_the_image",
                [](Map& m) {
                    m.tilesets = R"([{"tilecount":4,"imagewidth":16,"imageheight":8,"image":"tiles.png","tiles":[]}])";
                    m.layers = "[" + tilelayer("[0,0,0,1073741828]") + "]";
                },
                R"(layers[0].data[3]: tile number 1073741828 is beyond the 2 tiles of the tileset image)"},
        Refusal{"tilewidth_zero", [](Map& m) { m.tilewidth = "0"; }, R"(tilewidth: is 0, expected 1 or more)"},
        Refusal{"tileheight_zero", [](Map& m) { m.tileheight = "0.5"; }, R"(tileheight: is 0, expected 1 or more)"},
        Refusal{"no_player", [](Map& m) { m.layers = "[" + tilelayer("[1,2,0,4]") + "," + objectgroup({_room}) + "]"; },
                R"(layers: no "player" object)"},
        Refusal{"player_only_in_a_group",
                [](Map& m) { m.layers = R"([{"type":"group","layers":[)" + objectgroup({_player}) + "]}]"; },
                R"(layers: no "player" object)"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Scene_test, RefusedMapStartsNoMusic) {
    write_wav(tmp / "song.wav");
    Map map;
    map.properties = "[" + property("music", "song.wav") + "]";
    map.layers = "[" + objectgroup({_room}) + "]";
    testing::internal::CaptureStderr();
    EXPECT_THROW(load(map), std::runtime_error);
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(scene->music, nullptr);
    EXPECT_EQ(log.find("Playing"), std::string::npos) << log;
}

TEST_F(Scene_test, EmptyMapSizeGivesEmptyGrids) {
    Map map;
    map.width = map.height = "0";
    map.layers = "[" + tilelayer("[]") + "," + objectgroup({_player}) + "]";
    load(map);
    EXPECT_EQ(scene->background.tiles.size(), 0u);
    EXPECT_EQ(scene->physics.solid.size(), 0u);
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
