#include "game/conf.h"

#include "common/log_record.h"
#include "common/permissions.h"
#include "common/process.h"
#include "support/input.h"
#include "support/media.h"
#include "support/paths.h"

#include <SDL_log.h>
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace kesp {

// Found by argument lookup from the assertions.
bool operator==(const Conf& a, const Conf& b) {
    return a.width == b.width && a.height == b.height && a.full == b.full && a.vsync == b.vsync &&
           a.fps == b.fps;
}

void PrintTo(const Conf& c, std::ostream* os) {
    *os << "{" << c.width << ", " << c.height << ", " << c.full << ", " << c.vsync << ", " << c.fps << "}";
}

}  // namespace kesp

namespace {

using namespace kesp;

const char* const default_text =
    "\n"
    "[media]\n"
    "width = -1\n"
    "height = -1\n"
    "full = 1\n"
    "vsync = 1\n"
    "fps = 60\n"
    "\n"
    "[input]\n"
    "left = key(Left) key(J) gbutton(dpleft) gaxis-(leftx) jhat_l(0) jaxis-(0) \n"
    "right = key(Right) key(L) gbutton(dpright) gaxis+(leftx) jhat_r(0) jaxis+(0) \n"
    "up = key(Up) key(I) gbutton(dpup) gaxis-(lefty) jhat_u(0) jaxis-(1) \n"
    "down = key(Down) key(K) gbutton(dpdown) gaxis+(lefty) jhat_d(0) jaxis+(1) \n"
    "accept = key(X) gbutton(a) jbutton(0) \n"
    "cancel = key(Z) gbutton(b) jbutton(2) \n"
    "start = key(Return) gbutton(start) jbutton(7) \n"
    "menu = key(Escape) gbutton(back) jbutton(6) \n";

std::vector<std::string> warnings;

void record_log(void*, int, SDL_LogPriority priority, const char* message) {
    if (priority == SDL_LOG_PRIORITY_WARN) warnings.push_back(message);
}

// Settings in a fresh folder: a system-wide configuration directory "sys" searched
// before the user's "user".
class Settings : public testing::Test {
protected:
    void SetUp() override {
        saved_config = paths.config;
        paths.config = Dirs(dir / "user", (dir / "sys").string());
        conf = Conf{-1, -1, true, true, 60};
        inputs.clear();
        SDL_LogGetOutputFunction(&old_log, &old_log_data);
        SDL_LogSetOutputFunction(record_log, nullptr);
        warnings.clear();
    }
    void TearDown() override {
        SDL_LogSetOutputFunction(old_log, old_log_data);
        paths.config = saved_config;
        conf = Conf{-1, -1, true, true, 60};
        inputs.clear();
    }

    fs::path user_file() const { return dir / "user/quorla/game.cfg"; }
    fs::path sys_file() const { return dir / "sys/quorla/game.cfg"; }

    // Loads text as the user's file and gives what a save then writes.
    std::string load_and_save(const std::string& text) {
        test::write_file(user_file(), text);
        EXPECT_TRUE(conf_load());
        EXPECT_TRUE(conf_save());
        return test::read_file(user_file());
    }

    test::Temp_dir dir;

private:
    Dirs saved_config{{}, {}};
    SDL_LogOutputFunction old_log = nullptr;
    void* old_log_data = nullptr;
};

TEST_F(Settings, WithoutAFileTheDefaultsStandAndAreSaved) {
    EXPECT_FALSE(conf_load());
    EXPECT_EQ(conf, (Conf{-1, -1, true, true, 60}));
    ASSERT_EQ(inputs.size(), 8u);
    EXPECT_EQ(inputs[4].catches, (std::vector<Catch>{Catch_scancode{SDL_SCANCODE_X},
                                                     Catch_gbutton{SDL_CONTROLLER_BUTTON_A},
                                                     Catch_jbutton{0}}));
    EXPECT_TRUE(conf_save());
    EXPECT_EQ(test::read_file(user_file()), default_text);
}

TEST_F(Settings, AnEmptyFileIsReadAsTheDefaults) {
    for (const char* text : {"", "[media]\n", "\n[input]\n"}) {
        inputs.clear();
        EXPECT_EQ(load_and_save(text), default_text) << text;
    }
}

TEST_F(Settings, ValuesReadAsTheirFieldsRead) {
    struct Case { const char* text; Conf result; };
    const Case cases[] = {
        {"", {-1, -1, true, true, 60}},
        {"[media]\n", {-1, -1, true, true, 60}},
        {"[media]\nfps = 30\n", {-1, -1, true, true, 30}},
        {"[media]\nwidth = 640px\nheight = 720 wide\nfull = true\nvsync = 2\n", {640, 720, false, true, 60}},
        {"[media]\nwidth = 800\nwidth = 640\nfull =\n", {800, -1, true, true, 60}},
        {"[Media]\nfps = 30\n[media]\nFPS = 20\nfull = 0\n", {-1, -1, false, true, 60}},
        {"fps = 30\n[input]\nfps = 30\n[other]\nx = 1\n", {-1, -1, true, true, 60}},
    };
    for (const Case& k : cases) {
        conf = Conf{-1, -1, true, true, 60};
        test::write_file(user_file(), k.text);
        EXPECT_TRUE(conf_load()) << k.text;
        EXPECT_EQ(conf, k.result) << k.text;
    }
    EXPECT_TRUE(warnings.empty());
}

// No window can have such a size and every time step divides by the frame rate:
// the default stays, so the next save writes it and the next start works.
TEST_F(Settings, NumbersTheGameCannotUseKeepTheDefaultWithAWarning) {
    struct Case { const char* key; std::int32_t Conf::*field; const char* value; std::int32_t result; bool refused; };
    const Case cases[] = {
        {"width", &Conf::width, "-1", -1, false},  // negative: the desktop's size
        {"width", &Conf::width, "-5", -5, false},
        {"height", &Conf::height, "-99999999999999999999", INT32_MIN, false},
        {"width", &Conf::width, "1", 1, false},
        {"height", &Conf::height, "16384", 16384, false},
        {"width", &Conf::width, "0", -1, true},
        {"height", &Conf::height, "0", -1, true},
        {"width", &Conf::width, "16385", -1, true},
        {"height", &Conf::height, "99999999999999999999", -1, true},
        {"width", &Conf::width, "abc", -1, true},  // reads as 0
        {"fps", &Conf::fps, "1", 1, false},
        {"fps", &Conf::fps, "0", 60, true},
        {"fps", &Conf::fps, "-30", 60, true},
        {"fps", &Conf::fps, "none", 60, true},
    };
    for (const Case& c : cases) {
        const std::string line = std::string(c.key) + " = " + c.value;
        SCOPED_TRACE(line);
        conf = Conf{-1, -1, true, true, 60};
        warnings.clear();
        test::write_file(user_file(), "[media]\n" + line + "\n");
        EXPECT_TRUE(conf_load());
        Conf want{-1, -1, true, true, 60};
        want.*c.field = c.result;
        EXPECT_EQ(conf, want);
        if (c.refused) {
            ASSERT_EQ(warnings.size(), 1u);
            EXPECT_EQ(warnings[0].rfind(user_file().string() + ": " + line + " is not ", 0), 0u) << warnings[0];
        } else {
            EXPECT_TRUE(warnings.empty()) << warnings[0];
        }
    }
}

TEST_F(Settings, BindingListsAreKeptOrCut) {
    test::write_file(user_file(),
                     "[input]\n"
                     "left =\n"                            // empty: defaults stay
                     "right = bogus(1) key(A)\n"           // nothing valid: defaults stay
                     "up = key(W) bogus(1) key(A)\n"       // cut at the first invalid one
                     "down = jbutton(3)jhat_d(1)\n"
                     "accept = key(Space)\n"
                     "accept = key(A)\n"                   // the first occurrence counts
                     "Cancel = key(C)\n");                 // names are case-sensitive
    EXPECT_TRUE(conf_load());
    std::vector<Input> loaded = std::move(inputs);
    conf_init();
    EXPECT_EQ(loaded[0].catches, inputs[0].catches);
    EXPECT_EQ(loaded[1].catches, inputs[1].catches);
    EXPECT_EQ(loaded[2].catches, (std::vector<Catch>{Catch_scancode{SDL_SCANCODE_W}}));
    EXPECT_EQ(loaded[3].catches, (std::vector<Catch>{Catch_jbutton{3}, Catch_jhat<4>{1}}));
    EXPECT_EQ(loaded[4].catches, (std::vector<Catch>{Catch_scancode{SDL_SCANCODE_SPACE}}));
    EXPECT_EQ(loaded[5].catches, inputs[5].catches);
}

TEST_F(Settings, ASaveMakesTheFileCanonical) {
    std::string saved = load_and_save(
        "junk = 1\n[media]\nfps=30\nvsync = 0 # off\nextra = 2\n"
        "[input]\nmenu = key(escape)   gbutton(BACK)\nstart = key(q\n[more]\nleft = key(A)\n");
    std::string expected = default_text;
    auto replace = [&](const std::string& from, const std::string& to) {
        expected.replace(expected.find(from), from.size(), to);
    };
    replace("vsync = 1", "vsync = 0");
    replace("fps = 60", "fps = 30");
    replace("start = key(Return) gbutton(start) jbutton(7) ", "start = key(Q) ");
    replace("menu = key(Escape) gbutton(back) jbutton(6) ", "menu = key(Escape) gbutton(back) ");
    EXPECT_EQ(saved, expected);
    // And reading the canonical file back changes nothing.
    EXPECT_EQ(load_and_save(saved), saved);
}

TEST_F(Settings, ASystemFileShadowsTheUsersFile) {
    test::write_file(sys_file(), "[media]\nfps = 30\n");
    test::write_file(user_file(), "[media]\nfps = 50\n");
    EXPECT_TRUE(conf_load());
    EXPECT_EQ(conf.fps, 30);
    conf.fps = 45;
    EXPECT_TRUE(conf_save());
    EXPECT_NE(test::read_file(user_file()).find("fps = 45\n"), std::string::npos);
    EXPECT_EQ(test::read_file(sys_file()), "[media]\nfps = 30\n");
    EXPECT_TRUE(conf_load());
    EXPECT_EQ(conf.fps, 30);
}

TEST_F(Settings, ABrokenFileThrowsAfterTheDefaultsAreSet) {
    test::write_file(user_file(), "[media]\nfps\t= 30\n");
    testing::internal::CaptureStderr();
    EXPECT_THROW(conf_load(), std::runtime_error);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("syntax error"), std::string::npos);
    EXPECT_EQ(inputs.size(), 8u);
}

// The error names the file, since any of the configuration directories may hold
// it. Nothing reads without end: a device, a folder or a huge file is refused
// before or while it is read.
TEST_F(Settings, AFileThatIsNoSettingsFileIsRefusedByName) {
    struct Case { const char* name; bool system; void (*make)(const fs::path& file); const char* why; };
    const Case cases[] = {
        {"syntax", true, [](const fs::path& f) { test::write_file(f, "[media]\nfps\t= 30\n"); },
         "syntax error"},
        {"folder", false, [](const fs::path& f) { fs::create_directories(f); }, "not a regular file"},
        {"device", false,
         [](const fs::path& f) {
             fs::create_directories(f.parent_path());
             fs::create_symlink("/dev/zero", f);
         },
         "not a regular file"},
        {"over 1 MiB", false,
         [](const fs::path& f) { test::write_file(f, std::string((1 << 20) + 1, '\n')); },
         "larger than 1 MiB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(dir / "sys");
        fs::remove_all(dir / "user");
        const fs::path file = c.system ? sys_file() : user_file();
        c.make(file);
        testing::internal::CaptureStderr();
        try {
            conf_load();
            ADD_FAILURE() << "read";
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(e.what(), file.string() + ": can't read the settings: " + c.why);
        }
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(inputs.size(), 8u);
    }
}

TEST_F(Settings, AFileOfOneMebibyteIsRead) {
    std::string text = "[media]\nfps = 30\n";
    text.resize(1 << 20, '\n');
    test::write_file(user_file(), text);
    EXPECT_TRUE(conf_load());
    EXPECT_EQ(conf.fps, 30);
}

// Run in a child: root's power over permissions is given up first, so that a
// folder's mode stops the save for every user.
void child_save_fails(bool cut_short, const fs::path& file, const std::string& why) {
    const std::string refused = test::obey_permissions();
    if (!refused.empty()) {
        std::fprintf(stderr, "can't give up root's override: %s\n", refused.c_str());
        std::_Exit(2);
    }
    if (cut_short) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{100, 100};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) std::_Exit(3);
    }
    test::Log_record log;
    conf_init();
    if (conf_save()) std::_Exit(4);
    const std::vector<std::string>& lines = log.problems();
    const std::string start = file.string() + ": can't save the settings: ";
    const bool named = lines.size() == 1 && lines[0].rfind(start, 0) == 0 &&
                       lines[0].find(why) != std::string::npos;
    std::_Exit(named ? 0 : 5);
}

// A save that can't be done leaves the old file as it was, with nothing left
// beside it, and its error names the file and the reason.
TEST_F(Settings, ASaveThatFailsLeavesTheOldFileAsItWas) {
    struct Case {
        const char* name;
        void (*spoil)(const fs::path& file);  // null: nothing
        bool read_only;                       // the file's folder can't be written
        bool cut_short;                       // every write stops after 100 bytes
        const char* why;
    };
    const Case cases[] = {
        {"a file where the folder goes",
         [](const fs::path& f) {
             fs::remove_all(f.parent_path());
             test::write_file(f.parent_path(), "not a folder");
         },
         false, false, "can't make the folder "},
        {"a folder where the file goes",
         [](const fs::path& f) {
             fs::remove(f);
             test::write_file(f / "inside", "x");
         },
         false, false, "Is a directory"},
        {"a read-only folder", nullptr, true, false, "Permission denied"},
        {"a file its owner made read-only", [](const fs::path& f) { fs::permissions(f, fs::perms::owner_read); },
         false, false, "the file is read-only"},
        {"a write cut short", nullptr, false, true, "File too large"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(dir / "user");
        test::write_file(user_file(), "[media]\nfps = 30\n");
        if (c.spoil) c.spoil(user_file());
        const std::map<std::string, std::string> before = test::folder_tree(dir / "user");
        {
            std::optional<test::Read_only_dir> locked;
            if (c.read_only) locked.emplace(user_file().parent_path());
            EXPECT_EXIT(child_save_fails(c.cut_short, user_file(), c.why), testing::ExitedWithCode(0), "");
        }
        EXPECT_EQ(test::folder_tree(dir / "user"), before);
    }
}

// The old file's link and permissions are the player's: the save replaces the
// file the link names, with its mode, and leaves nothing else behind.
TEST_F(Settings, ASaveThroughALinkKeepsTheLinkAndThePermissions) {
    const fs::path real = dir / "elsewhere.cfg";
    test::write_file(real, "[media]\nfps = 30\n");
    const fs::perms mode = fs::perms::owner_read | fs::perms::owner_write;
    fs::permissions(real, mode);
    fs::create_directories(user_file().parent_path());
    fs::create_symlink(real, user_file());
    EXPECT_TRUE(conf_load());
    EXPECT_TRUE(conf_save());
    EXPECT_TRUE(fs::is_symlink(user_file()));
    EXPECT_EQ(fs::status(real).permissions() & fs::perms::all, mode);
    std::string expected = default_text;
    expected.replace(expected.find("fps = 60"), 8, "fps = 30");
    EXPECT_EQ(test::folder_tree(dir.path()), (std::map<std::string, std::string>{{"elsewhere.cfg", expected},
                                                                                {"user", "<folder>"},
                                                                                {"user/quorla", "<folder>"},
                                                                                {"user/quorla/game.cfg", "-> " + real.string()}}));
}

// A link that names no file yet is the player's too: the file is made there.
TEST_F(Settings, ASaveThroughADanglingLinkMakesTheFileItNames) {
    fs::create_directories(user_file().parent_path());
    fs::create_symlink("../kept/game.cfg", user_file());
    fs::create_directories(dir / "user/kept");
    EXPECT_FALSE(conf_load());
    EXPECT_TRUE(conf_save());
    EXPECT_EQ(test::folder_tree(dir / "user"), (std::map<std::string, std::string>{{"kept", "<folder>"},
                                                                               {"kept/game.cfg", default_text},
                                                                               {"quorla", "<folder>"},
                                                                               {"quorla/game.cfg", "-> ../kept/game.cfg"}}));
}

TEST_F(Settings, InitSizesTheTableAndKeepsValues) {
    inputs.resize(3);
    inputs[2].value = 0.5f;
    inputs[2].catches = {Catch_mbutton{1}};
    conf_init();
    ASSERT_EQ(inputs.size(), 8u);
    EXPECT_EQ(inputs[2].value, 0.5f);
    EXPECT_EQ(inputs[2].catches.size(), 6u);
    EXPECT_EQ(inputs[7].value, 0.0f);
}

}  // namespace
