// Reads arbitrary bytes as a MIDI file. Whatever the reader lets loop is looped
// as the mixer loops music, and each block rendered must return: a file that
// FluidSynth restarts for ever never does, and the fuzzer's timeout reports it.
#include "common/looped_midi.h"
#include "support/midi.h"

#include <cstdint>
#include <cstdio>
#include <string_view>

namespace {

// How many inputs were read and how many of them looped, said at exit.
struct Tally {
    unsigned long long read = 0, looped = 0;
    ~Tally() { std::printf("midi_fuzz: %llu of %llu inputs looped, and each block returned\n", looped, read); }
} _tally;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view file(reinterpret_cast<const char*>(data), size);
    ++_tally.read;
    if (kesp::read_midi_tracks(file) != kesp::Midi_tracks::timed) return 0;
    test::play_looped(file);
    ++_tally.looped;
    return 0;
}
