// A map that needs more memory than there is: the load is refused naming the
// map, like any map that can't be played.
#include "game/scene.h"

#include "common/scene_map.h"
#include "heap/heap.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

using namespace test;

TEST_F(Scene_test, RunningOutOfMemoryWhileAMapLoadsIsARefusalNamingIt) {
    // 100 x 100 tiles: the values of its tile layer alone take some 160 KiB.
    Map map;
    map.width = map.height = "100";
    std::string data = "[0";
    for (int i = 1; i < 100 * 100; ++i) data += ",0";
    map.layers = "[" + tilelayer(data + "]") + "," + objectgroup({_player, _room}) + "]";
    const std::filesystem::path file = write(map);
    {
        test::heap::Short_of_memory short_of(64 << 10);
        EXPECT_EQ(thrown<std::runtime_error>(file), named("not enough memory to load it"));
    }
    // With the memory it needs, the same map plays.
    scene = std::make_unique<Scene>();
    EXPECT_EQ(thrown<std::runtime_error>(file), "loaded");
}

}  // namespace
