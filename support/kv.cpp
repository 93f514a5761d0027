#include "support/kv.h"

#include <array>

namespace kesp {

namespace {

// Byte classes: 0 end, 1 '[', 2 ']', 3 '=', 4 line feed, 5 blank, 6 printable,
// 7 invalid (tabs and every other control byte, DEL, and all bytes from 0x80 up).
constexpr std::array<std::uint8_t, 256> make_group() {
    std::array<std::uint8_t, 256> group{};
    for (int c = 0; c < 256; ++c) {
        std::uint8_t g = 7;
        if (c == 0) g = 0;
        else if (c == '[') g = 1;
        else if (c == ']') g = 2;
        else if (c == '=') g = 3;
        else if (c == '\n') g = 4;
        else if (c == '\v' || c == '\r' || c == ' ') g = 5;
        else if (c > ' ' && c < 0x7F) g = 6;
        group[static_cast<std::size_t>(c)] = g;
    }
    return group;
}

constexpr std::array<std::uint8_t, 256> _group = make_group();

// State x class. 0-8: consume the byte and go on in that state; 50-54: a token
// ends before this byte; 99: end of text; -1: syntax error.
constexpr signed char _trans[9][8] = {
    // end  [   ]   =   LF  blank print invalid
    {99,  1,  4,  4,  8,  8,  4, -1},  // 0 start of a line
    {-1,  1,  2,  1, -1,  1,  1, -1},  // 1 inside a header's brackets
    {50, 50, 50, 50, 50, 50, 50, -1},  // 2 after the ']'
    {99, -1, -1, -1,  8,  3, -1, -1},  // 3 after a header
    {-1,  4,  4, 51, -1,  4,  4, -1},  // 4 inside a key
    {-1, -1, -1,  6, -1, -1, -1, -1},  // 5 key read, at its '='
    {52, 52, 52, 52, 52,  6, 52, -1},  // 6 after the '='
    {53,  7,  7,  7, 53,  7,  7, -1},  // 7 inside a value
    {54, 54, 54, 54, 54, 54, 54, -1},  // 8 after a line feed or a leading blank
};

constexpr Kv_val _null{std::string_view()};

}  // namespace

int Kv_scanner::operator()() {
    start_tok();
    for (;;) {
        state = _trans[state][_group[static_cast<std::size_t>(peek())]];
        switch (state) {
        case 99: return end;
        case -1: error(tok(), "syntax error");
        case 50: state = 3; return section;
        case 51: state = 5; return key;
        case 52: state = 7; return skipped;
        case 53: state = 0; return value;
        case 54: state = 0; return skipped;
        default: get();
        }
    }
}

std::string_view Kv_scanner::kv() const {
    std::string_view t = tok();
    std::size_t n = t.find_last_not_of(" \t");
    return t.substr(0, n == std::string_view::npos ? 0 : n + 1);
}

Kv_map build(const std::string_view& text) {
    Kv_map entries;
    Kv_scanner scan(text);
    std::string_view section, key;
    for (int token; (token = scan()) != Kv_scanner::end;) {
        switch (token) {
        case Kv_scanner::section: section = scan.sec(); break;
        case Kv_scanner::key: key = scan.kv(); break;
        case Kv_scanner::value: entries.try_emplace(Kv_key(section, key), scan.kv()); break;
        }
    }
    return entries;
}

const Kv_val& Kv_doc::at(const std::string_view& section, const std::string_view& key) const {
    auto it = entries.find(Kv_key(section, key));
    return it == entries.end() ? _null : it->second;
}

}  // namespace kesp
