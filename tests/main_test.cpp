// The program's command line, run as a real subprocess.
#include "common/process.h"

#include <gtest/gtest.h>

namespace {

const std::string program = QUORLA_BINARY;
const std::string usage = "Usage: " + program + " [-h] [-v] [PATH]\n\n";
const std::string options =
    "Options:\n"
    "  -h    Display this information and exit.\n"
    "  -v    Display version string and exit.\n"
    "\n";

TEST(CommandLine, OptionsEndTheProcessAsTheyCome) {
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out;
        std::string err_has;  // empty: nothing at all on standard error
    };
    const Case cases[] = {
        {{"-v"}, 0, "1.0.0\n", ""},
        {{"-v", "-h"}, 0, "1.0.0\n", ""},
        {{"-h"}, 0, usage + options, ""},
        {{"-h", "-v"}, 0, usage + options, ""},
        {{"map.tmj", "-v"}, 0, "1.0.0\n", ""},  // options are found after the path too
        {{"-x", "-h"}, 255, "", usage},
        {{"-x"}, 255, "", "invalid option"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> argv{program};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(testing::PrintToString(c.args));
        test::Result r = test::run(argv);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out, c.out);
        if (c.err_has.empty())
            EXPECT_EQ(r.err, "");
        else
            EXPECT_NE(r.err.find(c.err_has), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("Quorla "), std::string::npos);  // no start-up line
    }
}

TEST(CommandLine, TwoPathsLogTheBuildThenPrintTheUsage) {
    test::Result r = test::run({program, "a", "b"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "");
    std::size_t log = r.err.find("INFO: Quorla ");
    ASSERT_NE(log, std::string::npos) << r.err;
    std::string rev = r.err.substr(log + 13, 40);
    EXPECT_EQ(rev.find_first_not_of("0123456789abcdef"), std::string::npos) << rev;
    EXPECT_EQ(r.err.substr(r.err.size() - usage.size()), usage);
    EXPECT_LT(log, r.err.size() - usage.size());
}

// The build reads the revision at every build, not once when configuring, so a
// commit made since still shows; outside a git checkout it is 40 zeros.
TEST(CommandLine, TheBuildIdentifierIsTheCurrentSourceRevision) {
    test::Result git = test::run({"/usr/bin/env", "git", "-C", QUORLA_SOURCE_DIR, "rev-parse", "HEAD"});
    std::string want = git.status == 0 ? git.out : "0000000000000000000000000000000000000000\n";
    test::Result r = test::run({program, "a", "b"});
    EXPECT_NE(r.err.find("INFO: Quorla " + want), std::string::npos) << r.err << "\nwant " << want;
}

TEST(CommandLine, TheDefaultMapIsSearchedInEveryDataDirectory) {
    test::Temp_dir t;
    test::Result r = test::run({program}, {"SDL_VIDEODRIVER=no-such-driver",
                                           "XDG_DATA_DIRS=" + (t / "a").string() + ":" + (t / "b").string(),
                                           "XDG_DATA_HOME=" + (t / "home").string()});
    EXPECT_NE(r.err.find("quorla/level/princess.tmj: No such file or directory\n"
                         "INFO:   | " + (t / "a").string() + "\n"
                         "INFO:   | " + (t / "b").string() + "\n"
                         "INFO:   | " + (t / "home").string() + "\n"),
              std::string::npos)
        << r.err;
}

TEST(CommandLine, AFailedMediaSetUpEndsWithStatusOne) {
    test::Temp_dir t;
    test::Result r = test::run({program, (t / "map.tmj").string()}, {"SDL_VIDEODRIVER=no-such-driver"});
    EXPECT_EQ(r.status, 1);
}

// SDL 2 falls back to a driver that shows nothing when no display answers: the
// program ends instead, saying what it looked for.
TEST(CommandLine, WithoutADisplayTheErrorNamesIt) {
    test::Temp_dir t;
    test::Result r = test::run({program, (t / "map.tmj").string()}, {"DISPLAY", "WAYLAND_DISPLAY", "SDL_VIDEODRIVER"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("ERROR: no display could be opened (DISPLAY is unset, WAYLAND_DISPLAY is unset)\n"),
              std::string::npos)
        << r.err;
}

TEST(CommandLine, AMissingEnvironmentVariableEndsBeforeAnythingElse) {
    test::Result r = test::run({program, "-v"}, {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME",
                                                 "XDG_STATE_HOME", "XDG_CACHE_HOME"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("unset environment variable 'HOME'"), std::string::npos) << r.err;
}

}  // namespace
