// Sounds made from text recipes: effects as sums of tones with pitch slides and
// envelopes, and a looping music track written as patterns of notes.
//   Effects:  rate <hz>; sound <file.wav> ... end, holding lines of
//             tone wave=square|triangle|saw|sine|noise from= to= start= length=
//                  volume= attack= curve= duty= vibrato= depth= seed=
//   Music:    music <file.wav>; rate <hz>; tempo <bpm> <steps per beat>;
//             instrument <name> wave= volume= attack= decay= release= duty=
//                  vibrato= depth= pitch= drop= droptime= seed=;
//             pattern <name> ... end, one line per instrument: its name, then
//                  one word per step: a note (C4, F#3, Bb5), '-' hold, '.' rest,
//                  'x' the instrument's own pitch, '|' ignored;
//             song <pattern>...
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
