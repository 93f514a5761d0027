// Running a program as a subprocess, and temporary folders, for tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace test {

struct Result {
    int status = -1;  // exit status, or -1 when the process did not exit normally
    std::string out;
    std::string err;
};

// Runs argv[0] with the given arguments. env entries "NAME=value" set a variable,
// "NAME" alone removes it; the rest of this process's environment is kept.
Result run(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
           const std::filesystem::path& cwd = {});

// A fresh empty folder, removed with everything in it when the object goes.
class Temp_dir {
public:
    Temp_dir();
    ~Temp_dir();
    Temp_dir(const Temp_dir&) = delete;
    Temp_dir& operator=(const Temp_dir&) = delete;

    const std::filesystem::path& path() const { return dir; }
    std::filesystem::path operator/(const std::filesystem::path& rel) const { return dir / rel; }

private:
    std::filesystem::path dir;
};

// Every name under root, by its path relative to root: a file with its bytes, a
// folder as "<folder>", a link as "-> " and what it names, anything else as "<other>".
std::map<std::string, std::string> folder_tree(const std::filesystem::path& root);

// Makes a write that would take a file of this process past bytes fail, as on a
// full disk, with EFBIG instead of the signal that would end the process. Kept
// across exec, for a child about to run a program. Empty, or why it can't.
std::string limit_file_size(std::uint64_t bytes);

// The limit while the object lives; the old one comes back when it goes.
class File_size_limit {
public:
    explicit File_size_limit(std::uint64_t bytes);
    ~File_size_limit();
    File_size_limit(const File_size_limit&) = delete;
    File_size_limit& operator=(const File_size_limit&) = delete;

private:
    std::uint64_t old;
    void (*old_handler)(int);
};

// Writes text to a file, making its folders.
void write_file(const std::filesystem::path& path, const std::string& text);
std::string read_file(const std::filesystem::path& path);

}  // namespace test
