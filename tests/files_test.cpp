// Reading whole files without waiting or reading without end, and replacing a
// file so that it is never seen half written and what the player keeps stays.
#include "support/files.h"

#include "common/permissions.h"
#include "common/process.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// What read_file gives: the text, or "refused: " / "not opened: " and the reason.
std::string read(const fs::path& file, std::size_t limit) {
    try {
        return kesp::read_file(file, limit);
    } catch (const kesp::Read_error& e) {
        return (e.opened() ? "refused: " : "not opened: ") + std::string(e.what());
    }
}

TEST(Read_file, ReadsARegularFileWholeUpToItsLimit) {
    test::Temp_dir dir;
    struct Case {
        const char* what;
        std::string text;
        std::size_t limit;
        std::string read;  // empty: the text
    };
    const Case cases[] = {
        {"empty", "", 0, ""},
        {"short", "[media]\n", 100, ""},
        {"at the limit", std::string(4096, 'x'), 4096, ""},
        {"a byte over", std::string(4097, 'x'), 4096, "refused: larger than 4096 bytes"},
        {"in mebibytes", std::string((1 << 20) + 1, '\n'), 1 << 20, "refused: larger than 1 MiB"},
        {"bytes of every value", std::string("\0\x01\xff\r\n", 5), 5, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::write_file(dir / "file", c.text);
        EXPECT_EQ(read(dir / "file", c.limit), c.read.empty() ? c.text : c.read);
    }
    fs::create_symlink(dir / "file", dir / "link");
    EXPECT_EQ(read(dir / "link", 5), std::string("\0\x01\xff\r\n", 5));
}

// A folder, a device or a pipe would fail half-way or read without end; a pipe
// with no writer would hold the open itself for ever.
TEST(Read_file, WhatIsNoRegularFileIsRefusedWithoutWaiting) {
    test::Temp_dir dir;
    ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0644), 0);
    ASSERT_EQ(mkfifo((dir / "written pipe").c_str(), 0644), 0);
    // A writer that never writes.
    int writer = open((dir / "written pipe").c_str(), O_RDWR);
    ASSERT_GE(writer, 0);
    fs::create_directories(dir / "folder");
    fs::create_symlink("/dev/zero", dir / "zero");
    for (const char* name : {"pipe", "written pipe", "folder", "zero"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(read(dir / name, 1 << 20), "refused: not a regular file");
    }
    close(writer);
}

TEST(Read_file, AFileThatCantBeOpenedSaysWhy) {
    test::Temp_dir dir;
    test::write_file(dir / "file", "x");
    EXPECT_EQ(read(dir / "missing", 100), "not opened: No such file or directory");
    EXPECT_EQ(read(dir / "file" / "inside", 100), "not opened: Not a directory");
}

// The size a file's status gives is no promise: a file may grow while it is read,
// and the files of /proc claim a size of 0.
TEST(Read_file, TheLimitHoldsWhateverTheSizeClaims) {
    test::Temp_dir dir;
    // A gigabyte that takes no room and is never read.
    {
        int fd = open((dir / "sparse").c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, off_t{1} << 30), 0);
        close(fd);
    }
    EXPECT_EQ(read(dir / "sparse", 256 << 20), "refused: larger than 256 MiB");
    struct stat status {};
    ASSERT_EQ(stat("/proc/self/status", &status), 0);
    ASSERT_EQ(status.st_size, 0);
    EXPECT_EQ(read("/proc/self/status", 16), "refused: larger than 16 bytes");
    EXPECT_EQ(read("/proc/self/status", 1 << 20).substr(0, 5), "Name:");
}

mode_t mode_of(const fs::path& file) {
    struct stat status {};
    EXPECT_EQ(stat(file.c_str(), &status), 0) << file;
    return status.st_mode & 07777;
}

// While it lives, the process's umask is the one given.
class Umask {
public:
    explicit Umask(mode_t mask) : old(umask(mask)) {}
    ~Umask() { umask(old); }
    Umask(const Umask&) = delete;
    Umask& operator=(const Umask&) = delete;

private:
    mode_t old;
};

TEST(Replace_file, WritesANewFileOrReplacesTheOldKeepingItsMode) {
    struct Case {
        const char* what;
        int old_mode;  // -1: no old file
        mode_t mask;
        mode_t mode;
    };
    const Case cases[] = {
        {"a new file", -1, 022, 0644},
        {"a new file, private umask", -1, 077, 0600},
        {"a private file", 0600, 022, 0600},
        // the umask takes nothing away from the player's own choice
        {"a shared file, private umask", 0664, 077, 0664},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::Temp_dir dir;
        const fs::path file = dir / "game.cfg";
        if (c.old_mode >= 0) {
            test::write_file(file, "old text that is longer than the new\n");
            ASSERT_EQ(chmod(file.c_str(), static_cast<mode_t>(c.old_mode)), 0);
        }
        Umask mask(c.mask);
        EXPECT_EQ(kesp::replace_file(file, "new\n"), "");
        EXPECT_EQ(mode_of(file), c.mode);
        EXPECT_EQ(test::folder_tree(dir.path()), (std::map<std::string, std::string>{{"game.cfg", "new\n"}}));
    }
}

// A link is the player's: it stays, and the file at its end is written, even
// when that file doesn't exist yet.
TEST(Replace_file, ALinkStaysALinkEvenDangling) {
    struct Case {
        const char* what;
        std::vector<std::pair<const char*, const char*>> links;  // name, what it names
        bool target_exists;
    };
    const Case cases[] = {
        {"absolute", {{"game.cfg", "@/real/game.cfg"}}, true},
        {"relative", {{"game.cfg", "real/game.cfg"}}, true},
        {"dangling", {{"game.cfg", "real/game.cfg"}}, false},
        {"a chain", {{"game.cfg", "step.cfg"}, {"step.cfg", "@/real/game.cfg"}}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::Temp_dir dir;
        fs::create_directories(dir / "real");
        if (c.target_exists) test::write_file(dir / "real/game.cfg", "old\n");
        std::map<std::string, std::string> want{{"real", "<folder>"}, {"real/game.cfg", "new\n"}};
        for (auto [name, target] : c.links) {
            std::string to = target[0] == '@' ? (dir.path().string() + (target + 1)) : target;
            fs::create_symlink(to, dir / name);
            want[name] = "-> " + to;
        }
        EXPECT_EQ(kesp::replace_file(dir / "game.cfg", "new\n"), "");
        EXPECT_EQ(test::folder_tree(dir.path()), want);
    }
}

// Run in a child, where root gives up its power over the permission bits first.
void child_replace(const fs::path& file, const std::string& why) {
    if (std::string refused = test::obey_permissions(); !refused.empty()) {
        std::fprintf(stderr, "can't give up root's override: %s\n", refused.c_str());
        std::_Exit(2);
    }
    const std::string got = kesp::replace_file(file, "new\n");
    if (got.find(why) == std::string::npos) {
        std::fprintf(stderr, "replace_file said \"%s\"\n", got.c_str());
        std::_Exit(3);
    }
    std::_Exit(0);
}

// Nothing the player keeps is replaced against their will, and a save that
// fails leaves nothing behind.
TEST(Replace_file, WhatMustNotBeReplacedIsLeftAsItWas) {
    struct Case {
        const char* what;
        std::function<void(const fs::path& file)> make;
        const char* why;
        bool read_only_folder = false;
    };
    const Case cases[] = {
        {"a file its owner made read-only",
         [](const fs::path& f) {
             test::write_file(f, "mine\n");
             fs::permissions(f, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
         },
         "the file is read-only"},
        {"a link to a read-only file",
         [](const fs::path& f) {
             test::write_file(f.parent_path() / "real.cfg", "mine\n");
             fs::permissions(f.parent_path() / "real.cfg", fs::perms::owner_read);
             fs::create_symlink("real.cfg", f);
         },
         "the file is read-only"},
        {"a folder", [](const fs::path& f) { test::write_file(f / "inside", "x"); }, "Is a directory"},
        {"a pipe", [](const fs::path& f) { ASSERT_EQ(mkfifo(f.c_str(), 0644), 0); }, "not a regular file"},
        {"a loop of links",
         [](const fs::path& f) {
             fs::create_symlink("b.cfg", f);
             fs::create_symlink(f.filename(), f.parent_path() / "b.cfg");
         },
         "Too many levels of symbolic links"},
        {"a folder that can't be written", [](const fs::path& f) { test::write_file(f, "mine\n"); },
         "Permission denied", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::Temp_dir dir;
        fs::create_directories(dir / "quorla");
        const fs::path file = dir / "quorla" / "game.cfg";
        ASSERT_NO_FATAL_FAILURE(c.make(file));
        const auto before = test::folder_tree(dir.path());
        {
            std::optional<test::Read_only_dir> locked;
            if (c.read_only_folder) locked.emplace(file.parent_path());
            EXPECT_EXIT(child_replace(file, c.why), testing::ExitedWithCode(0), "");
        }
        EXPECT_EQ(test::folder_tree(dir.path()), before);
    }
}

// Run in a child as the player, who owns the folder but not the file.
void child_replace_as_player(const fs::path& file) {
    if (std::string why = test::become_player(); !why.empty()) {
        std::fprintf(stderr, "can't become the player: %s\n", why.c_str());
        std::_Exit(2);
    }
    const std::string got = kesp::replace_file(file, "new\n");
    if (!got.empty()) {
        std::fprintf(stderr, "replace_file said \"%s\"\n", got.c_str());
        std::_Exit(3);
    }
    std::_Exit(0);
}

// A file the player can't write, left by root in the player's folder after a
// run under sudo: the rename needs only the folder, so it is replaced, and the
// new file is the player's, with the old one's mode.
TEST(Replace_file, AFileOfAnotherUserInThePlayersFolderIsReplaced) {
    if (geteuid() != 0) GTEST_SKIP() << "only root can leave a file of its own to another user";
    test::Temp_dir dir;
    const fs::path file = dir / "quorla" / "game.cfg";
    test::write_file(file, "root's\n");
    ASSERT_EQ(test::give_to_player(dir.path()), "");
    ASSERT_EQ(chown(file.c_str(), 0, 0), 0);
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                              fs::perms::others_read);
    EXPECT_EXIT(child_replace_as_player(file), testing::ExitedWithCode(0), "");
    EXPECT_EQ(test::folder_tree(dir.path()), (std::map<std::string, std::string>{
                                                 {"quorla", "<folder>"}, {"quorla/game.cfg", "new\n"}}));
    struct stat status {};
    ASSERT_EQ(stat(file.c_str(), &status), 0);
    EXPECT_EQ(status.st_uid, test::_player);
    EXPECT_EQ(status.st_mode & 07777, 0644u);
}

// A save of an older version, or one cut short, may have left a file or a folder
// under a name of its own: it is no hindrance, and it stays.
TEST(Replace_file, LeftoversBesideTheFileAreNoHindrance) {
    test::Temp_dir dir;
    test::write_file(dir / "game.cfg", "old\n");
    test::write_file(dir / "game.cfg.tmp", "left\n");
    test::write_file(dir / "game.cfg.tmp-folder" / "inside", "x");
    EXPECT_EQ(kesp::replace_file(dir / "game.cfg", "new\n"), "");
    EXPECT_EQ(test::folder_tree(dir.path()), (std::map<std::string, std::string>{
                                                 {"game.cfg", "new\n"},
                                                 {"game.cfg.tmp", "left\n"},
                                                 {"game.cfg.tmp-folder", "<folder>"},
                                                 {"game.cfg.tmp-folder/inside", "x"},
                                             }));
}

// Two games quitting at once: each save is whole, and a reader in between only
// ever sees one whole file or the other.
TEST(Replace_file, SavesAtOnceAreEachWholeAndNeverSeenInPart) {
    test::Temp_dir dir;
    const fs::path file = dir / "game.cfg";
    // Large enough that a plain write would be seen in parts.
    const std::string texts[] = {std::string(1 << 16, 'a') + "\n", std::string(3 << 15, 'b') + "\n"};
    test::write_file(file, texts[0]);
    constexpr int rounds = 100;
    std::vector<pid_t> writers;
    for (const std::string& text : texts) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (int i = 0; i < rounds; ++i)
                if (!kesp::replace_file(file, text).empty()) std::_Exit(1);
            std::_Exit(0);
        }
        writers.push_back(pid);
    }
    std::set<std::string> seen;  // what no save wrote
    std::map<pid_t, int> ended;  // each writer's wait status
    int reads = 0;
    while (ended.size() < writers.size()) {
        const std::string text = test::read_file(file);
        ++reads;
        if (text != texts[0] && text != texts[1]) seen.insert("a text of " + std::to_string(text.size()) + " bytes");
        for (pid_t pid : writers)
            if (int status = 0; !ended.count(pid) && waitpid(pid, &status, WNOHANG) == pid) ended[pid] = status;
    }
    EXPECT_TRUE(seen.empty()) << *seen.begin() << " in " << reads << " reads";
    for (auto [pid, status] : ended) EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    const auto tree = test::folder_tree(dir.path());
    ASSERT_EQ(tree.size(), 1u);
    EXPECT_TRUE(tree.begin()->second == texts[0] || tree.begin()->second == texts[1]);
}

}  // namespace
