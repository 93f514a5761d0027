#include "support/media.h"

#include "common/game_files.h"
#include "common/log_record.h"
#include "common/process.h"

#include <GL/glew.h>
#include <SDL.h>
#include <SDL_mixer.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

TEST(Pacing, FramesAreDueAtWholeMillisecondsFromTheAnchor) {
    kesp::Fps clock{1000, 0};
    // At 60 fps frame k is due at start + floor(k * 1000 / 60).
    const int due[] = {16, 33, 50, 66, 83, 100};
    for (int k = 0; k < 6; ++k) {
        std::int32_t now = 1000 + (k == 0 ? 0 : due[k - 1]);
        EXPECT_EQ(kesp::pace_frame(clock, now, 60), due[k] - (now - 1000)) << "frame " << k + 1;
        EXPECT_EQ(clock.start, 1000);
        EXPECT_EQ(clock.frames, k + 1);
    }
}

TEST(Pacing, ALateOrOnTimeFrameRestartsTheClockWithoutSleeping) {
    struct Case { std::int32_t now; std::int32_t sleep; std::int32_t start; std::int32_t frames; };
    const Case cases[] = {
        {1010, 6, 1000, 1},   // early: sleep the rest, clock unchanged
        {1016, 0, 1016, 0},   // exactly due: restart
        {1040, 0, 1040, 0},   // late: restart at now, never caught up
    };
    for (const Case& c : cases) {
        kesp::Fps clock{1000, 0};
        EXPECT_EQ(kesp::pace_frame(clock, c.now, 60), c.sleep);
        EXPECT_EQ(clock.start, c.start);
        EXPECT_EQ(clock.frames, c.frames);
    }
}

TEST(Pacing, AboveAThousandFramesASecondNeverSleeps) {
    kesp::Fps clock{500, 0};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(kesp::pace_frame(clock, 500, 1500), 0);
        EXPECT_EQ(clock.frames, 0);
    }
}

TEST(Pacing, TheTickCountWrappingAroundKeepsThePace) {
    // The 32-bit tick count passes from its largest value to its smallest.
    constexpr std::uint32_t start = 2147483647u - 5;
    auto at = [](std::uint32_t ms) { return static_cast<std::int32_t>(start + ms); };
    kesp::Fps clock{at(0), 0};
    EXPECT_EQ(kesp::pace_frame(clock, at(1), 60), 15);
    EXPECT_EQ(kesp::pace_frame(clock, at(16), 60), 17);  // now has wrapped, the due time too
    EXPECT_EQ(clock.start, at(0));
    EXPECT_EQ(clock.frames, 2);
    EXPECT_EQ(kesp::pace_frame(clock, at(60), 60), 0);  // late after the wrap: restart
    EXPECT_EQ(clock.start, at(60));
    EXPECT_EQ(clock.frames, 0);
    EXPECT_EQ(kesp::pace_frame(clock, at(61), 60), 15);
}

TEST(Pacing, ALongRunDoesNotOverflow) {
    kesp::Fps clock{0, 3000000};  // 3e9 ms of frames would overflow 32 bits
    EXPECT_EQ(kesp::pace_frame(clock, 0, 1000), 3000001);
}

struct Viewport_case {
    const char* what;
    kesp::Box view;
    float scale;
    kesp::Vec window;
    kesp::Pixel_rect want;
};

void expect_viewports(std::initializer_list<Viewport_case> cases) {
    for (const Viewport_case& c : cases) {
        const kesp::Pixel_rect r = kesp::viewport_rect(c.view, c.scale, c.window);
        EXPECT_EQ(r, c.want) << c.what << ": got " << r.x << ", " << r.y << ", " << r.w << " x " << r.h;
    }
}

constexpr float _inf = std::numeric_limits<float>::infinity();
constexpr float _nan = std::numeric_limits<float>::quiet_NaN();
constexpr int _lo = std::numeric_limits<int>::min();
constexpr int _hi = std::numeric_limits<int>::max();

TEST(Viewport, CentresTheScaledBoxTruncatingTowardZero) {
    expect_viewports({
        {"doubled", {0, 100, 0, 50}, 2, {320, 200}, {60, 50, 200, 100}},
        {"half a pixel left over", {0, 101, 0, 51}, 1, {320, 200}, {109, 74, 101, 51}},
        {"wider than the window", {0, 385, 0, 216}, 1, {320, 200}, {-32, -8, 385, 216}},
        {"scale 0", {0, 384, 0, 216}, 0, {320, 200}, {160, 100, 0, 0}},
        {"a window of no size", {0, 384, 0, 216}, 0, {0, 0}, {0, 0, 0, 0}},
        {"a window of no size at scale 1", {0, 384, 0, 216}, 1, {0, 0}, {-192, -108, 384, 216}},
    });
}

// Far beyond any window: held at int's ends; not a number: 0.
TEST(Viewport, AnyBoxOrScaleGivesARectangle) {
    expect_viewports({
        {"an edge not a number", {0, _nan, 0, 50}, 2, {320, 200}, {0, 50, 0, 100}},
        {"scale not a number", {0, 100, 0, 50}, _nan, {320, 200}, {0, 0, 0, 0}},
        {"an edge at infinity", {0, _inf, 0, 50}, 1, {320, 200}, {_lo, 75, _hi, 50}},
        {"edges from minus infinity", {-_inf, 0, -_inf, 0}, 1, {320, 200}, {_lo, _lo, _hi, _hi}},
        {"a box parked at infinity", {_inf, _inf, _inf, _inf}, 1, {320, 200}, {0, 0, 0, 0}},
        {"1e30 wide", {0, 1e30f, 0, 50}, 1, {320, 200}, {_lo, 75, _hi, 50}},
        {"1e30 wide the wrong way", {1e30f, 0, 0, 50}, 1, {320, 200}, {_hi, 75, _lo, 50}},
        {"scale 1e30", {0, 100, 0, 50}, 1e30f, {320, 200}, {_lo, _lo, _hi, _hi}},
        {"scale minus infinity", {0, 100, 0, 50}, -_inf, {320, 200}, {_hi, _hi, _lo, _lo}},
        {"an empty box at infinite scale", {0, 0, 0, 0}, _inf, {320, 200}, {0, 0, 0, 0}},
    });
}

TEST(Slurp, ReadsTheWholeStream) {
    for (std::size_t n : {0u, 1u, 4095u, 4096u, 4097u, 10000u}) {
        std::string text(n, '\0');
        for (std::size_t i = 0; i < n; ++i) text[i] = static_cast<char>('a' + i % 26);
        std::istringstream in(text);
        EXPECT_EQ(kesp::slurp(in), text) << n << " bytes";
    }
}

TEST(Slurp, StopsAtItsLimit) {
    struct Case { std::size_t size; std::size_t limit; };
    const Case cases[] = {{0, 0}, {10, 0}, {10, 9}, {10, 10}, {10, 11}, {9000, 4096}, {9000, 4097}, {9000, 8999}};
    for (const Case& c : cases) {
        std::string text(c.size, '\0');
        for (std::size_t i = 0; i < c.size; ++i) text[i] = static_cast<char>('a' + i % 26);
        std::istringstream in(text);
        const std::size_t taken = std::min(c.size, c.limit);
        EXPECT_EQ(kesp::slurp(in, c.limit), text.substr(0, taken)) << c.size << " bytes, limit " << c.limit;
        // Nothing past the limit was taken from the stream.
        EXPECT_EQ(kesp::slurp(in), text.substr(taken)) << c.size << " bytes, limit " << c.limit;
    }
}

TEST(Slurp, ABadStreamThrows) {
    std::istringstream in("abc");
    in.setstate(std::ios_base::badbit);
    EXPECT_THROW(kesp::slurp(in), std::ios_base::failure);
    EXPECT_EQ(in.exceptions(), std::ios_base::badbit);
}

// The media scope is set up once per process, so each of these runs in a child.
void open_window(int w, int h) {
    kesp::conf.width = w;
    kesp::conf.height = h;
    kesp::conf.full = false;
}

void child_opens_a_window_of_the_configured_size_with_gl33_core() {
    open_window(320, 200);
    kesp::Media_lock media("Quorla test");
    if (!media) std::exit(2);
    if (!kesp::mixer) std::exit(3);  // the dummy driver gives audio
    if (kesp::wsize != kesp::Vec{0, 0}) std::exit(4);
    {
        kesp::Render_lock frame;
        if (kesp::wsize != kesp::Vec{320, 200}) std::exit(5);
        GLint major = 0, minor = 0;
        glGetIntegerv(GL_MAJOR_VERSION, &major);
        glGetIntegerv(GL_MINOR_VERSION, &minor);
        if (major * 10 + minor < 33) std::exit(6);
        if (!glIsEnabled(GL_BLEND)) std::exit(7);
        // Scale 0: a zero-size viewport at the window's centre.
        kesp::viewport({0, 384, 0, 216}, 0);
        GLint vp[4];
        glGetIntegerv(GL_VIEWPORT, vp);
        if (vp[0] != 160 || vp[1] != 100 || vp[2] != 0 || vp[3] != 0) std::exit(8);
        kesp::viewport({0, 100, 0, 50}, 2);
        glGetIntegerv(GL_VIEWPORT, vp);
        if (vp[0] != 60 || vp[1] != 50 || vp[2] != 200 || vp[3] != 100) std::exit(9);
    }
    std::exit(0);
}

TEST(Media, OpensAWindowOfTheConfiguredSizeWithGl33Core) {
    EXPECT_EXIT(child_opens_a_window_of_the_configured_size_with_gl33_core(),
                testing::ExitedWithCode(0), "");
}

// Each axis on its own: only a negative value takes the desktop's size.
void child_takes_the_desktop_size_for_a_negative_axis_only() {
    open_window(-1, 200);
    kesp::Media_lock media("Quorla test");
    if (!media) std::exit(2);
    SDL_DisplayMode mode{};
    if (SDL_GetDesktopDisplayMode(0, &mode) != 0) std::exit(3);
    kesp::Render_lock frame;
    std::exit(kesp::wsize != kesp::Vec{static_cast<float>(mode.w), 200} ? 4 : 0);
}

TEST(Media, TakesTheDesktopSizeForANegativeAxisOnly) {
    EXPECT_EXIT(child_takes_the_desktop_size_for_a_negative_axis_only(), testing::ExitedWithCode(0), "");
}

// The test display's software GL refuses every swap interval: the set-up warns
// and goes on, and the pacing still holds the rate.
void child_warns_when_the_swap_interval_is_refused() {
    open_window(64, 64);
    kesp::conf.vsync = true;
    kesp::Media_lock media("Quorla test");
    if (!media) std::exit(2);
    if (SDL_GL_GetSwapInterval() == 1) std::exit(10);  // this driver took it: nothing to show
    std::exit(0);
}

TEST(Media, ARefusedSwapIntervalIsAWarningNotAFailure) {
    EXPECT_EXIT(child_warns_when_the_swap_interval_is_refused(), testing::ExitedWithCode(0),
                "WARN: can't set vsync: [^\n]+\n");
}

void child_runs_without_audio_after_a_warning() {
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    open_window(64, 64);
    kesp::Media_lock media("Quorla test");
    std::exit(media && !kesp::mixer ? 0 : 1);
}

TEST(Media, RunsWithoutAudioAfterAWarning) {
    EXPECT_EXIT(child_runs_without_audio_after_a_warning(),
                testing::ExitedWithCode(0), "no audio available");
}

// SDL 2 falls back to its offscreen driver when no display answers, and the game
// would then run where nobody sees it: the set-up fails and says why instead.
void child_names_the_missing_display(const char* display, const char* line) {
    if (display)
        setenv("DISPLAY", display, 1);
    else
        unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("SDL_VIDEODRIVER");
    open_window(64, 64);
    test::Log_record log;
    {
        kesp::Media_lock media("Quorla test");
        if (media) std::exit(2);
    }
    std::exit(log.errors(line) == 1 && log.problems().size() == 1 ? 0 : 3);
}

TEST(Media, FailsNamingTheMissingDisplay) {
    struct Case { const char* display; const char* line; };
    const Case cases[] = {
        {nullptr, "no display could be opened (DISPLAY is unset, WAYLAND_DISPLAY is unset)"},
        {":9999", "no display could be opened (DISPLAY is \":9999\", WAYLAND_DISPLAY is unset)"},
    };
    for (const Case& c : cases)
        EXPECT_EXIT(child_names_the_missing_display(c.display, c.line), testing::ExitedWithCode(0), "")
            << (c.display ? c.display : "unset");
}

void child_fails_without_a_display() {
    setenv("SDL_VIDEODRIVER", "no-such-driver", 1);
    open_window(64, 64);
    kesp::Media_lock media("Quorla test");
    std::exit(media ? 1 : 0);
}

TEST(Media, FailsWithoutADisplay) {
    EXPECT_EXIT(child_fails_without_a_display(),
                testing::ExitedWithCode(0), "");
}

// Full screen keeps the desktop's mode: the window covers the display at its
// size, whatever size the settings ask for.
void child_goes_full_screen_at_the_desktops_mode() {
    open_window(640, 480);
    kesp::conf.full = true;
    kesp::Media_lock media("Quorla test");
    if (!media) std::exit(2);
    const Uint32 flags = SDL_GetWindowFlags(kesp::window);
    if ((flags & SDL_WINDOW_FULLSCREEN_DESKTOP) != SDL_WINDOW_FULLSCREEN_DESKTOP) std::exit(3);
    SDL_DisplayMode desktop{}, current{};
    if (SDL_GetDesktopDisplayMode(0, &desktop) != 0 || SDL_GetCurrentDisplayMode(0, &current) != 0) std::exit(4);
    if (current.w != desktop.w || current.h != desktop.h || current.refresh_rate != desktop.refresh_rate)
        std::exit(5);
    kesp::Render_lock frame;
    std::exit(kesp::wsize != kesp::Vec{static_cast<float>(desktop.w), static_cast<float>(desktop.h)} ? 6 : 0);
}

TEST(Media, GoesFullScreenAtTheDesktopsMode) {
    EXPECT_EXIT(child_goes_full_screen_at_the_desktops_mode(), testing::ExitedWithCode(0), "");
}

void child_paces_frames_to_the_configured_rate() {
    open_window(64, 64);
    kesp::conf.vsync = false;
    kesp::conf.fps = 50;
    kesp::Media_lock media("Quorla test");
    if (!media) std::exit(2);
    std::uint64_t t0 = static_cast<std::uint32_t>(kesp::_fps.start);
    for (int i = 0; i < 10; ++i) kesp::Render_lock frame;
    // Every frame ends at least 20 ms after the anchor it was paced from,
    // and a late one only moves the anchor later.
    std::exit(SDL_GetTicks64() - t0 >= 200 ? 0 : 1);
}

TEST(Media, PacesFramesToTheConfiguredRate) {
    EXPECT_EXIT(child_paces_frames_to_the_configured_rate(),
                testing::ExitedWithCode(0), "");
}

void child_loads_sounds_and_music_and_counts_plays() {
    test::Temp_dir t;
    test::write_silent_wav(t / "a.wav", 1000);
    open_window(64, 64);
    kesp::Media_lock media("Quorla test");
    auto sound = kesp::load_audio(t / "a.wav", 1);
    auto music = kesp::load_audio(t / "a.wav", 0);
    if (!sound || !music) std::exit(2);
    kesp::play_audio(sound.get());
    kesp::play_audio(sound.get());
    music->play();
    if (sound->plays() != 2 || music->plays() != 1) std::exit(3);
    kesp::stop_audio();
    std::exit(0);
}

TEST(Audio, LoadsSoundsAndMusicAndCountsPlays) {
    EXPECT_EXIT(child_loads_sounds_and_music_and_counts_plays(),
                testing::ExitedWithCode(0), "");
}

// Without a device every load gives a silent audio and says nothing: the set-up
// said "no audio available" once.
void child_loads_silently_without_audio() {
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    test::Temp_dir t;
    test::write_silent_wav(t / "a.wav", 1000);
    open_window(64, 64);
    test::Log_record log;
    kesp::Media_lock media("Quorla test");
    if (!media || kesp::mixer) std::exit(2);
    const std::vector<std::string> setup = log.problems();
    if (std::count(setup.begin(), setup.end(), "no audio available") != 1) std::exit(3);
    struct Case { const char* file; float predecode; };
    const Case cases[] = {{"a.wav", 1}, {"a.wav", 0}, {"missing.wav", 1}, {"missing.ogg", 0}};
    for (const Case& c : cases) {
        std::unique_ptr<kesp::Audio> audio = kesp::load_audio(t / c.file, c.predecode);
        if (!audio) std::exit(4);
        audio->play();
        kesp::play_audio(audio.get());
        if (audio->plays() != 2) std::exit(5);
    }
    kesp::stop_audio();
    std::exit(log.problems() == setup ? 0 : 6);
}

TEST(Audio, WithoutADeviceLoadsGiveSilentAudioAndLogNothing) {
    EXPECT_EXIT(child_loads_silently_without_audio(), testing::ExitedWithCode(0), "");
}

// With audio open, each file that can't be loaded is null after one error line
// naming it and giving the mixer's reason.
void child_gives_null_for_a_file_it_cannot_load() {
    test::Temp_dir t;
    test::write_file(t / "noise.wav", "not a sound at all");
    open_window(64, 64);
    kesp::Media_lock media("Quorla test");
    if (!media || !kesp::mixer) std::exit(2);
    struct Case { std::filesystem::path file; float predecode; };
    const Case cases[] = {
        {"/nonexistent/sound.wav", 1}, {"/nonexistent/music.ogg", 0}, {t / "noise.wav", 1}, {t / "noise.wav", 0}};
    for (const Case& c : cases) {
        test::Log_record log;
        if (kesp::load_audio(c.file, c.predecode)) std::exit(3);
        const std::string line = "\"" + c.file.string() + "\": " + SDL_GetError();
        if (log.problems() != std::vector<std::string>{line} || log.errors(line) != 1) std::exit(4);
        if (std::string(SDL_GetError()).empty()) std::exit(5);
    }
    kesp::play_audio(nullptr);
    std::exit(0);
}

TEST(Audio, LoadFailureIsNullAndNullPlaysNothing) {
    EXPECT_EXIT(child_gives_null_for_a_file_it_cannot_load(), testing::ExitedWithCode(0), "");
}

// Music that the mixer can't say lasts a while plays once, after a warning naming
// it. Looped, a MIDI file that ends as soon as it starts would never let the
// audio callback return, and every later call into the mixer would wait for it.
void child_plays_music_it_cannot_loop_once() {
    alarm(60);  // a hang ends the child instead of the test run
    test::Temp_dir t;
    test::write_silent_wav(t / "song.wav", 2205);
    test::write_empty_midi(t / "empty.mid");
    open_window(64, 64);
    kesp::Media_lock media("Quorla test");
    if (!media || !kesp::mixer) std::exit(2);
    test::Log_record log;
    std::unique_ptr<kesp::Audio> song = kesp::load_audio(t / "song.wav", 0);
    if (!song || !song->loops() || !log.problems().empty()) std::exit(3);
    std::unique_ptr<kesp::Audio> empty = kesp::load_audio(t / "empty.mid", 0);
    if (!empty || empty->loops()) std::exit(4);
    const std::string named = "\"" + (t / "empty.mid").string() + "\": can't loop music of ";
    if (log.problems().size() != 1 || log.problems()[0].rfind(named, 0) != 0 || log.errors(log.problems()[0]) != 0)
        std::exit(5);
    // Whole callbacks have run with the music playing: each one ends in the
    // post-mix hook.
    static std::atomic<int> mixed{0};
    Mix_SetPostMix([](void*, Uint8*, int) { ++mixed; }, nullptr);
    empty->play();
    const int start = mixed;
    while (mixed < start + 3) SDL_Delay(10);
    kesp::stop_audio();
    std::exit(0);
}

TEST(Audio, MusicThatCantLoopPlaysOnceWithoutHanging) {
    EXPECT_EXIT(child_plays_music_it_cannot_loop_once(), testing::ExitedWithCode(0), "");
}

}  // namespace
