#include "common/game_files.h"

#include "common/file_bytes.h"
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
    write_file(path, wav_file(std::vector<std::int16_t>(samples)));
}

std::string wav_file(const std::vector<std::int16_t>& samples) {
    const auto rate = 22050u, data_bytes = static_cast<std::uint32_t>(2 * samples.size());
    std::string wav = "RIFF";
    put_le(wav, 36 + data_bytes, 4);
    wav += "WAVEfmt ";
    put_le(wav, 16, 4);
    put_le(wav, 1, 2);         // PCM
    put_le(wav, 1, 2);         // channels
    put_le(wav, rate, 4);      // sample rate
    put_le(wav, rate * 2, 4);  // bytes per second
    put_le(wav, 2, 2);         // block size
    put_le(wav, 16, 2);        // bits per sample
    wav += "data";
    put_le(wav, data_bytes, 4);
    for (std::int16_t v : samples) put_le(wav, static_cast<std::uint16_t>(v), 2);
    return wav;
}

void write_empty_midi(const std::filesystem::path& path) {
    // One track of one event, End of Track, at once.
    write_file(path, midi_file({std::string("\0\xff\x2f\0", 4)}));
}

std::string midi_file(const std::vector<std::string>& tracks, int count) {
    std::string midi = "MThd";
    put_be(midi, 6, 4);
    put_be(midi, tracks.size() == 1 ? 0 : 1, 2);  // the format
    put_be(midi, count < 0 ? tracks.size() : static_cast<std::uint64_t>(count), 2);
    put_be(midi, 96, 2);  // ticks a beat
    for (const std::string& t : tracks) {
        midi += "MTrk";
        put_be(midi, t.size(), 4);
        midi += t;
    }
    return midi;
}

std::string midi_tune(int beats) {
    // Channel 0 plays woodblock (program 115), whose hit dies away at once.
    std::string track("\0\xc0\x73"       // program change
                      "\0\x90\x48\x7f"  // note on
                      "\x0c\x80\x48\0",  // note off, an eighth of a beat later
                      11);
    // The end falls on the last beat's end: 96 ticks a beat, less the note's 12.
    track += midi_quantity(static_cast<std::uint32_t>(beats) * 96 - 12) + std::string("\xff\x2f\0", 3);
    return midi_file({track});
}

std::string midi_tune_after_meta() {
    std::string track("\0\xc0\x73"          // program change
                      "\0\x90\x48\x7f"      // note on
                      "\0\xff\x01\x01\x41"  // a text
                      "\x0b\x3c\0"          // a meta event of type 0x3c to FluidSynth
                      "\x01\x80\x48\0",     // note off, an eighth of a beat after the note on
                      19);
    track += midi_quantity(96 - 12) + std::string("\xff\x2f\0", 3);
    return midi_file({track});
}

std::string midi_tune_cut_in_a_track_header() {
    const std::string events = midi_tune(1).substr(14 + 8);  // its one track's events
    return midi_file({events, events}).substr(0, 14 + 8 + events.size() + 6);
}

std::string midi_wrapped_time(std::uint32_t last) {
    std::string events;
    for (int i = 0; i < 16; ++i) events += midi_quantity(0x0fffffff) + std::string("\xff\x03\x01\x41", 4);
    return events + midi_quantity(last) + std::string("\x90\x3c\x40\0\xff\x2f\0", 8);
}

std::string midi_quantity(std::uint32_t v) {
    std::string q(1, static_cast<char>(v & 0x7f));
    for (v >>= 7; v; v >>= 7) q.insert(q.begin(), static_cast<char>(0x80 | (v & 0x7f)));
    return q;
}

}  // namespace test
