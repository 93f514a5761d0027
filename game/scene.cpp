#include "game/scene.h"

#include "support/json.h"
#include "support/log.h"
#include "support/scan.h"

#include <cmath>
#include <fstream>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>

namespace {

constexpr float _tile = 8;

using Type = kesp::Json::Type;

// The integer conversion of a number, sign-extended to the loader's widths.
std::uint64_t _count(const kesp::Json& v) {
    return static_cast<std::uint64_t>(static_cast<std::int64_t>(v.num_as<std::int32_t>()));
}

std::string _raw(const kesp::Json& v) { return std::string(v.str()); }

// A cell coordinate of a swap. One that no int holds (a box far off the map, at
// infinity or not a number) lies outside every grid.
std::int64_t _to_cell(double v) {
    if (!(v >= std::numeric_limits<int>::min() && v <= std::numeric_limits<int>::max()))
        throw std::out_of_range("Grid accessed out of range");
    return static_cast<int>(v);
}

std::int64_t _floor_cell(float edge) { return _to_cell(std::floor(static_cast<double>(edge / _tile))); }
std::int64_t _ceil_cell(float edge) { return _to_cell(std::ceil(static_cast<double>(edge / _tile))); }

// A negative coordinate wraps to a huge one, which the bounds test refuses.
std::size_t _index(std::int64_t v) { return static_cast<std::size_t>(v); }

}  // namespace

void Scene::load(const std::filesystem::path& map) {
    kesp::Prof_lock timing("Loading scene");
    Loader{*this}(map);
}

void Scene::swap_tiles(const kesp::Box& a, const kesp::Box& b) {
    std::int64_t ax = _floor_cell(a.l), ay = _floor_cell(a.u);
    std::int64_t bx = _floor_cell(b.l), by = _floor_cell(b.u);
    std::int64_t w = _ceil_cell(a.r) - ax, h = _ceil_cell(a.d) - ay;
    for (std::int64_t i = 0; i < w; ++i)
        for (std::int64_t j = 0; j < h; ++j) {
            std::size_t x1 = _index(ax + i), y1 = _index(ay + j), x2 = _index(bx + i), y2 = _index(by + j);
            std::swap(background.tiles.at(x1, y1), background.tiles.at(x2, y2));
            // Grid<bool> cells are plain bools, so std::swap works on them too.
            std::swap(physics.solid.at(x1, y1), physics.solid.at(x2, y2));
        }
}

void Loader::operator()(const std::filesystem::path& map) {
    reader = Map_reader(map);
    dir = map.parent_path();
    {
        std::ifstream in(map);
        if (!in) throw std::runtime_error("can't open \"" + map.string() + "\"");
        try {
            kesp::Json_doc doc(kesp::slurp(in));
            parse(reader.check(doc.root(), Type::obj).obj());
        } catch (const kesp::Syntax_error& e) {
            throw std::runtime_error(reader.named("line " + std::to_string(e.line()), e.what()));
        }
    }
    if (!player) reader.refuse("layers", "no \"player\" object");
    kesp::log_info("Playing %s", title.c_str());
    load_background_music();
}

std::uint64_t Loader::size(const kesp::Json_obj& obj, const char* key, std::int32_t least) {
    auto n = reader.at(obj, key, Type::num).num_as<std::int32_t>();
    if (n < least) reader.refuse(key, "is " + std::to_string(n) + ", expected " + std::to_string(least) + " or more");
    return static_cast<std::uint64_t>(n);
}

void Loader::parse(const kesp::Json_obj& map) {
    width = size(map, "width");
    height = size(map, "height");
    // They divide the tileset image's size.
    tilewidth = size(map, "tilewidth", 1);
    tileheight = size(map, "tileheight", 1);
    reader.each(map, "properties", Type::obj, [&](const kesp::Json& v) { parse_property(v.obj()); });
    reader.each(map, "tilesets", Type::obj, [&](const kesp::Json& v) { parse_tileset(v.obj()); });
    reader.each(map, "layers", Type::obj, [&](const kesp::Json& v) { parse_layer(v.obj()); });
}

void Loader::parse_property(const kesp::Json_obj& property) {
    std::string_view name = reader.at(property, "name", Type::str).str();
    if (name == "music")
        music = dir / kesp::escape_json_string(reader.at(property, "value", Type::str).str());
    else if (name == "title")
        title = _raw(reader.at(property, "value", Type::str));
}

void Loader::parse_tileset(const kesp::Json_obj& tileset) {
    solid.resize(size(tileset, "tilecount"));
    // A negative image size would wrap round to a huge count of empty cells.
    std::uint64_t rows = size(tileset, "imageheight") / tileheight;
    std::uint64_t cols = size(tileset, "imagewidth") / tilewidth;
    std::filesystem::path image = dir / kesp::escape_json_string(reader.at(tileset, "image", Type::str).str());
    // An image that isn't there would fail only when its tiles are first drawn.
    long long first = scene.background.add_tiles(image, cols, rows);
    if (first < 0) reader.refuse("image", "can't use \"" + image.string() + "\": " + kesp::platform_error());
    atlas_tiles = static_cast<std::uint64_t>(first) + cols * rows;
    reader.each(tileset, "tiles", Type::obj, [&](const kesp::Json& v) { parse_tileset_tile(v.obj()); });
}

void Loader::parse_tileset_tile(const kesp::Json_obj& tile) {
    bool is_solid = reader.at(tile, "type", Type::str).str() == "solid";
    std::uint64_t id = _count(reader.at(tile, "id", Type::num));
    if (id >= solid.size())
        reader.refuse("id", "is " + std::to_string(static_cast<std::int64_t>(id)) + ", expected below \"tilecount\" " +
                                std::to_string(solid.size()));
    solid[id] = is_solid;
}

void Loader::parse_layer(const kesp::Json_obj& layer) {
    std::string_view type = reader.at(layer, "type", Type::str).str();
    if (type == "tilelayer")
        parse_tilelayer(layer);
    else if (type == "objectgroup")
        parse_objectgroup(layer);
}

void Loader::parse_tilelayer(const kesp::Json_obj& layer) {
    kesp::Json_arr data = reader.at(layer, "data", Type::arr).arr();
    auto entries = static_cast<std::uint64_t>(data.end() - data.begin());
    // Both sizes are below 2^31, so their product fits.
    if (entries != width * height)
        reader.refuse("data", "holds " + std::to_string(entries) + " entries, expected " + std::to_string(width) +
                                  " x " + std::to_string(height));
    scene.background.tiles.resize(width, height);
    scene.physics.solid.resize(width, height);
    std::int32_t* tiles = scene.background.tiles.begin();
    bool* solids = scene.physics.solid.begin();
    reader.each(layer, "data", Type::num, [&](const kesp::Json& v) {
        auto n = v.num_as<std::uint32_t>();
        auto cell = static_cast<std::int32_t>(n);
        if (n != 0 && tile_index(cell) >= solid.size())
            reader.refuse("tile number " + std::to_string(n) + " is beyond the tileset's \"tilecount\" " +
                          std::to_string(solid.size()));
        if (n != 0 && tile_index(cell) >= atlas_tiles)
            reader.refuse("tile number " + std::to_string(n) + " is beyond the " + std::to_string(atlas_tiles) +
                          " tiles of the tileset image");
        *tiles++ = cell;
        *solids++ = n != 0 && solid[tile_index(cell)] != 0;
    });
}

void Loader::parse_objectgroup(const kesp::Json_obj& layer) {
    reader.each(layer, "objects", Type::obj, [&](const kesp::Json& v) { parse_object(v.obj()); });
}

void Loader::parse_object(const kesp::Json_obj& object) {
    std::string type = _raw(reader.at(object, "type", Type::str));
    std::string name = _raw(reader.at(object, "name", Type::str));
    auto number = [&](const char* key) { return static_cast<float>(reader.at(object, key, Type::num).num()); };
    auto w = number("width");
    auto h = number("height");
    auto x = number("x");
    auto y = number("y");
    kesp::Box box = kesp::Box::from_corner({x, y}, {w, h});
    if (type == "player") {
        scene.mobs.construct("player", box, nullptr);
        player = true;
    } else if (type == "room") {
        scene.rooms.push_back(box);
    } else {
        scene.places.push_back(Place{std::move(type), std::move(name), box});
    }
}

void Loader::load_background_music() {
    // Streamed while it plays; without audio or a loadable file the game runs silent.
    scene.music = kesp::load_audio(music, 0);
    if (scene.music) scene.music->play();
}
