// A cursor over a text owned by a document, shared by the JSON and key-value
// tokenizers, and the syntax-error report both of them give.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace kesp {

// What a tokenizer throws on a text it can't read: what() is "syntax error", and
// the line is kept so that a caller can name the place along with its file.
class Syntax_error : public std::runtime_error {
public:
    explicit Syntax_error(long line) : std::runtime_error("syntax error"), at(line) {}

    long line() const { return at; }

private:
    long at;
};

// The viewed text always lives in a std::string, so the byte just past its end is
// a NUL. The tokenizers give NUL a class of its own and stop there, so the cursor
// needs no bounds checks.
struct Scanner {
    explicit Scanner(const std::string_view& text) : text(text), start(text.data()), cur(text.data()) {}

    int get() { return static_cast<unsigned char>(*cur++); }
    int peek() const { return static_cast<unsigned char>(*cur); }
    void start_tok() { start = cur; }
    std::string_view tok() const { return {start, static_cast<std::size_t>(cur - start)}; }

    // Prints the message, the line holding tok (cut to 70 bytes) and a marker under
    // tok to standard error, then throws Syntax_error with tok's line.
    // tok must be a view into text; it may be empty.
    [[noreturn]] void error(const std::string_view& tok, const char* msg) const;

    std::string_view text;
    const char* start;
    const char* cur;
};

// Appends the UTF-8 form of a code point in 0 to 0x10FFFF. Surrogates are encoded
// like any other value.
void push_utf8(std::string& out, int cp);

}  // namespace kesp
