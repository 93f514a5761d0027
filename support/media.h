// Set-up and tear-down of window, GL context, audio and controllers; the
// per-frame begin and end with frame pacing; audio files; small shared helpers.
#pragma once

#include "support/geometry.h"

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <iosfwd>
#include <limits>
#include <memory>
#include <string>

struct SDL_Window;
struct Mix_Chunk;
struct _Mix_Music;

namespace kesp {

struct Conf {
    std::int32_t width;   // negative: the desktop's width
    std::int32_t height;  // negative: the desktop's height
    bool full;
    bool vsync;
    std::int32_t fps;     // at least 1
};

extern Conf conf;

// The frame-pacing clock: ticks at the last resynchronisation, frames since.
struct Fps {
    std::int32_t start;
    std::int32_t frames;
};

// Ends one frame at time now: returns the milliseconds to sleep until the next
// frame is due, or 0 after resynchronising a late or exactly-on-time frame.
std::int32_t pace_frame(Fps& clock, std::int32_t now, std::int32_t fps);

extern SDL_Window* window;
extern void* gl_context;
extern bool mixer;  // audio is open
extern Vec wsize;   // window size in pixels, refreshed when each frame begins
extern Fps _fps;

// A sound decoded at load time or music streamed while it plays; frees itself.
class Audio {
public:
    // A silent audio, which plays nothing.
    Audio() = default;
    ~Audio();
    Audio(const Audio&) = delete;
    Audio& operator=(const Audio&) = delete;

    // Plays once; music loops forever when loops().
    void play() const;
    // How often play was called: lets a caller see what was played.
    int plays() const { return played; }
    // Whether play loops: music that lasts some time.
    bool loops() const { return loop; }
    // What the platform decoded: a sound, or music; null for the other and
    // in a silent audio.
    const Mix_Chunk* sound() const { return chunk; }
    _Mix_Music* tune() const { return music; }

private:
    friend std::unique_ptr<Audio> load_audio(const std::filesystem::path& path, float predecode);

    std::string source;  // the music's file, which the mixer reads while it plays
    Mix_Chunk* chunk = nullptr;
    _Mix_Music* music = nullptr;
    bool loop = false;
    mutable int played = 0;
};

// predecode non-zero (NaN counts) decodes the whole file now; otherwise it is
// streamed, and loops unless it lasts no time at all or is a MIDI file that
// FluidSynth may not read whole (those play at most once, after a warning). The
// file is read like every other (kesp::read_file): a pipe or a device is refused
// at once.
// Null after logging the file and the reason. Without audio open, a silent
// audio that plays nothing; no file is read or logged.
std::unique_ptr<Audio> load_audio(const std::filesystem::path& path, float predecode);
// Plays a sound once; a null sound plays nothing.
void play_audio(const Audio* audio);
// Stops every sound and the music.
void stop_audio();

// Shows or hides the mouse cursor over the window.
void show_cursor(bool shown);

// A rectangle of whole pixels: its lower left corner and its size.
struct Pixel_rect {
    int x, y, w, h;
    bool operator==(const Pixel_rect&) const = default;
};

// The viewport for a view box at a scale, centred in a window of the given
// size, each number truncated toward zero. Defined for any box and scale: a
// number beyond int's range is held at its ends, and one that is not a number
// is 0.
Pixel_rect viewport_rect(const Box& view, float scale, Vec window);
// Places the GL viewport for a view box at a scale, centred in the window.
void viewport(const Box& view, float scale);

// The rest of the stream, or its first limit bytes; a read error throws
// std::ios_base::failure.
std::string slurp(std::istream& in, std::size_t limit = std::numeric_limits<std::size_t>::max());

class Media_lock {
public:
    explicit Media_lock(const std::string& title);
    ~Media_lock();
    Media_lock(const Media_lock&) = delete;
    Media_lock& operator=(const Media_lock&) = delete;
    explicit operator bool() const { return ok; }

private:
    bool ok;
};

class Render_lock {
public:
    Render_lock();
    ~Render_lock();
    Render_lock(const Render_lock&) = delete;
    Render_lock& operator=(const Render_lock&) = delete;

private:
    [[maybe_unused]] bool ok;  // nothing reads it: the frame is drawn regardless
};

// Logs "label: Nms" for the time between construction and destruction.
class Prof_lock {
public:
    explicit Prof_lock(const char* label);
    ~Prof_lock();
    Prof_lock(const Prof_lock&) = delete;
    Prof_lock& operator=(const Prof_lock&) = delete;

private:
    const char* label;
    std::uint64_t start;
};

// Writes the orthographic projection of a view box into m, column by column:
// the view's left edge maps to x = -1 and its top edge to y = +1.
void ortho(float m[4][4], const Box& view);

// Compiles one shader of the GL type from NUL-terminated text, logging the info
// log; the shader's name, or 0 when it did not compile.
unsigned compile_shader(const char* code, unsigned type);
// The same from the contents of a file; 0 on any failure.
unsigned load_shader(const std::filesystem::path& file, unsigned type);
// Links a program from the shaders in the given order; its name, or 0.
unsigned link_program(std::initializer_list<unsigned int> shaders);

}  // namespace kesp
