#include "game/scene.h"

#include "support/files.h"
#include "support/json.h"
#include "support/log.h"
#include "support/scan.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>

namespace {

constexpr float _tile = 8;

// A map the editor makes is some tens of MiB at most; anything far larger is no map.
constexpr std::size_t _max_map_size = std::size_t{256} << 20;

// Beyond this a float no longer holds every whole pixel.
constexpr double _max_coordinate = 16777216;
constexpr const char* _coordinate_range = "a number from -16777216 to 16777216";

using Type = kesp::Json::Type;

// The integer conversion of a number, sign-extended to the loader's widths.
std::uint64_t _count(const kesp::Json& v) {
    return static_cast<std::uint64_t>(static_cast<std::int64_t>(v.num_as<std::int32_t>()));
}

std::string _raw(const kesp::Json& v) { return std::string(v.str()); }

double _floor_cell(float edge) { return std::floor(static_cast<double>(edge / _tile)); }
double _ceil_cell(float edge) { return std::ceil(static_cast<double>(edge / _tile)); }

// Whether n cells from x lie within size cells; a coordinate that is not a number doesn't.
bool _fits(double x, double n, std::size_t size) { return x >= 0 && x + n <= static_cast<double>(size); }

// The two blocks of cells that swapping boxes a and b exchanges.
struct Blocks {
    std::size_t ax, ay, bx, by, w, h;
};

// The blocks, if both lie within both grids of the scene. A box far off the map,
// at infinity or not a number lies outside; an empty block is nothing to swap.
std::optional<Blocks> _blocks(const Scene& scene, const kesp::Box& a, const kesp::Box& b) {
    std::size_t cols = std::min(scene.background.tiles.width(), scene.physics.solid.width());
    std::size_t rows = std::min(scene.background.tiles.height(), scene.physics.solid.height());
    double ax = _floor_cell(a.l), ay = _floor_cell(a.u);
    double bx = _floor_cell(b.l), by = _floor_cell(b.u);
    double w = _ceil_cell(a.r) - ax, h = _ceil_cell(a.d) - ay;
    if (w <= 0 || h <= 0) return Blocks{};
    if (!(_fits(ax, w, cols) && _fits(bx, w, cols) && _fits(ay, h, rows) && _fits(by, h, rows)))
        return std::nullopt;
    auto cell = [](double v) { return static_cast<std::size_t>(v); };
    return Blocks{cell(ax), cell(ay), cell(bx), cell(by), cell(w), cell(h)};
}

}  // namespace

void Scene::load(const std::filesystem::path& map) {
    kesp::Prof_lock timing("Loading scene");
    Loader{*this}(map);
}

bool Scene::can_swap(const kesp::Box& a, const kesp::Box& b) const { return _blocks(*this, a, b).has_value(); }

void Scene::swap_tiles(const kesp::Box& a, const kesp::Box& b) {
    // Checked whole first, so a swap that can't be done changes nothing.
    std::optional<Blocks> c = _blocks(*this, a, b);
    if (!c) throw std::out_of_range("Grid accessed out of range");
    for (std::size_t i = 0; i < c->w; ++i)
        for (std::size_t j = 0; j < c->h; ++j) {
            std::swap(background.tiles.at(c->ax + i, c->ay + j), background.tiles.at(c->bx + i, c->by + j));
            // Grid<bool> cells are plain bools, so std::swap works on them too.
            std::swap(physics.solid.at(c->ax + i, c->ay + j), physics.solid.at(c->bx + i, c->by + j));
        }
}

void Loader::operator()(const std::filesystem::path& map) {
    reader = Map_reader(map);
    dir = map.parent_path();
    try {
        kesp::Json_doc doc(kesp::read_file(map, _max_map_size));
        parse(reader.check(doc.root(), Type::obj).obj());
    } catch (const kesp::Read_error& e) {
        if (!e.opened()) throw std::runtime_error("can't open \"" + map.string() + "\"");
        reader.refuse_file(e.what());
    } catch (const kesp::Syntax_error& e) {
        throw std::runtime_error(reader.named("line " + std::to_string(e.line()), e.what()));
    } catch (const std::bad_alloc&) {
        // The map holds more than this machine can: told like any other refusal.
        reader.refuse_file("not enough memory to load it");
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
    std::uint64_t count = size(tileset, "tilecount");
    std::uint64_t image_height = size(tileset, "imageheight");
    std::uint64_t image_width = size(tileset, "imagewidth");
    std::filesystem::path file = dir / kesp::escape_json_string(reader.at(tileset, "image", Type::str).str());
    // An image that isn't there would fail only when its tiles are first drawn.
    kesp::Image image(file);
    if (!image) reader.refuse("image", "can't use \"" + file.string() + "\": " + kesp::platform_error());
    // Every number the map claims about the image is held against the image
    // itself before anything is cut or allocated by it.
    const std::string named = "the tileset image \"" + file.string() + "\"";
    auto check_side = [&](const char* key, std::uint64_t claimed, int real, const char* map_key, std::uint64_t tile,
                          const char* extent) {
        if (claimed != static_cast<std::uint64_t>(real))
            reader.refuse(key, "is " + std::to_string(claimed) + ", but " + named + " is " + std::to_string(real) +
                                   " pixels " + extent);
        if (tile > claimed)
            throw std::runtime_error(reader.named(map_key, "is " + std::to_string(tile) + ", more than the " +
                                                               std::to_string(real) + " pixels of " + named));
    };
    check_side("imagewidth", image_width, image.width(), "tilewidth", tilewidth, "wide");
    check_side("imageheight", image_height, image.height(), "tileheight", tileheight, "high");
    const std::uint64_t cols = image_width / tilewidth;
    const std::uint64_t rows = image_height / tileheight;
    const std::uint64_t tiles = cols * rows;
    if (count > tiles)
        reader.refuse("tilecount", "is " + std::to_string(count) + ", but " + named + " holds " +
                                       std::to_string(tiles) + " tiles of " + std::to_string(tilewidth) + " x " +
                                       std::to_string(tileheight) + " pixels");
    // The image is cut into cols x rows equal cells, so they may be larger than a
    // tile. Cells the atlas could not hold even empty are refused before any is cut.
    const std::uint64_t cell_width = image_width / cols;
    const std::uint64_t cell_height = image_height / rows;
    const auto side = static_cast<std::uint64_t>(scene.background.tileset.size());
    const std::string atlas = std::to_string(side) + " x " + std::to_string(side) + " background atlas";
    const std::string cells = std::to_string(cell_width) + " x " + std::to_string(cell_height) + " pixels";
    for (auto [key, tile, cell] : {std::tuple{"tilewidth", tilewidth, cell_width},
                                   std::tuple{"tileheight", tileheight, cell_height}})
        if (cell > side)
            throw std::runtime_error(
                reader.named(key, "is " + std::to_string(tile) + ", and a cell of " + cells + " is larger than the " + atlas));
    const std::string no_room = "its " + std::to_string(tiles) + " tiles of " + cells + " don't fit in the " + atlas;
    if (tiles > (side / cell_width) * (side / cell_height)) reader.refuse(no_room);
    if (scene.background.add_tiles(image, cols, rows) < 0)
        reader.refuse(no_room + " beside the tiles of the tilesets before it");
    solid.resize(count);
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
    auto number = [&](const char* key) {
        const kesp::Json& v = reader.at(object, key, Type::num);
        double n = v.num();
        if (!(std::fabs(n) <= _max_coordinate))
            reader.refuse(key, "is " + std::string(static_cast<const char*>(v.data), v.size) + ", expected " +
                                   _coordinate_range);
        return static_cast<float>(n);
    };
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
    if (music.empty()) return;  // the map asks for none
    // Streamed while it plays; without audio or a loadable file the game runs silent.
    scene.music = kesp::load_audio(music, 0);
    if (scene.music) scene.music->play();
}
