#include "common/game_files.h"

#include "common/gl_window.h"
#include "support/paths.h"

#include <SDL.h>

#include <utility>

namespace test {

Game_files::Game_files()
    : data_roots(std::exchange(kesp::paths.data.roots, {dir / "data"})),
      state_dir(std::exchange(kesp::paths.state.dir, dir / "state")) {
    std::filesystem::create_directories(data() / "texture");
    std::filesystem::create_directories(data() / "sound");
}

Game_files::~Game_files() {
    kesp::paths.data.roots = data_roots;
    kesp::paths.state.dir = state_dir;
}

void Game_files::sheet(const std::string& name, int cols, int rows, int w, int h,
                       const std::function<std::uint32_t(int cell, int x, int y)>& pixel) {
    Surface image = make_image(cols * w, rows * h, [&](int x, int y) {
        return pixel(y / h * cols + x / w, x % w, y % h);
    });
    ASSERT_TRUE(image) << SDL_GetError();
    save_image(image.get(), data() / "texture" / name);
}

void Game_files::sound(const std::string& name) { write_silent_wav(data() / "sound" / name, 64); }

void write_silent_wav(const std::filesystem::path& path, std::uint32_t samples) {
    // 16-bit mono PCM at 22050 Hz.
    const std::uint32_t rate = 22050, data_bytes = samples * 2;
    std::string wav;
    auto put = [&wav](std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) wav.push_back(static_cast<char>(v >> (8 * i) & 0xff));
    };
    wav += "RIFF";
    put(36 + data_bytes, 4);
    wav += "WAVEfmt ";
    put(16, 4);
    put(1, 2);         // PCM
    put(1, 2);         // channels
    put(rate, 4);      // sample rate
    put(rate * 2, 4);  // bytes per second
    put(2, 2);         // block size
    put(16, 2);        // bits per sample
    wav += "data";
    put(data_bytes, 4);
    wav.append(data_bytes, '\0');
    write_file(path, wav);
}

void write_empty_midi(const std::filesystem::path& path) {
    // Format 0, one track, 96 ticks a beat; the track is one event, End of Track.
    const char midi[] = "MThd\0\0\0\6\0\0\0\1\0\x60"
                        "MTrk\0\0\0\4\0\xff\x2f\0";
    write_file(path, std::string(midi, sizeof midi - 1));
}

}  // namespace test
