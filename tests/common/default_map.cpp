#include "common/default_map.h"

#include "common/json_reader.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <fstream>
#include <set>

namespace test {

void Map_fixture::SetUpTestSuite() {
    std::ifstream in(map_path);
    ASSERT_TRUE(in) << map_path;
    doc = new nlohmann::json(parse_json(in));
}

void Map_fixture::TearDownTestSuite() {
    delete doc;
    doc = nullptr;
}

void Map_fixture::SetUp() {
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

bool Map_fixture::solid_at(int x, int y) const {
    return x >= 0 && y >= 0 && x < w && y < h && solid[static_cast<std::size_t>(y) * w + x];
}

bool Map_fixture::hits_solid(const Rect& b) const {
    for (int y = static_cast<int>(std::floor(b.y / 8)); y < std::ceil(b.bottom() / 8); ++y)
        for (int x = static_cast<int>(std::floor(b.x / 8)); x < std::ceil(b.right() / 8); ++x)
            if (solid_at(x, y))
                return true;
    return false;
}

bool Map_fixture::stands(const Rect& b) const {
    const int row = static_cast<int>(b.bottom() / 8);
    if (row * 8.0 != b.bottom())
        return false;
    for (int x = static_cast<int>(std::floor(b.x / 8)); x < std::ceil(b.right() / 8); ++x)
        if (solid_at(x, row))
            return true;
    return false;
}

const Rect* Map_fixture::room_of(double px, double py) const {
    for (const Rect& r : rooms)
        if (r.contains(px, py))
            return &r;
    return nullptr;
}

std::vector<const Place*> Map_fixture::of_type(const std::string& type) const {
    std::vector<const Place*> out;
    for (const Place& p : places)
        if (p.type == type)
            out.push_back(&p);
    return out;
}

}  // namespace test
