// Where the program's files are: search lists for data and settings, and single
// directories for state, cache and runtime files, all taken from the environment.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace kesp {

// An ordered search list: the system directories first, the user's directory last.
struct Dirs {
    Dirs(const std::filesystem::path& home, const std::string& list);

    // The first directory that holds rel, joined with it; an empty path (after
    // logging every directory searched) when none does. A directory that can't
    // be searched holds nothing.
    std::filesystem::path r(const std::filesystem::path& rel) const;
    // rel in the user's directory, with its missing folders made.
    std::filesystem::path w(const std::filesystem::path& rel) const;

    std::vector<std::filesystem::path> roots;
};

// One directory.
struct Home {
    explicit Home(const std::filesystem::path& dir);

    std::filesystem::path r(const std::filesystem::path& rel) const;
    std::filesystem::path w(const std::filesystem::path& rel) const;

    std::filesystem::path dir;
};

struct Paths {
    Paths();
    ~Paths();

    Dirs data;
    Dirs config;
    Home state;
    Home cache;
    Home runtime;
};

extern Paths paths;

}  // namespace kesp
