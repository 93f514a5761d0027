#include "support/paths.h"

#include "common/permissions.h"
#include "common/process.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>

namespace fs = std::filesystem;

namespace {

// Sets the variables for one test and restores the old values after it.
class Env {
public:
    void set(const char* name, const std::string& value) {
        remember(name);
        setenv(name, value.c_str(), 1);
    }
    void unset(const char* name) {
        remember(name);
        unsetenv(name);
    }
    ~Env() {
        for (auto& [name, value] : saved) {
            if (value.second) setenv(name.c_str(), value.first.c_str(), 1);
            else unsetenv(name.c_str());
        }
    }

private:
    void remember(const char* name) {
        if (saved.count(name)) return;
        const char* v = std::getenv(name);
        saved[name] = {v ? v : "", v != nullptr};
    }
    std::map<std::string, std::pair<std::string, bool>> saved;
};

const char* const xdg_vars[] = {"XDG_DATA_HOME",  "XDG_DATA_DIRS",   "XDG_CONFIG_HOME",
                                "XDG_CONFIG_DIRS", "XDG_STATE_HOME", "XDG_CACHE_HOME",
                                "XDG_RUNTIME_DIR"};

TEST(Paths, DefaultsFollowHome) {
    Env env;
    for (const char* v : xdg_vars) env.set(v, "");
    env.set("HOME", "/h");
    env.unset("TMPDIR");
    kesp::Paths p;
    EXPECT_EQ(p.data.roots, (std::vector<fs::path>{"/usr/local/share/", "/usr/share/", "/h/.local/share"}));
    EXPECT_EQ(p.config.roots, (std::vector<fs::path>{"/etc/xdg", "/h/.config"}));
    EXPECT_EQ(p.state.dir, fs::path("/h/.local/state"));
    EXPECT_EQ(p.cache.dir, fs::path("/h/.cache"));
    EXPECT_EQ(p.runtime.dir, fs::path("/tmp"));
}

TEST(Paths, VariablesOverrideDefaults) {
    Env env;
    env.set("HOME", "/h");
    env.set("XDG_DATA_HOME", "/dh");
    env.set("XDG_DATA_DIRS", "/a:/b");
    env.set("XDG_CONFIG_HOME", "/ch");
    env.set("XDG_CONFIG_DIRS", "/c1");
    env.set("XDG_STATE_HOME", "/sh");
    env.set("XDG_CACHE_HOME", "/kh");
    env.set("XDG_RUNTIME_DIR", "");
    env.set("TMPDIR", "/t");
    kesp::Paths p;
    EXPECT_EQ(p.data.roots, (std::vector<fs::path>{"/a", "/b", "/dh"}));
    EXPECT_EQ(p.config.roots, (std::vector<fs::path>{"/c1", "/ch"}));
    EXPECT_EQ(p.state.dir, fs::path("/sh"));
    EXPECT_EQ(p.cache.dir, fs::path("/kh"));
    EXPECT_EQ(p.runtime.dir, fs::path("/t"));
    env.set("XDG_RUNTIME_DIR", "/run/u");
    EXPECT_EQ(kesp::Paths().runtime.dir, fs::path("/run/u"));
}

TEST(Paths, MissingHomeEndsTheProcess) {
    EXPECT_EXIT(
        {
            for (const char* v : xdg_vars) unsetenv(v);
            unsetenv("HOME");
            kesp::Paths p;
        },
        testing::ExitedWithCode(255), "unset environment variable 'HOME'");
    EXPECT_EXIT(
        {
            for (const char* v : xdg_vars) unsetenv(v);
            setenv("HOME", "", 1);
            kesp::Paths p;
        },
        testing::ExitedWithCode(255), "unset environment variable 'HOME'");
}

TEST(Paths, HomeIsNotNeededWhenEveryVariableIsSet) {
    Env env;
    for (const char* v : xdg_vars) env.set(v, std::string("/") + v);
    env.unset("HOME");
    kesp::Paths p;
    EXPECT_EQ(p.state.dir, fs::path("/XDG_STATE_HOME"));
}

TEST(Dirs, SplitsTheListKeepingEmptyEntries) {
    struct Case { std::string list; std::vector<fs::path> roots; };
    const Case cases[] = {
        {"/a:/b", {"/a", "/b", "/home"}},
        {"/a::/b", {"/a", "", "/b", "/home"}},
        {":/a", {"", "/a", "/home"}},
        {"/a:", {"/a", "/home"}},
        {"", {"/home"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.list);
        EXPECT_EQ(kesp::Dirs("/home", c.list).roots, c.roots);
    }
}

TEST(Dirs, ReadsFromTheFirstDirectoryThatHoldsThePath) {
    test::Temp_dir t;
    test::write_file(t / "sys2/quorla/game.cfg", "b");
    test::write_file(t / "user/quorla/game.cfg", "u");
    kesp::Dirs dirs(t / "user", (t / "sys1").string() + ":" + (t / "sys2").string());
    EXPECT_EQ(dirs.r("quorla/game.cfg"), t / "sys2/quorla/game.cfg");
    // A system copy shadows the user's; writing still goes to the user's directory.
    EXPECT_EQ(dirs.w("quorla/game.cfg"), t / "user/quorla/game.cfg");
}

// Run in a child that gave up root's power over the permission bits, so that a
// folder's mode stops everyone.
void child_finds(const kesp::Dirs& dirs, const fs::path& rel, const fs::path& want) {
    if (std::string refused = test::obey_permissions(); !refused.empty()) {
        std::fprintf(stderr, "can't give up root's override: %s\n", refused.c_str());
        std::_Exit(2);
    }
    const fs::path found = dirs.r(rel);
    if (found != want) {
        std::fprintf(stderr, "found \"%s\"\n", found.c_str());
        std::_Exit(3);
    }
    std::_Exit(0);
}

// A system folder that the user may not look into holds nothing for the game.
TEST(Dirs, AFolderThatCantBeSearchedIsPassedOverLikeAMissingOne) {
    test::Temp_dir t;
    test::write_file(t / "locked/quorla/game.cfg", "hidden");
    test::write_file(t / "open/quorla/game.cfg", "seen");
    fs::permissions(t / "locked", fs::perms::owner_read);  // listed, not searched
    kesp::Dirs dirs(t / "user", (t / "locked").string() + ":" + (t / "open").string());
    EXPECT_EXIT(child_finds(dirs, "quorla/game.cfg", t / "open/quorla/game.cfg"), testing::ExitedWithCode(0), "");
    EXPECT_EXIT(child_finds(dirs, "quorla/none.cfg", {}), testing::ExitedWithCode(0), "");
    fs::permissions(t / "locked", fs::perms::owner_all);
}

TEST(Dirs, AnEmptyEntrySearchesTheCurrentDirectory) {
    test::Temp_dir t;
    test::write_file(t / "here.txt", "x");
    fs::path old = fs::current_path();
    fs::current_path(t.path());
    kesp::Dirs dirs(t / "nowhere", ":/nonexistent");
    fs::path found = dirs.r("here.txt");
    fs::current_path(old);
    EXPECT_EQ(found, fs::path("here.txt"));
}

TEST(Dirs, AMissingPathIsReportedWithEveryDirectorySearched) {
    kesp::Dirs dirs("/nonexistent/home", "/nonexistent/a:/nonexistent/b");
    testing::internal::CaptureStderr();
    fs::path found = dirs.r("quorla/level/x.tmj");
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(found.empty());
    EXPECT_EQ(err,
              "INFO: quorla/level/x.tmj: No such file or directory\n"
              "INFO:   | /nonexistent/a\n"
              "INFO:   | /nonexistent/b\n"
              "INFO:   | /nonexistent/home\n");
}

TEST(Dirs, WritesCreateTheMissingFolders) {
    test::Temp_dir t;
    kesp::Dirs dirs(t / "user", "");
    fs::path p = dirs.w("quorla/deep/game.cfg");
    EXPECT_EQ(p, t / "user/quorla/deep/game.cfg");
    EXPECT_TRUE(fs::is_directory(t / "user/quorla/deep"));
    EXPECT_FALSE(fs::exists(p));  // the file itself is not made
    EXPECT_EQ(dirs.w("quorla/deep/game.cfg"), p);  // existing folders are fine

    kesp::Home home(t / "state");
    EXPECT_EQ(home.r("quorla/bkgr.png"), t / "state/quorla/bkgr.png");
    EXPECT_FALSE(fs::exists(t / "state"));
    EXPECT_EQ(home.w("quorla/bkgr.png"), t / "state/quorla/bkgr.png");
    EXPECT_TRUE(fs::is_directory(t / "state/quorla"));
}

TEST(Dirs, AFolderThatCannotBeMadeThrows) {
    test::Temp_dir t;
    test::write_file(t / "user/quorla", "a file where a folder should be");
    kesp::Dirs dirs(t / "user", "");
    EXPECT_THROW(dirs.w("quorla/game.cfg"), fs::filesystem_error);
}

}  // namespace
