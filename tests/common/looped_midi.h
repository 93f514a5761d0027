// MIDI files played the way the mixer plays looped music, to see which of them
// FluidSynth restarts for ever inside a block it renders.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace test {

// Plays a MIDI file as the mixer plays music that loops: FluidSynth's player
// with its loop set to forever, rendering blocks of the game's 2048 frames at
// 44100 Hz for half a second. Returns when each block has returned. A file that
// FluidSynth can't read whole, or that lasts no time, it restarts for ever
// inside the first block, which never returns. Silences FluidSynth's log.
void play_looped(std::string_view file);

// A file whose play by play_looped never returned, by its index, and what was
// seen of it.
struct Never_returns {
    std::size_t file;
    const char* why;
};

// The files whose play by play_looped never returns, in order. Each file is
// played in a child process, several at a time; one that spends a second of
// processor time or a minute without returning is taken to never return, so a
// loaded machine only slows the check down.
std::vector<Never_returns> files_that_never_return(const std::vector<std::string>& files);

}  // namespace test
