#include "game/scene.h"

#include "support/json.h"
#include "support/log.h"

#include <cmath>
#include <fstream>
#include <limits>
#include <stdexcept>
#include <utility>

namespace {

constexpr float _tile = 8;

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
    file = map;
    dir = map.parent_path();
    {
        std::ifstream in(map);
        if (!in) throw std::runtime_error("can't open \"" + map.string() + "\"");
        kesp::Json_doc doc(kesp::slurp(in));
        parse(doc.root().obj());
    }
    if (!player) refuse("no \"player\" object");
    kesp::log_info("Playing %s", title.c_str());
    load_background_music();
}

void Loader::refuse(const std::string& problem) const {
    throw std::runtime_error("\"" + file.string() + "\": " + problem);
}

std::uint64_t Loader::size(const kesp::Json_obj& obj, const char* key) const {
    auto n = obj.at(key).num_as<std::int32_t>();
    if (n < 0) {
        // Built up in steps: GCC 12 warns falsely on the chained concatenation.
        std::string problem = "\"";
        problem += key;
        problem += "\" is ";
        problem += std::to_string(n);
        refuse(problem);
    }
    return static_cast<std::uint64_t>(n);
}

void Loader::parse(const kesp::Json_obj& map) {
    width = size(map, "width");
    height = size(map, "height");
    tilewidth = size(map, "tilewidth");
    tileheight = size(map, "tileheight");
    if (tilewidth == 0) refuse("\"tilewidth\" is 0");
    if (tileheight == 0) refuse("\"tileheight\" is 0");
    for (const kesp::Json& v : map.at("properties").arr()) parse_property(v.obj());
    for (const kesp::Json& v : map.at("tilesets").arr()) parse_tileset(v.obj());
    for (const kesp::Json& v : map.at("layers").arr()) parse_layer(v.obj());
}

void Loader::parse_property(const kesp::Json_obj& property) {
    std::string_view name = property.at("name").str();
    if (name == "music")
        music = dir / kesp::escape_json_string(property.at("value").str());
    else if (name == "title")
        title = _raw(property.at("value"));
}

void Loader::parse_tileset(const kesp::Json_obj& tileset) {
    solid.resize(size(tileset, "tilecount"));
    // A negative image size would wrap round to a huge count of empty cells.
    std::uint64_t rows = size(tileset, "imageheight") / tileheight;
    std::uint64_t cols = size(tileset, "imagewidth") / tilewidth;
    scene.background.add_tiles(dir / kesp::escape_json_string(tileset.at("image").str()), cols, rows);
    for (const kesp::Json& v : tileset.at("tiles").arr()) parse_tileset_tile(v.obj());
}

void Loader::parse_tileset_tile(const kesp::Json_obj& tile) {
    bool is_solid = tile.at("type").str() == "solid";
    std::uint64_t id = _count(tile.at("id"));
    if (id >= solid.size())
        refuse("tileset tile \"id\" " + std::to_string(static_cast<std::int64_t>(id)) +
               " is not below \"tilecount\" " + std::to_string(solid.size()));
    solid[id] = is_solid;
}

void Loader::parse_layer(const kesp::Json_obj& layer) {
    std::string_view type = layer.at("type").str();
    if (type == "tilelayer")
        parse_tilelayer(layer);
    else if (type == "objectgroup")
        parse_objectgroup(layer);
}

void Loader::parse_tilelayer(const kesp::Json_obj& layer) {
    kesp::Json_arr data = layer.at("data").arr();
    auto entries = static_cast<std::uint64_t>(data.end() - data.begin());
    // Both sizes are below 2^31, so their product fits.
    if (entries != width * height)
        refuse("tile layer \"data\" holds " + std::to_string(entries) + " entries, not " +
               std::to_string(width) + " x " + std::to_string(height));
    scene.background.tiles.resize(width, height);
    scene.physics.solid.resize(width, height);
    std::int32_t* tiles = scene.background.tiles.begin();
    bool* solids = scene.physics.solid.begin();
    for (const kesp::Json& v : data) {
        auto n = v.num_as<std::uint32_t>();
        if (n != 0 && tile_index(static_cast<std::int32_t>(n)) >= solid.size())
            refuse("tile number " + std::to_string(n) + " is beyond the tileset's \"tilecount\" " +
                   std::to_string(solid.size()));
        *tiles++ = static_cast<std::int32_t>(n);
        *solids++ = n != 0 && solid[tile_index(static_cast<std::int32_t>(n))] != 0;
    }
}

void Loader::parse_objectgroup(const kesp::Json_obj& layer) {
    for (const kesp::Json& v : layer.at("objects").arr()) parse_object(v.obj());
}

void Loader::parse_object(const kesp::Json_obj& object) {
    std::string type = _raw(object.at("type"));
    std::string name = _raw(object.at("name"));
    auto w = static_cast<float>(object.at("width").num());
    auto h = static_cast<float>(object.at("height").num());
    auto x = static_cast<float>(object.at("x").num());
    auto y = static_cast<float>(object.at("y").num());
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
