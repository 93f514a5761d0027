// Reads arbitrary bytes as a MIDI file. Whatever the reader lets loop, looped
// as the mixer loops music, must stop when asked: a file FluidSynth restarts
// for ever never returns from the check, and the fuzzer's timeout reports it.
#include "common/looped_midi.h"
#include "support/midi.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

// How many inputs were read and how many of them looped, said at exit.
struct Tally {
    unsigned long long read = 0, looped = 0;
    ~Tally() { std::printf("midi_fuzz: %llu of %llu inputs looped, and each stopped when asked\n", looped, read); }
} _tally;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view file(reinterpret_cast<const char*>(data), size);
    ++_tally.read;
    if (kesp::read_midi_tracks(file) != kesp::Midi_tracks::timed) return 0;
    if (!test::loop_then_stop(file)) std::abort();
    ++_tally.looped;
    return 0;
}
