// Reading and replacing whole files safely: nothing waits on a pipe or a device,
// nothing reads without end, and a replaced file is never seen half written.
#pragma once

#include <cstddef>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kesp {

// Why a file could not be read whole. what() is the reason alone, as the platform
// or the check gives it: callers name the file in their own words.
class Read_error : public std::runtime_error {
public:
    Read_error(bool opened, const std::string& why) : std::runtime_error(why), was_opened(opened) {}

    // False when the file could not even be opened (missing, no permission).
    bool opened() const { return was_opened; }

private:
    bool was_opened;
};

// The whole of a regular file of at most limit bytes. One open that never waits
// (a pipe with no writer, a device), then every check on the file opened, so that
// nothing swapped in between is read; the limit holds even for a file that grows
// or whose size is not what its status claims. Throws Read_error.
std::string read_file(const std::filesystem::path& file, std::size_t limit);

// Replaces the contents of file with text in one step: a reader sees the old file
// or the new one, whole. The text goes to a new file of its own beside it (created
// exclusively, never through a link, with the old file's permissions from the
// start), flushed to the disk, then renamed over file. A link named file stays a
// link, dangling or not: the file it names is written. A file that its owner made
// read-only, or that is not a regular file, is left alone. Empty, or why the file
// was not replaced; it is then as it was, with nothing left beside it.
std::string replace_file(const std::filesystem::path& file, std::string_view text);

}  // namespace kesp
