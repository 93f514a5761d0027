// JSON texts: a table-driven tokenizer and parser, values that view the text they
// came from, and documents that own that text.
#pragma once

#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <vector>

#include "support/scan.h"

namespace kesp {

// Token kinds: 0 end of text, 1 null, 2 boolean, 3 number, 4 string (with its
// quotes), 5 '[', 6 ']', 7 '{', 8 '}', 9 ',', 10 ':'.
//
// It reads ahead: one pass over a stretch of text cuts it into a queue of tokens
// with no branch on where each token ends, which is what costs when the lengths
// vary. An error waits in the queue until its turn, so what is reported, and when,
// is the same as reading one token at a time; nothing past the NUL that ends the
// text is read.
struct Json_scanner : Scanner {
    explicit Json_scanner(const std::string_view& text) : Scanner(text), ahead(text.data()), ahead_first(text.data()) {}

    // The kind of the next token; tok() is its text afterwards.
    int operator()();

private:
    // A queued token: its bytes and the step that finished it, which holds its kind.
    struct Token {
        const char* first;
        const char* last;
        std::uint32_t act;
    };
    static constexpr int _queue = 64;
    static constexpr int _rejected = 15;  // the kind of a token the text fails on

    // Out of line, so the loop that takes tokens stays small.
    [[gnu::noinline]] void read_ahead();

    Token queue[_queue];
    int head = 0;
    int count = 0;
    // Where reading ahead goes on: the next byte, the start of the token it is in,
    // and the automaton's row there.
    const char* ahead;
    const char* ahead_first;
    unsigned ahead_row = 0;
};

// Events: 0 end of text, 1 null, 2 boolean, 3 number, 4 string (value or key),
// 5 array begins, 6 array ends, 7 object begins, 8 object ends.
struct Json_parser {
    explicit Json_parser(const std::string_view& text) : lexer(text), stack{0} {}

    // The next event. Not to be called again after the end event.
    unsigned operator()();
    // The text of the token behind the last event.
    std::string_view tok() const { return lexer.tok(); }

    Json_scanner lexer;
    // The states, each held as the offset of its row in the parser's table; the
    // last is the current one.
    std::vector<int> stack;
};

class Json_arr;
class Json_obj;

// One value. Scalars view the document's text and are converted when read; arrays
// and objects own exact-size blocks of elements or (key, value) members.
class Json {
public:
    enum class Type : std::uint8_t { none, nul, bol, num, str, arr, obj };

    Json() = default;
    Json(const char* text, unsigned size, Type type) : data(const_cast<char*>(text)), size(size), type(type) {}
    Json(Json* first, Json* last);
    Json(std::pair<Json, Json>* first, std::pair<Json, Json>* last);
    Json(Json&& other) noexcept;
    Json& operator=(Json&& other) noexcept;
    ~Json();

    bool bol() const;
    double num() const { return num_as<double>(); }
    template <class T> T num_as() const;
    std::string_view str() const;
    Json_arr arr() const;
    Json_obj obj() const;

    void* data = nullptr;
    std::uint32_t size = 0;
    Type type = Type::none;

private:
    template <class T> static T fit(std::int64_t d);
    static std::uint64_t gather(const char* p, std::uint32_t n);
    static std::uint32_t leading_digits(std::uint64_t x, std::uint32_t n);
};

class Json_arr {
public:
    Json_arr(Json* first, Json* last) : first(first), last(last) {}

    const Json* begin() const { return first; }
    const Json* end() const { return last; }
    const Json& at(std::uint64_t i) const;

    Json* first;
    Json* last;
};

// Members are in ascending order of their raw key bytes.
class Json_obj {
public:
    Json_obj(std::pair<Json, Json>* first, std::pair<Json, Json>* last) : first(first), last(last) {}

    const Json& at(const char* key) const;
    const Json* find(const char* key) const;

    std::pair<Json, Json>* first;
    std::pair<Json, Json>* last;
};

// Turns the parser's events into values; lives only while a document is built.
class Json_build {
public:
    explicit Json_build(const std::string_view& text);

    // The last top-level value of the text.
    Json build();

private:
    static Json make_nul(std::string_view tok);
    static Json make_bol(std::string_view tok);
    static Json make_num(std::string_view tok);
    static Json make_str(std::string_view tok);
    Json make_arr(std::size_t m);
    static Json make_obj(Json* first, Json* last);
    void build_array();
    void build_object();

    Json_parser parser;
    std::vector<Json> values;
    std::vector<std::uint64_t> marks;
};

// Owns a text and its root value. Values taken from it view its text and blocks,
// so it stays where it was built.
class Json_doc {
public:
    explicit Json_doc(const std::string& text);
    explicit Json_doc(std::string&& text);
    Json_doc(const Json_doc&) = delete;
    Json_doc& operator=(const Json_doc&) = delete;

    Json& root() { return value; }

private:
    std::string text;
    Json value;
};

// Reads the four hex digits at p as a code point and moves p past them.
int parse_codepoint(const char*& p);

// Decodes the raw body of a JSON string, as str() gives it.
std::string escape_json_string(std::string_view raw);

template <class T> T Json::num_as() const
{
    static_assert(std::is_arithmetic_v<T> && !std::is_same_v<T, bool>);
    if (type != Type::num)
        throw std::bad_cast();
    // The conversion's error is ignored on purpose: out of range reads as 0.
    T v{};
    const char* p = static_cast<const char*>(data);
    if constexpr (std::is_floating_point_v<T>) {
        std::from_chars(p, p + size, v, std::chars_format::general);
    } else {
        // Tile numbers have one to three digits: those are read straight, with no
        // branch on how many.
        if (size - 1 < 3) {
            auto b = reinterpret_cast<const unsigned char*>(p);
            std::uint32_t two = size >= 2, three = size >= 3;
            std::uint32_t units = b[size - 1] - std::uint32_t{'0'};
            std::uint32_t tens = (b[(size - 2) & -two] - std::uint32_t{'0'}) & -two;
            std::uint32_t hundreds = (b[0] - std::uint32_t{'0'}) & -three;
            if ((units <= 9) & (tens <= 9) & (hundreds <= 9))
                return fit<T>(hundreds * 100 + tens * 10 + units);
        }
        // Up to 8 bytes are read in one word, and 8 digits can't overflow 32 bits.
        if (std::endian::native == std::endian::little && size - 1 < 8) {
            std::uint64_t x = gather(p, size);
            std::uint32_t n = size;
            bool neg = false;
            if constexpr (std::is_signed_v<T>) {
                neg = (x & 0xFF) == '-';
                x >>= 8 * neg;
                n -= neg;
            }
            std::int64_t d = leading_digits(x, n);
            return fit<T>(neg ? -d : d);
        }
        std::from_chars(p, p + size, v, 10);
    }
    return v;
}

// A value of at most 8 digits as a T, or 0 when T can't hold it.
template <class T> T Json::fit(std::int64_t d)
{
    if constexpr (sizeof(T) < 4)
        if (d < std::numeric_limits<T>::min() || d > std::numeric_limits<T>::max())
            return 0;
    return static_cast<T>(d);
}

// The n bytes at p (1 to 8) as a word, the first in the lowest byte, read with
// no branch on n and nothing read past them.
inline std::uint64_t Json::gather(const char* p, std::uint32_t n)
{
    if (n >= 4) {
        std::uint32_t lo, hi;
        std::memcpy(&lo, p, 4);
        std::memcpy(&hi, p + n - 4, 4);
        return lo | std::uint64_t{hi} << (8 * (n - 4));
    }
    auto byte = [&](std::uint32_t i) { return std::uint64_t{static_cast<unsigned char>(p[i])} << (8 * i); };
    return byte(0) | byte(n / 2) | byte(n - 1);
}

// The value of the decimal digits that begin the n bytes (0 to 8) of x, with no
// branch on how many there are.
inline std::uint32_t Json::leading_digits(std::uint64_t x, std::uint32_t n)
{
    constexpr std::uint64_t ones = 0x0101010101010101;
    // A byte's top bit marks it as no digit: below '0', above '9', not ASCII, or past n.
    std::uint64_t low = x & ones * 0x7F;
    std::uint64_t no_digit = (~(low + ones * (0x80 - '0')) | (low + ones * (0x80 - '9' - 1)) | x) & ones * 0x80;
    if (n != 8)
        no_digit |= ones * 0x80 << (8 * n);
    auto len = static_cast<unsigned>(std::countr_zero(no_digit)) / 8;
    if (len == 0)
        return 0;
    // The digits, moved to the top so the bytes below stand for leading zeros, are
    // summed in pairs, fours and eights.
    std::uint64_t d = (x & ones * 0x0F) << (8 * (8 - len));
    d = (d * 10 + (d >> 8)) & 0x00FF00FF00FF00FF;
    d = (d * 100 + (d >> 16)) & 0x0000FFFF0000FFFF;
    d = (d * 10000 + (d >> 32)) & 0xFFFFFFFF;
    return static_cast<std::uint32_t>(d);
}

}  // namespace kesp
