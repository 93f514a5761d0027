// A private data and state folder for tests of code that finds its sheets and
// sounds through kesp::paths.
#pragma once

#include "common/process.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace test {

// While it lives, the data search list of kesp::paths holds only data() and the
// state folder is state(), both in a fresh temporary folder.
class Game_files {
public:
    Game_files();
    ~Game_files();
    Game_files(const Game_files&) = delete;
    Game_files& operator=(const Game_files&) = delete;

    // The game's folder in each.
    std::filesystem::path data() const { return dir / "data" / "quorla"; }
    std::filesystem::path state() const { return dir / "state" / "quorla"; }

    // texture/<name>: cols x rows cells of w x h pixels, pixel(cell, x, y) in the
    // byte order of rgba(), cells numbered row by row.
    void sheet(const std::string& name, int cols, int rows, int w, int h,
               const std::function<std::uint32_t(int cell, int x, int y)>& pixel);
    // sound/<name>: a short silent WAV.
    void sound(const std::string& name);

private:
    Temp_dir dir;
    std::vector<std::filesystem::path> data_roots;
    std::filesystem::path state_dir;
};

// samples of silence as a 16-bit mono PCM WAV file at 22050 Hz.
void write_silent_wav(const std::filesystem::path& path, std::uint32_t samples);
// The samples as a 16-bit mono PCM WAV file at 22050 Hz.
std::string wav_file(const std::vector<std::int16_t>& samples);
// A valid MIDI file whose one track holds only its end: music of zero length.
void write_empty_midi(const std::filesystem::path& path);

// A standard MIDI file at 96 ticks a beat of the given tracks, each given as its
// events without the "MTrk" header, with a header that counts count tracks
// (negative: as many as given).
std::string midi_file(const std::vector<std::string>& tracks, int count = -1);
// A tune of `beats` half-second beats, at the default tempo of 120 a minute, on
// woodblock: a short hit on the first beat, then rests.
std::string midi_tune(int beats);
// midi_tune(1) with a text after the hit, and a data byte after the text:
// FluidSynth keeps the text's status as its running status, reads a meta event
// there and plays the tune; the reader, to be safe, refuses the file.
std::string midi_tune_after_meta();
// midi_tune(1) twice, as two tracks, cut after two bytes of the second track's
// length: FluidSynth gives up on it and plays none of it, the first track too.
std::string midi_tune_cut_in_a_track_header();
// A track's events: time on events FluidSynth drops that adds up to 2^32 ticks
// (sixteen track names, each 0x0fffffff ticks on), then a note last ticks on,
// then the end: FluidSynth's 32-bit count of the time wraps to last - 16.
std::string midi_wrapped_time(std::uint32_t last);
// A delta-time or length in a MIDI file: seven bits a byte, the first bytes
// marked as followed by another.
std::string midi_quantity(std::uint32_t v);

}  // namespace test
