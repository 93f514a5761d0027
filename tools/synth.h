// Sounds made from text recipes: effects as sums of tones with pitch slides and
// envelopes, and a looping music track written as patterns of notes.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace tools {

struct Wave {
    std::string file;
    int rate = 44100;
    std::vector<float> samples;  // mono, -1 to 1
};

// Every "sound" of an effects recipe.
std::vector<Wave> read_sounds(const std::filesystem::path& path);

// The one "music" of a song recipe. Notes still sounding at the end of the song
// are folded back onto its start, so the track loops without a seam.
Wave read_music(const std::filesystem::path& path);

// Writes 16-bit mono PCM.
void write_wav(const Wave& wave, const std::filesystem::path& path);

}  // namespace tools
