#include "support/scan.h"

#include <algorithm>
#include <cstdio>

namespace kesp {

namespace {

constexpr std::ptrdiff_t _window = 70;

}  // namespace

void Scanner::error(const std::string_view& tok, const char* msg) const
{
    // Whatever the program printed so far goes ahead of the report.
    std::fflush(stdout);

    const char* const first = text.data();
    const char* const end = first + text.size();
    const char* const b = tok.data();
    const char* const e = b + tok.size();

    long line = 1 + std::count(first, b, '\n');
    const char* s = b;
    while (s != first && s[-1] != '\n')
        --s;
    const char* t = std::find(e, end, '\n');

    const char* f = std::max(s, e - std::min(e - first, _window));
    const char* m = std::max(b, e - std::min(e - first, _window));
    const char* w = std::min(t, f + std::min(end - f, _window));

    // The line may hold NUL bytes (inside a JSON string), so it is written, not formatted.
    std::fprintf(stderr, "%s\n%5ld | ", msg, line);
    std::fwrite(f, 1, static_cast<std::size_t>(w - f), stderr);
    std::string marker = "\n      | ";
    marker.append(static_cast<std::size_t>(m - f), ' ');
    marker.append(static_cast<std::size_t>(e - m), '~');
    marker += "^\n";
    std::fputs(marker.c_str(), stderr);
    throw Syntax_error(line);
}

void push_utf8(std::string& out, int cp)
{
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

}  // namespace kesp
