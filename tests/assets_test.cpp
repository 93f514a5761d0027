// The generated data: every sheet the mobs load, cut the way they cut it; every
// sound; the default map and what a level needs to be played.
#include "common/process.h"

#include <SDL.h>
#include <SDL_image.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const fs::path data_dir = fs::path(QUORLA_DATA_ROOT) / "quorla";

using Surface = std::unique_ptr<SDL_Surface, decltype(&SDL_FreeSurface)>;

// An image in 32-bit RGBA, whatever the file holds.
Surface load_rgba(const fs::path& path)
{
    Surface raw(IMG_Load(path.string().c_str()), SDL_FreeSurface);
    if (!raw)
        return Surface(nullptr, SDL_FreeSurface);
    return Surface(SDL_ConvertSurfaceFormat(raw.get(), SDL_PIXELFORMAT_RGBA32, 0), SDL_FreeSurface);
}

std::uint8_t alpha(const SDL_Surface* s, int x, int y)
{
    return static_cast<const std::uint8_t*>(s->pixels)[y * s->pitch + x * 4 + 3];
}

// The lowest row of a cell that holds a visible pixel, or -1 for an empty cell.
int lowest_row(const SDL_Surface* s, int x0, int y0, int w, int h)
{
    for (int y = h - 1; y >= 0; --y)
        for (int x = 0; x < w; ++x)
            if (alpha(s, x0 + x, y0 + y))
                return y;
    return -1;
}

struct Sheet {
    const char* file;
    int cols, rows;  // as the mob that loads it cuts it
    int cw, ch;      // the cell size its map box and drawing offset call for
    bool stands;     // every frame has its feet on the cell's bottom row
};

// Player bodies are centred on an 8x20 box; rotten and bones are drawn 4 pixels
// above a 12x16 box, so a 24-pixel cell ends at the box's bottom; effects and
// flyers are centred on boxes of their cell's size.
const Sheet sheets[] = {
    {"player_idle.png", 1, 1, 16, 20, true},
    {"player_walk.png", 10, 1, 16, 20, true},
    {"player_run.png", 10, 1, 16, 20, false},
    {"player_jump.png", 10, 1, 16, 20, false},
    {"player_skid.png", 1, 1, 16, 20, true},
    {"player_hurt.png", 2, 1, 16, 20, true},
    {"player_reel.png", 1, 1, 16, 20, false},
    {"player_attk.png", 4, 1, 32, 32, false},
    {"player_head.png", 3, 1, 8, 8, false},
    {"rotten.png", 7, 1, 16, 24, true},
    {"bones.png", 7, 1, 16, 24, true},
    {"bone.png", 3, 1, 8, 8, false},
    {"peeper.png", 4, 1, 16, 16, false},
    {"crawler.png", 2, 1, 8, 8, true},
    {"dust.png", 4, 1, 8, 8, false},
    {"splat.png", 5, 1, 16, 16, false},
    {"poof.png", 7, 1, 16, 16, false},
};

TEST(Sheets, EveryCellHoldsAFrameAndWalkersStandOnTheirBoxBottom)
{
    for (const Sheet& sheet : sheets) {
        SCOPED_TRACE(sheet.file);
        const Surface s = load_rgba(data_dir / "texture" / sheet.file);
        ASSERT_TRUE(s) << IMG_GetError();
        // The game cuts a sheet into columns x rows by dividing its size: any
        // other size would shift every frame.
        EXPECT_EQ(s->w, sheet.cols * sheet.cw);
        EXPECT_EQ(s->h, sheet.rows * sheet.ch);
        for (int r = 0; r < sheet.rows; ++r)
            for (int c = 0; c < sheet.cols; ++c) {
                const int low = lowest_row(s.get(), c * sheet.cw, r * sheet.ch, sheet.cw, sheet.ch);
                EXPECT_GE(low, 0) << "frame " << r * sheet.cols + c << " is empty";
                if (sheet.stands) {
                    EXPECT_EQ(low, sheet.ch - 1) << "frame " << r * sheet.cols + c << " floats";
                }
            }
    }
}

const char* const sounds[] = {"step.wav", "jump.wav", "land.wav", "skid.wav",
                              "dunk.wav", "hurt.wav", "attk.wav", "kill.wav"};

// The length in seconds of a WAV file, or a negative number when it does not load.
double wav_seconds(const fs::path& path)
{
    SDL_AudioSpec spec{};
    Uint8* buffer = nullptr;
    Uint32 bytes = 0;
    if (!SDL_LoadWAV(path.string().c_str(), &spec, &buffer, &bytes))
        return -1;
    SDL_FreeWAV(buffer);
    const int frame = SDL_AUDIO_BITSIZE(spec.format) / 8 * spec.channels;
    return static_cast<double>(bytes) / frame / spec.freq;
}

TEST(Sounds, EveryEffectIsAShortWav)
{
    for (const char* name : sounds) {
        SCOPED_TRACE(name);
        const double seconds = wav_seconds(data_dir / "sound" / name);
        EXPECT_GT(seconds, 0.01) << SDL_GetError();
        EXPECT_LT(seconds, 1.0);
    }
}

TEST(Sounds, TheMusicIsALongWav)
{
    EXPECT_GT(wav_seconds(data_dir / "sound" / "princess.wav"), 20.0) << SDL_GetError();
}

// --- the default map -----------------------------------------------------------

struct Rect {
    double x, y, w, h;  // pixels

    double right() const { return x + w; }
    double bottom() const { return y + h; }
    double cx() const { return x + w / 2; }
    double cy() const { return y + h / 2; }
    bool contains(double px, double py) const { return px >= x && px <= right() && py >= y && py <= bottom(); }
    bool overlaps(const Rect& o) const { return x <= o.right() && o.x <= right() && y <= o.bottom() && o.y <= bottom(); }
};

struct Place {
    std::string type, name;
    Rect box;
};

// The map as the game reads it: the solid grid from the tile layer and the
// tileset's "solid" tiles, the rooms and the places in map order.
class Map_fixture : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        std::ifstream in(map_path);
        ASSERT_TRUE(in) << map_path;
        doc = new nlohmann::json(nlohmann::json::parse(in));
    }
    static void TearDownTestSuite()
    {
        delete doc;
        doc = nullptr;
    }

    void SetUp() override
    {
        ASSERT_TRUE(doc);
        const auto& m = *doc;
        w = m.at("width");
        h = m.at("height");
        const auto& tileset = m.at("tilesets").at(0);
        tilecount = tileset.at("tilecount");
        std::set<int> solid_ids;
        for (const auto& t : tileset.at("tiles"))
            if (t.at("type") == "solid")
                solid_ids.insert(t.at("id").get<int>());
        for (const auto& layer : m.at("layers")) {
            if (layer.at("type") == "tilelayer") {
                tiles = layer.at("data").get<std::vector<std::int64_t>>();
                solid.clear();
                for (std::int64_t v : tiles)
                    solid.push_back(v != 0 && solid_ids.count(static_cast<int>((v - 1) & 0xffff)));
            } else if (layer.at("type") == "objectgroup") {
                for (const auto& o : layer.at("objects")) {
                    const Rect box{o.at("x"), o.at("y"), o.at("width"), o.at("height")};
                    if (o.at("type") == "room")
                        rooms.push_back(box);
                    else
                        places.push_back({o.at("type"), o.at("name"), box});
                }
            }
        }
    }

    bool solid_at(int x, int y) const
    {
        return x >= 0 && y >= 0 && x < w && y < h && solid[static_cast<std::size_t>(y) * w + x];
    }
    // Whether any tile the box covers is solid; edges on a tile line touch nothing beyond it.
    bool hits_solid(const Rect& b) const
    {
        for (int y = static_cast<int>(std::floor(b.y / 8)); y < std::ceil(b.bottom() / 8); ++y)
            for (int x = static_cast<int>(std::floor(b.x / 8)); x < std::ceil(b.right() / 8); ++x)
                if (solid_at(x, y))
                    return true;
        return false;
    }
    // Whether the box rests on solid tiles: the row under its bottom edge holds one.
    bool stands(const Rect& b) const
    {
        const int row = static_cast<int>(b.bottom() / 8);
        if (row * 8.0 != b.bottom())
            return false;
        for (int x = static_cast<int>(std::floor(b.x / 8)); x < std::ceil(b.right() / 8); ++x)
            if (solid_at(x, row))
                return true;
        return false;
    }
    const Rect* room_of(double px, double py) const
    {
        for (const Rect& r : rooms)
            if (r.contains(px, py))
                return &r;
        return nullptr;
    }
    std::vector<const Place*> of_type(const std::string& type) const
    {
        std::vector<const Place*> out;
        for (const Place& p : places)
            if (p.type == type)
                out.push_back(&p);
        return out;
    }

    static inline const fs::path map_path = data_dir / "level" / "princess.tmj";
    static inline nlohmann::json* doc = nullptr;
    int w = 0, h = 0, tilecount = 0;
    std::vector<std::int64_t> tiles;
    std::vector<bool> solid;
    std::vector<Rect> rooms;
    std::vector<Place> places;
};

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
    const Surface image = load_rgba(map_path.parent_path() / ts.at("image").get<std::string>());
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

TEST_F(Map_fixture, RoomsOfBothSizesEachWithGroundAndNoTwoSharingSpace)
{
    int full = 0, small = 0;
    for (const Rect& r : rooms) {
        (r.w >= 384 && r.h >= 216 ? full : small)++;
        EXPECT_TRUE(r.x >= 0 && r.y >= 0 && r.right() <= w * 8.0 && r.bottom() <= h * 8.0);
        // Ground: a solid tile inside the room with open space above it.
        bool ground = false;
        for (int y = static_cast<int>(r.y / 8) + 1; y < r.bottom() / 8 && !ground; ++y)
            for (int x = static_cast<int>(r.x / 8); x < r.right() / 8 && !ground; ++x)
                ground = solid_at(x, y) && !solid_at(x, y - 1);
        EXPECT_TRUE(ground) << "room at " << r.x << ", " << r.y;
    }
    EXPECT_GE(full, 3);
    EXPECT_GE(small, 1);
    for (std::size_t i = 0; i < rooms.size(); ++i)
        for (std::size_t j = i + 1; j < rooms.size(); ++j) {
            const Rect& a = rooms[i];
            const Rect& b = rooms[j];
            const bool shared = a.x < b.right() && b.x < a.right() && a.y < b.bottom() && b.y < a.bottom();
            EXPECT_FALSE(shared) << "rooms " << i << " and " << j;
        }
}

TEST_F(Map_fixture, OnePlayerStandingInARoom)
{
    const auto players = of_type("player");
    ASSERT_EQ(players.size(), 1u);
    const Rect& b = players[0]->box;
    EXPECT_TRUE(room_of(b.cx(), b.cy()));
    EXPECT_FALSE(hits_solid(b));
    EXPECT_TRUE(stands(b));
}

TEST_F(Map_fixture, EveryKindIsPlacedAndEveryMobFitsItsRoom)
{
    const std::set<std::string> kinds{"bone", "bones", "crack", "crawler", "dust", "mirror",
                                      "thorns", "peeper", "player", "poof", "rotten", "splat"};
    const std::set<std::string> markers{"target", "brush"};
    std::set<std::string> seen;
    for (const Place& p : places) {
        SCOPED_TRACE(p.type + " at " + std::to_string(p.box.x) + ", " + std::to_string(p.box.y));
        EXPECT_TRUE(kinds.count(p.type) || markers.count(p.type)) << "unknown type";
        seen.insert(p.type);
        if (markers.count(p.type) || p.type == "crack")
            continue;
        // Every mob starts in a room, in the open; the walkers and crawlers on the ground.
        EXPECT_TRUE(room_of(p.box.cx(), p.box.cy()));
        EXPECT_FALSE(hits_solid(p.box));
        if (p.type == "rotten" || p.type == "bones" || p.type == "crawler") {
            EXPECT_TRUE(stands(p.box));
        }
    }
    for (const std::string& k : kinds)
        EXPECT_TRUE(seen.count(k)) << k << " is never placed";
}

TEST_F(Map_fixture, MirrorsSendThePlayerToATargetInAnotherRoom)
{
    const auto mirrors = of_type("mirror");
    ASSERT_FALSE(mirrors.empty());
    for (const Place* mirror : mirrors) {
        SCOPED_TRACE("mirror " + mirror->name);
        const Rect* from = room_of(mirror->box.cx(), mirror->box.cy());
        ASSERT_TRUE(from);
        const Place* target = nullptr;
        for (const Place& p : places)
            if (!target && p.type == "target" && p.name == mirror->name)
                target = &p;
        ASSERT_TRUE(target);
        const Rect* to = room_of(target->box.cx(), target->box.cy());
        ASSERT_TRUE(to);
        EXPECT_NE(to, from);
        // A centre at or below the mirror room's bottom would count as a fall.
        EXPECT_LT(target->box.cy(), from->bottom());
        // She lands on her feet in the open.
        const Rect body{target->box.cx() - 4, target->box.cy() - 10, 8, 20};
        EXPECT_FALSE(hits_solid(body));
        EXPECT_TRUE(stands(body));
    }
}

TEST_F(Map_fixture, CracksSwapASolidWallWithOpenSpaceOfTheSameSize)
{
    const auto cracks = of_type("crack");
    ASSERT_FALSE(cracks.empty());
    for (const Place* crack : cracks) {
        SCOPED_TRACE("crack " + crack->name);
        std::vector<const Place*> brushes;
        for (const Place& p : places)
            if (p.type == "brush" && p.name == crack->name)
                brushes.push_back(&p);
        ASSERT_GE(brushes.size(), 2u);
        const Rect& a = brushes[0]->box;
        const Rect& b = brushes[1]->box;
        EXPECT_TRUE(crack->box.overlaps(a)) << "the blow must land on the wall it breaks";
        // The swap takes every cell the first brush touches and the same block
        // from the second brush's top-left cell: wall there, open space here.
        const int ax = static_cast<int>(std::floor(a.x / 8)), ay = static_cast<int>(std::floor(a.y / 8));
        const int bx = static_cast<int>(std::floor(b.x / 8)), by = static_cast<int>(std::floor(b.y / 8));
        const int cw = static_cast<int>(std::ceil(a.right() / 8)) - ax, ch = static_cast<int>(std::ceil(a.bottom() / 8)) - ay;
        ASSERT_TRUE(bx >= 0 && by >= 0 && bx + cw <= w && by + ch <= h);
        for (int j = 0; j < ch; ++j)
            for (int i = 0; i < cw; ++i) {
                EXPECT_TRUE(solid_at(ax + i, ay + j));
                EXPECT_FALSE(solid_at(bx + i, by + j));
            }
    }
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
    const auto saved = nlohmann::json::parse(in);

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
