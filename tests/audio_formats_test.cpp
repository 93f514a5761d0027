// Every sound and music format the mixer reads reaches the game through its one
// door, the file's bytes read into memory and the music's type guessed from its
// extension, as it would from the file's path: a sound decodes to the same
// samples and music to the same type and length, and a file the mixer refuses
// by name is refused through the door too.
#include "support/media.h"

#include "common/file_bytes.h"
#include "common/game_files.h"
#include "common/gl_window.h"
#include "common/log_record.h"
#include "common/process.h"

#include <SDL.h>
#include <SDL_mixer.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

namespace {

using test::put_be;
using test::put_le;

// A tenth of a second of a 440 Hz tone, 16-bit mono at 22050 Hz, as
// tests/fixtures/make makes it for the formats encoded there.
constexpr std::uint32_t _rate = 22050, _samples = _rate / 10;

std::vector<std::int16_t> tone() {
    std::vector<std::int16_t> s(_samples);
    for (std::uint32_t i = 0; i < _samples; ++i)
        s[i] = static_cast<std::int16_t>(std::lround(12000 * std::sin(2 * std::numbers::pi * 440 * i / _rate)));
    return s;
}

std::string wav() { return test::wav_file(tone()); }

std::string aiff() {
    std::string s = "FORM";
    put_be(s, 4 + 8 + 18 + 8 + 8 + 2 * _samples, 4);
    s += "AIFFCOMM";
    put_be(s, 18, 4);
    put_be(s, 1, 2);
    put_be(s, _samples, 4);
    put_be(s, 16, 2);
    // The rate as an 80-bit float: 22050 is 0x5622 times 2^0 with 14 bits
    // after the point, its mantissa's top bit set.
    put_be(s, 16383 + 14, 2);
    put_be(s, std::uint64_t{_rate} << (63 - 14), 8);
    s += "SSND";
    put_be(s, 8 + 2 * _samples, 4);
    put_be(s, 0, 8);  // no offset, no block size
    for (std::int16_t v : tone()) put_be(s, static_cast<std::uint16_t>(v), 2);
    return s;
}

// Creative's voice file: one block of unsigned 8-bit samples.
std::string voc() {
    std::string s("Creative Voice File\x1a", 20);
    put_le(s, 26, 2);
    put_le(s, 0x010a, 2);
    put_le(s, 0x1129, 2);  // the version's check: its complement plus 0x1234
    s += '\x01';
    put_le(s, _samples + 2, 3);
    s += static_cast<char>(256 - 1000000 / _rate);  // the rate as Creative counts it
    s += '\0';
    for (std::int16_t v : tone()) s += static_cast<char>((v >> 8) + 128);
    return s + '\0';
}

std::uint8_t crc8(const std::string& bytes) {
    std::uint8_t crc = 0;
    for (char c : bytes) {
        crc ^= static_cast<std::uint8_t>(c);
        for (int i = 0; i < 8; ++i) crc = static_cast<std::uint8_t>(crc & 0x80 ? crc << 1 ^ 0x07 : crc << 1);
    }
    return crc;
}

std::uint16_t crc16(const std::string& bytes) {
    std::uint16_t crc = 0;
    for (char c : bytes) {
        crc ^= static_cast<std::uint16_t>(static_cast<std::uint8_t>(c) << 8);
        for (int i = 0; i < 8; ++i) crc = static_cast<std::uint16_t>(crc & 0x8000 ? crc << 1 ^ 0x8005 : crc << 1);
    }
    return crc;
}

// FLAC of one frame whose one subframe holds the samples as they are.
std::string flac() {
    std::string s = "fLaC";
    s += '\x80';  // the last metadata block, stream information
    put_be(s, 34, 3);
    put_be(s, _samples, 2);  // the least and most samples a block
    put_be(s, _samples, 2);
    put_be(s, 0, 6);  // frame sizes unknown
    put_be(s, std::uint64_t{_rate} << 44 | std::uint64_t{15} << 36 | _samples, 8);  // mono, 16 bits
    s.append(16, '\0');  // no MD5 signature
    std::string frame("\xff\xf8", 2);  // fixed block size
    frame += '\x76';  // the block size follows in 16 bits; 22.05 kHz
    frame += '\x08';  // mono, 16 bits
    frame += '\0';    // frame 0
    put_be(frame, _samples - 1, 2);
    frame += static_cast<char>(crc8(frame));
    frame += '\x02';  // verbatim
    for (std::int16_t v : tone()) put_be(frame, static_cast<std::uint16_t>(v), 2);
    put_be(frame, crc16(frame), 2);
    return s + frame;
}

// A ProTracker module of five rows at the default speed, 0.6 s, which ModPlug
// rounds to a second (a tenth it would round to none): the tone's first 64
// samples looped, then a pattern break that ends the song. Its 20-byte title
// comes first.
std::string module(const std::string& title) {
    std::string s = title;
    s.resize(20, '\0');
    constexpr int words = 32;
    for (int i = 0; i < 31; ++i) {
        std::string sample(22, '\0');
        if (i == 0) {
            sample.replace(0, 4, "tone");
            put_be(sample, words, 2);
            sample += '\0';   // no fine tune
            sample += '\x40';  // full volume
            put_be(sample, 0, 2);
            put_be(sample, words, 2);
        } else {
            put_be(sample, 0, 6);
            put_be(sample, 1, 2);  // no loop
        }
        s += sample;
    }
    s += '\x01';  // one position
    s += '\x7f';
    s.append(128, '\0');
    s += "M.K.";
    // C-2 on sample 1; four rows on, a break beside it.
    std::string pattern(64 * 4 * 4, '\0');
    pattern.replace(0, 4, "\x01\xac\x10\0", 4);
    pattern.replace(4 * 4 * 4 + 4, 4, "\0\0\x0d\0", 4);
    s += pattern;
    const std::vector<std::int16_t> t = tone();
    for (int i = 0; i < 2 * words; ++i) s += static_cast<char>(t[static_cast<std::size_t>(i)] >> 8);
    return s;
}

std::string mod() { return module("tone"); }
// A title that starts as an AIFF file does, which the mixer's sniffing goes by:
// only the file's name tells it's a module.
std::string form_module() { return module("FORM of a tone"); }

std::string midi() { return test::midi_tune(1); }
std::string ogg() { return test::fixture("tone.ogg"); }
std::string opus() { return test::fixture("tone.opus"); }
std::string mp3() { return test::fixture("tone.mp3"); }
std::string words() { return "these are words, no sound at all, nor music\n"; }

struct Audio_file {
    const char* what;
    const char* file;
    std::string (*bytes)();
    const char* sound;  // the chunk decoder that reads it as a sound; null: Mix_LoadWAV refuses it
    const char* music;  // the music decoder that reads it as music; null: Mix_LoadMUS refuses it
    const char* needs;  // what the mixer needs to read it besides its decoder, or null
};

const char* const _sound_font =
    "MIDI needs the sound font /usr/share/sounds/sf3/default-GM.sf3 (Debian's timgm6mb-soundfont)";

const Audio_file files[] = {
    {"WAV", "tone.wav", wav, "WAVE", "WAVE", nullptr},
    {"AIFF", "tone.aiff", aiff, "AIFF", "WAVE", nullptr},
    {"VOC", "tone.voc", voc, "VOC", nullptr, nullptr},
    {"FLAC", "tone.flac", flac, "FLAC", "FLAC", nullptr},
    {"Ogg Vorbis", "tone.ogg", ogg, "OGG", "OGG", nullptr},
    {"Opus", "tone.opus", opus, "OPUS", "OPUS", nullptr},
    {"MP3", "tone.mp3", mp3, "MP3", "MP3", nullptr},
    {"MOD", "tone.mod", mod, "MOD", "MOD", nullptr},
    {"a module named .gdm", "form.gdm", form_module, nullptr, "MOD", nullptr},
    {"a module named .Mod", "form.Mod", form_module, nullptr, "MOD", nullptr},
    {"MIDI", "tune.mid", midi, "MID", "MIDI", _sound_font},
    {"words named as Ogg", "words.ogg", words, nullptr, nullptr, nullptr},
};

// The mixer's music decoders by name, and the music type each reads: the names
// the files are listed by.
struct Decoder {
    const char* name;
    const char* type;
};
const Decoder music_decoders[] = {
    {"MODPLUG", "MOD"}, {"XMP", "MOD"},        {"MPG123", "MP3"},     {"DRMP3", "MP3"},
    {"DRFLAC", "FLAC"}, {"FLUIDSYNTH", "MIDI"}, {"TIMIDITY", "MIDI"}, {"NATIVEMIDI", "MIDI"},
};

// The external player plays music by name with a program that the game never
// sets (Mix_SetMusicCMD): it has no format of its own.
constexpr const char* _external_player = "CMD";

// What a child found wrong: it exits with 1 after printing them, or 0.
class Faults {
public:
    void add(const std::string& what, const std::string& fault) { text += what + ": " + fault + "\n"; }
    [[noreturn]] void exit() const {
        std::fputs(text.c_str(), stderr);
        std::exit(text.empty() ? 0 : 1);
    }

private:
    std::string text;
};

// The media scope with every decoder the mixer can load, for a child.
bool open_every_decoder() {
    if (!test::gl_window() || !kesp::mixer) return false;
    Mix_Init(MIX_INIT_FLAC | MIX_INIT_MOD | MIX_INIT_MP3 | MIX_INIT_OGG | MIX_INIT_MID | MIX_INIT_OPUS);
    return true;
}

bool is(const char* a, const char* b) { return a && b && std::strcmp(a, b) == 0; }

void child_finds_a_file_for_every_decoder() {
    Faults faults;
    if (!open_every_decoder()) std::exit(2);
    for (int i = 0; i < Mix_GetNumChunkDecoders(); ++i) {
        const char* d = Mix_GetChunkDecoder(i);
        bool covered = false;
        for (const Audio_file& f : files) covered = covered || is(f.sound, d);
        if (!covered) faults.add(d, "the mixer reads sounds with it, but no file of it is in the table");
    }
    for (int i = 0; i < Mix_GetNumMusicDecoders(); ++i) {
        const char* d = Mix_GetMusicDecoder(i);
        if (is(d, _external_player)) continue;
        const char* type = d;
        for (const Decoder& m : music_decoders) type = is(m.name, d) ? m.type : type;
        bool covered = false;
        for (const Audio_file& f : files) covered = covered || is(f.music, type);
        if (!covered) faults.add(d, "the mixer reads music with it, but no file of it is in the table");
    }
    faults.exit();
}

TEST(Audio_formats, EveryDecoderTheMixerReportsHasAFile) {
    EXPECT_EXIT(child_finds_a_file_for_every_decoder(), testing::ExitedWithCode(0), "");
}

// What loading logged, or that it logged nothing.
std::string logged(const test::Log_record& log) {
    std::string text;
    for (const std::string& line : log.problems()) text += (text.empty() ? "" : " | ") + line;
    return text.empty() ? "nothing logged" : text;
}

// What the mixer's own loader made of a file by its name.
struct By_name {
    const char* loader;
    bool loaded;
    std::string reason;  // when it refused
};

// Loads the file through the door as a sound (predecode 1) or music (0), which
// must give what the mixer's loader gave by name: a decoding that differs in
// nothing (differs says how it does), or a refusal whose one error line gives
// the loader's reason. The loader must load it exactly when the table names a
// decoder for it.
void expect_the_door_as_by_name(Faults& faults, const Audio_file& f, const std::string& path, float predecode,
                                const By_name& name,
                                const std::function<std::string(const kesp::Audio& door)>& differs) {
    const std::string what = std::string(f.what) + (predecode != 0 ? " as a sound" : " as music");
    const bool decodes = (predecode != 0 ? f.sound : f.music) != nullptr;
    if (name.loaded != decodes)
        faults.add(what, std::string(name.loader) + (name.loaded ? " loads it" : " refuses it: " + name.reason) +
                             (f.needs ? std::string("; ") + f.needs : ""));
    test::Log_record log;
    const std::unique_ptr<kesp::Audio> door = kesp::load_audio(path, predecode);
    const bool loaded = door && (predecode != 0 ? door->sound() != nullptr : door->tune() != nullptr);
    const std::string line = "\"" + path + "\": " + name.reason;
    if (loaded != name.loaded)
        faults.add(what, std::string("the door ") + (loaded ? "loads" : "refuses") + " it, " + name.loader + " " +
                             (name.loaded ? "loads it" : "refuses it: " + name.reason) + " (" + logged(log) + ")");
    else if (!loaded && (log.problems() != std::vector<std::string>{line} || log.errors(line) != 1))
        faults.add(what, "refused with " + logged(log) + ", not " + line);
    else if (loaded && !log.problems().empty())
        faults.add(what, "loaded after " + logged(log));
    else if (const std::string how = loaded ? differs(*door) : ""; !how.empty())
        faults.add(what, how);
}

void child_loads_every_file_as_by_its_path() {
    alarm(60);  // a decoder that hangs ends the child instead of the test run
    Faults faults;
    if (!open_every_decoder()) std::exit(2);
    test::Temp_dir dir;
    for (const Audio_file& f : files) {
        const std::string path = (dir / f.file).string();
        test::write_file(path, f.bytes());

        Mix_Chunk* chunk = Mix_LoadWAV(path.c_str());
        expect_the_door_as_by_name(
            faults, f, path, 1, {"Mix_LoadWAV", chunk != nullptr, chunk ? "" : Mix_GetError()},
            [chunk](const kesp::Audio& door) {
                const Mix_Chunk* got = door.sound();
                if (got->alen == chunk->alen && std::memcmp(got->abuf, chunk->abuf, chunk->alen) == 0)
                    return std::string();
                return "decodes to " + std::to_string(got->alen) + " bytes of samples, by name to " +
                       std::to_string(chunk->alen) + " of others";
            });
        Mix_FreeChunk(chunk);

        Mix_Music* music = Mix_LoadMUS(path.c_str());
        expect_the_door_as_by_name(
            faults, f, path, 0, {"Mix_LoadMUS", music != nullptr, music ? "" : Mix_GetError()},
            [music](const kesp::Audio& door) {
                std::string differs;
                if (Mix_GetMusicType(door.tune()) != Mix_GetMusicType(music))
                    differs += "is music of type " + std::to_string(Mix_GetMusicType(door.tune())) + ", by name " +
                               std::to_string(Mix_GetMusicType(music)) + "; ";
                if (Mix_MusicDuration(door.tune()) != Mix_MusicDuration(music))
                    differs += "lasts " + std::to_string(Mix_MusicDuration(door.tune())) + " s, by name " +
                               std::to_string(Mix_MusicDuration(music));
                return differs;
            });
        Mix_FreeMusic(music);
    }
    faults.exit();
}

TEST(Audio_formats, SoundsAndMusicLoadFromTheirBytesAsFromTheirPath) {
    EXPECT_EXIT(child_loads_every_file_as_by_its_path(), testing::ExitedWithCode(0), "");
}

}  // namespace
