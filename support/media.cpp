#include "support/media.h"

#include "support/midi.h"
#include "support/rwops.h"

#include <GL/glew.h>
#include <SDL.h>
#include <SDL_mixer.h>

#include <algorithm>
#include <istream>
#include <vector>

namespace kesp {

Conf conf = {-1, -1, true, true, 60};
SDL_Window* window = nullptr;
void* gl_context = nullptr;
bool mixer = false;
Vec wsize;
Fps _fps;

namespace {

void log_sdl_error() { SDL_LogError(SDL_LOG_CATEGORY_APPLICATION, "%s", SDL_GetError()); }

// Logs a GL info log of the given length, verbatim, at information level.
template <typename Get>
void log_info_log(GLint length, Get get) {
    if (length <= 0) return;
    std::vector<GLchar> text(static_cast<std::size_t>(length));
    get(length, text.data());
    text.back() = '\0';
    SDL_LogInfo(SDL_LOG_CATEGORY_APPLICATION, "%s", text.data());
}

// What the environment names as displays, for a line saying none could be opened.
std::string display_variables() {
    std::string text;
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = SDL_getenv(name);
        if (!text.empty()) text += ", ";
        text += name;
        text += value && *value ? std::string(" is \"") + value + '"' : std::string(" is unset");
    }
    return text;
}

bool init_sdl() {
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        SDL_LogError(SDL_LOG_CATEGORY_APPLICATION, "no display could be opened: %s (%s)",
                     SDL_GetError(), display_variables().c_str());
        return false;
    }
    // With no display SDL 2 falls back to drivers that show nothing, and the game
    // would run where nobody can see or leave it. Only a player who names one of
    // them gets it.
    const std::string driver = SDL_GetCurrentVideoDriver();
    const char* asked = SDL_GetHint(SDL_HINT_VIDEODRIVER);
    if ((driver == "offscreen" || driver == "dummy") && !(asked && *asked)) {
        SDL_LogError(SDL_LOG_CATEGORY_APPLICATION, "no display could be opened (%s)",
                     display_variables().c_str());
        return false;
    }
    return true;
}

bool init_video(const std::string& title) {
    SDL_DisplayMode mode{};
    if ((conf.width < 0 || conf.height < 0) && SDL_GetDesktopDisplayMode(0, &mode) != 0) {
        log_sdl_error();
        return false;
    }
    int w = conf.width >= 0 ? conf.width : mode.w;
    int h = conf.height >= 0 ? conf.height : mode.h;

    // The shaders need GLSL 3.30 core.
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);

    // Full screen at the desktop's mode: SDL 2's plain full screen changes the mode.
    Uint32 flags = SDL_WINDOW_OPENGL | (conf.full ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
    window = SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, w, h,
                              flags);
    if (!window) {
        log_sdl_error();
        return false;
    }
    SDL_SetWindowResizable(window, SDL_TRUE);

    gl_context = SDL_GL_CreateContext(window);
    if (!gl_context) {
        log_sdl_error();
        return false;
    }
    if (SDL_GL_MakeCurrent(window, gl_context) != 0) {
        log_sdl_error();
        return false;
    }

    glewExperimental = GL_TRUE;
    GLenum glew = glewInit();
    if (glew != GLEW_OK) {
        SDL_LogError(SDL_LOG_CATEGORY_APPLICATION, "can't load the OpenGL functions: %s",
                     reinterpret_cast<const char*>(glewGetErrorString(glew)));
        return false;
    }
    glGetError();  // GLEW's probing may leave GL_INVALID_ENUM on a core context

    // Many drivers refuse an interval; the pacing still holds the frame rate.
    if (SDL_GL_SetSwapInterval(conf.vsync ? 1 : 0) != 0)
        SDL_LogWarn(SDL_LOG_CATEGORY_APPLICATION, "can't set vsync: %s", SDL_GetError());

    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    return true;
}

bool init_audio() {
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        log_sdl_error();
        return false;
    }
    Mix_Init(0);
    if (Mix_OpenAudio(44100, MIX_DEFAULT_FORMAT, 2, 2048) != 0) {
        log_sdl_error();
        return false;
    }
    mixer = true;
    return true;
}

bool init_joysticks() {
    if (SDL_InitSubSystem(SDL_INIT_JOYSTICK) != 0 ||
        SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER) != 0) {
        log_sdl_error();
        return false;
    }
    return true;
}

void init_fps() {
    _fps.start = static_cast<std::int32_t>(SDL_GetTicks64());
    _fps.frames = 0;
}

bool init_all(const std::string& title) {
    if (!init_sdl() || !init_video(title)) return false;
    if (!init_audio()) SDL_LogWarn(SDL_LOG_CATEGORY_APPLICATION, "no audio available");
    if (!init_joysticks()) SDL_LogWarn(SDL_LOG_CATEGORY_APPLICATION, "no joysticks available");
    init_fps();
    return true;
}

bool render_begin() {
    int w = 0, h = 0;
    SDL_GL_GetDrawableSize(window, &w, &h);
    wsize = {static_cast<float>(w), static_cast<float>(h)};
    if (SDL_GL_MakeCurrent(window, gl_context) != 0) {
        log_sdl_error();
        return false;
    }
    return true;
}

void render_end() {
    SDL_GL_SwapWindow(window);
    std::int32_t now = static_cast<std::int32_t>(SDL_GetTicks64());
    std::int32_t wait = pace_frame(_fps, now, conf.fps);
    if (wait > 0) SDL_Delay(static_cast<Uint32>(wait));
}

}  // namespace

std::int32_t pace_frame(Fps& clock, std::int32_t now, std::int32_t fps) {
    clock.frames += 1;
    // The product in 64 bits, so a long run without resynchronising cannot
    // overflow. The ticks cut to 32 bits wrap after 24.8 days, so the wait is the
    // difference from now to the due time in wrapping arithmetic: the two are
    // never more than a second apart.
    std::int64_t offset = fps > 0 ? static_cast<std::int64_t>(clock.frames) * 1000 / fps : 0;
    std::uint32_t due = static_cast<std::uint32_t>(clock.start) + static_cast<std::uint32_t>(offset);
    auto wait = static_cast<std::int32_t>(due - static_cast<std::uint32_t>(now));
    if (wait > 0) return wait;
    clock.start = now;
    clock.frames = 0;
    return 0;
}

Audio::~Audio() {
    if (chunk) Mix_FreeChunk(chunk);
    if (music) Mix_FreeMusic(music);
}

void Audio::play() const {
    ++played;
    if (chunk) Mix_PlayChannel(-1, chunk, 0);
    if (music) Mix_PlayMusic(music, loop ? -1 : 1);
}

namespace {

// A sound is decoded whole; music is held in memory while it plays. Either is
// far below these in any game.
constexpr std::size_t _max_sound_size = std::size_t{64} << 20;
constexpr std::size_t _max_music_size = std::size_t{256} << 20;

// The music type that the file's name suggests, as the mixer guesses it when
// it opens a file by name; none lets the mixer tell from the bytes.
Mix_MusicType music_type(const std::filesystem::path& path) {
    static const struct {
        Mix_MusicType type;
        std::initializer_list<const char*> extensions;
    } types[] = {
        {MUS_WAV, {"wav"}},
        {MUS_MID, {"mid", "midi", "kar"}},
        {MUS_OGG, {"ogg"}},
        {MUS_OPUS, {"opus"}},
        {MUS_FLAC, {"flac"}},
        {MUS_MP3, {"mpg", "mpeg", "mp3", "mad"}},
        {MUS_MOD, {"669", "amf", "ams", "dbm", "dsm", "far", "gdm", "it", "med", "mdl", "mod", "mol", "mtm",
                   "nst", "okt", "ptm", "s3m", "stm", "ult", "umx", "wow", "xm"}},
    };
    const std::string extension = type_of(path);
    for (const auto& t : types)
        for (const char* e : t.extensions)
            if (SDL_strcasecmp(extension.c_str(), e) == 0) return t.type;
    return MUS_NONE;
}

// Whether the mixer's own loop can repeat the music. Music that lasts no time
// at all, and a MIDI file that FluidSynth fails to read, it restarts for ever
// inside the audio callback, which holds the audio lock, so the game would
// freeze at its next sound; played once, they end. FluidSynth tells no length
// for any MIDI file, so a MIDI file's time is read from its own tracks; other
// music of unknown length is taken to last. The warning tells what is heard:
// FluidSynth plays nothing of a file it gives up on, as it does on every file
// cut short, while some that the reader refuses only out of caution play once.
bool loopable(Mix_Music* music, std::string_view file, const std::filesystem::path& path) {
    const Midi_tracks tracks = Mix_GetMusicType(music) != MUS_MID ? Midi_tracks::timed : read_midi_tracks(file);
    const char* why = nullptr;
    if (tracks == Midi_tracks::unreadable)
        why = "a MIDI file cut short or malformed; it plays at most once, and nothing if cut short";
    else if (tracks == Midi_tracks::timeless || Mix_MusicDuration(music) == 0)
        why = "music that lasts no time; it plays at most once";
    if (why) SDL_LogWarn(SDL_LOG_CATEGORY_APPLICATION, "\"%s\": can't loop %s", path.string().c_str(), why);
    return !why;
}

}  // namespace

std::unique_ptr<Audio> load_audio(const std::filesystem::path& path, float predecode) {
    auto audio = std::make_unique<Audio>();
    // Without a device there is nothing to decode for; "no audio available" was
    // said once at set-up, so each file stays quiet.
    if (!mixer) return audio;
    // Decoded from memory: the mixer never opens the file itself, and a file it
    // couldn't open gets the system's reason, not the mixer's.
    if (predecode != 0) {  // a NaN is non-zero too
        std::string bytes;
        if (read_bytes(path, _max_sound_size, bytes))
            if (SDL_RWops* in = rw_from_bytes(bytes)) audio->chunk = Mix_LoadWAV_RW(in, 1);
    } else if (read_bytes(path, _max_music_size, audio->source)) {
        // The stream reads the bytes for as long as the music lives.
        if (SDL_RWops* in = rw_from_bytes(audio->source))
            audio->music = Mix_LoadMUSType_RW(in, music_type(path), SDL_TRUE);
    }
    if (!audio->chunk && !audio->music) {
        SDL_LogError(SDL_LOG_CATEGORY_APPLICATION, "\"%s\": %s", path.string().c_str(), SDL_GetError());
        return nullptr;
    }
    if (audio->music) audio->loop = loopable(audio->music, audio->source, path);
    return audio;
}

void play_audio(const Audio* audio) {
    if (audio) audio->play();
}

void stop_audio() {
    if (!mixer) return;
    Mix_HaltChannel(-1);
    Mix_HaltMusic();
}

void show_cursor(bool shown) { SDL_ShowCursor(shown ? SDL_ENABLE : SDL_DISABLE); }

Pixel_rect viewport_rect(const Box& view, float scale, Vec window) {
    Vec size = view.size() * scale;
    Vec origin = (window - size) * 0.5f;
    return {saturate_cast<int>(origin.x), saturate_cast<int>(origin.y), saturate_cast<int>(size.x),
            saturate_cast<int>(size.y)};
}

void viewport(const Box& view, float scale) {
    Pixel_rect r = viewport_rect(view, scale, wsize);
    glViewport(r.x, r.y, r.w, r.h);
}

std::string slurp(std::istream& in, std::size_t limit) {
    in.exceptions(std::ios_base::badbit);
    std::string result;
    char buffer[4096];
    while (result.size() < limit) {
        std::size_t want = std::min(sizeof buffer, limit - result.size());
        in.read(buffer, static_cast<std::streamsize>(want));
        result.append(buffer, static_cast<std::size_t>(in.gcount()));
        if (!in) break;  // a short read: the end of the stream
    }
    return result;
}

Media_lock::Media_lock(const std::string& title) : ok(init_all(title)) {}

Media_lock::~Media_lock() {
    if (mixer) Mix_CloseAudio();
    mixer = false;
    Mix_Quit();
    SDL_Quit();
}

Render_lock::Render_lock() : ok(render_begin()) {}

Render_lock::~Render_lock() { render_end(); }

Prof_lock::Prof_lock(const char* label) : label(label), start(SDL_GetTicks64()) {}

Prof_lock::~Prof_lock() {
    SDL_Log("%s: %llums", label, static_cast<unsigned long long>(SDL_GetTicks64() - start));
}

void ortho(float m[4][4], const Box& view) {
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r) m[c][r] = 0;
    m[0][0] = 2 / (view.r - view.l);
    m[1][1] = 2 / (view.u - view.d);
    m[2][2] = -1;
    m[3][0] = -(view.l + view.r) / (view.r - view.l);
    m[3][1] = -(view.d + view.u) / (view.u - view.d);
    m[3][3] = 1;
}

unsigned compile_shader(const char* code, unsigned type) {
    GLuint shader = glCreateShader(type);
    glShaderSource(shader, 1, &code, nullptr);
    glCompileShader(shader);
    GLint length = 0;
    glGetShaderiv(shader, GL_INFO_LOG_LENGTH, &length);
    log_info_log(length, [shader](GLint n, GLchar* text) {
        glGetShaderInfoLog(shader, n, nullptr, text);
    });
    GLint status = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &status);
    return status == GL_TRUE ? shader : 0;
}

unsigned load_shader(const std::filesystem::path& file, unsigned type) {
    std::string text;
    // No shader comes near a MiB.
    if (!read_bytes(file, std::size_t{1} << 20, text)) {
        SDL_LogError(SDL_LOG_CATEGORY_APPLICATION, "%s: %s", file.string().c_str(), SDL_GetError());
        return 0;
    }
    unsigned shader = compile_shader(text.c_str(), type);
    if (!shader)
        SDL_LogError(SDL_LOG_CATEGORY_APPLICATION, "%s: can't compile shader",
                     file.string().c_str());
    return shader;
}

unsigned link_program(std::initializer_list<unsigned int> shaders) {
    GLuint program = glCreateProgram();
    for (unsigned int shader : shaders) glAttachShader(program, shader);
    glLinkProgram(program);
    GLint length = 0;
    glGetProgramiv(program, GL_INFO_LOG_LENGTH, &length);
    log_info_log(length, [program](GLint n, GLchar* text) {
        glGetProgramInfoLog(program, n, nullptr, text);
    });
    GLint status = GL_FALSE;
    glGetProgramiv(program, GL_LINK_STATUS, &status);
    if (status == GL_TRUE) return program;
    SDL_LogError(SDL_LOG_CATEGORY_APPLICATION, "can't link program");
    return 0;
}

}  // namespace kesp
