#include "synth.h"

#include "source.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <map>
#include <numbers>
#include <stdexcept>

namespace tools {

namespace {

enum class Shape { square, triangle, saw, sine, noise };

// The longest a tone, a note's release or a song may last, in seconds: far past
// any of them, and short enough that every sample position stays within a WAV
// file at any rate.
constexpr int _longest = 3600;

// The noise seed: a whole number of 32 bits, fractions dropped.
std::uint32_t parse_seed(const Source& src, Options& o)
{
    const double seed = o.number("seed", 1);
    if (!(seed >= 0 && seed < 4294967296.0))
        src.fail("seed must lie between 0 and 4294967295");
    return static_cast<std::uint32_t>(seed);
}

Shape parse_shape(const Source& src, const std::string& name)
{
    static const std::map<std::string, Shape> shapes{{"square", Shape::square},
        {"triangle", Shape::triangle}, {"saw", Shape::saw}, {"sine", Shape::sine},
        {"noise", Shape::noise}};
    const auto it = shapes.find(name);
    if (it == shapes.end())
        src.fail("unknown wave \"" + name + "\"");
    return it->second;
}

// An oscillator of one shape; noise is random levels held for one period each,
// so its pitch sets how bright it is. The generator is seeded: same recipe, same sound.
class Oscillator {
public:
    Oscillator(Shape shape, double duty, std::uint32_t seed) : shape(shape), duty(duty), state(seed | 1) {}

    float operator()(double freq, int rate)
    {
        phase += freq / rate;
        const bool wrapped = phase >= 1;
        phase -= std::floor(phase);
        switch (shape) {
        case Shape::square: return phase < duty ? 1.f : -1.f;
        case Shape::triangle: return static_cast<float>(phase < 0.5 ? 4 * phase - 1 : 3 - 4 * phase);
        case Shape::saw: return static_cast<float>(2 * phase - 1);
        case Shape::sine: return static_cast<float>(std::sin(2 * std::numbers::pi * phase));
        case Shape::noise:
            if (wrapped || !started) {
                state = state * 1664525u + 1013904223u;
                level = static_cast<float>(state >> 8) / 8388608.f - 1.f;
                started = true;
            }
            return level;
        }
        return 0;
    }

private:
    Shape shape;
    double duty;
    std::uint32_t state;
    double phase = 0;
    float level = 0;
    bool started = false;
};

// Adds one sample into a buffer, folding positions past its end back to its
// start when it loops, dropping them otherwise.
void mix(std::vector<float>& out, std::size_t at, float v, bool loop)
{
    if (loop)
        out[at % out.size()] += v;
    else if (at < out.size())
        out[at] += v;
}

// One tone of an effect: a pitch slide from one frequency to another, shaped
// by a short attack and a fall that the curve makes steeper.
void add_tone(const Source& src, Wave& wave, const std::vector<std::string>& w)
{
    Options o(src, w, 1);
    const Shape shape = parse_shape(src, o.text("wave", "square"));
    const double from = o.number("from", 440), to = o.number("to", from);
    const double start = o.number("start", 0), length = o.number("length", 0);
    const double volume = o.number("volume", 0.5), attack = o.number("attack", 0.002);
    const double curve = o.number("curve", 2), duty = o.number("duty", 0.5);
    const double vibrato = o.number("vibrato", 0), depth = o.number("depth", 0);
    const std::uint32_t seed = parse_seed(src, o);
    o.finish();
    if (length <= 0 || from <= 0 || to <= 0 || start < 0 || attack < 0 || attack > length)
        src.fail("a tone needs length > 0, frequencies > 0, start >= 0 and 0 <= attack <= length");
    if (start + length > _longest)
        src.fail("a tone must end within " + std::to_string(_longest) + " seconds");

    Oscillator osc(shape, duty, seed);
    const auto first = static_cast<std::size_t>(start * wave.rate);
    const auto count = static_cast<std::size_t>(length * wave.rate);
    if (wave.samples.size() < first + count)
        wave.samples.resize(first + count);
    for (std::size_t i = 0; i < count; ++i) {
        const double t = static_cast<double>(i) / wave.rate, u = t / length;
        double f = from * std::pow(to / from, u);
        if (vibrato > 0)
            f *= 1 + depth * std::sin(2 * std::numbers::pi * vibrato * t);
        const double env = t < attack ? t / attack : std::pow(1 - (t - attack) / (length - attack + 1e-9), curve);
        mix(wave.samples, first + i, static_cast<float>(volume * env * osc(f, wave.rate)), false);
    }
}

int parse_rate(const Source& src, const std::vector<std::string>& w)
{
    if (w.size() != 2)
        src.fail("expected: rate <samples per second>");
    const int rate = parse_int(src, w[1]);
    if (rate < 8000 || rate > 96000)
        src.fail("rate must lie between 8000 and 96000");
    return rate;
}

// Scales the whole wave down when its loudest sample would clip.
void fit(Wave& wave)
{
    float peak = 0;
    for (float v : wave.samples)
        peak = std::max(peak, std::abs(v));
    if (peak > 0.98f)
        for (float& v : wave.samples)
            v *= 0.98f / peak;
}

struct Instrument {
    Shape shape = Shape::square;
    double volume = 0.2, attack = 0.005, decay = 0, release = 0.05;
    double duty = 0.5, vibrato = 0, depth = 0;
    double pitch = 0;                 // Hz of an 'x' step
    double drop = 1, droptime = 0.05; // pitch falls to drop times itself over droptime
    std::uint32_t seed = 1;
};

Instrument parse_instrument(const Source& src, const std::vector<std::string>& w)
{
    Options o(src, w, 2);
    Instrument in;
    in.shape = parse_shape(src, o.text("wave", "square"));
    in.volume = o.number("volume", in.volume);
    in.attack = o.number("attack", in.attack);
    in.decay = o.number("decay", in.decay);
    in.release = o.number("release", in.release);
    in.duty = o.number("duty", in.duty);
    in.vibrato = o.number("vibrato", in.vibrato);
    in.depth = o.number("depth", in.depth);
    in.pitch = o.number("pitch", in.pitch);
    in.drop = o.number("drop", in.drop);
    in.droptime = o.number("droptime", in.droptime);
    in.seed = parse_seed(src, o);
    o.finish();
    if (in.attack < 0 || in.decay < 0 || in.release < 0 || in.drop <= 0 || in.droptime <= 0)
        src.fail("attack, decay and release must not be negative; drop and droptime must be positive");
    if (in.release > _longest)
        src.fail("release must not pass " + std::to_string(_longest) + " seconds");
    return in;
}

// "C4", "F#3", "Bb5" in equal temperament with A4 at 440 Hz.
double note_frequency(const Source& src, const std::string& note)
{
    static const std::string names = "C D EF G A B";
    const auto letter = names.find(note.empty() ? '?' : note[0]);
    if (letter == std::string::npos || note[0] == ' ')
        src.fail("bad note \"" + note + "\"");
    int semitone = static_cast<int>(letter);
    std::size_t i = 1;
    if (i < note.size() && note[i] == '#')
        ++semitone, ++i;
    else if (i < note.size() && note[i] == 'b')
        --semitone, ++i;
    if (i + 1 != note.size() || note[i] < '0' || note[i] > '8')
        src.fail("bad note \"" + note + "\"");
    const int midi = 12 * (note[i] - '0' + 1) + semitone;
    return 440 * std::pow(2.0, (midi - 69) / 12.0);
}

// One note of an instrument, from its start for the held time and its release.
void add_note(Wave& wave, const Instrument& in, double freq, std::size_t first, double held, bool loop)
{
    Oscillator osc(in.shape, in.duty, in.seed + static_cast<std::uint32_t>(first));
    const double length = held + in.release;
    const auto count = static_cast<std::size_t>(length * wave.rate);
    double level = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const double t = static_cast<double>(i) / wave.rate;
        if (t < held) {
            level = t < in.attack ? t / in.attack : 1;
            if (in.decay > 0 && t >= in.attack)
                level = std::exp(-(t - in.attack) / in.decay);
        }
        const double env = t < held ? level : level * (1 - (t - held) / in.release);
        double f = freq * std::pow(in.drop, std::min(t / in.droptime, 1.0));
        if (in.vibrato > 0)
            f *= 1 + in.depth * std::sin(2 * std::numbers::pi * in.vibrato * t);
        mix(wave.samples, first + i, static_cast<float>(in.volume * env * osc(f, wave.rate)), loop);
    }
}

struct Step {
    double freq;   // 0 for a rest
    int length;    // in steps, with the holds that follow
};

struct Pattern {
    int steps = 0;
    std::vector<std::pair<std::string, std::vector<Step>>> lines;  // instrument, notes by step
};

Pattern parse_pattern(Source& src, const std::map<std::string, Instrument>& instruments)
{
    Pattern p;
    while (src.next() && src.line() != "end") {
        auto w = src.words();
        const auto it = instruments.find(w[0]);
        if (it == instruments.end())
            src.fail("no instrument \"" + w[0] + "\"");
        std::vector<Step> line;  // one entry per step; holds extend the note before
        int count = 0;
        int last = -1;
        for (std::size_t i = 1; i < w.size(); ++i) {
            const std::string& t = w[i];
            if (t == "|")
                continue;
            if (t == "-") {
                if (last < 0)
                    src.fail("a hold needs a note before it");
                ++line[static_cast<std::size_t>(last)].length;
                line.push_back({0, 0});
            } else if (t == ".") {
                last = -1;
                line.push_back({0, 0});
            } else {
                double f = 0;
                if (t == "x") {
                    if (it->second.pitch <= 0)
                        src.fail("'x' needs an instrument with a pitch");
                    f = it->second.pitch;
                } else {
                    f = note_frequency(src, t);
                }
                last = count;
                line.push_back({f, 1});
            }
            ++count;
        }
        if (p.steps != 0 && count != p.steps)
            src.fail("every line of a pattern must have " + std::to_string(p.steps) + " steps");
        p.steps = count;
        p.lines.emplace_back(w[0], std::move(line));
    }
    if (src.line() != "end")
        src.fail("pattern has no end");
    if (p.steps == 0)
        src.fail("empty pattern");
    return p;
}

}  // namespace

std::vector<Wave> read_sounds(const std::filesystem::path& path)
{
    Source src(path);
    std::vector<Wave> out;
    int rate = 44100;
    while (src.next()) {
        const auto w = src.words();
        if (w[0] == "rate") {
            rate = parse_rate(src, w);
        } else if (w[0] == "sound" && w.size() == 2) {
            Wave wave;
            wave.file = w[1];
            wave.rate = rate;
            while (src.next() && src.line() != "end") {
                const auto t = src.words();
                if (t[0] != "tone")
                    src.fail("expected tone or end");
                add_tone(src, wave, t);
            }
            if (src.line() != "end")
                src.fail("sound \"" + wave.file + "\" has no end");
            if (wave.samples.empty())
                src.fail("sound \"" + wave.file + "\" has no tone");
            fit(wave);
            out.push_back(std::move(wave));
        } else {
            src.fail("expected rate or sound <file>");
        }
    }
    return out;
}

Wave read_music(const std::filesystem::path& path)
{
    Source src(path);
    Wave wave;
    double bpm = 0;
    int per_beat = 0;
    std::map<std::string, Instrument> instruments;
    std::map<std::string, Pattern> patterns;
    std::vector<const Pattern*> song;
    while (src.next()) {
        const auto w = src.words();
        if (w[0] == "rate") {
            wave.rate = parse_rate(src, w);
        } else if (w[0] == "music" && w.size() == 2) {
            wave.file = w[1];
        } else if (w[0] == "tempo" && w.size() == 3) {
            bpm = parse_number(src, w[1]);
            per_beat = parse_int(src, w[2]);
            if (bpm <= 0 || per_beat < 1)
                src.fail("expected: tempo <beats per minute> <steps per beat>");
        } else if (w[0] == "instrument" && w.size() >= 2) {
            instruments[w[1]] = parse_instrument(src, w);
        } else if (w[0] == "pattern" && w.size() == 2) {
            if (patterns.count(w[1]))
                src.fail("pattern \"" + w[1] + "\" defined twice");
            patterns[w[1]] = parse_pattern(src, instruments);
        } else if (w[0] == "song" && w.size() >= 2) {
            for (std::size_t i = 1; i < w.size(); ++i) {
                const auto it = patterns.find(w[i]);
                if (it == patterns.end())
                    src.fail("no pattern \"" + w[i] + "\"");
                song.push_back(&it->second);
            }
        } else {
            src.fail("expected rate, music, tempo, instrument, pattern or song");
        }
    }
    if (wave.file.empty() || bpm <= 0 || song.empty())
        throw std::runtime_error(path.string() + ": a song needs music, tempo and song lines");

    const double step_time = 60.0 / bpm / per_beat;
    int total = 0;
    for (const Pattern* p : song)
        total += p->steps;
    if (total * step_time > _longest)
        throw std::runtime_error(path.string() + ": the song lasts longer than " + std::to_string(_longest) + " seconds");
    wave.samples.assign(static_cast<std::size_t>(total * step_time * wave.rate), 0.f);
    int at = 0;
    for (const Pattern* p : song) {
        for (const auto& [name, steps] : p->lines) {
            const Instrument& in = instruments.at(name);
            for (std::size_t s = 0; s < steps.size(); ++s)
                if (steps[s].freq > 0)
                    add_note(wave, in, steps[s].freq,
                        static_cast<std::size_t>((at + static_cast<double>(s)) * step_time * wave.rate),
                        steps[s].length * step_time, true);
        }
        at += p->steps;
    }
    fit(wave);
    return wave;
}

void write_wav(const Wave& wave, const std::filesystem::path& path)
{
    std::ofstream out(path, std::ios::binary);
    if (!out)
        throw std::runtime_error("can't write \"" + path.string() + "\"");
    auto u32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            out.put(static_cast<char>((v >> (8 * i)) & 0xff));
    };
    auto u16 = [&](std::uint16_t v) {
        out.put(static_cast<char>(v & 0xff));
        out.put(static_cast<char>(v >> 8));
    };
    const auto bytes = static_cast<std::uint32_t>(wave.samples.size() * 2);
    out.write("RIFF", 4);
    u32(36 + bytes);
    out.write("WAVEfmt ", 8);
    u32(16);
    u16(1);  // PCM
    u16(1);  // mono
    u32(static_cast<std::uint32_t>(wave.rate));
    u32(static_cast<std::uint32_t>(wave.rate * 2));
    u16(2);
    u16(16);
    out.write("data", 4);
    u32(bytes);
    for (float v : wave.samples)
        u16(static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(std::clamp(v, -1.f, 1.f) * 32767))));
    if (!out)
        throw std::runtime_error("can't write \"" + path.string() + "\"");
}

}  // namespace tools
