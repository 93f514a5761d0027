// Maps that can't be played are refused with one line naming the file and the
// place in it, and start nothing.
#include "game/scene.h"

#include "game/strings.h"

#include "common/gl_window.h"
#include "common/process.h"
#include "common/scene_map.h"

#include <gtest/gtest.h>

#include <ostream>
#include <stdexcept>
#include <string>
#include <typeinfo>

namespace {

namespace fs = std::filesystem;

using namespace test;

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
    write_silent_wav(tmp / "song.wav", 2205);  // a tenth of a second
    Map map;
    map.properties = "[" + property("music", "song.wav") + "]";
    map.layers = "[" + objectgroup({_room}) + "]";
    testing::internal::CaptureStderr();
    EXPECT_THROW(load(map), std::runtime_error);
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(scene->music, nullptr);
    EXPECT_EQ(log.find("Playing"), std::string::npos) << log;
}

}  // namespace
