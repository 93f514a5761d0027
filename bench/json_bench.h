// What the JSON benchmark's sources share.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

namespace json_bench {

// The generated map that every parser reads.
const std::string& map_text();
// Reports the map's bytes per iteration and the tile sum, which every parser must agree on.
void finish(benchmark::State& state, std::int64_t sum);

}  // namespace json_bench
