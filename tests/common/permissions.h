// Folders that can't be written, also for a test run as root, which the
// permission bits alone don't stop.
#pragma once

#include <filesystem>
#include <string>

namespace test {

// While it lives, the folder's mode is r-x for everyone; it goes back to rwx for
// its owner after. A process running as root still writes there unless it called
// obey_permissions first.
class Read_only_dir {
public:
    explicit Read_only_dir(const std::filesystem::path& dir);
    ~Read_only_dir();
    Read_only_dir(const Read_only_dir&) = delete;
    Read_only_dir& operator=(const Read_only_dir&) = delete;

private:
    std::filesystem::path dir;
};

// For a forked child: gives up root's power to read, search and write past the
// permission bits, for this process and every program it runs. Nothing to give
// up for another user. Empty, or why it couldn't.
std::string obey_permissions();

// A user other than root, for a test run as root that needs files of two users.
constexpr unsigned _player = 65534;

// For a forked child of root: goes on as _player, in _player's group alone, for
// good. Empty, or why it couldn't.
std::string become_player();

// Makes _player the owner of root and everything under it, links included.
// Empty, or why it couldn't.
std::string give_to_player(const std::filesystem::path& root);

}  // namespace test
