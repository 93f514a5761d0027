#include "common/process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace test {

namespace {

void drain(int out_fd, int err_fd, Result& r) {
    pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
    std::string* sinks[2] = {&r.out, &r.err};
    int open = 2;
    char buf[4096];
    while (open > 0) {
        if (poll(fds, 2, -1) < 0) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<std::size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
}

std::string set_file_size_limit(rlim_t bytes) {
    rlimit limit{};
    if (getrlimit(RLIMIT_FSIZE, &limit) != 0) return std::strerror(errno);
    limit.rlim_cur = bytes;
    return setrlimit(RLIMIT_FSIZE, &limit) == 0 ? std::string() : std::strerror(errno);
}

}  // namespace

std::string limit_file_size(std::uint64_t bytes) {
    if (std::signal(SIGXFSZ, SIG_IGN) == SIG_ERR) return std::strerror(errno);
    return set_file_size_limit(bytes);
}

File_size_limit::File_size_limit(std::uint64_t bytes) : old(RLIM_INFINITY), old_handler(std::signal(SIGXFSZ, SIG_IGN)) {
    rlimit limit{};
    if (getrlimit(RLIMIT_FSIZE, &limit) == 0) old = limit.rlim_cur;
    if (std::string why = set_file_size_limit(bytes); !why.empty()) {
        std::signal(SIGXFSZ, old_handler);
        throw std::runtime_error("can't limit the file size: " + why);
    }
}

File_size_limit::~File_size_limit() {
    set_file_size_limit(old);
    std::signal(SIGXFSZ, old_handler);
}

Result run(const std::vector<std::string>& argv, const std::vector<std::string>& env,
           const std::filesystem::path& cwd) {
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) throw std::runtime_error("pipe failed");
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        close(out[0]);
        close(err[0]);
        close(out[1]);
        close(err[1]);
        for (const std::string& e : env) {
            std::size_t eq = e.find('=');
            if (eq == std::string::npos)
                unsetenv(e.c_str());
            else
                setenv(e.substr(0, eq).c_str(), e.c_str() + eq + 1, 1);
        }
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(127);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    Result r;
    drain(out[0], err[0], r);
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

Temp_dir::Temp_dir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quorla-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    dir = pattern;
}

Temp_dir::~Temp_dir() {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
}

std::map<std::string, std::string> folder_tree(const std::filesystem::path& root) {
    namespace fs = std::filesystem;
    std::map<std::string, std::string> tree;
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(root)) {
        std::string& what = tree[e.path().lexically_relative(root).string()];
        switch (e.symlink_status().type()) {
        case fs::file_type::regular: what = read_file(e.path()); break;
        case fs::file_type::directory: what = "<folder>"; break;
        case fs::file_type::symlink: what = "-> " + fs::read_symlink(e.path()).string(); break;
        default: what = "<other>"; break;
        }
    }
    return tree;
}

void write_file(const std::filesystem::path& path, const std::string& text) {
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
    std::ofstream f(path, std::ios::binary);
    f << text;
    if (!f) throw std::runtime_error("can't write " + path.string());
}

std::string read_file(const std::filesystem::path& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

}  // namespace test
