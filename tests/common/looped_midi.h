// MIDI files played the way the mixer plays looped music, to see which of them
// stop when asked and which FluidSynth restarts for ever.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace test {

// Plays a MIDI file as the mixer plays music that loops: FluidSynth's player
// with its loop set to forever, rendering blocks of the game's 2048 frames at
// 44100 Hz for half a second, then asks it to stop. True when it stopped at the
// next block. A file that FluidSynth restarts for ever never returns: it spins
// inside the first block that reaches its end. Silences FluidSynth's log.
bool loop_then_stop(std::string_view file);

// A file that didn't stop, by its index, and what was seen of it.
struct Never_stops {
    std::size_t file;
    const char* why;
};

// The files that don't stop when played by loop_then_stop, in order. Each file
// is played in a child process, several at a time; one that spends a second of
// processor time or a minute without stopping is taken to never stop, so a
// loaded machine only slows the check down.
std::vector<Never_stops> files_that_never_stop(const std::vector<std::string>& files);

}  // namespace test
