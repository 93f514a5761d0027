// The asset tool's sound recipes, run as a real subprocess: a number that no
// sound can take is refused with its file and line before it becomes a sample
// position or a seed.
#include "common/process.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

const std::string _tool = QUORLA_ASSETS;

// An effect whose one tone, on line 2, has the given options.
std::string effect(const std::string& options) {
    return "sound a.wav\n"
           "tone wave=noise from=440 " + options + "\n"
           "end\n";
}

// A one-pattern song at a tempo, its instrument on line 4 with the given options.
std::string song(const std::string& tempo, const std::string& options) {
    return "music m.wav\n"
           "rate 8000\n"
           "tempo " + tempo + " 4\n"
           "instrument i wave=noise pitch=900 " + options + "\n"
           "pattern p\n"
           "i C4 - x .\n"
           "end\n"
           "song p\n";
}

struct Case {
    const char* what;
    const char* kind;
    std::string recipe;
    std::string error;  // empty: the recipe builds
};

void expect_recipes(const Case* first, const Case* last) {
    for (const Case* c = first; c != last; ++c) {
        SCOPED_TRACE(c->what);
        test::Temp_dir t;
        test::write_file(t / "recipe.txt", c->recipe);
        const test::Result r = test::run({_tool, c->kind, (t / "recipe.txt").string(), (t / "out").string()});
        if (c->error.empty()) {
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_TRUE(std::filesystem::exists(t / "out" / (c->kind == std::string("music") ? "m.wav" : "a.wav")));
        } else {
            EXPECT_EQ(r.status, 1) << r.err;
            EXPECT_EQ(r.err, (t / "recipe.txt").string() + c->error + "\n");
        }
    }
}

TEST(SoundRecipes, EffectsRefuseNumbersNoToneCanTake) {
    const std::string no_number = ": expected a number, got ";
    const std::string seed = ":2: seed must lie between 0 and 4294967295";
    const Case cases[] = {
        {"length not a number", "sounds", effect("length=nan"), ":2" + no_number + "\"nan\""},
        {"infinite length", "sounds", effect("length=inf"), ":2" + no_number + "\"inf\""},
        {"start at minus infinity", "sounds", effect("start=-inf length=0.1"), ":2" + no_number + "\"-inf\""},
        {"length 1e30", "sounds", effect("length=1e30"), ":2: a tone must end within 3600 seconds"},
        {"start 1e30", "sounds", effect("start=1e30 length=0.1"), ":2: a tone must end within 3600 seconds"},
        {"ending past the hour", "sounds", effect("start=3599.95 length=0.1"),
         ":2: a tone must end within 3600 seconds"},
        {"seed -1", "sounds", effect("length=0.01 seed=-1"), seed},
        {"seed 2^32", "sounds", effect("length=0.01 seed=4294967296"), seed},
        {"seed -1e30", "sounds", effect("length=0.01 seed=-1e30"), seed},
        {"seed not a number", "sounds", effect("length=0.01 seed=nan"), ":2" + no_number + "\"nan\""},
        {"the largest seed", "sounds", effect("length=0.01 seed=4294967295.5"), ""},
    };
    expect_recipes(std::begin(cases), std::end(cases));
}

TEST(SoundRecipes, SongsRefuseNumbersNoNoteCanTake) {
    const std::string too_long = ": the song lasts longer than 3600 seconds";
    const Case cases[] = {
        {"tempo not a number", "music", song("nan", ""), ":3: expected a number, got \"nan\""},
        {"infinite tempo", "music", song("inf", ""), ":3: expected a number, got \"inf\""},
        {"tempo 1e-30", "music", song("1e-30", ""), too_long},
        {"a tempo that makes a step infinite", "music", song("1e-307", ""), too_long},
        {"release 1e30", "music", song("120", "release=1e30"), ":4: release must not pass 3600 seconds"},
        {"volume not a number", "music", song("120", "volume=nan"), ":4: expected a number, got \"nan\""},
        {"seed -1", "music", song("120", "seed=-1"), ":4: seed must lie between 0 and 4294967295"},
        {"an ordinary song", "music", song("120", "release=0.02 seed=7"), ""},
    };
    expect_recipes(std::begin(cases), std::end(cases));
}

}  // namespace
