// The skyline packer beside stb_rect_pack on the same stream of sprite cells:
// tiles placed per second and the share of a 1024-pixel square they cover.
#include "support/rpack.h"

#include <SDL_rect.h>
#include <benchmark/benchmark.h>

#define STB_RECT_PACK_IMPLEMENTATION
#include <stb/stb_rect_pack.h>

#include <cstdint>
#include <vector>

namespace {

constexpr int _side = 1024;

struct Sheet {
    int cells;
    int w;
    int h;
};

// Sheets as the game loads them: a tileset of 8 x 8 tiles, then sprite sheets
// of equal cells (player, walkers, flyers, effects, props), each cell in turn.
constexpr Sheet _sheets[] = {
    {256, 8, 8}, {48, 24, 24}, {24, 16, 24}, {32, 16, 16}, {16, 32, 32},
    {12, 8, 8},  {20, 16, 16}, {8, 48, 32},  {6, 64, 16},  {40, 8, 16},
};

struct Cell {
    int w;
    int h;
};

// The sheets over and over until the cells would cover a third more than the
// square, so that every packer runs out of room and its share shows.
std::vector<Cell> _stream() {
    std::vector<Cell> cells;
    std::int64_t area = 0;
    while (area < std::int64_t{_side} * _side * 4 / 3)
        for (const Sheet& s : _sheets)
            for (int i = 0; i < s.cells; ++i) {
                cells.push_back({s.w, s.h});
                area += s.w * s.h;
            }
    return cells;
}

const std::vector<Cell> _cells = _stream();

struct Tally {
    std::int64_t placed = 0;
    std::int64_t area = 0;
    double share_at_first_miss = -1;

    void hit(const Cell& c) {
        ++placed;
        area += std::int64_t{c.w} * c.h;
    }
    void miss() {
        if (share_at_first_miss < 0) share_at_first_miss = share();
    }
    double share() const { return static_cast<double>(area) / (double{_side} * _side); }
};

void _report(benchmark::State& state, const Tally& t) {
    state.counters["tiles/s"] = benchmark::Counter(static_cast<double>(_cells.size()),
                                                   benchmark::Counter::kIsIterationInvariantRate);
    state.counters["offered"] = static_cast<double>(_cells.size());
    state.counters["placed"] = static_cast<double>(t.placed);
    state.counters["used"] = t.share();
    // Only for a stream packed in its own order: the share when the first cell
    // found no room.
    if (t.share_at_first_miss >= 0) state.counters["used@miss"] = t.share_at_first_miss;
}

void BM_rpack(benchmark::State& state) {
    Tally t;
    for (auto _ : state) {
        t = {};
        kesp::Rpack packer(_side);
        for (const Cell& c : _cells) {
            SDL_Rect r{0, 0, c.w, c.h};
            if (packer.add(r))
                t.hit(c);
            else
                t.miss();
        }
        benchmark::DoNotOptimize(t);
    }
    _report(state, t);
}
BENCHMARK(BM_rpack)->Unit(benchmark::kMillisecond);

// stb_rect_pack fed one cell at a time, as the atlas adds them.
void BM_stb_one_by_one(benchmark::State& state) {
    std::vector<stbrp_node> nodes(_side);
    Tally t;
    for (auto _ : state) {
        t = {};
        stbrp_context ctx;
        stbrp_init_target(&ctx, _side, _side, nodes.data(), static_cast<int>(nodes.size()));
        for (const Cell& c : _cells) {
            stbrp_rect r{};
            r.w = c.w;
            r.h = c.h;
            stbrp_pack_rects(&ctx, &r, 1);
            if (r.was_packed)
                t.hit(c);
            else
                t.miss();
        }
        benchmark::DoNotOptimize(t);
    }
    _report(state, t);
}
BENCHMARK(BM_stb_one_by_one)->Unit(benchmark::kMillisecond);

// stb_rect_pack given the whole stream at once, free to sort it by height.
void BM_stb_all_at_once(benchmark::State& state) {
    std::vector<stbrp_node> nodes(_side);
    std::vector<stbrp_rect> rects(_cells.size());
    Tally t;
    for (auto _ : state) {
        t = {};
        for (std::size_t i = 0; i < _cells.size(); ++i) {
            rects[i] = {};
            rects[i].w = _cells[i].w;
            rects[i].h = _cells[i].h;
        }
        stbrp_context ctx;
        stbrp_init_target(&ctx, _side, _side, nodes.data(), static_cast<int>(nodes.size()));
        stbrp_pack_rects(&ctx, rects.data(), static_cast<int>(rects.size()));
        for (std::size_t i = 0; i < rects.size(); ++i)
            if (rects[i].was_packed) t.hit(_cells[i]);
        benchmark::DoNotOptimize(t);
    }
    _report(state, t);
}
BENCHMARK(BM_stb_all_at_once)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
