// JSON texts: a table-driven tokenizer and parser, values that view the text they
// came from, and documents that own that text.
#pragma once

#include <charconv>
#include <cstdint>
#include <memory>
#include <new>
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
struct Json_scanner : Scanner {
    explicit Json_scanner(const std::string_view& text) : Scanner(text) {}

    // The kind of the next token; tok() is its text afterwards.
    int operator()();
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
    // Integer texts up to this long can't overflow 64 bits.
    static constexpr std::uint32_t short_text = 18;
    static std::int32_t up_to_three_digits(const char* p, std::uint32_t n);
    template <class T> static T short_integer(const char* p, std::uint32_t n);
    template <class T> static T fit(std::int64_t d);
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

// The builder's stack of finished values, held in chunks of a fixed size: it grows
// without moving what it holds, and gives a chunk back once it is empty, so the
// values of a big array, moved from the top down into the array's block, free the
// stack as they go.
class Json_stack {
public:
    Json_stack() = default;
    Json_stack(const Json_stack&) = delete;
    Json_stack& operator=(const Json_stack&) = delete;
    ~Json_stack();

    bool empty() const { return level == 0 && top == base; }
    std::size_t size() const { return level * chunk_size + static_cast<std::size_t>(top - base); }
    void push(Json&& v);
    // Takes the top value off a stack that isn't empty.
    Json pop();

private:
    static constexpr std::size_t chunk_size = 4096;

    // Frees a chunk's storage; the stack destroys the values in it.
    struct Free_chunk {
        void operator()(Json* chunk) const { ::operator delete(chunk); }
    };

    void grow();
    void shrink();

    // The chunks up to the top one, then at most one empty chunk to grow back into.
    std::vector<std::unique_ptr<Json, Free_chunk>> chunks;
    std::size_t level = 0;   // the top chunk's index
    Json* base = nullptr;    // the top chunk's first slot
    Json* top = nullptr;     // one past the top value
    Json* end = nullptr;     // one past the top chunk's last slot
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
    Json make_obj(std::size_t m);
    void build_array();
    void build_object();

    Json_parser parser;
    Json_stack values;
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

// Decodes the raw body of a JSON string, as str() gives it. The \u escapes of a
// surrogate pair become the one character they stand for.
std::string escape_json_string(std::string_view raw);

template <class T> T Json::num_as() const
{
    static_assert(std::is_arithmetic_v<T> && !std::is_same_v<T, bool>);
    if (type != Type::num)
        throw std::bad_cast();
    const char* p = static_cast<const char*>(data);
    if constexpr (std::is_integral_v<T>) {
        if (std::int32_t d = up_to_three_digits(p, size); d >= 0)
            return fit<T>(d);
        if (size <= short_text)
            return short_integer<T>(p, size);
    }
    // The conversion's error is ignored on purpose: out of range reads as 0.
    T v{};
    if constexpr (std::is_floating_point_v<T>)
        std::from_chars(p, p + size, v, std::chars_format::general);
    else
        std::from_chars(p, p + size, v, 10);
    return v;
}

// The value of a text of one to three digits, as most tile numbers are; -1 for any
// other text. Summed without a loop or a branch on the length, which would be
// mispredicted as the lengths vary: a place the number doesn't have reads its
// first digit again and is weighed 0.
inline std::int32_t Json::up_to_three_digits(const char* p, std::uint32_t n)
{
    if (n < 1 || n > 3)
        return -1;
    auto digit = [p](std::uint32_t i) { return static_cast<std::uint32_t>(static_cast<unsigned char>(p[i]) - '0'); };
    std::uint32_t units = digit(n - 1);
    std::uint32_t tens = digit(n >= 2 ? n - 2 : 0);
    std::uint32_t hundreds = digit(0);
    if (units > 9 || tens > 9 || hundreds > 9)
        return -1;
    return static_cast<std::int32_t>(hundreds * 100 * (n == 3) + tens * 10 * (n >= 2) + units);
}

// What the standard conversion gives for a text short enough that its digits
// can't overflow 64 bits, read with a plain loop, much quicker than the general
// conversion.
template <class T> T Json::short_integer(const char* p, std::uint32_t n)
{
    bool negative = n != 0 && *p == '-';
    // An unsigned type takes no sign.
    if (negative && std::is_unsigned_v<T>)
        return 0;
    std::uint32_t first = negative ? 1 : 0;
    std::uint32_t i = first;
    std::int64_t d = 0;
    for (; i != n && p[i] >= '0' && p[i] <= '9'; ++i)
        d = d * 10 + (p[i] - '0');
    if (i == first)
        return 0;
    return fit<T>(negative ? -d : d);
}

// d as a T, or 0 when T can't hold it.
template <class T> T Json::fit(std::int64_t d)
{
    return std::in_range<T>(d) ? static_cast<T>(d) : 0;
}

}  // namespace kesp
