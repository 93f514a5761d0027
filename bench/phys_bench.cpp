// Cost of one physics step per solid body: 10,000 falling, walking bodies on a
// 256 x 256 map with a solid border and scattered platforms.
#include "game/phys.h"

#include <benchmark/benchmark.h>

#include <cstddef>
#include <limits>
#include <random>
#include <vector>

namespace {

constexpr std::size_t _side = 256;
constexpr int _count = 10000;

void _build_map(Phys& phys, std::mt19937& rng) {
    phys.solid.resize(_side, _side);
    std::uniform_int_distribution<int> pct(0, 99);
    for (std::size_t y = 0; y < _side; ++y)
        for (std::size_t x = 0; x < _side; ++x) {
            bool border = x == 0 || y == 0 || x == _side - 1 || y == _side - 1;
            // Short horizontal runs every fourth row make floors and ledges.
            bool ledge = y % 4 == 3 && pct(rng) < 40;
            phys.solid.at(x, y) = border || ledge;
        }
}

void BM_solid_step(benchmark::State& state) {
    std::mt19937 rng(7);
    Phys phys;
    _build_map(phys, rng);

    // Bodies start in free cells inside the border, half a tile wide and one tile high.
    std::uniform_int_distribution<int> cell(2, _side - 3);
    std::uniform_real_distribution<float> speed(-3, 3);
    std::vector<Body> bodies;
    bodies.reserve(_count);
    while (bodies.size() < _count) {
        std::size_t x = cell(rng), y = cell(rng);
        if (phys.solid.at(x, y)) continue;
        kesp::Vec c{8.0f * x + 4, 8.0f * y + 4};
        bodies.emplace_back(kesp::Box::from_center(c, {2, 4}), Body::solid);
        bodies.back().vel.x = speed(rng);
    }

    const float inf = std::numeric_limits<float>::infinity();
    for (auto _ : state) {
        for (Body& b : bodies) {
            // Walkers turn at walls, as the enemies do.
            float target = b.is(Body::touch_lf) ? 2.0f : b.is(Body::touch_rt) ? -2.0f : b.vel.x;
            phys.add_engine(&b, {1, 0}, target, 0.5f);
            phys.add_engine(&b, {0, 1}, inf, 1.6f);
            phys.add_body(&b);
        }
        phys.step(0.5f);
        benchmark::DoNotOptimize(bodies.data());
    }
    state.SetItemsProcessed(state.iterations() * _count);
    // Seconds of one body's share of a step.
    state.counters["per_body"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * _count,
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_solid_step);

}  // namespace

BENCHMARK_MAIN();
