#include "support/media.h"
#include "support/midi.h"

#include "common/game_files.h"
#include "common/looped_midi.h"
#include "common/log_record.h"
#include "common/permissions.h"
#include "common/process.h"

#include <GL/glew.h>
#include <SDL.h>
#include <SDL_mixer.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <limits>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace kesp {

void PrintTo(Midi_tracks tracks, std::ostream* out) {
    *out << (tracks == Midi_tracks::timed ? "timed" : tracks == Midi_tracks::timeless ? "timeless" : "unreadable");
}

}  // namespace kesp

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

using namespace std::string_literals;

// A track's end at once, as the events of a track.
const std::string _end = "\0\xff\x2f\0"s;

// Whether each file, looped as the mixer loops music, returns from each block
// rendered.
std::vector<bool> returns_from_each_block(const std::vector<std::string>& files) {
    std::vector<bool> returns(files.size(), true);
    for (const test::Never_returns& n : test::files_that_never_return(files)) returns[n.file] = false;
    return returns;
}

std::string hex(const std::string& bytes) {
    std::string text;
    for (char c : bytes) text += {"0123456789abcdef"[c >> 4 & 0xf], "0123456789abcdef"[c & 0xf]};
    return text;
}

// The time of a MIDI file is read from its own tracks as FluidSynth reads them:
// an event's length is known from its status, the end of a track ends it, a
// delta-time counts once an event FluidSynth keeps takes it, and nothing is read
// past the bytes, whatever the file claims. A file FluidSynth can't read whole,
// which the mixer would restart for ever if looped, is told apart. Each file is
// looped as the mixer loops music: each block rendered of what the reader calls
// timed returns, and FluidSynth restarts the rest for ever inside a block,
// unless it reads them after all.
TEST(Midi, TracksHoldTimeWhenAnEventFluidSynthKeepsComesAfterADeltaTime) {
    using Tracks = kesp::Midi_tracks;
    constexpr Tracks timed = Tracks::timed, timeless = Tracks::timeless, unreadable = Tracks::unreadable;
    // loops_anyway: the reader plays it once, though FluidSynth would loop it.
    struct Case { const char* what; std::string file; Tracks tracks; bool loops_anyway = false; };
    const std::string note = "\0\x90\x3c\x40"s "\x60\x80\x3c\x40"s + _end;
    const std::string tune = test::midi_file({note});
    const std::string header = tune.substr(0, 14), track = tune.substr(14);
    const auto format = [&](char f) { std::string m = tune; m[9] = f; return m; };
    const std::string named = "\0\xff\x03\x01\x41"s + _end;
    const std::string multi = test::midi_file({"\0\xff\x51\x03\x07\xa1\x20"s + _end, note, named});
    const std::size_t later = multi.size() - 8 - named.size();  // where the last track's chunk begins
    std::string kept_wrap;
    for (int i = 0; i < 16; ++i) kept_wrap += test::midi_quantity(0x0fffffff) + "\x90\x3c\x40"s;
    kept_wrap += test::midi_quantity(0x10) + "\x80\x3c\x40"s;
    const Case cases[] = {
        {"the end at once", test::midi_file({_end}), timeless},
        {"the end one tick on", test::midi_file({"\x01\xff\x2f\0"s}), timed},
        {"a note", tune, timed},
        {"a tune", test::midi_tune(2), timed},
        {"time after the end", test::midi_file({_end + "\x60\x90\x3c\x40"s}), timeless},
        {"a fault after the end", test::midi_file({"\x05\xff\x2f\0\x05\xf4"s}), timed},
        {"a whole track without an end", test::midi_file({"\0\x90\x3c\x40\x60\x80\x3c\x40"s}), timed},
        {"time in a second track", test::midi_file({_end, note}), timed},
        {"time in a track the header doesn't count", test::midi_file({_end, note}, 1), timeless},
        {"a header that counts no tracks", test::midi_file({note}, 0), timeless},
        {"127 tracks", test::midi_file(std::vector<std::string>(127, note)), timed},
        {"what follows the tracks", tune + "XFIH\0\0\0\2\x01\x01"s + "\x01\x02\x03"s, timed},
        {"a tempo, then time", test::midi_file({"\0\xff\x51\x03\x07\xa1\x20"s + note}), timed},
        // time on events FluidSynth doesn't keep goes to the next one it keeps
        {"time on a track name, then the end", test::midi_file({"\0\x90\x3c\x40\0\x80\x3c\x40\x60\xff\x03\x01\x41"s + _end}), timed},
        {"time on a track name, then no end", test::midi_file({"\0\x90\x3c\x40\0\x80\x3c\x40\x60\xff\x03\x01\x41"s}), timeless},
        {"time on an empty system exclusive message, then no end", test::midi_file({"\0\x90\x3c\x40\0\x80\x3c\x40\x60\xf0\0"s}), timeless},
        {"time on a text, then no end", test::midi_file({"\0\x90\x3c\x40\0\x80\x3c\x40\x60\xff\x01\x01\x41"s}), timed},
        // one data byte after a program or pressure change, two after the others
        {"a program change", test::midi_file({"\0\xc0\x05"s + _end}), timeless},
        {"a program change, then one under its running status", test::midi_file({"\0\xc0\x05\0\x06"s + _end}), timeless},
        {"a pressure change", test::midi_file({"\0\xd0\x10"s + _end}), timeless},
        {"running status", test::midi_file({"\0\x90\x3c\x40\0\x3e\x40\0\x80\x3c\0"s + _end}), timeless},
        {"running status, then time", test::midi_file({"\0\x90\x3c\x40\0\x3e\x40\x05\x80\x3c\0"s + _end}), timed},
        // what a meta event or a system exclusive message carries is not read as events
        {"a text", test::midi_file({"\0\xff\x01\x03\x05\x05\x05"s + _end}), timeless},
        {"a text of 128 bytes", test::midi_file({"\0\xff\x01\x81\x00"s + std::string(128, '\x05') + _end}), timeless},
        {"a system exclusive message", test::midi_file({"\0\xf0\x03\x7e\x05\xf7"s + _end}), timeless},
        // a data byte after a meta event or a system exclusive message, which
        // FluidSynth reads as another of its kind, before a note's timed end:
        // the reader refuses it, to be safe
        {"running status after a meta event", test::midi_tune_after_meta(), unreadable, true},
        {"running status after a system exclusive message",
         test::midi_file({"\0\x90\x3c\x40\0\xf0\x01\xf7\x60\x01\xf7\0\x80\x3c\x40"s + _end}), unreadable, true},
        // cut or malformed: FluidSynth gives up, time or no time
        {"no bytes", "", unreadable},
        {"a WAV file", "RIFF\x24\0\0\0WAVEfmt "s, unreadable},
        {"a MIDI file wrapped in RIFF", "RIFF\x2a\0\0\0RMIDdata\x22\0\0\0"s + tune, unreadable},
        {"a header of eight bytes", "MThd\0\0\0\x08\0\0\0\1\0\x60\0\0"s + track, unreadable},
        {"a header longer than the file", "MThd\x7f\xff\xff\xff\0\0\0\1\0\x60"s + track, unreadable},
        {"a header cut short", tune.substr(0, 12), unreadable},
        {"format 3", format(3), unreadable},
        {"SMPTE time", "MThd\0\0\0\6\0\0\0\1\xe7\x28"s + track, unreadable},
        {"128 tracks", test::midi_file(std::vector<std::string>(128, note)), unreadable},
        {"a chunk of another kind before the tracks", header + "XFIH\0\0\0\2\x01\x01"s + track, unreadable},
        {"fewer tracks than the header counts", test::midi_file({note}, 2), unreadable},
        {"a data byte with no status", test::midi_file({"\x05\x3c\x40"s + _end}), unreadable},
        {"a data byte with its top bit set", test::midi_file({"\x05\x90\x3c\xc0"s + _end}), unreadable, true},
        {"a status that belongs in no file", test::midi_file({"\x05\xf4\x05\x05"s + _end}), unreadable},
        {"an escape", test::midi_file({"\x05\xf7\x01\x05"s + _end}), unreadable},
        {"a tempo of two bytes", test::midi_file({"\0\xff\x51\x02\x07\xa1"s + note}), unreadable},
        {"a time signature of three bytes", test::midi_file({"\0\xff\x58\x03\x04\x02\x18"s + note}), unreadable},
        {"an end with a length", test::midi_file({"\x05\xff\x2f\x01\0"s}), unreadable},
        {"an end cut short", test::midi_file({"\x05\xff\x2f"s}), unreadable},
        {"cut inside a delta-time", test::midi_file({"\x05\x90\x3c\x40\x81"s}), unreadable},
        {"cut inside an event", test::midi_file({"\x05\x90\x3c"s}), unreadable},
        {"a delta-time of five bytes", test::midi_file({"\x80\x80\x80\x80\x01"s + _end}), unreadable},
        {"a text longer than its track", test::midi_file({"\x05\xff\x01\x7f\x05"s}), unreadable},
        {"a track longer than the file, ending in time", tune.substr(0, tune.size() - 4), unreadable},
        {"a track longer than the file, with its end", tune.substr(0, 18) + "\0\xff\xff\xff"s + note, timed},
        {"a track further than FluidSynth can seek", tune.substr(0, 18) + "\x7f\xff\xff\xff"s + note, unreadable},
        {"a second track cut short", test::midi_file({note, "\x05\x90"s}), unreadable},
        {"cut right after a later track's name", multi.substr(0, later + 4), unreadable},
        {"cut after a byte of a later track's length", multi.substr(0, later + 5), unreadable},
        {"cut after three bytes of a later track's length", multi.substr(0, later + 7), unreadable},
        {"cut after a later track's length", multi.substr(0, later + 8), unreadable},
        // FluidSynth adds delta-times up in 32 bits
        {"time on dropped events that wraps to none", test::midi_file({test::midi_wrapped_time(16)}), timeless},
        {"time on dropped events that wraps to a tick", test::midi_file({test::midi_wrapped_time(17)}), timed},
        {"time on kept events that wraps to none", test::midi_file({kept_wrap + _end}), timeless, true},
    };
    std::vector<std::string> files;
    for (const Case& c : cases) files.push_back(c.file);
    const std::vector<bool> returns = returns_from_each_block(files);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        // Copied to a block of its own size, so that a read past it is caught.
        const std::unique_ptr<char[]> bytes(new char[c.file.size()]);
        std::copy(c.file.begin(), c.file.end(), bytes.get());
        EXPECT_EQ(kesp::read_midi_tracks(std::string_view(bytes.get(), c.file.size())), c.tracks) << c.what;
        EXPECT_EQ(returns[i], c.tracks == timed || c.loops_anyway)
            << c.what << (returns[i] ? ": returns" : ": never returns");
    }
}

// Events FluidSynth keeps and drops, as a track's events without their
// delta-times.
const std::string _kept[] = {"\x90\x3c\x40"s, "\x80\x3c\0"s, "\xc0\x05"s, "\xff\x01\x01\x41"s,
                             "\xff\x51\x03\x07\xa1\x20"s, "\xf0\x02\x7e\xf7"s};
const std::string _dropped[] = {"\xff\x03\x01\x41"s, "\xf0\0"s, "\xff\x59\x02\0\0"s, "\xff\x06\x01\x42"s,
                                "\xff\x58\x04\x04\x02\x18\x08"s};

// A track of a few events at random, most of them at once, whose delta-times
// are then made to add up in 32 bits to none or nearly none (by up to sixteen
// more dropped events, anywhere in the track), as a file that wraps
// FluidSynth's count.
std::string wrapped_track(std::mt19937& random) {
    struct Event { std::uint32_t delta; std::string bytes; };
    std::vector<Event> events;
    std::uint32_t sum = 0;
    for (int n = static_cast<int>(random() % 6); n > 0; --n) {
        const std::uint32_t delta = random() % 3 ? 0 : random() % 2 ? 0x0fffffff : random() % 0x200;
        events.push_back({delta, random() % 2 ? _kept[random() % std::size(_kept)] : _dropped[random() % std::size(_dropped)]});
        sum += delta;
    }
    const std::uint32_t off = random() % 4 ? 0 : static_cast<std::uint32_t>(random() % 3) - 1;  // 0, or -1, 0, 1
    std::uint32_t rest = off - sum;
    while (rest > 0) {
        const std::uint32_t delta = std::min<std::uint32_t>(rest, 0x0fffffff);
        const std::size_t at = random() % (events.size() + 1);
        events.insert(events.begin() + static_cast<std::ptrdiff_t>(at), Event{delta, _dropped[random() % std::size(_dropped)]});
        rest -= delta;
    }
    std::string track;
    for (const Event& e : events) track += test::midi_quantity(e.delta) + e.bytes;
    return track + _end;
}

// Every file the reader lets loop, looped as the mixer loops music, returns from
// each block rendered: files spoiled at random a byte at a time, cut at every
// byte of each track's chunk header, and whose delta-times wrap FluidSynth's
// count. Enough of them loop that the check is no formality.
TEST(Midi, EveryFileTheReaderLetsLoopReturnsFromEachBlock) {
    const std::vector<std::string> sources = {
        test::midi_tune(2),
        test::midi_file({"\0\xff\x03\x02\x41\x42\0\xff\x51\x03\x07\xa1\x20\0\xc0\x05\0\xf0\x02\x7e\xf7"s
                         "\0\x90\x3c\x40\x10\x3e\x40\x20\x80\x3c\0\0\xff\x01\x01\x41\x08\xe0\0\x40"s + _end,
                         "\x30\xb0\x07\x64\x10\xd0\x20"s + _end}),
        test::midi_file({"\0\xff\x51\x03\x07\xa1\x20"s + _end, "\0\x90\x3c\x40\x60\x80\x3c\x40"s + _end,
                         "\0\xff\x03\x01\x41"s + _end}),
    };
    struct Kind { const char* what; std::vector<std::string> files; };
    Kind spoiled{"spoiled at random", {}}, cut{"cut in a chunk header", {}}, wrapped{"whose time wraps", {}};
    std::mt19937 random(20261211);
    for (int n = 0; n < 10000; ++n) {
        std::string file = sources[random() % sources.size()];
        for (int edits = random() % 4 ? 1 : 3; edits > 0 && !file.empty(); --edits) {
            const std::size_t at = random() % file.size();
            switch (random() % 4) {
            case 0: file[at] = static_cast<char>(random()); break;
            case 1: file.erase(at, 1); break;
            case 2: file.insert(at, 1, static_cast<char>(random())); break;
            case 3: file.resize(at); break;
            }
        }
        spoiled.files.push_back(file);
    }
    for (const std::string& source : sources)
        for (std::size_t chunk = 14; chunk < source.size();) {
            for (std::size_t at = chunk; at <= chunk + 8; ++at) cut.files.push_back(source.substr(0, at));
            std::size_t length = 0;
            for (std::size_t i = chunk + 4; i < chunk + 8; ++i) length = length << 8 | static_cast<unsigned char>(source[i]);
            chunk += 8 + length;
        }
    for (int n = 0; n < 2000; ++n) {
        std::vector<std::string> tracks(1 + random() % 3);
        for (std::string& t : tracks) t = wrapped_track(random);
        wrapped.files.push_back(test::midi_file(tracks));
    }
    std::vector<std::string> looped;
    for (const Kind& kind : {spoiled, cut, wrapped}) {
        const std::size_t before = looped.size();
        for (const std::string& file : kind.files)
            if (kesp::read_midi_tracks(file) == kesp::Midi_tracks::timed) looped.push_back(file);
        std::printf("%zu of %zu files %s loop\n", looped.size() - before, kind.files.size(), kind.what);
    }
    for (const test::Never_returns& n : test::files_that_never_return(looped))
        ADD_FAILURE() << "never returns (" << n.why << "): " << hex(looped[n.file]);
    EXPECT_GT(looped.size(), (spoiled.files.size() + wrapped.files.size()) / 10);
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
// naming it and saying why: the system's reason for a file that can't be read,
// at once for a pipe that no one writes, or else the mixer's.
void child_gives_null_for_a_file_it_cannot_load() {
    alarm(60);  // a load that waits ends the child instead of the test run
    if (!test::obey_permissions().empty()) std::exit(6);
    test::Temp_dir t;
    test::write_file(t / "noise.wav", "not a sound at all");
    test::write_silent_wav(t / "locked.wav", 100);
    std::filesystem::permissions(t / "locked.wav", std::filesystem::perms::none);
    std::filesystem::create_directories(t / "folder.wav");
    if (mkfifo((t / "pipe.wav").c_str(), 0644) != 0) std::exit(7);
    open_window(64, 64);
    kesp::Media_lock media("Quorla test");
    if (!media || !kesp::mixer) std::exit(2);
    struct Case { std::filesystem::path file; const char* why; };  // null: the mixer's
    const Case cases[] = {
        {"/nonexistent/sound.wav", "No such file or directory"},
        {t / "locked.wav", "Permission denied"},
        {t / "folder.wav", "not a regular file"},
        {t / "pipe.wav", "not a regular file"},
        {t / "noise.wav", nullptr},
    };
    for (const Case& c : cases)
        for (float predecode : {1.0f, 0.0f}) {
            test::Log_record log;
            if (kesp::load_audio(c.file, predecode)) std::exit(3);
            if (!c.why && std::string(SDL_GetError()).empty()) std::exit(5);
            const std::string line = "\"" + c.file.string() + "\": " + (c.why ? c.why : SDL_GetError());
            if (log.problems() != std::vector<std::string>{line} || log.errors(line) != 1) {
                std::fprintf(stderr, "%s\n", log.problems().empty() ? "nothing logged" : log.problems()[0].c_str());
                std::exit(4);
            }
        }
    kesp::play_audio(nullptr);
    std::exit(0);
}

TEST(Audio, LoadFailureIsNullAndNullPlaysNothing) {
    EXPECT_EXIT(child_gives_null_for_a_file_it_cannot_load(), testing::ExitedWithCode(0), "");
}

// Music loops with the mixer's own loop unless it lasts no time at all or is a
// MIDI file that FluidSynth may not read whole, which the mixer would restart
// for ever inside the audio callback: those play at most once, after a warning
// naming them that tells what is heard. MIDI files, whose length FluidSynth
// doesn't tell, loop when their tracks hold any time.
void child_loops_music_unless_it_lasts_no_time() {
    alarm(60);  // a hang ends the child instead of the test run
    test::Temp_dir t;
    test::write_silent_wav(t / "song.wav", 2205);
    test::write_empty_midi(t / "empty.mid");
    test::write_file(t / "tick.mid", test::midi_file({"\x01\xff\x2f\0"s}));
    test::write_file(t / "rest.mid", test::midi_file({"\x60\xff\x2f\0"s}));
    test::write_file(t / "tune.mid", test::midi_tune(1));
    test::write_file(t / "cut.mid", test::midi_file({"\x05\x90\x3c"s}));
    test::write_file(t / "header.mid", test::midi_tune_cut_in_a_track_header());
    test::write_file(t / "wrap.mid", test::midi_file({test::midi_wrapped_time(16)}));
    test::write_file(t / "meta.mid", test::midi_tune_after_meta());
    open_window(64, 64);
    kesp::Media_lock media("Quorla test");
    if (!media || !kesp::mixer) std::exit(2);
    // Whole callbacks run with the music playing: each one ends in the post-mix hook.
    static std::atomic<int> mixed{0};
    Mix_SetPostMix([](void*, Uint8*, int) { ++mixed; }, nullptr);
    const char* timeless = "can't loop music that lasts no time; it plays at most once";
    const char* unreadable =
        "can't loop a MIDI file cut short or malformed; it plays at most once, and nothing if cut short";
    struct Case { const char* file; const char* why; };  // the warning after its name; null: it loops
    const Case cases[] = {
        {"song.wav", nullptr},
        {"tune.mid", nullptr},
        {"tick.mid", nullptr},
        {"rest.mid", nullptr},
        {"empty.mid", timeless},
        {"wrap.mid", timeless},
        {"cut.mid", unreadable},
        {"header.mid", unreadable},
        {"meta.mid", unreadable},
    };
    for (const Case& c : cases) {
        test::Log_record log;
        std::unique_ptr<kesp::Audio> music = kesp::load_audio(t / c.file, 0);
        if (!music) std::exit(3);
        if (music->loops() != !c.why) {
            std::fprintf(stderr, "%s: loops() is %d\n", c.file, music->loops());
            std::exit(4);
        }
        const std::string warning = "\"" + (t / c.file).string() + "\": " + (c.why ? c.why : "");
        const std::vector<std::string> want = c.why ? std::vector<std::string>{warning} : std::vector<std::string>{};
        if (log.problems() != want || log.errors(warning) != 0) {
            std::fprintf(stderr, "%s: %s\n", c.file, log.problems().empty() ? "no warning" : log.problems()[0].c_str());
            std::exit(5);
        }
        // Well past the end of each (a second at most), the callbacks go on,
        // and looped music plays on.
        music->play();
        for (const int start = mixed; mixed < start + 30;) SDL_Delay(10);
        if (!c.why && !Mix_PlayingMusic()) {
            std::fprintf(stderr, "%s: playing is %d\n", c.file, Mix_PlayingMusic());
            std::exit(6);
        }
        kesp::stop_audio();
    }
    std::exit(0);
}

TEST(Audio, MusicLoopsUnlessItLastsNoTime) {
    EXPECT_EXIT(child_loops_music_unless_it_lasts_no_time(), testing::ExitedWithCode(0), "");
}

}  // namespace
