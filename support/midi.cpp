#include "support/midi.h"

#include <cstdint>
#include <limits>

namespace kesp {

namespace {

// Reads the numbers of a MIDI file, never past its bytes: a read beyond them
// gives 0 and marks the reader as cut.
struct Midi_reader {
    std::string_view bytes;
    std::size_t at = 0;
    bool cut = false;

    std::size_t left() const { return bytes.size() - at; }
    std::uint32_t byte() {
        if (at == bytes.size()) {
            cut = true;
            return 0;
        }
        return static_cast<unsigned char>(bytes[at++]);
    }
    // A big-endian number of n bytes.
    std::uint32_t big(int n) {
        std::uint32_t v = 0;
        for (int i = 0; i < n; ++i) v = v << 8 | byte();
        return v;
    }
    // A variable-length quantity: seven bits a byte, at most four bytes.
    std::uint32_t quantity() {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) {
            const std::uint32_t b = byte();
            v = v << 7 | (b & 0x7f);
            if (!(b & 0x80)) return v;
        }
        cut = true;
        return 0;
    }
    // The next n bytes, or as many as there are.
    std::string_view take(std::uint64_t n) {
        if (n > left()) {
            cut = true;
            n = left();
        }
        std::string_view part = bytes.substr(at, static_cast<std::size_t>(n));
        at += part.size();
        return part;
    }
};

// The length FluidSynth insists on for a meta event of the type, or -1 for any.
int meta_length(std::uint32_t type) {
    switch (type) {
    case 0x51: return 3;  // tempo
    case 0x54: return 5;  // SMPTE offset
    case 0x58: return 4;  // time signature
    case 0x59: return 2;  // key signature
    default: return -1;
    }
}

// The time FluidSynth counts in a track: it adds each delta-time to the one
// before in 32 bits, and an event it keeps takes the sum, so time on events it
// drops goes to the next one it keeps, and time that adds up to 2^32 is none.
class Track_time {
public:
    void pass(std::uint32_t delta) { waiting += delta; }
    void keep() {
        time += waiting;
        waiting = 0;
    }
    Midi_tracks found() const { return time != 0 ? Midi_tracks::timed : Midi_tracks::timeless; }

private:
    std::uint32_t waiting = 0;  // time that no kept event has taken yet
    std::uint32_t time = 0;
};

// What FluidSynth finds in one track's events, which run to its End of Track
// or to the end of a whole chunk; a track cut short by the end of the file ends
// in neither. It gives up on the whole file at the first fault, so time read
// before a fault doesn't count either.
Midi_tracks read_track(std::string_view events, bool whole) {
    Midi_reader r{events};
    Track_time time;
    std::uint32_t running = 0;  // the status that data bytes without one take
    for (;;) {
        if (r.left() == 0) return whole ? time.found() : Midi_tracks::unreadable;
        time.pass(r.quantity());
        std::uint32_t status = r.byte();
        if (r.cut) return Midi_tracks::unreadable;
        if (status < 0x80) {
            if (!running) return Midi_tracks::unreadable;
            status = running;
            --r.at;  // a data byte
        }
        // After a meta event FluidSynth keeps 0xff as its running status, and
        // after a system exclusive message 0xf0, so a data byte that follows
        // starts another message of the kind. The reader ends the running
        // status there instead, out of its own caution, and refuses the byte.
        if (status == 0xff) {  // a meta event
            running = 0;
            const std::uint32_t type = r.byte();
            const std::uint32_t length = r.quantity();
            if (r.cut) return Midi_tracks::unreadable;
            if (type == 0x2f) {
                if (length != 0) return Midi_tracks::unreadable;
                time.keep();
                return time.found();
            }
            if (meta_length(type) >= 0 && length != static_cast<std::uint32_t>(meta_length(type)))
                return Midi_tracks::unreadable;
            r.take(length);
            if (type == 0x01 || type == 0x05 || type == 0x51) time.keep();  // text, lyric, tempo
        } else if (status == 0xf0) {  // a system exclusive message
            const std::uint32_t length = r.quantity();
            r.take(length);
            running = 0;
            if (length > 0) time.keep();
        } else if (status > 0xf0) {
            return Midi_tracks::unreadable;  // no other system message, an escape neither
        } else {
            running = status;
            // Program and pressure changes carry one data byte, the others two.
            for (char data : r.take((status & 0xe0) == 0xc0 ? 1 : 2))
                if (data & 0x80) return Midi_tracks::unreadable;
            time.keep();
        }
        if (r.cut) return Midi_tracks::unreadable;
    }
}

}  // namespace

Midi_tracks read_midi_tracks(std::string_view file) {
    // The header FluidSynth reads: six bytes, a format of 0, 1 or 2, fewer than
    // 128 tracks, and ticks a beat rather than SMPTE frames.
    Midi_reader r{file};
    if (r.take(4) != "MThd" || r.big(4) != 6) return Midi_tracks::unreadable;
    const std::uint32_t format = r.big(2);
    const std::uint32_t tracks = r.big(2);
    const std::uint32_t division = r.big(2);
    if (r.cut || format > 2 || tracks >= 128 || division & 0x8000) return Midi_tracks::unreadable;
    // The tracks follow one another; what follows them is never read. A track
    // whose header is cut short is a fault like any other: FluidSynth gives up
    // on the whole file and plays none of it, the tracks before included.
    Midi_tracks found = Midi_tracks::timeless;
    for (std::uint32_t i = 0; i < tracks; ++i) {
        if (r.take(4) != "MTrk") return Midi_tracks::unreadable;
        const std::uint32_t size = r.big(4);
        if (r.cut) return Midi_tracks::unreadable;
        // FluidSynth finds the next track by an offset that must fit an int.
        if (r.at + std::uint64_t{size} > static_cast<std::uint64_t>(std::numeric_limits<int>::max()))
            return Midi_tracks::unreadable;
        const std::string_view events = r.take(size);
        const Midi_tracks track = read_track(events, events.size() == size);
        if (track == Midi_tracks::unreadable) return track;
        if (track == Midi_tracks::timed) found = track;
    }
    return found;
}

}  // namespace kesp
