// The default level's map file: a Tiled map with the tileset, music and tile
// layer the game needs, and one that Tiled itself saves unchanged.
#include "common/default_map.h"
#include "common/gl_window.h"
#include "common/json_reader.h"
#include "common/process.h"
#include "common/shipped_data.h"

#include <SDL.h>
#include <SDL_image.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <map>
#include <string>

namespace {

using test::load_image;
using test::Map_fixture;
using test::Surface;
using test::wav_seconds;

TEST_F(Map_fixture, IsATiledMapWithOneEmbeddedTilesetTheGameCanCut)
{
    const auto& m = *doc;
    // Values are read as plain types, so that no JSON is ever printed (see below).
    EXPECT_EQ(m.at("type").get<std::string>(), "map");
    EXPECT_EQ(m.at("orientation").get<std::string>(), "orthogonal");
    EXPECT_FALSE(m.at("infinite").get<bool>());
    EXPECT_EQ(m.at("tilewidth").get<double>(), 8);
    EXPECT_EQ(m.at("tileheight").get<double>(), 8);
    ASSERT_EQ(m.at("tilesets").size(), 1u);
    const auto& ts = m.at("tilesets").at(0);
    EXPECT_FALSE(ts.contains("source")) << "the tileset must be embedded";
    EXPECT_EQ(ts.at("firstgid").get<double>(), 1);

    // The image, found relative to the map's folder, holds exactly the cells it claims.
    const Surface image = load_image(map_path.parent_path() / ts.at("image").get<std::string>());
    ASSERT_TRUE(image) << IMG_GetError();
    EXPECT_EQ(image->w, ts.at("imagewidth").get<int>());
    EXPECT_EQ(image->h, ts.at("imageheight").get<int>());
    EXPECT_EQ(image->w % 8, 0);
    EXPECT_EQ(image->h % 8, 0);
    EXPECT_EQ(tilecount, (image->w / 8) * (image->h / 8));
    EXPECT_FALSE(ts.at("tiles").empty());
    for (const auto& t : ts.at("tiles"))
        EXPECT_LT(t.at("id").get<int>(), tilecount);
}

TEST_F(Map_fixture, HasATitleAndALoadableLoopingTrack)
{
    std::map<std::string, std::string> props;
    for (const auto& p : doc->at("properties"))
        props[p.at("name")] = p.at("value");
    EXPECT_FALSE(props["title"].empty());
    ASSERT_FALSE(props["music"].empty());
    EXPECT_GT(wav_seconds(map_path.parent_path() / props["music"]), 20.0) << SDL_GetError();
}

TEST_F(Map_fixture, TileLayerIsAPlainArrayOfKnownTilesEnclosedBySolidWall)
{
    const auto layers = std::count_if(doc->at("layers").begin(), doc->at("layers").end(),
                                      [](const auto& l) { return l.at("type") == "tilelayer"; });
    EXPECT_EQ(layers, 1);
    ASSERT_EQ(tiles.size(), static_cast<std::size_t>(w) * h);
    for (std::int64_t v : tiles) {
        ASSERT_GE(v, 0);
        if (v) {
            ASSERT_LT((v - 1) & 0xffff, tilecount);
        }
    }
    // A solid body's edge on the map's outer boundary reads past the grid, so
    // the border is solid all round.
    for (int x = 0; x < w; ++x)
        EXPECT_TRUE(solid_at(x, 0) && solid_at(x, h - 1)) << "column " << x;
    for (int y = 0; y < h; ++y)
        EXPECT_TRUE(solid_at(0, y) && solid_at(w - 1, y)) << "row " << y;
}

TEST_F(Map_fixture, TheTiledEditorOpensItAndSavesTheSameMap)
{
    const test::Result which = test::run({"/bin/sh", "-c", "command -v tiled"});
    if (which.status != 0)
        GTEST_SKIP() << "tiled is not installed";
    const test::Temp_dir tmp;
    const test::Result r = test::run({which.out.substr(0, which.out.find('\n')), "--export-map", "json",
                                      map_path.string(), (tmp / "saved.tmj").string()},
                                     {"QT_QPA_PLATFORM=offscreen"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    std::ifstream in(tmp / "saved.tmj");
    const auto saved = test::parse_json(in);

    auto tile_data = [](const nlohmann::json& m) {
        for (const auto& l : m.at("layers"))
            if (l.at("type") == "tilelayer")
                return l.at("data");
        return nlohmann::json();
    };
    auto objects = [](const nlohmann::json& m) {
        nlohmann::json out = nlohmann::json::array();
        for (const auto& l : m.at("layers"))
            if (l.at("type") == "objectgroup")
                for (const auto& o : l.at("objects"))
                    out.push_back({o.at("type"), o.at("name"), o.at("x"), o.at("y"), o.at("width"), o.at("height")});
        return out;
    };
    // Compared as JSON values but never printed: a printer for JSON would be a
    // large share of this file's compile time with sanitizers.
    EXPECT_TRUE(tile_data(saved) == tile_data(*doc)) << "the tile layer's data";
    EXPECT_TRUE(objects(saved) == objects(*doc)) << "the objects' kinds, names and boxes";
    EXPECT_TRUE(saved.at("tilesets").at(0).at("tiles") == doc->at("tilesets").at(0).at("tiles")) << "the tileset's tiles";
    EXPECT_EQ(saved.at("tilesets").at(0).at("tilecount").get<double>(), tilecount);
}

}  // namespace
