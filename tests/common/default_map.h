// The default level's map as the game reads it, for the tests of what it holds.
#pragma once

#include "common/shipped_data.h"

#include <gtest/gtest.h>
#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace test {

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
// tileset's "solid" tiles, the rooms and the places in map order. The file is
// parsed once for all the tests of a suite.
class Map_fixture : public testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;

    bool solid_at(int x, int y) const;
    // Whether any tile the box covers is solid; edges on a tile line touch nothing beyond it.
    bool hits_solid(const Rect& b) const;
    // Whether the box rests on solid tiles: the row under its bottom edge holds one.
    bool stands(const Rect& b) const;
    const Rect* room_of(double px, double py) const;
    std::vector<const Place*> of_type(const std::string& type) const;

    static inline const std::filesystem::path map_path = data_dir / "level" / "princess.tmj";
    static inline nlohmann::json* doc = nullptr;
    int w = 0, h = 0, tilecount = 0;
    std::vector<std::int64_t> tiles;
    std::vector<bool> solid;
    std::vector<Rect> rooms;
    std::vector<Place> places;
};

}  // namespace test
