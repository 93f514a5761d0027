// A map that needs more memory than there is: the load is refused naming the
// map, like any map that can't be played.
#include "game/scene.h"

#include "common/game_files.h"
#include "common/log_record.h"
#include "common/scene_map.h"
#include "heap/heap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

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

// Music too large for the memory left is left out of play like any music that
// can't be loaded, with one error naming it; the map plays.
TEST_F(Scene_test, MusicTooLargeForTheMemoryLeftIsAnErrorNamingIt) {
    const std::filesystem::path music = tmp / "big.wav";
    test::write_silent_wav(music, 256 << 10);  // 512 KiB
    Map map;
    map.properties = "[" + property("music", "big.wav") + "]";
    const std::filesystem::path file = write(map);
    test::Log_record log;
    {
        test::heap::Short_of_memory short_of(256 << 10);
        scene->load(file);
    }
    EXPECT_EQ(scene->music, nullptr);
    const std::string line = "\"" + music.string() + "\": not enough memory to load it";
    const std::vector<std::string> problems = log.problems();
    EXPECT_EQ(std::count(problems.begin(), problems.end(), line), 1) << testing::PrintToString(problems);
    EXPECT_EQ(log.errors(line), 1);
}

}  // namespace
