#include "common/looped_midi.h"

#include <fluidsynth.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <ctime>
#include <stdexcept>
#include <thread>

namespace test {

void play_looped(std::string_view file) {
    for (int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG})
        fluid_set_log_function(level, nullptr, nullptr);
    // As the mixer sets it up for each music: a synthesizer of its own at the
    // mixer's rate, which needs no sound font to read and time the file.
    fluid_settings_t* settings = new_fluid_settings();
    fluid_settings_setnum(settings, "synth.sample-rate", 44100);
    fluid_synth_t* synth = new_fluid_synth(settings);
    fluid_player_t* player = new_fluid_player(synth);
    fluid_player_add_mem(player, file.data(), file.size());
    fluid_player_set_loop(player, -1);
    fluid_player_play(player);
    static std::int16_t samples[2 * 2048];
    auto render = [&] { fluid_synth_write_s16(synth, 2048, samples, 0, 2, samples, 1, 2); };
    for (int block = 0; block < 11; ++block) render();
    fluid_player_stop(player);
    delete_fluid_player(player);
    delete_fluid_synth(synth);
    delete_fluid_settings(settings);
}

namespace {

constexpr int _child_failed = 11;  // a child's status when it failed, not a file

// A child that plays files[from] onwards, writing the index of each one whose
// play returned to out. The first that spends a second of processor time ends it.
[[noreturn]] void play_from(const std::vector<std::string>& files, std::size_t from, std::size_t to, int out) {
    sigevent event{};
    event.sigev_notify = SIGEV_SIGNAL;
    event.sigev_signo = SIGKILL;
    timer_t timer{};
    if (timer_create(CLOCK_PROCESS_CPUTIME_ID, &event, &timer) != 0) _exit(_child_failed);
    for (std::size_t i = from; i < to; ++i) {
        const itimerspec limit{{0, 0}, {1, 0}};  // each file's second starts afresh
        if (timer_settime(timer, 0, &limit, nullptr) != 0) _exit(_child_failed);
        play_looped(files[i]);
        const auto index = static_cast<std::uint32_t>(i);
        if (write(out, &index, sizeof index) != sizeof index) _exit(_child_failed);
    }
    _exit(0);
}

// The files [next, to) are played by one child after another: each file a
// child fails on is recorded, and the next child starts after it.
struct Share {
    std::size_t next, to;
    pid_t child = -1;
    int in = -1;
    std::chrono::steady_clock::time_point heard;

    void start(const std::vector<std::string>& files) {
        int fds[2];
        if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
        child = fork();
        if (child < 0) throw std::runtime_error("fork failed");
        if (child == 0) {
            close(fds[0]);
            play_from(files, next, to, fds[1]);
        }
        close(fds[1]);
        in = fds[0];
        heard = std::chrono::steady_clock::now();
    }

    // After the child's pipe closed or it was silent too long.
    void finish(const std::vector<std::string>& files, std::vector<Never_returns>& never_return, bool silent) {
        if (silent) kill(child, SIGKILL);
        close(in);
        in = -1;
        int status = 0;
        waitpid(child, &status, 0);
        if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && next == to) return;
        if (WIFEXITED(status) && WEXITSTATUS(status) == _child_failed)
            throw std::runtime_error("the child playing the files failed");
        const bool spun = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
        never_return.push_back({next, silent ? "a minute without returning"
                                      : spun ? "a second of processor time without returning"
                                             : "the player crashed"});
        if (++next < to) start(files);
    }
};

}  // namespace

std::vector<Never_returns> files_that_never_return(const std::vector<std::string>& files) {
    const std::size_t children = std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 8);
    const std::size_t size = (files.size() + children - 1) / children;
    std::vector<Share> shares;
    for (std::size_t from = 0; from < files.size(); from += size)
        shares.push_back({from, std::min(files.size(), from + size), -1, -1, {}});
    for (Share& s : shares) s.start(files);
    std::vector<Never_returns> never_return;
    for (;;) {
        std::vector<pollfd> fds;
        std::vector<Share*> open;
        for (Share& s : shares)
            if (s.in >= 0) {
                fds.push_back({s.in, POLLIN, 0});
                open.push_back(&s);
            }
        if (fds.empty()) break;
        if (poll(fds.data(), fds.size(), 1000) < 0 && errno != EINTR) throw std::runtime_error("poll failed");
        const auto now = std::chrono::steady_clock::now();
        for (std::size_t i = 0; i < fds.size(); ++i) {
            Share& s = *open[i];
            std::uint32_t index = 0;
            if (fds[i].revents & POLLIN && read(s.in, &index, sizeof index) == sizeof index) {
                s.next = index + 1;
                s.heard = now;
            } else if (fds[i].revents) {
                s.finish(files, never_return, false);
            } else if (now - s.heard > std::chrono::minutes(1)) {
                s.finish(files, never_return, true);
            }
        }
    }
    std::sort(never_return.begin(), never_return.end(), [](auto& a, auto& b) { return a.file < b.file; });
    return never_return;
}

}  // namespace test
