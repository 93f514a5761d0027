// The syntax-error report, byte for byte, and the UTF-8 encoder.
#include "support/scan.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <unistd.h>

#include "common/process.h"

namespace {

struct Report_case {
    const char* name;
    std::string text;
    std::size_t tok_begin;
    std::size_t tok_size;
    std::string expected;
};

void PrintTo(const Report_case& c, std::ostream* os) { *os << c.name; }

// Runs error() on the token and gives what it wrote to standard error.
std::string report(const std::string& text, std::size_t begin, std::size_t size, const char* msg = "syntax error")
{
    kesp::Scanner s(text);
    testing::internal::CaptureStderr();
    try {
        s.error(std::string_view(text).substr(begin, size), msg);
    } catch (const kesp::Syntax_error& e) {
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_STREQ(e.what(), "syntax error");
        // It carries the line that the report shows, for callers to name.
        EXPECT_EQ(e.line(), std::stol(err.substr(err.find('\n') + 1))) << err;
        return err;
    }
    testing::internal::GetCapturedStderr();
    ADD_FAILURE() << "error() returned";
    return {};
}

std::string line_of(char c, std::size_t n) { return std::string(n, c); }

class Report : public testing::TestWithParam<Report_case> {};

TEST_P(Report, MatchesByteForByte)
{
    const auto& c = GetParam();
    EXPECT_EQ(report(c.text, c.tok_begin, c.tok_size), c.expected);
}

const std::string _long_line = line_of('a', 80) + "bcdef" + line_of('g', 20);
const std::string _long_tok = line_of('x', 100) + " y";
const std::string _wide_start = line_of('z', 200);
const std::string _many_lines = line_of('\n', 123456) + "[1 2]";

INSTANTIATE_TEST_SUITE_P(
    Scanner, Report,
    testing::Values(
        Report_case{"first_line", "[tru]", 1, 3, "syntax error\n    1 | [tru]\n      |  ~~~^\n"},
        Report_case{"end_after_line_feed", "[1]\n", 4, 0, "syntax error\n    2 | \n      | ^\n"},
        Report_case{"empty_token_shows_caret_alone", "ab\ncd x\nef", 6, 0,
                    "syntax error\n    2 | cd x\n      |    ^\n"},
        // The window is the 70 bytes that end with the token; the caret is the 71st.
        Report_case{"window_ends_with_token", _long_line, 80, 5,
                    "syntax error\n    1 | " + _long_line.substr(15, 70) + "\n      | " + line_of(' ', 65) +
                        "~~~~~^\n"},
        Report_case{"window_cut_at_line_end", _wide_start, 5, 3,
                    "syntax error\n    1 | " + _wide_start.substr(0, 70) + "\n      |      ~~~^\n"},
        Report_case{"token_over_70_bytes", _long_tok, 0, 100,
                    "syntax error\n    1 | " + line_of('x', 70) + "\n      | " + line_of('~', 70) + "^\n"},
        Report_case{"token_over_line_feeds", "x\n\"ab\ncd\" y\nz", 2, 7,
                    "syntax error\n    2 | \"ab\ncd\" y\n      | ~~~~~~~^\n"},
        Report_case{"line_number_wider_than_field", _many_lines, 123456 + 3, 1,
                    "syntax error\n123457 | [1 2]\n      |    ~^\n"},
        Report_case{"nul_bytes_in_line_kept", std::string("\"a\0b\" x", 7), 6, 0,
                    "syntax error\n    1 | " + std::string("\"a\0b\" x", 7) + "\n      |       ^\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ScannerReport, FirstLineCarriesCallersMessageButThrowsSyntaxError)
{
    EXPECT_EQ(report("[1 2]", 3, 1, "unexpected token"), "unexpected token\n    1 | [1 2]\n      |    ~^\n");
}

// Standard output is flushed first, so what the program printed stands ahead of
// the report even when both go to one file.
TEST(ScannerReport, FlushesStandardOutputFirst)
{
    test::Temp_dir dir;
    auto path = dir / "out";
    std::fflush(stdout);
    int saved_out = dup(1), saved_err = dup(2);
    FILE* f = std::fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    dup2(fileno(f), 1);
    dup2(fileno(f), 2);
    std::string text = "x";
    kesp::Scanner s(text);
    std::printf("before");
    bool thrown = false;
    try {
        s.error(std::string_view(text).substr(0, 1), "syntax error");
    } catch (const std::runtime_error&) {
        thrown = true;
    }
    std::fflush(stdout);
    dup2(saved_out, 1);
    dup2(saved_err, 2);
    close(saved_out);
    close(saved_err);
    std::fclose(f);
    EXPECT_TRUE(thrown);
    EXPECT_EQ(test::read_file(path), "beforesyntax error\n    1 | x\n      | ~^\n");
}

TEST(Scanner, CursorReadsBytesAsUnsigned)
{
    std::string text = "\xE9z";
    kesp::Scanner s(text);
    EXPECT_EQ(s.peek(), 0xE9);
    s.start_tok();
    EXPECT_EQ(s.get(), 0xE9);
    EXPECT_EQ(s.peek(), 'z');
    EXPECT_EQ(s.tok(), "\xE9");
    s.get();
    // The terminating NUL of the string follows the text.
    EXPECT_EQ(s.peek(), 0);
}

TEST(PushUtf8, EncodesEachLength)
{
    struct Case {
        int cp;
        std::string bytes;
    };
    const Case cases[] = {
        {0, std::string(1, '\0')},  {0x41, "A"},           {0x7F, "\x7F"},         {0x80, "\xC2\x80"},
        {0xE9, "\xC3\xA9"},         {0x7FF, "\xDF\xBF"},   {0x800, "\xE0\xA0\x80"}, {0x20AC, "\xE2\x82\xAC"},
        {0xD83D, "\xED\xA0\xBD"},   {0xFFFF, "\xEF\xBF\xBF"},  {0x10000, "\xF0\x90\x80\x80"},
        {0x1F600, "\xF0\x9F\x98\x80"}, {0x10FFFF, "\xF4\x8F\xBF\xBF"},
    };
    for (const auto& c : cases) {
        std::string out = "<";
        kesp::push_utf8(out, c.cp);
        EXPECT_EQ(out, "<" + c.bytes) << std::hex << c.cp;
    }
}

}  // namespace
