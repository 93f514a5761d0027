// The loaded map as the game plays it, and the reader of map files.
#pragma once

#include "game/bkgr.h"
#include "game/map_read.h"
#include "game/mob_main.h"
#include "game/phys.h"
#include "support/geometry.h"
#include "support/media.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

// One map object kept for spawning later: a mob kind's name or a trigger's
// marker type ("target", "brush"), the name that pairs triggers with markers,
// and its box. Built in place: places.emplace_back(type, name, box).
struct Place {
    std::string type;
    std::string name;
    kesp::Box box;
};

// Members in build order; destroyed in reverse, so the mobs, which write
// "mobs.png", go last. Needs a current GL context for the two atlases.
struct Scene {
    // Reads a map file into this scene, timed as "Loading scene".
    void load(const std::filesystem::path& map);
    // Exchanges the tiles and solidity of the cells that a covers with those of
    // the block of the same size whose top-left cell holds b's top-left corner.
    // std::out_of_range "Grid accessed out of range", changing nothing, when
    // either block reaches outside the map.
    void swap_tiles(const kesp::Box& a, const kesp::Box& b);
    // Whether both blocks of swap_tiles(a, b) lie within the map.
    bool can_swap(const kesp::Box& a, const kesp::Box& b) const;

    Mobs mobs;
    Phys physics;
    Bkgr background;
    kesp::Box room;                      // the current room; zero until one is entered
    std::vector<Place> places;           // map order; never grows after loading
    std::vector<kesp::Box> rooms;        // map order
    std::unique_ptr<kesp::Audio> music;  // the looping music, or null
};

// Reads one Tiled JSON map into a scene; lives only while it reads.
class Loader {
public:
    explicit Loader(Scene& scene) : scene(scene) {}

    void operator()(const std::filesystem::path& map);

private:
    void parse(const kesp::Json_obj& map);
    void parse_property(const kesp::Json_obj& property);
    void parse_tileset(const kesp::Json_obj& tileset);
    void parse_tileset_tile(const kesp::Json_obj& tile);
    void parse_layer(const kesp::Json_obj& layer);
    void parse_tilelayer(const kesp::Json_obj& layer);
    void parse_objectgroup(const kesp::Json_obj& layer);
    void parse_object(const kesp::Json_obj& object);
    void load_background_music();
    // A size the map gives under key; one below least is refused.
    std::uint64_t size(const kesp::Json_obj& obj, const char* key, std::int32_t least = 0);

    Scene& scene;
    std::filesystem::path dir;
    std::filesystem::path music;
    std::string title;
    std::uint64_t width = 0;
    std::uint64_t height = 0;
    std::uint64_t tilewidth = 0;
    std::uint64_t tileheight = 0;
    std::vector<char> solid;
    Map_reader reader;              // reads the map, naming the place of a refusal
    bool player = false;            // a "player" object was read
};
