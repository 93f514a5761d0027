// CPU cost of one update and of one frame's drawing of a room holding 1,000
// walking enemies, in a real window (run under Xvfb) with vsync off.
#include "game/game.h"

#include "support/media.h"
#include "support/paths.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int _cols = 200;
constexpr int _rows = 64;
constexpr int _mobs = 1000;
// Floors every 8 rows from row 15; the bottom row is the last of them.
constexpr int _first_floor = 15;
constexpr int _floor_step = 8;

// A folder of its own, removed with everything in it.
class Scratch {
public:
    Scratch() {
        std::string pattern = (fs::temp_directory_path() / "quorla-bench-XXXXXX").string();
        if (mkdtemp(pattern.data())) dir = pattern;
    }
    ~Scratch() {
        std::error_code ignored;
        if (!dir.empty()) fs::remove_all(dir, ignored);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    fs::path dir;
};

bool solid(int x, int y) {
    bool border = x == 0 || y == 0 || x == _cols - 1 || y == _rows - 1;
    bool floor = y >= _first_floor && (y - _first_floor) % _floor_step == 0;
    // The player's cell in the top left corner, walled off two tiles thick so
    // that no enemy reaches it and the game never stops for a death.
    bool cell = (x == 5 || x == 6) && y < 9;
    bool cell_floor = (y == 7 || y == 8) && x < 7;
    return border || floor || cell || cell_floor;
}

std::string object(const char* type, float x, float y, float w, float h) {
    return std::string(R"({"type":")") + type + R"(","name":"","x":)" + std::to_string(x) + R"(,"y":)" +
           std::to_string(y) + R"(,"width":)" + std::to_string(w) + R"(,"height":)" + std::to_string(h) + "}";
}

// Width and height of a PNG file from its header; zero when it is none.
struct Png_size {
    std::uint32_t w = 0, h = 0;
};
Png_size png_size(const fs::path& file) {
    unsigned char head[24] = {};
    std::ifstream(file, std::ios::binary).read(reinterpret_cast<char*>(head), sizeof head);
    auto be32 = [&](int at) {
        return std::uint32_t{head[at]} << 24 | std::uint32_t{head[at + 1]} << 16 | std::uint32_t{head[at + 2]} << 8 |
               std::uint32_t{head[at + 3]};
    };
    if (head[1] != 'P' || head[2] != 'N' || head[3] != 'G') return {};
    return {be32(16), be32(20)};
}

// One room over the whole map drawn with the game's tileset, the player in its
// cell, the walkers spread along the floors.
std::string map_text(const fs::path& tileset) {
    Png_size size = png_size(tileset);
    std::string data;
    for (int y = 0; y < _rows; ++y)
        for (int x = 0; x < _cols; ++x) data += std::string(data.empty() ? "" : ",") + (solid(x, y) ? "1" : "0");
    std::string objects = object("player", 16, 40, 8, 16) + "," + object("room", 0, 0, _cols * 8, _rows * 8);
    std::vector<int> floors;
    for (int y = _first_floor; y < _rows; y += _floor_step) floors.push_back(y);
    int per_floor = (_mobs + static_cast<int>(floors.size()) - 1) / static_cast<int>(floors.size());
    for (int i = 0; i < _mobs; ++i) {
        int floor = floors[static_cast<std::size_t>(i / per_floor)];
        float x = 64 + static_cast<float>(i % per_floor) * (_cols * 8 - 128) / static_cast<float>(per_floor);
        objects += ',';
        objects += object("rotten", x, static_cast<float>(floor * 8 - 16), 8, 16);
    }
    return R"({"width":)" + std::to_string(_cols) + R"(,"height":)" + std::to_string(_rows) +
           R"(,"tilewidth":8,"tileheight":8,"properties":[{"name":"title","value":"Crowd"}],)"
           R"("tilesets":[{"tilecount":)" +
           std::to_string(size.w / 8 * (size.h / 8)) + R"(,"imagewidth":)" + std::to_string(size.w) +
           R"(,"imageheight":)" + std::to_string(size.h) + R"(,"image":")" + tileset.string() +
           R"(","tiles":[{"id":0,"type":"solid"}]}],)"
           R"("layers":[{"type":"tilelayer","data":[)" +
           data + R"(]},{"type":"objectgroup","objects":[)" + objects + "]}]}";
}

void update_bench(benchmark::State& state, Game& game) {
    kesp::conf.fps = 60;
    for (auto _ : state) game.update();
    state.counters["mobs"] = static_cast<double>(game.scene.mobs.roster.size());
    if (game.reset_timer != 0) state.SkipWithError("the player died: the updates stopped counting");
}

void render_bench(benchmark::State& state, Game& game) {
    // A frame rate no frame can keep up with: the pacing never sleeps.
    kesp::conf.fps = 1000000;
    for (auto _ : state) game.render();
    kesp::conf.fps = 60;
    state.counters["mobs"] = static_cast<double>(game.scene.mobs.roster.size());
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    Scratch scratch;
    fs::path tileset = fs::path(QUORLA_DATA_ROOT) / "quorla" / "texture" / "tiles.png";
    if (scratch.dir.empty() || png_size(tileset).w < 8) {
        std::fprintf(stderr, "no scratch folder, or no tileset at %s\n", tileset.c_str());
        return 1;
    }
    // The game's own sheets; the atlas images go to the scratch folder.
    kesp::paths.data.roots.insert(kesp::paths.data.roots.begin(), QUORLA_DATA_ROOT);
    kesp::paths.state.dir = scratch.dir / "state";
    std::ofstream(scratch.dir / "map.tmj") << map_text(tileset);

    kesp::conf = {640, 360, false, false, 60};
    kesp::Media_lock media("Quorla benchmark");
    if (!media) {
        std::fprintf(stderr, "no window and GL context (run under Xvfb)\n");
        return 1;
    }
    {
        Game game(scratch.dir / "map.tmj");
        if (game.scene.mobs.roster.size() != _mobs + 1) {
            std::fprintf(stderr, "%zu mobs in the room, not %d\n", game.scene.mobs.roster.size(), _mobs + 1);
            return 1;
        }
        // A first frame reads the window's size for the view.
        game.render();
        benchmark::RegisterBenchmark("update/1000_mobs", update_bench, std::ref(game))
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("render/1000_mobs", render_bench, std::ref(game))
            ->Unit(benchmark::kMillisecond);
        benchmark::RunSpecifiedBenchmarks();
    }
    benchmark::Shutdown();
    return 0;
}
