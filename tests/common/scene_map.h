// Tiled maps written as text, and a fixture that loads them into a fresh scene,
// for the tests of what a map fills in and of the maps that are refused.
#pragma once

#include "game/scene.h"

#include "common/game_files.h"
#include "common/gl_window.h"
#include "common/process.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace test {

// Members of a Tiled map's JSON, each written as text.
std::string object(const std::string& type, const std::string& name, const std::string& x, const std::string& y,
                   const std::string& w, const std::string& h);
std::string objectgroup(const std::vector<std::string>& objects);
// A 2 x 2 tile layer holding data.
std::string tilelayer(const std::string& data);
std::string property(const std::string& name, const std::string& value);

// A player, and a room at the top left of the map.
extern const std::string _player;
extern const std::string _room;

// A Tiled map as text; a member left empty is left out. By default a 2 x 2 map
// of 8 x 8 tiles titled "Tiny", with one tileset of tiles.png, a tile layer and
// one object layer holding _player and _room.
struct Map {
    Map();
    std::string width, height, tilewidth, tileheight;
    std::string properties;
    std::string tilesets;
    std::string layers;

    std::string text() const;
};

// A fresh scene, with tiles.png (four 8 x 8 tiles of four greys) in a temporary
// folder and the game's state folder inside it.
class Scene_test : public Gl_test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::filesystem::path write(const Map& map, const char* name = "map.tmj");
    void load(const Map& map);
    // What loading logs to standard error.
    std::string load_logged(const Map& map);
    // The message of the E that loading the file throws, or what happened instead.
    template <class E> std::string thrown(const std::filesystem::path& path) {
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
    std::string named(const std::string& place_and_problem, const char* name = "map.tmj") const;

    std::vector<std::int32_t> tiles() const;
    std::vector<bool> solids() const;
    template <class T> static std::vector<T> cells(const kesp::Grid<T>& g) {
        std::vector<T> v;
        for (std::size_t y = 0; y < g.height(); ++y)
            for (std::size_t x = 0; x < g.width(); ++x) v.push_back(g.at(x, y));
        return v;
    }

    Temp_dir tmp;
    std::filesystem::path saved_state;
    std::unique_ptr<Scene> scene;
};

void expect_box(const kesp::Box& got, const kesp::Box& want);

}  // namespace test
