// nlohmann::json's part of the JSON benchmark: apart, since its parser alone takes
// as long to compile as the rest of the benchmark.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "bench/json_bench.h"

namespace {

using json_bench::finish;
using json_bench::map_text;

void nlohmann_json(benchmark::State& state)
{
    const std::string& text = map_text();
    std::int64_t sum = 0;
    for (auto _ : state) {
        auto doc = nlohmann::json::parse(text);
        sum = 0;
        for (const auto& v : doc["layers"][0]["data"])
            sum += v.get<std::int32_t>();
        benchmark::DoNotOptimize(sum);
    }
    finish(state, sum);
}

BENCHMARK(nlohmann_json)->Unit(benchmark::kMillisecond);

}  // namespace
