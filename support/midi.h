// What FluidSynth, which plays the mixer's MIDI music, makes of a standard MIDI
// file: whether, looped, it surely plays on, or may restart for ever.
#pragma once

#include <string_view>

namespace kesp {

// What FluidSynth finds in the tracks a MIDI file's header counts.
enum class Midi_tracks {
    timed,       // read whole, they hold time: the delta-times that the events it
                 // keeps take add up to more than zero in its 32-bit count
    timeless,    // read whole, they end as soon as they start
    unreadable,  // cut short (inside a chunk's header too), malformed, or in a form
                 // FluidSynth doesn't read: a header of another length, SMPTE time,
                 // 128 tracks or more, other chunks before the tracks, an escape event;
                 // and, out of caution, a few forms it reads, such as running status
                 // after a meta event or a system exclusive message
};

// Reads the tracks of a MIDI file, never past its bytes, whatever they claim.
Midi_tracks read_midi_tracks(std::string_view file);

}  // namespace kesp
