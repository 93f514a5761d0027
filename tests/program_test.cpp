// The real program on the test's X display, with its own directories: the ways
// it ends and what each of them leaves on disk.
#include "common/game_files.h"
#include "common/gl_window.h"
#include "common/permissions.h"
#include "common/process.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <X11/Xlib.h>  // last: its macros would clash with the headers above

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string _program = QUORLA_BINARY;

// The window small and off full screen, so the program runs in any test display.
const std::string _settings =
    "[media]\n"
    "width = 400\n"
    "height = 300\n"
    "full = 0\n"
    "vsync = 0\n";

// One room with a floor, the player standing on it.
const std::string _map =
    R"({"width":20,"height":10,"tilewidth":8,"tileheight":8,"properties":[{"name":"title","value":"Test"}],)"
    R"("tilesets":[{"tilecount":1,"imagewidth":8,"imageheight":8,"image":"tiles.png","tiles":[{"id":0,"type":"solid"}]}],)"
    R"("layers":[{"type":"tilelayer","data":[)"
    "0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,"
    "0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,"
    "0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,"
    "0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,"
    "0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,"
    "0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,"
    "0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,"
    "0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,"
    "1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,"
    "1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1"
    R"(]},{"type":"objectgroup","objects":[)"
    R"({"type":"player","name":"","x":76,"y":48,"width":8,"height":16},)"
    R"({"type":"room","name":"","x":0,"y":0,"width":160,"height":80}]}]})";

// The program running in the background, its output going to files. prepare
// runs in the new process before the program starts.
class Child {
public:
    Child(const std::vector<std::string>& argv, const std::vector<std::string>& env, const fs::path& out,
          const fs::path& err, const std::function<void()>& prepare = {}) {
        pid = fork();
        if (pid != 0) return;
        int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (o < 0 || e < 0 || dup2(o, 1) < 0 || dup2(e, 2) < 0) _exit(127);
        if (prepare) prepare();
        for (const std::string& v : env) {
            std::size_t eq = v.find('=');
            setenv(v.substr(0, eq).c_str(), v.c_str() + eq + 1, 1);
        }
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    ~Child() {
        if (running()) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool running() {
        if (status != unfinished) return false;
        int s = 0;
        if (waitpid(pid, &s, WNOHANG) != pid) return true;
        status = WIFEXITED(s) ? WEXITSTATUS(s) : -1;
        return false;
    }
    // The exit status; killed after the time limit, -1 then as for a signal.
    int wait(std::chrono::milliseconds limit) {
        for (auto end = std::chrono::steady_clock::now() + limit; running();) {
            if (std::chrono::steady_clock::now() > end) {
                kill(pid, SIGKILL);
                waitpid(pid, nullptr, 0);
                return status = -1;
            }
            std::this_thread::sleep_for(20ms);
        }
        return status;
    }

    pid_t pid = -1;

private:
    static constexpr int unfinished = -2;
    int status = unfinished;
};

test::Result xdotool(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"/usr/bin/env", "xdotool"};
    argv.insert(argv.end(), args.begin(), args.end());
    return test::run(argv);
}

// The X window of a running child, or empty once it ends or after the time limit.
std::string window_of(Child& child, std::chrono::milliseconds limit) {
    for (auto end = std::chrono::steady_clock::now() + limit;
         child.running() && std::chrono::steady_clock::now() < end;) {
        test::Result r = xdotool({"search", "--pid", std::to_string(child.pid)});
        if (r.status == 0 && !r.out.empty()) return r.out.substr(0, r.out.find('\n'));
        std::this_thread::sleep_for(50ms);
    }
    return {};
}

// A connection of the test's own to its display, whose keys reach the one window
// named and no other. xdotool types through XTEST whenever that window has the
// focus, and the server hands an XTEST key, and the repeats of one held down, to
// whatever window has the focus when they get there: on a busy machine the
// window of another test on the same display, as every new window takes it.
class X_display {
public:
    X_display() : display(XOpenDisplay(nullptr)) {}
    explicit operator bool() const { return display != nullptr; }

    // A key press or release, named by its keysym, sent to the window itself.
    bool key(const std::string& window, const char* name, bool down) {
        XEvent e{};
        e.xkey.type = down ? KeyPress : KeyRelease;
        e.xkey.window = std::stoul(window);
        e.xkey.root = DefaultRootWindow(display.get());
        e.xkey.time = CurrentTime;
        e.xkey.same_screen = True;
        e.xkey.keycode = XKeysymToKeycode(display.get(), XStringToKeysym(name));
        return e.xkey.keycode != 0 && send(e.xkey.window, down ? KeyPressMask : KeyReleaseMask, e);
    }
    // A key pressed and let go.
    bool key(const std::string& window, const char* name) {
        return key(window, name, true) && key(window, name, false);
    }

    // Asks the window to close, as a window manager does for its close button.
    bool close(const std::string& window) {
        XEvent e{};
        e.xclient.type = ClientMessage;
        e.xclient.window = std::stoul(window);
        e.xclient.message_type = XInternAtom(display.get(), "WM_PROTOCOLS", False);
        e.xclient.format = 32;
        e.xclient.data.l[0] = static_cast<long>(XInternAtom(display.get(), "WM_DELETE_WINDOW", False));
        e.xclient.data.l[1] = CurrentTime;
        return send(e.xclient.window, NoEventMask, e);
    }

private:
    bool send(Window window, long mask, XEvent& e) {
        const bool sent = XSendEvent(display.get(), window, False, mask, &e) != 0;
        XFlush(display.get());
        return sent;
    }

    struct Close {
        void operator()(Display* d) const { XCloseDisplay(d); }
    };
    std::unique_ptr<Display, Close> display;
};

void expect_starts(const std::string& text, const std::string& start) {
    EXPECT_EQ(text.substr(0, start.size()), start) << text;
}

class Program_test : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "no X display (run under Xvfb)";
        ASSERT_TRUE(x) << "can't open the display " << std::getenv("DISPLAY");
        test::write_file(map, _map);
        test::Surface tile = test::make_image(8, 8, [](int, int) { return test::rgba(200, 120, 60, 255); });
        ASSERT_TRUE(tile);
        ASSERT_NO_FATAL_FAILURE(test::save_image(tile.get(), map.parent_path() / "tiles.png"));
    }

    // Private directories; sheets and sounds from the build's data tree. The GL
    // driver's allocations at exit are not the program's: no leak report. GCC
    // 12's runtime can take the GL driver's TLS block for an old glibc's and die
    // at exit: no interception of __tls_get_addr.
    std::vector<std::string> env(std::vector<std::string> extra = {}) const {
        const char* asan = std::getenv("ASAN_OPTIONS");
        std::vector<std::string> e{
            "HOME=" + (tmp / "home").string(),
            "XDG_CONFIG_HOME=" + (tmp / "config").string(),
            "XDG_CONFIG_DIRS=" + (tmp / "system").string(),
            "XDG_STATE_HOME=" + (tmp / "state").string(),
            "XDG_DATA_HOME=" + (tmp / "data").string(),
            "XDG_CACHE_HOME=" + (tmp / "cache").string(),
            "XDG_DATA_DIRS=" QUORLA_DATA_ROOT,
            "SDL_AUDIODRIVER=dummy",
            std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":detect_leaks=0:intercept_tls_get_addr=0",
        };
        e.insert(e.end(), extra.begin(), extra.end());
        return e;
    }
    fs::path user_settings() const { return tmp / "config" / "quorla" / "game.cfg"; }
    fs::path system_settings() const { return tmp / "system" / "quorla" / "game.cfg"; }
    fs::path state(const char* name) const { return tmp / "state" / "quorla" / name; }

    // Starts the program on the test map and finds its window.
    void start(const std::function<void()>& prepare = {}, const std::vector<std::string>& extra = {}) {
        child = std::make_unique<Child>(std::vector<std::string>{_program, map.string()}, env(extra), tmp / "out.txt",
                                        tmp / "err.txt", prepare);
        window = window_of(*child, 60s);
        ASSERT_FALSE(window.empty()) << "no window\n" << test::read_file(tmp / "err.txt");
    }

    X_display x;
    test::Temp_dir tmp;
    fs::path map = tmp / "map" / "level.tmj";
    std::unique_ptr<Child> child;
    std::string window;
};

TEST_F(Program_test, TheMenuActionSavesTheSettingsAndWritesTheMobAtlas) {
    test::write_file(user_settings(), _settings);
    ASSERT_NO_FATAL_FAILURE(start());
    EXPECT_TRUE(x.key(window, "Right", true));
    std::this_thread::sleep_for(200ms);
    EXPECT_TRUE(x.key(window, "Escape"));
    EXPECT_EQ(child->wait(30s), 0) << test::read_file(tmp / "err.txt");
    // Written anew in full: the values read, then every binding.
    std::string saved = test::read_file(user_settings());
    expect_starts(saved, "\n" + _settings + "fps = 60\n\n[input]\n");
    EXPECT_NE(saved.find("\nmenu = key(Escape) "), std::string::npos) << saved;
    EXPECT_TRUE(test::load_image(state("mobs.png")));
}

TEST_F(Program_test, ClosingTheWindowEndsAtOnceWritingNothing) {
    test::write_file(user_settings(), _settings);
    ASSERT_NO_FATAL_FAILURE(start());
    // Once the map is loaded the game is playing.
    for (int i = 0; i < 600 && !fs::exists(state("bkgr.png")); ++i) std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(fs::exists(state("bkgr.png")));
    EXPECT_TRUE(x.close(window));
    EXPECT_EQ(child->wait(30s), 0) << test::read_file(tmp / "err.txt");
    EXPECT_EQ(test::read_file(user_settings()), _settings);
    EXPECT_FALSE(fs::exists(state("mobs.png")));
}

TEST_F(Program_test, AMissingMapEndsWithItsNameAndStatusOne) {
    test::write_file(system_settings(), _settings);
    fs::path missing = tmp / "map" / "nowhere.tmj";
    test::Result r = test::run({_program, missing.string()}, env());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("quorla: can't open \"" + missing.string() + "\"\n"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(user_settings()));
}

TEST_F(Program_test, AFailedMediaSetUpStillSavesTheSettings) {
    test::write_file(system_settings(), _settings + "fps = 30\n");
    test::Result r = test::run({_program, map.string()}, env({"SDL_VIDEODRIVER=no-such-driver"}));
    EXPECT_EQ(r.status, 1);
    expect_starts(test::read_file(user_settings()), "\n" + _settings + "fps = 30\n\n[input]\n");
    EXPECT_FALSE(fs::exists(state("bkgr.png")));
}

// For a child about to run the program: a step of its preparation that failed,
// with why, ends it before the program starts.
void prepared(const char* step, const std::string& why) {
    if (why.empty()) return;
    std::fprintf(stderr, "%s: %s\n", step, why.c_str());
    _exit(126);
}

// Root gives up its power over the permission bits, so that a folder's mode
// stops the game as it stops a player.
void obey_permissions() { prepared("can't give up root's override", test::obey_permissions()); }

// The settings file's faults, with the real program.
class Program_settings : public Program_test {
protected:
    std::string err() const { return test::read_file(tmp / "err.txt"); }

    // Once the map is loaded the game plays; then the menu action ends it. The
    // exit status.
    int play_and_quit() {
        for (int i = 0; i < 600 && err().find("INFO: Playing ") == std::string::npos; ++i)
            std::this_thread::sleep_for(50ms);
        EXPECT_NE(err().find("INFO: Playing "), std::string::npos) << err();
        EXPECT_TRUE(x.key(window, "Escape"));
        return child->wait(30s);
    }

    std::map<std::string, std::string> settings_folder() const { return test::folder_tree(user_settings().parent_path()); }

    // Nothing went wrong with the settings: no error at all, no warning naming them.
    void expect_no_settings_problem() const {
        const std::string text = err();
        EXPECT_EQ(text.find("ERROR: "), std::string::npos) << text;
        EXPECT_EQ(text.find("WARN: " + user_settings().string()), std::string::npos) << text;
    }
};

// No window can have it: the default stays with a warning naming the file and
// the key, the save writes the default, and the next start works as well.
TEST_F(Program_settings, AnImpossibleWindowSizeKeepsTheDefaultSoTheNextStartWorks) {
    const std::string size = "[media]\nheight = 300\nfull = 0\nvsync = 0\n";
    test::write_file(user_settings(), size + "width = 99999999999999999999\n");
    ASSERT_NO_FATAL_FAILURE(start());
    EXPECT_EQ(play_and_quit(), 0) << err();
    EXPECT_NE(err().find("WARN: " + user_settings().string() + ": width = 99999999999999999999 is not "),
              std::string::npos)
        << err();
    expect_starts(test::read_file(user_settings()), "\n[media]\nwidth = -1\nheight = 300\n");

    fs::remove(state("bkgr.png"));
    ASSERT_NO_FATAL_FAILURE(start());
    EXPECT_EQ(play_and_quit(), 0) << err();
    EXPECT_EQ(err().find(user_settings().string() + ": "), std::string::npos) << err();
}

// The folder can't be written, for root too: the game plays and ends as usual,
// the old file stays byte for byte with nothing beside it, and the error names
// the file.
TEST_F(Program_settings, ASaveThatFailsKeepsTheOldFileAndEndsWithStatusOne) {
    test::write_file(user_settings(), _settings);
    const std::map<std::string, std::string> before = settings_folder();
    test::Read_only_dir locked(user_settings().parent_path());
    ASSERT_NO_FATAL_FAILURE(start(obey_permissions));
    EXPECT_EQ(play_and_quit(), 1) << err();
    EXPECT_EQ(settings_folder(), before);
    EXPECT_NE(err().find("ERROR: " + user_settings().string() + ": can't save the settings: "), std::string::npos)
        << err();
    EXPECT_TRUE(test::load_image(state("mobs.png")));
}

// Refused before anything else: one last line names the file, nothing hangs on
// a device or a pipe, and nothing is saved, so the odd file stays as it was.
TEST_F(Program_settings, ASettingsFileThatIsNoSettingsFileEndsTheProgramNamingIt) {
    struct Case { const char* name; void (*make)(const fs::path& file); const char* why; };
    const Case cases[] = {
        {"folder", [](const fs::path& f) { fs::create_directories(f); }, "not a regular file"},
        {"device", [](const fs::path& f) { fs::create_symlink("/dev/zero", f); }, "not a regular file"},
        {"pipe", [](const fs::path& f) { ASSERT_EQ(mkfifo(f.c_str(), 0644), 0); }, "not a regular file"},
        {"over 1 MiB", [](const fs::path& f) { test::write_file(f, std::string((1 << 20) + 1, '\n')); },
         "larger than 1 MiB"},
        {"syntax", [](const fs::path& f) { test::write_file(f, "[media]\nfps\t= 30\n"); }, "syntax error"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(user_settings().parent_path());
        fs::create_directories(user_settings().parent_path());
        ASSERT_NO_FATAL_FAILURE(c.make(user_settings()));
        const std::map<std::string, std::string> before = settings_folder();
        Child program({_program, map.string()}, env(), tmp / "out.txt", tmp / "err.txt");
        EXPECT_EQ(program.wait(30s), 1);
        const std::string line = "quorla: " + user_settings().string() + ": can't read the settings: " + c.why + "\n";
        const std::string text = err();
        EXPECT_EQ(text.substr(text.size() - std::min(text.size(), line.size())), line) << text;
        EXPECT_EQ(settings_folder(), before);
        EXPECT_FALSE(fs::exists(state("bkgr.png")));
    }
}

// The last line of a text, without its line feed.
std::string last_line(const std::string& text) {
    std::string t = text.substr(0, text.find_last_not_of('\n') + 1);
    return t.substr(t.rfind('\n') + 1);
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    std::size_t at = text.find(from);
    return at == std::string::npos ? "(no " + from + ")" : text.replace(at, from.size(), to);
}

TEST_F(Program_test, AMapThatCannotBePlayedEndsInOneLineNamingTheFileAndThePlace) {
    struct Case {
        const char* what;
        std::string text;
        bool image;            // the tileset image is beside the map
        std::string refusal;   // after "quorla: "<map>": "
        bool whole = true;     // else the platform's reason follows
    };
    const std::string image = (map.parent_path() / "tiles.png").string();
    const Case cases[] = {
        {"a value of the wrong type", replaced(_map, R"("type":"tilelayer")", R"("type":7)"), true,
         "layers[0].type: expected a string"},
        {"a missing key", replaced(_map, R"("height":10,)", ""), true, "height: missing, expected a number"},
        {"a tile beyond the tileset", replaced(_map, "1,1,", "1,2,"), true,
         "layers[0].data[161]: tile number 2 is beyond the tileset's \"tilecount\" 1"},
        {"a syntax error", _map.substr(0, 100), true, "line 1: syntax error"},
        {"a missing tileset image", _map, false, "tilesets[0].image: can't use \"" + image + "\": ", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::write_file(map, c.text);
        if (!c.image) fs::remove(image);
        test::write_file(user_settings(), _settings);
        Child program({_program, map.string()}, env(), tmp / "out.txt", tmp / "err.txt");
        EXPECT_EQ(program.wait(60s), 1);
        std::string err = test::read_file(tmp / "err.txt");
        std::string want = "quorla: \"" + map.string() + "\": " + c.refusal;
        std::string last = last_line(err);
        if (c.whole)
            EXPECT_EQ(last, want) << err;
        else
            EXPECT_TRUE(last.size() > want.size() && last.substr(0, want.size()) == want) << err;
        EXPECT_EQ(err.find("Playing"), std::string::npos) << err;
        EXPECT_EQ(test::read_file(user_settings()), _settings);
    }
}

// Refused before the game starts, without waiting on a pipe or reading a device
// or a huge file: one last line names the map and why.
TEST_F(Program_test, AMapThatIsNoMapFileEndsInOneLineNamingIt) {
    struct Case {
        const char* what;
        fs::path file;
        void (*make)(const fs::path& file);
        const char* why;
    };
    const Case cases[] = {
        {"a folder", map.parent_path() / "", [](const fs::path&) {}, "not a regular file"},
        {"a device", tmp / "zero.tmj", [](const fs::path& f) { fs::create_symlink("/dev/zero", f); }, "not a regular file"},
        {"a pipe", tmp / "pipe.tmj", [](const fs::path& f) { ASSERT_EQ(mkfifo(f.c_str(), 0644), 0); },
         "not a regular file"},
        {"too large", tmp / "huge.tmj",
         [](const fs::path& f) {
             test::write_file(f, "");
             fs::resize_file(f, (std::uintmax_t{256} << 20) + 1);
         },
         "larger than 256 MiB"},
    };
    test::write_file(user_settings(), _settings);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_NO_FATAL_FAILURE(c.make(c.file));
        Child program({_program, c.file.string()}, env(), tmp / "out.txt", tmp / "err.txt");
        EXPECT_EQ(program.wait(60s), 1);
        const std::string err = test::read_file(tmp / "err.txt");
        EXPECT_EQ(last_line(err), "quorla: \"" + c.file.string() + "\": " + c.why) << err;
        EXPECT_EQ(test::read_file(user_settings()), _settings);
    }
}

// Folders the game can't use, as a player may have them: the game plays on and
// says in a warning what it could not do, and the settings are saved as ever.
TEST_F(Program_settings, FoldersTheGameCantUseAreNoHindranceToPlay) {
    const std::string bkgr = "WARN: can't write \"" + state("bkgr.png").string() + "\": ";
    const std::string mobs = "WARN: can't write \"" + state("mobs.png").string() + "\": ";
    struct Case {
        const char* what;
        std::function<void()> make;
        bool locked;  // the state folder can't be written
        std::vector<std::string> lines;
    };
    std::error_code ignored;  // a folder that isn't there
    const Case cases[] = {
        {"a state folder that can't be made", [&] { test::write_file(tmp / "state", "a file"); }, false,
         {bkgr + "can't make the folder ", mobs + "can't make the folder "}},
        {"a state folder that can't be written", [&] { fs::create_directories(tmp / "state"); }, true,
         {bkgr + "can't make the folder " + (tmp / "state" / "quorla").string() + ": Permission denied"}},
        {"an image's name taken by a folder", [&] { fs::create_directories(state("bkgr.png")); }, false,
         {bkgr + "Is a directory\n"}},
        // passed over like a missing one, without a word: the user's settings are read
        {"a system settings folder that can't be searched",
         [&] {
             test::write_file(system_settings(), "[media]\nwidth = 640\n");
             fs::permissions(tmp / "system", fs::perms::owner_read);
         },
         false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(tmp / "state");
        fs::remove_all(tmp / "system");
        test::write_file(user_settings(), _settings);
        c.make();
        std::optional<test::Read_only_dir> locked;
        if (c.locked) locked.emplace(tmp / "state");
        ASSERT_NO_FATAL_FAILURE(start(obey_permissions));
        EXPECT_EQ(play_and_quit(), 0) << err();
        for (const std::string& line : c.lines) EXPECT_NE(err().find(line), std::string::npos) << line << "\n" << err();
        if (c.lines.empty()) {
            EXPECT_EQ(err().find((tmp / "system").string()), std::string::npos) << err();
        }
        EXPECT_EQ(err().find("filesystem error"), std::string::npos) << err();
        expect_starts(test::read_file(user_settings()), "\n" + _settings);
        fs::permissions(tmp / "system", fs::perms::owner_all, ignored);
    }
}

// A disk too full for the atlas images, made by a file size limit: each one
// that doesn't fit is a warning, and none is ever left cut off; an old image
// stays as it was.
TEST_F(Program_settings, AnAtlasImageTheDiskCantHoldIsAWarningAndNeverCutOff) {
    // Noise, which no encoder packs below 64 KiB: 256 tiles of it. The limit
    // holds for the game's log too, which stays far below it.
    constexpr std::uint64_t limit = 32 << 10;
    ASSERT_NO_FATAL_FAILURE(test::save_image(test::noise_image(128, 128).get(), map.parent_path() / "tiles.png"));
    test::write_file(map, replaced(_map, R"("imagewidth":8,"imageheight":8)", R"("imagewidth":128,"imageheight":128)"));
    const std::string warning = "WARN: can't write \"" + state("bkgr.png").string() + "\": can't write ";
    struct Case { const char* what; std::string old; };
    const Case cases[] = {{"no image yet", ""}, {"an old image", "the old image"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(tmp / "state");
        if (!c.old.empty()) test::write_file(state("bkgr.png"), c.old);
        test::write_file(user_settings(), _settings);
        ASSERT_NO_FATAL_FAILURE(start([] {
            prepared("can't limit the file size", test::limit_file_size(limit));
        }));
        EXPECT_EQ(play_and_quit(), 0) << err();
        const std::string text = err();
        ASSERT_LT(text.size(), limit) << "the log itself ran into the limit";
        const std::size_t at = text.find(warning);
        ASSERT_NE(at, std::string::npos) << text;
        EXPECT_NE(text.substr(at, text.find('\n', at) - at).find(std::strerror(EFBIG)), std::string::npos) << text;
        // Each image is whole or not there; nothing is left beside them.
        auto after = test::folder_tree(tmp / "state" / "quorla");
        if (c.old.empty())
            EXPECT_EQ(after.count("bkgr.png"), 0u);
        else
            EXPECT_EQ(after["bkgr.png"], c.old);
        after.erase("bkgr.png");
        if (after.count("mobs.png")) {
            EXPECT_TRUE(test::load_image(state("mobs.png")));
            after.erase("mobs.png");
        }
        EXPECT_TRUE(after.empty()) << after.begin()->first;
        expect_starts(test::read_file(user_settings()), "\n" + _settings);
    }
}

// What the player made of game.cfg stays theirs: a file made read-only is not
// replaced, and a link that names a file yet to be made gets it made there.
TEST_F(Program_settings, ASettingsFileThePlayerKeepsIsNotReplaced) {
    const fs::path kept = tmp / "config" / "kept" / "game.cfg";
    struct Case {
        const char* what;
        std::function<void()> make;
        int status;
        std::string error;  // a line that stderr holds; empty: none about the settings
        fs::path saved;     // where the saved settings go; empty: nowhere
    };
    const Case cases[] = {
        {"made read-only",
         [&] {
             test::write_file(user_settings(), _settings);
             fs::permissions(user_settings(), fs::perms::owner_read | fs::perms::group_read);
         },
         1, "ERROR: " + user_settings().string() + ": can't save the settings: the file is read-only", {}},
        {"a link to a file yet to be made",
         [&] {
             fs::create_directories(user_settings().parent_path());
             fs::create_directories(kept.parent_path());
             fs::create_symlink("../kept/game.cfg", user_settings());
         },
         0, "", kept},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(tmp / "config");
        c.make();
        const auto before = test::folder_tree(tmp / "config");
        ASSERT_NO_FATAL_FAILURE(start(obey_permissions));
        EXPECT_EQ(play_and_quit(), c.status) << err();
        if (c.error.empty())
            expect_no_settings_problem();
        else
            EXPECT_NE(err().find(c.error), std::string::npos) << err();
        auto after = test::folder_tree(tmp / "config");
        if (!c.saved.empty()) {
            const std::string name = c.saved.lexically_relative(tmp / "config").string();
            expect_starts(after[name], "\n[media]\nwidth = -1\n");
            after.erase(name);
        }
        EXPECT_EQ(after, before);
    }
}

// A data folder of the test's own at root: the build's data, each file linked
// where wanted says so, so that the test can put its own in the others' place.
void link_data(const fs::path& root, const std::function<bool(const fs::path& file)>& wanted) {
    const fs::path shipped = QUORLA_DATA_ROOT;
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(shipped)) {
        const fs::path mine = root / e.path().lexically_relative(shipped);
        if (e.is_directory())
            fs::create_directories(mine);
        else if (wanted(mine))
            fs::create_symlink(e.path(), mine);
    }
}

// What a map or a data folder names and the game can't read: a pipe that no one
// writes, a folder, a file the player may not read.
struct Unreadable {
    const char* what;
    void (*make)(const fs::path& file);
    const char* why;
};

const Unreadable _unreadables[] = {
    {"a pipe", [](const fs::path& f) { ASSERT_EQ(mkfifo(f.c_str(), 0644), 0); }, "not a regular file"},
    {"a folder", [](const fs::path& f) { fs::create_directories(f); }, "not a regular file"},
    {"a file the player may not read",
     [](const fs::path& f) {
         test::write_file(f, "secret");
         fs::permissions(f, fs::perms::none);
     },
     "Permission denied"},
};

// Which of the files that the game reads is one it can't.
enum class Asset { tileset_image, music, sound, sheet };

class Program_assets : public Program_settings, public testing::WithParamInterface<Asset> {};

// Never waited on, each named with the reason: a tileset image the map can't do
// without refuses the map; a sound, a sheet or the music is left out of play.
TEST_P(Program_assets, AFileTheGameCantReadIsNamedWithTheReasonAndNeverWaitedOn) {
    const Asset asset = GetParam();
    const fs::path data = tmp / "data-dirs";
    test::write_silent_wav(map.parent_path() / "music.wav", 22050);
    const std::string music = R"([{"name":"title","value":"Test"},{"name":"music","value":")" +
                              std::string(asset == Asset::music ? "spoiled.wav" : "music.wav") + R"("}])";
    std::string text = replaced(_map, R"([{"name":"title","value":"Test"}])", music);
    if (asset == Asset::tileset_image) text = replaced(text, R"("image":"tiles.png")", R"("image":"spoiled.png")");
    test::write_file(map, text);
    for (const Unreadable& u : _unreadables) {
        SCOPED_TRACE(u.what);
        fs::remove_all(data);
        test::write_file(user_settings(), _settings);
        fs::path file;
        switch (asset) {
        case Asset::tileset_image: file = map.parent_path() / "spoiled.png"; break;
        case Asset::music: file = map.parent_path() / "spoiled.wav"; break;
        case Asset::sound: file = data / "quorla" / "sound" / "jump.wav"; break;
        case Asset::sheet: file = data / "quorla" / "texture" / "player_idle.png"; break;
        }
        link_data(data, [&](const fs::path& mine) { return mine != file; });
        ASSERT_NO_FATAL_FAILURE(u.make(file));
        const std::vector<std::string> dirs{"XDG_DATA_DIRS=" + data.string()};
        if (asset == Asset::tileset_image) {
            Child program({_program, map.string()}, env(dirs), tmp / "out.txt", tmp / "err.txt", obey_permissions);
            EXPECT_EQ(program.wait(60s), 1) << err();
            EXPECT_EQ(last_line(err()), "quorla: \"" + map.string() + "\": tilesets[0].image: can't use \"" +
                                            file.string() + "\": " + u.why)
                << err();
            EXPECT_EQ(err().find("Playing"), std::string::npos) << err();
        } else {
            ASSERT_NO_FATAL_FAILURE(start(obey_permissions, dirs));
            EXPECT_EQ(play_and_quit(), 0) << err();
            EXPECT_NE(err().find("ERROR: \"" + file.string() + "\": " + u.why + "\n"), std::string::npos) << err();
        }
        fs::remove_all(file);
    }
}

std::string asset_name(const testing::TestParamInfo<Asset>& info) {
    static const char* const names[] = {"TilesetImage", "Music", "Sound", "Sheet"};
    return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Each, Program_assets,
                         testing::Values(Asset::tileset_image, Asset::music, Asset::sound, Asset::sheet), asset_name);

// Whether a user who owns none of it may read what path names, through every
// folder above it.
bool others_may_reach(const fs::path& path) {
    for (fs::path p = fs::absolute(path); p != p.parent_path(); p = p.parent_path()) {
        const fs::perms perms = fs::status(p).permissions();
        const fs::perms needed = p == fs::absolute(path) ? fs::perms::others_read : fs::perms::others_exec;
        if ((perms & needed) == fs::perms::none) return false;
    }
    return true;
}

// The program runs as another user, the player.
void become_player() { prepared("can't become the player", test::become_player()); }

// One run under sudo left game.cfg owned by root in the player's own folder.
// The player can't write it, but the folder is theirs, and a save replaces the
// file through the folder: it is saved as any other, and becomes theirs.
TEST_F(Program_settings, ASettingsFileLeftByRootInThePlayersFolderIsReplaced) {
    if (geteuid() != 0) GTEST_SKIP() << "only root can leave a file of its own to another user";
    for (const fs::path& reached : {fs::path(_program), fs::path(QUORLA_DATA_ROOT)})
        if (!others_may_reach(reached)) GTEST_SKIP() << "the player may not reach " << reached;
    test::write_file(user_settings(), _settings);
    fs::permissions(user_settings(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                         fs::perms::others_read);
    std::vector<std::string> extra;
    // The player may not read root's key to the display: a copy of their own.
    if (const char* key = std::getenv("XAUTHORITY"); key && *key) {
        fs::copy_file(key, tmp / "xauthority");
        extra.push_back("XAUTHORITY=" + (tmp / "xauthority").string());
    }
    ASSERT_EQ(test::give_to_player(tmp.path()), "");
    ASSERT_EQ(chown(user_settings().c_str(), 0, 0), 0) << std::strerror(errno);

    ASSERT_NO_FATAL_FAILURE(start(become_player, extra));
    EXPECT_EQ(play_and_quit(), 0) << err();
    expect_no_settings_problem();
    expect_starts(test::read_file(user_settings()), "\n" + _settings);
    struct stat saved {};
    ASSERT_EQ(stat(user_settings().c_str(), &saved), 0);
    EXPECT_EQ(saved.st_uid, test::_player);
    EXPECT_EQ(saved.st_mode & 07777, 0644u);
    EXPECT_EQ(settings_folder().size(), 1u);  // nothing left beside it
}

using Program_music = Program_settings;

// The game plays and the menu action ends it, whatever its music: none asks for
// nothing and logs nothing, a tune loops, and one the mixer can't loop plays at
// most once after a warning naming it, without flooding the log or blocking the
// game.
TEST_F(Program_music, AMapPlaysAndEndsWhateverItsMusic) {
    const fs::path empty_midi = map.parent_path() / "empty.mid";
    test::write_empty_midi(empty_midi);
    test::write_file(map.parent_path() / "tune.mid", test::midi_tune(1));
    test::write_file(map.parent_path() / "cut.mid", test::midi_tune(1).substr(0, 30));
    // As a download cut short.
    const fs::path header_cut = map.parent_path() / "header.mid";
    test::write_file(header_cut, test::midi_tune_cut_in_a_track_header());
    const fs::path wrap = map.parent_path() / "wrap.mid";
    test::write_file(wrap, test::midi_file({test::midi_wrapped_time(16)}));
    const std::string timeless = "\": can't loop music that lasts no time; it plays at most once\n";
    const std::string unreadable =
        "\": can't loop a MIDI file cut short or malformed; it plays at most once, and nothing if cut short\n";
    struct Case { const char* what; std::string properties; std::string warning; };
    const Case cases[] = {
        {"no music", R"([{"name":"title","value":"Test"}])", ""},
        {"a MIDI tune", R"([{"name":"music","value":"tune.mid"}])", ""},
        {"music of zero length", R"([{"name":"music","value":"empty.mid"}])",
         "WARN: \"" + empty_midi.string() + timeless},
        {"a MIDI file cut short", R"([{"name":"music","value":"cut.mid"}])",
         "WARN: \"" + (map.parent_path() / "cut.mid").string() + unreadable},
        {"a MIDI file cut inside a later track's length", R"([{"name":"music","value":"header.mid"}])",
         "WARN: \"" + header_cut.string() + unreadable},
        {"a MIDI file whose time wraps to none", R"([{"name":"music","value":"wrap.mid"}])",
         "WARN: \"" + wrap.string() + timeless},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::write_file(map, replaced(_map, R"([{"name":"title","value":"Test"}])", c.properties));
        test::write_file(user_settings(), _settings);
        ASSERT_NO_FATAL_FAILURE(start());
        EXPECT_EQ(play_and_quit(), 0) << err().substr(0, 4096);
        const std::string text = err();
        EXPECT_LT(text.size(), 64u * 1024) << text.substr(0, 4096);
        EXPECT_EQ(text.find("ERROR: "), std::string::npos) << text.substr(0, 4096);
        if (c.warning.empty())
            EXPECT_EQ(text.find("WARN: \""), std::string::npos) << text;
        else
            EXPECT_NE(text.find(c.warning), std::string::npos) << text.substr(0, 4096);
    }
}

// What SDL's disk audio driver wrote: 16-bit stereo frames at 44100 Hz.
class Heard {
public:
    explicit Heard(std::string raw) : raw(std::move(raw)) {}

    // The seconds of sound held.
    double length() const { return static_cast<double>(frames()) / _rate; }
    // When the first sample louder than a faint tail is heard, if ever.
    std::optional<double> first_sound() const { return next_sound(0, frames()); }
    // Whether a sound is heard between two times.
    bool sound_between(double from, double to) const {
        return next_sound(frame_at(from), frame_at(to)).has_value();
    }

private:
    static constexpr int _rate = 44100;
    static constexpr int _loud = 1000;  // a woodblock strikes at some 12000; its tail stays below within 40 ms

    std::size_t frames() const { return raw.size() / 4; }
    std::size_t frame_at(double t) const {
        return std::min(frames(), static_cast<std::size_t>(std::max(0.0, t) * _rate));
    }
    std::optional<double> next_sound(std::size_t from, std::size_t to) const {
        for (std::size_t f = from; f < to; ++f)
            for (std::size_t c = 0; c < 2; ++c) {
                const std::size_t at = f * 4 + c * 2;
                const auto v = static_cast<std::int16_t>(static_cast<unsigned char>(raw[at]) |
                                                         static_cast<unsigned char>(raw[at + 1]) << 8);
                if (v > _loud || v < -_loud) return static_cast<double>(f) / _rate;
            }
        return std::nullopt;
    }

    std::string raw;
};

// The map's music heard through SDL's disk audio driver while the game plays.
// The game's own sounds are silent here.
class Program_heard : public Program_settings {
protected:
    struct Recording {
        Heard heard;
        double playing;  // the seconds heard when the map began to play
    };

    // Plays the map with the MIDI file as its music, until `after` seconds are
    // heard past its first sound or, when none comes, past the map's start,
    // however long the load took; then ends the game.
    void hear(const std::string& midi, double after, std::optional<Recording>& got) {
        const fs::path data = tmp / "data-dirs";
        if (!fs::exists(data))
            link_data(data, [](const fs::path& f) {
                if (f.extension() != ".wav") return true;
                test::write_silent_wav(f, 64);
                return false;
            });
        test::write_file(map.parent_path() / "music.mid", midi);
        test::write_file(map, replaced(_map, R"([{"name":"title","value":"Test"}])",
                                       R"([{"name":"title","value":"Test"},{"name":"music","value":"music.mid"}])"));
        test::write_file(user_settings(), _settings);
        const fs::path audio = tmp / "audio.raw";
        fs::remove(audio);
        ASSERT_NO_FATAL_FAILURE(start({}, {"SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + audio.string(),
                                           "XDG_DATA_DIRS=" + data.string()}));
        std::optional<double> playing;
        auto enough = [&](const Heard& heard) {
            return playing && heard.length() > heard.first_sound().value_or(*playing) + after;
        };
        for (auto end = std::chrono::steady_clock::now() + 60s; std::chrono::steady_clock::now() < end;) {
            const Heard heard(test::read_file(audio));
            if (!playing && err().find("INFO: Playing ") != std::string::npos) playing = heard.length();
            if (enough(heard)) break;
            std::this_thread::sleep_for(100ms);
        }
        EXPECT_EQ(play_and_quit(), 0) << err();
        ASSERT_TRUE(playing) << err();
        const Heard heard(test::read_file(audio));
        ASSERT_TRUE(enough(heard)) << "only " << heard.length() << " s heard, the map playing from " << *playing
                                   << " s\n" << err();
        got = Recording{heard, *playing};
    }
};

// MIDI music loops with the mixer's own loop. A tune of half a second strikes
// its woodblock again on each half second after the first, which a tune played
// once never does, however late it starts.
TEST_F(Program_heard, AMidiTuneIsHeardAgainAfterItsOwnLength) {
    std::optional<Recording> got;
    ASSERT_NO_FATAL_FAILURE(hear(test::midi_tune(1), 2, got));
    const Heard& heard = got->heard;
    const std::optional<double> first = heard.first_sound();
    ASSERT_TRUE(first) << "nothing heard in " << heard.length() << " s\n" << err();
    for (int again = 1; again <= 3; ++again)
        EXPECT_TRUE(heard.sound_between(*first + 0.5 * again - 0.05, *first + 0.5 * again + 0.05))
            << "no strike " << 0.5 * again << " s after the first, at " << *first << " s";
    EXPECT_EQ(err().find("can't loop"), std::string::npos) << err();
}

// A MIDI file the mixer won't loop plays at most once: one that FluidSynth
// reads strikes once and never again, and one cut short, of which FluidSynth
// plays nothing, is as silent as a map without music, the tracks before the
// cut included.
TEST_F(Program_heard, AMidiFileThatWontLoopIsHeardAtMostOnce) {
    struct Case { const char* what; std::string file; bool heard; };
    const Case cases[] = {
        {"running status after a meta event", test::midi_tune_after_meta(), true},
        {"a tune cut inside its second track's length", test::midi_tune_cut_in_a_track_header(), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::optional<Recording> got;
        ASSERT_NO_FATAL_FAILURE(hear(c.file, 3, got));
        const Heard& heard = got->heard;
        EXPECT_NE(err().find("can't loop a MIDI file"), std::string::npos) << err();
        const std::optional<double> first = heard.first_sound();
        if (!c.heard) {
            EXPECT_FALSE(first) << "heard at " << *first << " s, the map playing from " << got->playing << " s";
            continue;
        }
        ASSERT_TRUE(first) << "nothing heard in " << heard.length() << " s\n" << err();
        EXPECT_FALSE(heard.sound_between(*first + 0.3, heard.length()))
            << "heard again after the first strike, at " << *first << " s";
    }
}

}  // namespace
