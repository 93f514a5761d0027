// Parses a generated Tiled-style map of 1024 x 1024 tiles and reads every tile
// number as a 32-bit integer, with kesp::Json_doc, RapidJSON's DOM and
// nlohmann::json; prints MB/s for each and how kesp compares. One iteration is the
// whole job from a text in memory: the document takes its copy of the text, parses
// it and builds every value, the tile layer's data is looked up, every tile is
// read, and the document is destroyed. Before the runs it prints the heap peak of
// loading the map with kesp, next to the map's size.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <malloc.h>
#include <map>
#include <random>
#include <set>
#include <string>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <rapidjson/document.h>

#include "heap/heap.h"
#include "support/json.h"

namespace {

constexpr int _side = 1024;

std::string make_map()
{
    std::mt19937 rng(1);
    std::uniform_int_distribution<int> tile(1, 256);
    std::bernoulli_distribution empty(0.4);
    std::string data;
    for (int i = 0; i < _side * _side; ++i) {
        if (i)
            data += ',';
        data += std::to_string(empty(rng) ? 0 : tile(rng));
    }
    std::string side = std::to_string(_side);
    return R"({"compressionlevel":-1,"height":)" + side + R"(,"infinite":false,
 "layers":[
  {"data":[)" + data + R"(],
   "height":)" + side + R"(,"id":1,"name":"Tiles","opacity":1,"type":"tilelayer","visible":true,
   "width":)" + side + R"(,"x":0,"y":0},
  {"draworder":"topdown","id":2,"name":"Objects","objects":[
    {"height":16,"id":1,"name":"","rotation":0,"type":"player","visible":true,"width":8,"x":40,"y":64},
    {"height":216,"id":2,"name":"first","rotation":0,"type":"room","visible":true,"width":384,"x":0,"y":0}],
   "opacity":1,"type":"objectgroup","visible":true,"x":0,"y":0}],
 "nextlayerid":3,"nextobjectid":3,"orientation":"orthogonal",
 "properties":[{"name":"music","type":"string","value":"..\/music\/theme.ogg"},
               {"name":"title","type":"string","value":"Generated"}],
 "renderorder":"right-down","tiledversion":"1.10.2","tileheight":8,
 "tilesets":[{"columns":16,"firstgid":1,"image":"tiles.png","imageheight":128,"imagewidth":128,
   "margin":0,"name":"tiles","spacing":0,"tilecount":256,"tileheight":8,"tilewidth":8,
   "tiles":[{"id":3,"type":"solid"}]}],
 "tilewidth":8,"type":"map","version":"1.10","width":)" + side + "}";
}

const std::string& map_text()
{
    static const std::string text = make_map();
    return text;
}

void finish(benchmark::State& state, std::int64_t sum)
{
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(map_text().size()));
    state.counters["tile_sum"] = static_cast<double>(sum);
}

void kesp_json(benchmark::State& state)
{
    const std::string& text = map_text();
    std::int64_t sum = 0;
    for (auto _ : state) {
        kesp::Json_doc doc(text);
        auto data = doc.root().obj().at("layers").arr().at(0).obj().at("data").arr();
        sum = 0;
        for (const auto& v : data)
            sum += v.num_as<std::int32_t>();
        benchmark::DoNotOptimize(sum);
    }
    finish(state, sum);
}

void rapidjson_dom(benchmark::State& state)
{
    const std::string& text = map_text();
    std::int64_t sum = 0;
    for (auto _ : state) {
        rapidjson::Document doc;
        doc.Parse(text.c_str(), text.size());
        if (doc.HasParseError())
            state.SkipWithError("RapidJSON rejected the map");
        sum = 0;
        for (const auto& v : doc["layers"][0]["data"].GetArray())
            sum += static_cast<std::int32_t>(v.GetInt());
        benchmark::DoNotOptimize(sum);
    }
    finish(state, sum);
}

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

BENCHMARK(kesp_json)->Unit(benchmark::kMillisecond);
BENCHMARK(rapidjson_dom)->Unit(benchmark::kMillisecond);
BENCHMARK(nlohmann_json)->Unit(benchmark::kMillisecond);

// The console report, keeping each benchmark's throughput for the comparison: the
// median when the runs are repeated, not whichever repetition came last.
class Rates : public benchmark::ConsoleReporter {
public:
    Rates() : ConsoleReporter(isatty(1) ? OO_ColorTabular : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            auto it = run.counters.find("bytes_per_second");
            if (run.error_occurred || it == run.counters.end())
                continue;
            const auto& name = run.run_name.function_name;
            if (run.aggregate_name == "median")
                medians.insert(name);
            if (run.aggregate_name == "median" || (run.aggregate_name.empty() && !medians.count(name)))
                rates[name] = it->second.value;
        }
    }

    std::map<std::string, double> rates;

private:
    std::set<std::string> medians;
};

// The most heap that loading the map held at once: its text, moved into the
// document as the game's loader does, and every value built from it.
std::size_t load_peak()
{
    test::heap::start_count();
    {
        std::string text = map_text();
        kesp::Json_doc doc(std::move(text));
        benchmark::DoNotOptimize(doc.root());
    }
    return test::heap::stop_count();
}

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    // glibc raises its thresholds for mapping a big block and for giving freed
    // memory back whenever a mapped block is freed, so the blocks of one run would
    // decide whether the next run's are reused or mapped afresh and faulted in page
    // by page. Fixed high, they let every run reuse its own memory.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
    auto text_size = static_cast<double>(map_text().size());
    auto peak = static_cast<double>(load_peak());
    std::printf("map text: %.2f MB, heap peak of loading it: %.2f MB (%.1f x the text)\n", text_size / 1e6,
                peak / 1e6, peak / text_size);
    Rates rates;
    benchmark::RunSpecifiedBenchmarks(&rates);
    benchmark::Shutdown();

    auto& r = rates.rates;
    for (const auto& [name, rate] : r)
        std::printf("%-14s %8.1f MB/s\n", name.c_str(), rate / 1e6);
    auto ratio = [&](const char* other, const char* goal) {
        if (r.count("kesp_json") && r.count(other))
            std::printf("kesp_json / %-14s %5.2f  (goal %s)\n", other, r["kesp_json"] / r[other], goal);
    };
    ratio("rapidjson_dom", ">= 0.9");
    ratio("nlohmann_json", ">= 3");
    return 0;
}
