// Maps that can't be played are refused with one line naming the file and the
// place in it, and start nothing.
#include "game/scene.h"

#include "game/strings.h"

#include "common/gl_window.h"
#include "common/process.h"
#include "common/scene_map.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

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

// A map is read like the settings: nothing waits on a pipe or reads a device or
// a huge file without end, and the one line names the map and why.
TEST_F(Scene_test, AFileThatIsNoMapFileIsRefusedNamingIt) {
    struct Case {
        const char* what;
        const char* name;
        void (*make)(const fs::path& file);
        const char* why;
    };
    const Case cases[] = {
        {"a folder", "level", [](const fs::path& f) { fs::create_directories(f); }, "not a regular file"},
        {"a device", "zero.tmj", [](const fs::path& f) { fs::create_symlink("/dev/zero", f); }, "not a regular file"},
        {"a pipe without a writer", "pipe.tmj", [](const fs::path& f) { ASSERT_EQ(mkfifo(f.c_str(), 0644), 0); },
         "not a regular file"},
        {"larger than a map can be", "huge.tmj",
         [](const fs::path& f) {
             test::write_file(f, "");
             fs::resize_file(f, (std::uintmax_t{256} << 20) + 1);
         },
         "larger than 256 MiB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        scene = std::make_unique<Scene>();
        ASSERT_NO_FATAL_FAILURE(c.make(tmp / c.name));
        EXPECT_EQ(thrown<std::runtime_error>(tmp / c.name), named(c.why, c.name));
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
             m.tilesets = R"([{"tilecount":1,"imagewidth":32,"imageheight":8,"image":"tiles.png",)"
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

// A tileset image that can't be read is refused at load, with the system's
// reason, or the image loader's, instead of failing in the first room that draws
// one of its tiles; a pipe that no one writes is refused at once.
TEST_F(Scene_test, TilesetImageThatCannotBeUsedIsRefusedNamingItAndTheReason) {
    test::write_file(tmp / "notes.png", "no picture here\n");
    fs::create_directories(tmp / "folder.png");
    ASSERT_EQ(mkfifo((tmp / "pipe.png").c_str(), 0644), 0);
    // A state folder whose bkgr.png can't be written: its own error is no reason of the map's.
    fs::create_directories(tmp / "state" / basedir / "bkgr.png");
    auto tileset = [](const char* image) {
        return std::string(R"({"tilecount":1,"imagewidth":32,"imageheight":8,"image":")") + image + R"(","tiles":[]})";
    };
    struct Case {
        const char* what;
        std::string tilesets;  // the image is the last tileset's
        const char* image;
        const char* why;  // null: the image loader's
    };
    const Case cases[] = {
        {"missing", "[" + tileset("missing.png") + "]", "missing.png", "No such file or directory"},
        {"a directory", "[" + tileset("folder.png") + "]", "folder.png", "not a regular file"},
        {"a pipe", "[" + tileset("pipe.png") + "]", "pipe.png", "not a regular file"},
        {"not an image", "[" + tileset("notes.png") + "]", "notes.png", nullptr},
        {"the second tileset's", "[" + tileset("tiles.png") + "," + tileset("missing.png") + "]", "missing.png",
         "No such file or directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        scene = std::make_unique<Scene>();
        Map map;
        map.tilesets = c.tilesets;
        std::size_t index = c.tilesets.find("},{") == std::string::npos ? 0 : 1;
        testing::internal::CaptureStderr();
        std::string message = thrown<std::runtime_error>(map);
        std::string log = testing::internal::GetCapturedStderr();
        std::string start = named("tilesets[" + std::to_string(index) + "].image: can't use \"" +
                                  (tmp / c.image).string() + "\": ");
        ASSERT_EQ(message.substr(0, start.size()), start) << message;
        std::string reason = message.substr(start.size());
        if (c.why)
            EXPECT_EQ(reason, c.why);
        else
            EXPECT_FALSE(reason.empty());
        EXPECT_EQ(reason.find("bkgr.png"), std::string::npos) << reason;
        EXPECT_EQ(log.find("Playing"), std::string::npos) << log;
    }
}

// What the map says of its tileset image is held against the image: a claim it
// doesn't bear out is refused naming the key, before any number of the claim is
// allocated or cut. tiles.png is 32 x 8, four tiles of 8 x 8.
TEST_F(Scene_test, ClaimsTheTilesetImageDoesNotBearOutAreRefusedNamingTheKey) {
    // 1032 x 1032 is more than the atlas holds, 1024 x 1024 all it holds.
    for (int side : {1032, 1024}) {
        test::Surface image = test::make_image(side, side, [](int, int) { return test::rgba(1, 2, 3, 255); });
        ASSERT_TRUE(image);
        ASSERT_NO_FATAL_FAILURE(test::save_image(image.get(), tmp / (side == 1024 ? "full.png" : "big.png")));
    }
    const std::string tiles = "the tileset image \"" + (tmp / "tiles.png").string() + "\"";
    struct Case {
        const char* what;
        const char* tilewidth;
        const char* tileheight;
        std::string tilesets;
        std::string refusal;
    };
    auto tileset = [](const char* count, const char* width, const char* height, const char* image = "tiles.png") {
        return std::string(R"({"tilecount":)") + count + R"(,"imagewidth":)" + width + R"(,"imageheight":)" + height +
               R"(,"image":")" + image + R"(","tiles":[]})";
    };
    const Case cases[] = {
        {"no image width", "8", "8", tileset("4", "0", "8"),
         "tilesets[0].imagewidth: is 0, but " + tiles + " is 32 pixels wide"},
        {"another image height", "8", "8", tileset("4", "32", "16"),
         "tilesets[0].imageheight: is 16, but " + tiles + " is 8 pixels high"},
        {"a tile wider than the image", "33", "8", tileset("1", "32", "8"),
         "tilewidth: is 33, more than the 32 pixels of " + tiles},
        {"a tile higher than the image", "8", "9", tileset("1", "32", "8"),
         "tileheight: is 9, more than the 8 pixels of " + tiles},
        {"more tiles than the image holds", "8", "8", tileset("5", "32", "8"),
         "tilesets[0].tilecount: is 5, but " + tiles + " holds 4 tiles of 8 x 8 pixels"},
        // two gigabytes of solid flags, claimed
        {"the largest tile count", "8", "8", tileset("2147483647", "32", "8"),
         "tilesets[0].tilecount: is 2147483647, but " + tiles + " holds 4 tiles of 8 x 8 pixels"},
        {"a tile wider than the atlas", "1032", "8", tileset("1", "1032", "1032", "big.png"),
         "tilewidth: is 1032, and a cell of 1032 x 8 pixels is larger than the 1024 x 1024 background atlas"},
        // one column: the cell is the image's whole width
        {"a cell wider than the atlas", "600", "1032", tileset("1", "1032", "1032", "big.png"),
         "tilewidth: is 600, and a cell of 1032 x 1032 pixels is larger than the 1024 x 1024 background atlas"},
        {"more tiles than the atlas holds", "1", "1", tileset("4", "1032", "1032", "big.png"),
         "tilesets[0]: its 1065024 tiles of 1 x 1 pixels don't fit in the 1024 x 1024 background atlas"},
        {"an atlas that earlier tilesets fill", "8", "8",
         tileset("16384", "1024", "1024", "full.png") + "," + tileset("4", "32", "8"),
         "tilesets[1]: its 4 tiles of 8 x 8 pixels don't fit in the 1024 x 1024 background atlas beside the tiles "
         "of the tilesets before it"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        scene = std::make_unique<Scene>();
        Map map;
        map.tilewidth = c.tilewidth;
        map.tileheight = c.tileheight;
        map.tilesets = "[" + c.tilesets + "]";
        map.layers = "[" + objectgroup({_player}) + "]";
        EXPECT_EQ(thrown<std::runtime_error>(map), named(c.refusal));
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
        // a float no longer holds every whole pixel beyond 2^24, and the view and
        // the player's frames would be cast from infinity
        Refusal{"object_x_beyond_a_float",
                [](Map& m) { m.layers = "[" + objectgroup({_player, object("room", "r", "1e39", "0", "8", "8")}) + "]"; },
                R"(layers[0].objects[1].x: is 1e39, expected a number from -16777216 to 16777216)"},
        Refusal{"object_width_beyond_whole_pixels",
                [](Map& m) { m.layers = "[" + objectgroup({object("player", "", "0", "0", "1e30", "8")}) + "]"; },
                R"(layers[0].objects[0].width: is 1e30, expected a number from -16777216 to 16777216)"},
        Refusal{"object_y_below_the_range",
                [](Map& m) { m.layers = "[" + objectgroup({_player, object("thorns", "t", "0", "-16777217", "8", "8")}) + "]"; },
                R"(layers[0].objects[1].y: is -16777217, expected a number from -16777216 to 16777216)"},
        Refusal{"object_height_above_the_range",
                [](Map& m) { m.layers = "[" + objectgroup({_player, object("room", "", "0", "0", "8", "16777216.5")}) + "]"; },
                R"(layers[0].objects[1].height: is 16777216.5, expected a number from -16777216 to 16777216)"},
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
