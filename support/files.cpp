#include "support/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <random>

namespace kesp {

namespace {

namespace fs = std::filesystem;

// Links followed before giving up, as the system does.
constexpr int _max_links = 40;

// Tries at a name of its own for the new file before giving up.
constexpr int _max_names = 100;

class Fd {
public:
    explicit Fd(int fd = -1) : fd(fd) {}
    ~Fd() { close(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    explicit operator bool() const { return fd >= 0; }
    int get() const { return fd; }
    void reset(int other) {
        close();
        fd = other;
    }
    // The result of closing, which for a written file may be its last error.
    int close() {
        int r = fd >= 0 ? ::close(fd) : 0;
        fd = -1;
        return r;
    }

private:
    int fd;
};

std::string errno_text() { return std::strerror(errno); }

std::string larger_than(std::size_t limit) {
    constexpr std::size_t mib = std::size_t{1} << 20;
    if (limit >= mib && limit % mib == 0) return "larger than " + std::to_string(limit / mib) + " MiB";
    return "larger than " + std::to_string(limit) + " bytes";
}

// Follows the links that file names, to the file at the end of the chain, which
// need not exist. Empty, or why it can't be found.
std::string follow_links(fs::path& file, struct stat& status, bool& exists) {
    for (int links = 0;; ++links) {
        if (::lstat(file.c_str(), &status) != 0) {
            exists = false;
            return errno == ENOENT ? std::string() : errno_text();
        }
        exists = true;
        if (!S_ISLNK(status.st_mode)) return {};
        if (links == _max_links) return std::strerror(ELOOP);
        std::error_code ec;
        fs::path next = fs::read_symlink(file, ec);
        if (ec) return ec.message();
        file = next.is_absolute() ? next : file.parent_path() / next;
    }
}

// A name beside file that no one else is likely to pick at the same moment; the
// exclusive create settles the rest.
fs::path temporary_name(const fs::path& file, std::mt19937_64& random) {
    static const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string suffix = ".tmp-";
    for (int i = 0; i < 8; ++i) suffix += digits[random() % (sizeof digits - 1)];
    fs::path name = file;
    name += suffix;
    return name;
}

// Removes the new file unless it has been renamed into place.
struct Unlink_unless_kept {
    const fs::path& file;
    bool kept = false;
    ~Unlink_unless_kept() {
        if (!kept) ::unlink(file.c_str());
    }
};

std::string write_all(int fd, std::string_view text) {
    while (!text.empty()) {
        ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno_text();
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return {};
}

// So that the rename itself survives a power cut; a folder that can't be flushed
// (some file systems refuse) still holds the new file.
void flush_folder(const fs::path& folder) {
    Fd dir(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir) ::fsync(dir.get());
}

}  // namespace

std::string read_file(const fs::path& file, std::size_t limit) {
    limit = std::min(limit, std::string().max_size() - 1);
    // Without O_NONBLOCK a pipe with no writer would hold the open for ever.
    Fd in(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!in) throw Read_error(false, errno_text());
    struct stat status {};
    if (::fstat(in.get(), &status) != 0) throw Read_error(true, errno_text());
    if (!S_ISREG(status.st_mode)) throw Read_error(true, "not a regular file");
    const auto size = static_cast<std::uintmax_t>(status.st_size);
    if (size > limit) throw Read_error(true, larger_than(limit));

    // Room for one byte more than the file claims, so that the read sees its end
    // without growing the text; a file that grows meanwhile is read on up to one
    // byte past the limit.
    std::string text(static_cast<std::size_t>(size) + 1, '\0');
    std::size_t got = 0;
    for (;;) {
        if (got == text.size()) {
            if (got > limit) throw Read_error(true, larger_than(limit));
            text.resize(std::min(limit + 1, std::max<std::size_t>(got * 2, 4096)));
        }
        ssize_t n = ::read(in.get(), text.data() + got, text.size() - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw Read_error(true, errno_text());
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    text.resize(got);
    return text;
}

std::string replace_file(const fs::path& file, std::string_view text) {
    fs::path target = file;
    struct stat old {};
    bool exists = false;
    if (std::string why = follow_links(target, old, exists); !why.empty()) return why;
    // A new file gets what the player's umask allows; a replaced one keeps its mode.
    mode_t mode = 0666;
    if (exists) {
        if (S_ISDIR(old.st_mode)) return std::strerror(EISDIR);
        if (!S_ISREG(old.st_mode)) return "not a regular file";
        // Its owner's wish holds even for a user whom the permissions don't stop.
        // Nothing else of the file counts: the rename needs only its folder, so a
        // file left by another user (root, after a run under sudo) is replaced.
        if (!(old.st_mode & S_IWUSR)) return "the file is read-only";
        mode = old.st_mode & 0777;
    }

    std::mt19937_64 random(static_cast<std::uint64_t>(::getpid()) ^
                           static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::path temp;
    Fd out;
    for (int i = 0; !out && i < _max_names; ++i) {
        temp = temporary_name(target, random);
        // O_EXCL never opens what is there already, a link included.
        out.reset(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
        if (!out && errno != EEXIST) return "can't create " + temp.string() + ": " + errno_text();
    }
    if (!out) return "can't create a file of its own beside it";
    Unlink_unless_kept cleanup{temp};
    // The umask may have taken bits of the old mode away; none are written yet.
    if (exists && ::fchmod(out.get(), mode) != 0) return "can't set the permissions of " + temp.string() + ": " + errno_text();
    if (std::string why = write_all(out.get(), text); !why.empty())
        return "can't write " + temp.string() + ": " + why;
    if (::fsync(out.get()) != 0 || out.close() != 0) return "can't write " + temp.string() + ": " + errno_text();
    if (::rename(temp.c_str(), target.c_str()) != 0) return "can't replace it: " + errno_text();
    cleanup.kept = true;
    flush_folder(target.parent_path());
    return {};
}

}  // namespace kesp
