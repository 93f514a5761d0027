// JSON: tokens, parse events, what is accepted and how a rejection is reported,
// and the values and documents built from a text.
#include "support/json.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <cmath>
#include <cstdint>
#include <random>
#include <stdexcept>
#include <string>
#include <typeinfo>
#include <utility>
#include <vector>

namespace {

using kesp::Json;
using kesp::Json_doc;
using namespace std::string_literals;
using namespace std::string_view_literals;

std::string hex(const std::string& s)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            out += "\\x";
            out += digits[c >> 4];
            out += digits[c & 15];
        }
    }
    return out;
}

// Builds a document from text that must be rejected; gives the report it printed.
std::string rejection(const std::string& text)
{
    testing::internal::CaptureStderr();
    try {
        Json_doc doc(text);
    } catch (const std::runtime_error& e) {
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_STREQ(e.what(), "syntax error") << hex(text);
        return err;
    }
    testing::internal::GetCapturedStderr();
    ADD_FAILURE() << "accepted: " << hex(text);
    return {};
}

// All tokens of a text, as (kind, token text), up to and including the end.
std::vector<std::pair<int, std::string>> tokens(const std::string& text)
{
    kesp::Json_scanner lexer(text);
    std::vector<std::pair<int, std::string>> out;
    for (;;) {
        int kind = lexer();
        out.emplace_back(kind, std::string(lexer.tok()));
        if (kind == 0)
            return out;
    }
}

std::vector<unsigned> events(const std::string& text)
{
    kesp::Json_parser parser(text);
    std::vector<unsigned> out;
    for (;;) {
        out.push_back(parser());
        if (out.back() == 0)
            return out;
    }
}

// --- Tokens -----------------------------------------------------------------

// A case's tokens, up to and including the end of the text. The tables are
// constant data, which keeps this file quick to compile with sanitizers.
struct Token {
    int kind;
    std::string_view text;
};

struct Token_case {
    std::string_view text;
    Token tokens[8];
};

const Token_case _token_cases[] = {
    {"", {{0, ""}}},
    {" \t\r\n", {{0, ""}}},
    {"[]{},:", {{5, "["}, {6, "]"}, {7, "{"}, {8, "}"}, {9, ","}, {10, ":"}, {0, ""}}},
    {" null true\tfalse\n", {{1, "null"}, {2, "true"}, {2, "false"}, {0, ""}}},
    // Literals need no separator; a complete number ends at any valid byte.
    {"true1", {{2, "true"}, {3, "1"}, {0, ""}}},
    {"nullfalse", {{1, "null"}, {2, "false"}, {0, ""}}},
    {"01", {{3, "0"}, {3, "1"}, {0, ""}}},
    {"-0 0.5 1E+5 -2.5e-3 10e7 0E0", {{3, "-0"}, {3, "0.5"}, {3, "1E+5"}, {3, "-2.5e-3"}, {3, "10e7"}, {3, "0E0"}, {0, ""}}},
    {"1\"a\"", {{3, "1"}, {4, "\"a\""}, {0, ""}}},
    // Integers end at the text's end, after white space, and where the table
    // takes over for a fraction or an exponent.
    {"123", {{3, "123"}, {0, ""}}},
    {"[10,0,255]", {{5, "["}, {3, "10"}, {9, ","}, {3, "0"}, {9, ","}, {3, "255"}, {6, "]"}, {0, ""}}},
    {" 42\t7\n", {{3, "42"}, {3, "7"}, {0, ""}}},
    {"12.5e3 99E2 100e-1 90}", {{3, "12.5e3"}, {3, "99E2"}, {3, "100e-1"}, {3, "90"}, {8, "}"}, {0, ""}}},
    {"\"\"", {{4, "\"\""}, {0, ""}}},
    {"\"a\tb\nc\rd\"", {{4, "\"a\tb\nc\rd\""}, {0, ""}}},
    {"\"\x7F\x80\xC3\xA9\xEF\"", {{4, "\"\x7F\x80\xC3\xA9\xEF\""}, {0, ""}}},
    // Characters beyond the Basic Multilingual Plane in raw UTF-8: every lead byte
    // of a four-byte sequence, at a string's start and end, in a key and a value.
    {"\"\xF0\x9F\x98\x80\"", {{4, "\"\xF0\x9F\x98\x80\""}, {0, ""}}},
    {"{\"\xF4\x8F\xBF\xBF\":\"x\xF1\x80\x80\x80\xF2\x80\x80\x80\xF3\x80\x80\x80\"}",
     {{7, "{"},
      {4, "\"\xF4\x8F\xBF\xBF\""},
      {10, ":"},
      {4, "\"x\xF1\x80\x80\x80\xF2\x80\x80\x80\xF3\x80\x80\x80\""},
      {8, "}"},
      {0, ""}}},
    {R"("\"\\\/\b\f\n\r\t")", {{4, R"("\"\\\/\b\f\n\r\t")"}, {0, ""}}},
    {R"("\u00E9\u00e9\uABCD\uabcd\u0000")", {{4, R"("\u00E9\u00e9\uABCD\uabcd\u0000")"}, {0, ""}}},
    // A NUL inside a string is an ordinary byte; outside one it ends the text.
    {"\"a\0b\" 1"sv, {{4, "\"a\0b\""sv}, {3, "1"}, {0, ""}}},
    {"1\0garbage"sv, {{3, "1"}, {0, ""}}},
    {"\0["sv, {{0, ""}}},
};

TEST(JsonScanner, SplitsTokens)
{
    for (const Token_case& c : _token_cases) {
        std::vector<std::pair<int, std::string>> want;
        for (const Token& t : c.tokens) {
            want.emplace_back(t.kind, t.text);
            if (t.kind == 0)
                break;
        }
        EXPECT_EQ(tokens(std::string(c.text)), want) << hex(std::string(c.text));
    }
}

// --- Parse events -------------------------------------------------------------

TEST(JsonParser, EventsFollowTheText)
{
    EXPECT_EQ(events(""), (std::vector<unsigned>{0}));
    EXPECT_EQ(events("1 2 3"), (std::vector<unsigned>{3, 3, 3, 0}));
    EXPECT_EQ(events("[]{}"), (std::vector<unsigned>{5, 6, 7, 8, 0}));
    EXPECT_EQ(events(R"({"a":[null,true,"s"],"b":{}} 7)"),
              (std::vector<unsigned>{7, 4, 5, 1, 2, 4, 6, 4, 7, 8, 8, 3, 0}));
}

TEST(JsonParser, TokenIsTheScalarsText)
{
    kesp::Json_parser parser(R"([-1.5e3, "x\n"])");
    EXPECT_EQ(parser(), 5u);
    EXPECT_EQ(parser(), 3u);
    EXPECT_EQ(parser.tok(), "-1.5e3");
    EXPECT_EQ(parser(), 4u);
    EXPECT_EQ(parser.tok(), R"("x\n")");
    EXPECT_EQ(parser(), 6u);
    EXPECT_EQ(parser(), 0u);
    EXPECT_TRUE(parser.stack.empty());
}

// --- Rejections, with the whole report ----------------------------------------

const char* const _syntax = "syntax error";
const char* const _unexpected = "unexpected token";

struct Reject_case {
    const char* name;
    std::string_view text;
    const char* message;
    // Under the reported line, which is shown from its start to the text's end.
    std::string_view marker;
    int line = 1;
};

// The whole report for a case.
std::string report(const Reject_case& c)
{
    std::string_view shown = c.text;
    for (int i = 1; i < c.line; ++i)
        shown.remove_prefix(shown.find('\n') + 1);
    std::string number = std::to_string(c.line);
    return std::string(c.message) + "\n" + std::string(5 - number.size(), ' ') + number + " | " + std::string(shown) +
           "\n      | " + std::string(c.marker) + "\n";
}

const Reject_case _reject_cases[] = {
    // Numbers.
    {"plus", "+1", _syntax, "^"},
    {"lone_point", ".5", _syntax, "^"},
    {"lone_minus", "-", _syntax, "~^"},
    {"no_fraction", "1.", _syntax, "~~^"},
    {"no_exponent", "1e", _syntax, "~~^"},
    {"exponent_sign_only", "1e+", _syntax, "~~~^"},
    {"second_point", "1.5.2", _syntax, "   ^"},
    {"integer_point", "[315.]", _syntax, " ~~~~^"},
    {"integer_exponent", "42e+x", _syntax, "~~~~^"},
    {"integer_control", "[123\x01]", _syntax, " ~~~^"},
    {"minus_letter", "-a", _syntax, "~^"},
    // Literals.
    {"nul", "nul", _syntax, "~~~^"},
    {"trUe", "trUe", _syntax, "~~^"},
    {"word", "[1]x", _syntax, "   ^"},
    {"capital", "True", _syntax, "^"},
    // Strings.
    {"bad_escape", R"("\x")", _syntax, "~~^"},
    {"short_unicode", R"("\u00")", _syntax, "~~~~~^"},
    {"unicode_non_hex", R"("\u00G0")", _syntax, "~~~~~^"},
    {"control_in_string", "\"a\x01\"", _syntax, "~~^"},
    {"f5_in_string", "\"\xF5\"", _syntax, "~^"},
    {"ff_in_string", "\"\xFF\"", _syntax, "~^"},
    {"f5_after_emoji", "\"\xF0\x9F\x98\x80\xF5\"", _syntax, "~~~~~^"},
    {"f0_after_backslash", "\"\\\xF0\x9F\x98\x80\"", _syntax, "~~^"},
    // An unfinished string is reported on itself and the end of the text.
    {"unterminated_string", "[\"abc", _syntax, " ~~~~^"},
    {"unterminated_after_escape", "\"a\\", _syntax, "~~~^"},
    {"unterminated_after_nul", "\"a\0"sv, _syntax, "~~~^"},
    {"unterminated_over_lines", "{\"k\":\"ab\ncd", _syntax, "     ~~~~~~^"},
    // Bytes between tokens.
    {"form_feed", "\f1", _syntax, "^"},
    {"vertical_tab", "1\v", _syntax, "~^"},
    {"f0_outside", "[\xF0]", _syntax, "~^"},
    {"f0_first", "\xF0\x9F\x98\x80", _syntax, "^"},
    {"f4_after_blank", "[ \xF4]", _syntax, " ~^"},
    {"f4_after_number", "12\xF4", _syntax, "~~^"},
    {"f0_after_literal", "true\xF0", _syntax, "~~~~^"},
    {"f0_after_string", "\"a\"\xF0\x9F\x98\x80", _syntax, "~~~^"},
    {"f5_after_comma", "[1,\xF5]", _syntax, "  ~^"},
    {"ff_outside", "\xFF", _syntax, "^"},
    // Grammar.
    {"array_trailing_comma", "[1,]", _unexpected, "   ~^"},
    {"object_trailing_comma", R"({"a":1,})", _unexpected, "       ~^"},
    {"number_key", "{1:2}", _unexpected, " ~^"},
    {"missing_comma", "[1 2]", _unexpected, "   ~^"},
    {"missing_colon", R"({"a" 1})", _unexpected, "     ~^"},
    {"missing_value", R"({"a"})", _unexpected, "    ~^"},
    {"colon_at_top", ":", _unexpected, "~^"},
    {"close_at_top", "1]", _unexpected, " ~^"},
    {"mismatched_close", "[}", _unexpected, " ~^"},
    {"lone_bracket", "[", _unexpected, " ^"},
    {"open_object", R"({"a":1)", _unexpected, "      ^"},
    // A document needs at least one value.
    {"empty", "", _unexpected, "^"},
    {"blank", " \n", _unexpected, "^", 2},
    {"nul_first", "\0 1"sv, _unexpected, "^"},
    // A bad token is reported before a bad byte further on.
    {"grammar_before_bad_byte", "[1,] \x01", _unexpected, "   ~^"},
    {"grammar_before_open_string", "[1 2 \"ab", _unexpected, "   ~^"},
};

TEST(JsonDoc, RejectsWithReport)
{
    for (const Reject_case& c : _reject_cases)
        EXPECT_EQ(rejection(std::string(c.text)), report(c)) << c.name;
}

// A string left open at the end must not be closed by bytes that happen to lie
// beyond the text in memory.
TEST(JsonParser, UnfinishedStringDoesNotReadPastTheText)
{
    std::string memory = "\"abc\0\"]"s;
    kesp::Json_parser parser(std::string_view(memory.data(), 4));
    testing::internal::CaptureStderr();
    EXPECT_THROW(parser(), std::runtime_error);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), report({"unfinished", "\"abc", _syntax, "~~~~^"}));
}

// --- The table against a tokenizer written out by hand ---------------------------

// The tokenizer as the grammar reads, one token at a time with no tables: the
// token's bytes and kind, or -1 with the bytes read when the text fails there.
struct Plain_token {
    int kind;
    std::size_t first;
    std::size_t last;
};

// Bytes no text may hold.
bool invalid_byte(unsigned char c)
{
    return (c >= 0x01 && c <= 0x08) || c == 0x0B || c == 0x0C || (c >= 0x0E && c <= 0x1F) || c >= 0xF5;
}

// Bytes taken only inside strings: the lead bytes of four-byte UTF-8 sequences.
bool string_only(unsigned char c) { return c >= 0xF0 && c <= 0xF4; }

bool invalid_outside_strings(unsigned char c) { return invalid_byte(c) || string_only(c); }

bool blank(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool digit(unsigned char c) { return c >= '0' && c <= '9'; }

bool hex_digit(unsigned char c) { return digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

Plain_token plain_token(const std::string& text, std::size_t pos)
{
    auto at = [&](std::size_t i) { return static_cast<unsigned char>(text.c_str()[i]); };
    std::size_t first = pos;
    while (blank(at(pos)))
        ++pos;
    if (pos != first && invalid_outside_strings(at(pos)))
        return {-1, first, pos};
    first = pos;
    auto fail = [&] { return Plain_token{-1, first, pos}; };
    // A finished token may not be followed by an invalid byte.
    auto done = [&](int kind) { return invalid_outside_strings(at(pos)) ? fail() : Plain_token{kind, first, pos}; };
    auto word = [&](const char* w, int kind) {
        for (; *w; ++w, ++pos)
            if (at(pos) != static_cast<unsigned char>(*w))
                return fail();
        return done(kind);
    };
    auto digits = [&] {
        if (!digit(at(pos)))
            return false;
        while (digit(at(pos)))
            ++pos;
        return true;
    };
    unsigned char c = at(pos);
    if (c == 0)
        return {0, pos, pos};
    if (const char* p = std::strchr("[]{},:", c); p && c) {
        ++pos;
        return done(5 + static_cast<int>(p - "[]{},:"));
    }
    if (c == 't')
        return word("true", 2);
    if (c == 'f')
        return word("false", 2);
    if (c == 'n')
        return word("null", 1);
    if (c == '-' || digit(c)) {
        if (c == '-')
            ++pos;
        if (at(pos) == '0')
            ++pos;
        else if (!digits())
            return fail();
        if (at(pos) == '.') {
            ++pos;
            if (!digits())
                return fail();
        }
        if (at(pos) == 'e' || at(pos) == 'E') {
            ++pos;
            if (at(pos) == '+' || at(pos) == '-')
                ++pos;
            if (!digits())
                return fail();
        }
        return done(3);
    }
    if (c != '"')
        return fail();
    for (++pos;;) {
        c = at(pos);
        if (invalid_byte(c) || (c == 0 && pos == text.size()))
            return fail();
        ++pos;
        if (c == '"')
            return done(4);
        if (c != '\\')
            continue;
        c = at(pos);
        if (c == 'u') {
            ++pos;
            for (int i = 0; i < 4; ++i, ++pos)
                if (!hex_digit(at(pos)))
                    return fail();
        } else if (c && std::strchr("\"\\/bfnrt", c)) {
            ++pos;
        } else {
            return fail();
        }
    }
}

// Texts of many tokens, integers of many lengths among them, with now and then a
// fragment that fails.
std::string token_soup(std::mt19937& rng)
{
    static const std::vector<std::string_view> good = {
        "0", "-0", "7", "42", "255", "-12", "3.25", "1e5", "-2.5E-3", "01", "true", "false", "null",
        "\"\"", "\"tile\"", "\"a\\\"b\"", "\"\\u00e9\\uABCD\"", "\"\t\n\r\"", "\"\x7F\xC3\xA9\xEF\"", "\"a\0b\""sv,
        "\"\xF0\x9F\x98\x80\"", "\"\xF1\xF2\xF3\xF4\x8F\xBF\xBF\"",
        "[", "]", "{", "}", ",", ":", " ", "\n", "\t\r\n ", "true1", "nullfalse", "100", "1234567890", "9.75e+12",
    };
    static const std::vector<std::string_view> bad = {
        "\x01", "\f", "\xF0", "\xF4", "\xF5", "\xFF", "\"\xF5\"", "+", ".", "x", "tru", "fals", "nu", "-", "1.", "1e",
        "1e+", "\"\\x\"", "\"\\u12\"", "\"\x02\"", "\"open", "\"a\\", "\0rest"sv, "123.", "45e-",
    };
    std::uniform_int_distribution<std::size_t> count(1, 400);
    std::uniform_int_distribution<std::size_t> pick_good(0, good.size() - 1);
    std::uniform_int_distribution<std::size_t> pick_bad(0, bad.size() - 1);
    std::bernoulli_distribution fails(0.004);
    std::string text;
    for (std::size_t i = count(rng); i; --i)
        text += fails(rng) ? bad[pick_bad(rng)] : good[pick_good(rng)];
    return text;
}

TEST(JsonScanner, GivesWhatAHandWrittenTokenizerGives)
{
    std::mt19937 rng(11);
    int rejected = 0;
    for (int round = 0; round < 3000; ++round) {
        std::string text = token_soup(rng);
        kesp::Json_scanner lexer(text);
        for (std::size_t pos = 0, n = 0;; ++n) {
            Plain_token want = plain_token(text, pos);
            if (want.kind < 0) {
                testing::internal::CaptureStderr();
                EXPECT_THROW(lexer(), std::runtime_error);
                std::string got = testing::internal::GetCapturedStderr();
                testing::internal::CaptureStderr();
                EXPECT_THROW(kesp::Scanner(text).error(std::string_view(text).substr(want.first, want.last - want.first),
                                                       "syntax error"),
                             std::runtime_error);
                ASSERT_EQ(got, testing::internal::GetCapturedStderr()) << hex(text) << " token " << n;
                ++rejected;
                break;
            }
            int kind = lexer();
            ASSERT_EQ(kind, want.kind) << hex(text) << " token " << n;
            ASSERT_EQ(lexer.tok().data() - text.data(), static_cast<std::ptrdiff_t>(want.first)) << hex(text) << " token " << n;
            ASSERT_EQ(lexer.tok().size(), want.last - want.first) << hex(text) << " token " << n;
            if (kind == 0) {
                // The end stays the end.
                EXPECT_EQ(lexer(), 0);
                break;
            }
            pos = want.last;
        }
    }
    // Both ways of ending were met often.
    EXPECT_GT(rejected, 300);
    EXPECT_LT(rejected, 2700);
}

// Long documents: the values are the text's.
TEST(JsonDoc, LongArraysAndObjects)
{
    std::string text = "{";
    for (int i = 0; i < 500; ++i)
        text += (i ? ",\"k" : "\"k") + std::to_string(i) + "\":[" + std::to_string(i) + ", \"s" + std::to_string(i) + "\", true]";
    text += "}";
    Json_doc doc(text);
    auto obj = doc.root().obj();
    ASSERT_EQ(obj.last - obj.first, 500);
    for (int i = 0; i < 500; ++i) {
        std::string k = "k"s + std::to_string(i);
        auto arr = obj.at(k.c_str()).arr();
        EXPECT_EQ(arr.at(0).num_as<std::int32_t>(), i);
        EXPECT_EQ(arr.at(1).str(), "s"s + std::to_string(i));
        EXPECT_TRUE(arr.at(2).bol());
    }
}

// Large arrays are moved off the builder's stack: every value lands in its place,
// nested containers included, each owned once.
TEST(JsonDoc, LargeArraysKeepTheirOrder)
{
    for (int n : {2047, 2048, 2049, 4095, 4096, 4097, 5000, 10000}) {
        std::string text = "[";
        for (int i = 0; i < n; ++i)
            text += (i ? "," : "") + (i % 3 ? std::to_string(i) : "[" + std::to_string(i) + ",\"x\"]");
        text += "]";
        Json_doc doc(text);
        auto arr = doc.root().arr();
        ASSERT_EQ(arr.end() - arr.begin(), n);
        for (int i = 0; i < n; ++i) {
            const Json& v = arr.at(static_cast<std::uint64_t>(i));
            ASSERT_EQ(i % 3 ? v.num_as<std::int32_t>() : v.arr().at(0).num_as<std::int32_t>(), i) << n;
        }
    }
}

// Big containers open high on the builder's stack, around and inside others, and
// hold values of every kind: each value lands in its place.
std::string big_containers(int elements, int members)
{
    std::string text = R"({"before": [1, 2, 3], "data": [)";
    for (int i = 0; i < elements; ++i) {
        std::string d = std::to_string(i);
        text += i ? "," : "";
        switch (i % 4) {
        case 0: text += d; break;
        case 1: text += '"' + d + '"'; break;
        case 2: text += "[" + d + ", []]"; break;
        case 3: text += "{\"v\": " + d + "}"; break;
        }
    }
    text += R"(], "members": {)";
    for (int i = 0; i < members; ++i)
        text += (i ? ",\"k" : "\"k") + std::to_string(i) + "\":[" + std::to_string(i) + "]";
    return text + R"(}, "after": "end"})";
}

TEST(JsonDoc, BigContainersInsideOthers)
{
    const int elements = 300'000;
    const int members = 5'000;
    const std::string text = big_containers(elements, members);
    Json_doc doc(text);
    auto root = doc.root().obj();
    ASSERT_EQ(root.last - root.first, 4);
    auto before = root.at("before").arr();
    ASSERT_EQ(before.end() - before.begin(), 3);
    EXPECT_EQ(before.at(2).num(), 3);
    EXPECT_EQ(root.at("after").str(), "end");

    auto data = root.at("data").arr();
    ASSERT_EQ(data.end() - data.begin(), elements);
    for (int i = 0; i < elements; ++i) {
        const Json& v = data.at(static_cast<std::uint64_t>(i));
        switch (i % 4) {
        case 0: ASSERT_EQ(v.num_as<std::int32_t>(), i); break;
        case 1: ASSERT_EQ(v.str(), std::to_string(i)); break;
        case 2:
            ASSERT_EQ(v.arr().end() - v.arr().begin(), 2) << i;
            ASSERT_EQ(v.arr().at(0).num_as<std::int32_t>(), i);
            ASSERT_EQ(v.arr().at(1).arr().begin(), v.arr().at(1).arr().end()) << i;
            break;
        case 3: ASSERT_EQ(v.obj().at("v").num_as<std::int32_t>(), i); break;
        }
    }

    auto obj = root.at("members").obj();
    ASSERT_EQ(obj.last - obj.first, members);
    for (int i = 0; i < members; ++i) {
        std::string k = "k" + std::to_string(i);
        ASSERT_EQ(obj.at(k.c_str()).arr().at(0).num_as<std::int32_t>(), i) << k;
    }

    // Cut off inside the big array, the text fails at its end with every value
    // built so far still on the stack; they are freed on the way out.
    const std::string cut = text.substr(0, text.find("], \"members\""));
    EXPECT_EQ(rejection(cut).rfind(_unexpected, 0), 0u);
}

TEST(JsonDoc, AcceptsWhatTheGrammarAllows)
{
    const std::string_view texts[] = {
        "0", "-0", "0.5", "1E+5", "-2.5e-3", "1e-0", "null", "true", "false", "\"\"", "[]", "{}", " [ 1 , 2 ] ",
        "\"a\tb\nc\r\"", R"("\"\\\/\b\f\n\r\t\u00e9\u00E9")", "\"\x7F\xEF\xBF\xBF\"", R"({"a":{"b":[{}]}})",
        "{\"\xF0\x9F\x98\x80\":\"\xF0\x9F\x98\x80\"}", "[\"\xF0\", \"\xF4\"]",
        "1 2", "[]{}", "\t\r\n1", "1\0\x01\xFF"sv,
    };
    for (std::string_view text : texts)
        EXPECT_NO_THROW(Json_doc doc{std::string(text)}) << hex(std::string(text));
}

// --- Documents and values -----------------------------------------------------

std::vector<std::string> keys(const Json& obj)
{
    std::vector<std::string> out;
    for (auto m = obj.obj().first; m != obj.obj().last; ++m)
        out.emplace_back(m->first.str());
    return out;
}

TEST(JsonDoc, RootIsTheLastTopLevelValue)
{
    Json_doc doc("1 2"s);
    EXPECT_EQ(doc.root().num(), 2);
    Json_doc mixed(R"({"a":1} [3] "s")");
    EXPECT_EQ(mixed.root().str(), "s");
    // However many come before the last, they are freed with the builder.
    std::string many;
    for (int i = 0; i < 10'000; ++i)
        many += "[" + std::to_string(i) + "] ";
    Json_doc last(many);
    EXPECT_EQ(last.root().arr().at(0).num(), 9999);
}

TEST(JsonDoc, TakesTheTextOver)
{
    std::string text = R"({"k":"v"})";
    Json_doc doc(std::move(text));
    EXPECT_EQ(doc.root().obj().at("k").str(), "v");
}

TEST(JsonDoc, ScalarsViewTheDocumentsText)
{
    const std::string text = R"(["a\nb", 12])";
    Json_doc doc(text);
    auto arr = doc.root().arr();
    EXPECT_EQ(arr.at(0).str(), R"(a\nb)");
    EXPECT_EQ(arr.at(0).size, 4u);
    EXPECT_EQ(arr.at(1).size, 2u);
    EXPECT_EQ(arr.at(1).type, Json::Type::num);
    // A copy of the text, not the caller's string.
    EXPECT_NE(static_cast<const char*>(arr.at(0).data), text.data() + 2);
}

TEST(JsonDoc, ArraysKeepDocumentOrder)
{
    Json_doc doc("[3, [4], null, true, {}]"s);
    auto arr = doc.root().arr();
    ASSERT_EQ(arr.end() - arr.begin(), 5);
    EXPECT_EQ(arr.at(0).num_as<std::int32_t>(), 3);
    EXPECT_EQ(arr.at(1).arr().at(0).num(), 4);
    EXPECT_EQ(arr.at(2).type, Json::Type::nul);
    EXPECT_TRUE(arr.at(3).bol());
    EXPECT_EQ(arr.at(4).type, Json::Type::obj);
    try {
        arr.at(5);
        ADD_FAILURE() << "no throw";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "kesp::Json_arr accessed out of range");
    }
}

TEST(JsonDoc, EmptyContainers)
{
    Json_doc doc("[[], {}]"s);
    auto arr = doc.root().arr().at(0).arr();
    EXPECT_EQ(arr.begin(), arr.end());
    EXPECT_THROW(arr.at(0), std::out_of_range);
    auto obj = doc.root().arr().at(1).obj();
    EXPECT_EQ(obj.find(""), nullptr);
    EXPECT_EQ(obj.find("a"), nullptr);
    EXPECT_THROW(obj.at(""), std::out_of_range);
}

TEST(JsonObj, MembersSortedByRawKeyBytes)
{
    Json_doc doc("{\"\xF0\x9F\x98\x80\":10, "
                 R"("b":1, "a":2, "c":3, "ab":4, "": 5, "\u0041":6, "B":7, "z":8, "é":9})");
    EXPECT_EQ(keys(doc.root()),
              (std::vector<std::string>{"", "B", "\\u0041", "a", "ab", "b", "c", "z", "é", "\xF0\x9F\x98\x80"}));
    EXPECT_EQ(doc.root().obj().at("\xF0\x9F\x98\x80").num(), 10);
    Json_doc prefix(R"({"ab":1, "a":2})");
    EXPECT_EQ(keys(prefix.root()), (std::vector<std::string>{"a", "ab"}));
}

TEST(JsonObj, AtAndFindBisect)
{
    // Enough members in a shuffled order that a wrong bisection misses some.
    std::vector<std::string> names;
    for (int i = 0; i < 300; ++i)
        names.push_back("k"s + std::to_string(i * 7));
    std::mt19937 rng(5);
    std::shuffle(names.begin(), names.end(), rng);
    std::string text = "{";
    for (std::size_t i = 0; i < names.size(); ++i)
        text += (i ? ",\"" : "\"") + names[i] + "\":" + names[i].substr(1);
    text += "}";
    Json_doc doc(text);
    auto obj = doc.root().obj();
    ASSERT_EQ(obj.last - obj.first, 300);
    for (int i = 0; i < 300; ++i) {
        std::string k = "k"s + std::to_string(i * 7);
        ASSERT_NE(obj.find(k.c_str()), nullptr) << k;
        EXPECT_EQ(obj.at(k.c_str()).num_as<std::int32_t>(), i * 7);
        std::string missing = "k"s + std::to_string(i * 7 + 1);
        EXPECT_EQ(obj.find(missing.c_str()), nullptr) << missing;
    }
    EXPECT_EQ(obj.find("k"), nullptr);
    EXPECT_EQ(obj.find("k00"), nullptr);
    EXPECT_EQ(obj.find("l"), nullptr);
    EXPECT_EQ(obj.find(""), nullptr);
}

TEST(JsonObj, MissingKeyNamesIt)
{
    Json_doc doc(R"({"width": 8})");
    try {
        doc.root().obj().at("height");
        ADD_FAILURE() << "no throw";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "kesp::Json_obj does not have \"height\"");
    }
}

TEST(JsonObj, DuplicateKeysAreKept)
{
    Json_doc doc(R"({"a":1, "b":0, "a":2})");
    auto obj = doc.root().obj();
    EXPECT_EQ(obj.last - obj.first, 3);
    double a = obj.at("a").num();
    EXPECT_TRUE(a == 1 || a == 2) << a;
    EXPECT_EQ(obj.at("b").num(), 0);
}

TEST(JsonObj, KeysAreNotDecoded)
{
    Json_doc doc(R"({"a\u0062": 1, "c\/d": 2})");
    auto obj = doc.root().obj();
    EXPECT_EQ(obj.find("ab"), nullptr);
    EXPECT_NE(obj.find("a\\u0062"), nullptr);
    EXPECT_EQ(obj.find("c/d"), nullptr);
    EXPECT_NE(obj.find("c\\/d"), nullptr);
}

struct Number_case {
    const char* text;
    std::int32_t i32;
    std::uint32_t u32;
    double dbl;
};

TEST(JsonNumber, Conversions)
{
    const Number_case cases[] = {
        {"7", 7, 7, 7},
        {"-0", 0, 0, -0.0},
        {"0.5", 0, 0, 0.5},
        {"1.9", 1, 1, 1.9},
        {"-1.9", -1, 0, -1.9},
        {"1e3", 1, 1, 1000},
        {"2147483647", 2147483647, 2147483647u, 2147483647.0},
        {"2147483648", 0, 2147483648u, 2147483648.0},
        {"-2147483648", -2147483647 - 1, 0, -2147483648.0},
        {"-2147483649", 0, 0, -2147483649.0},
        {"4294967295", 0, 4294967295u, 4294967295.0},
        {"4294967296", 0, 0, 4294967296.0},
        {"3221225473", 0, 3221225473u, 3221225473.0},
        {"1e400", 1, 1, 0},
        {"-1e400", -1, 0, 0},
        {"1e-400", 1, 1, 0},
        {"1.7976931348623157e308", 1, 1, 1.7976931348623157e308},
        {"5e-324", 5, 5, 5e-324},
        {"0.1", 0, 0, 0.1},
    };
    for (const auto& c : cases) {
        Json v(c.text, static_cast<unsigned>(std::char_traits<char>::length(c.text)), Json::Type::num);
        EXPECT_EQ(v.num_as<std::int32_t>(), c.i32) << c.text;
        EXPECT_EQ(v.num_as<std::uint32_t>(), c.u32) << c.text;
        EXPECT_EQ(v.num(), c.dbl) << c.text;
        EXPECT_EQ(std::signbit(v.num()), std::signbit(c.dbl)) << c.text;
    }
}

// Integers are read without the standard conversion where they are short; what
// they give must be what the standard conversion gives, range cases included.
template <class T> T standard(const std::string& text)
{
    T v{};
    std::from_chars(text.data(), text.data() + text.size(), v, 10);
    return v;
}

template <class T> void expect_standard(const std::vector<std::string>& texts)
{
    for (const auto& text : texts) {
        Json v(text.data(), static_cast<unsigned>(text.size()), Json::Type::num);
        EXPECT_EQ(v.num_as<T>(), standard<T>(text)) << text << " as " << typeid(T).name();
    }
}

TEST(JsonNumber, IntegersReadAsTheStandardConversionReadsThem)
{
    const std::string_view listed[] = {
        "0", "7", "10", "99", "100", "127", "128", "255", "256", "999", "-0", "-1", "-99", "-128", "-129", "-999",
        "1000", "9999", "32767", "32768", "-32768", "-32769", "65535", "65536", "99999999", "-9999999", "-99999999",
        "100000000", "2147483647", "2147483648", "-2147483648", "-2147483649", "4294967295", "4294967296",
        "00", "007", "00000000", "000000001", "1.9", "-1.9", "0.5", "1e3", "12e3", "1.5e3", "-0.5", "9.9", "99.9",
        // Either side of the longest text read without the standard conversion.
        "999999999999999999", "-99999999999999999", "000000000000000001", "12345678901234567.5", "9999999999999999999",
        "-999999999999999999", "9223372036854775807", "-9223372036854775808", "18446744073709551615",
        "1234.5678", "12345678.9", "1E+2", "-7e-1", "3.0", "-", "-.", "-e", "123456789012345678901234567890",
    };
    std::vector<std::string> texts(std::begin(listed), std::end(listed));
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> digits(1, 11);
    std::uniform_int_distribution<int> digit('0', '9');
    std::bernoulli_distribution minus(0.3), fraction(0.2);
    for (int i = 0; i < 3000; ++i) {
        std::string t = minus(rng) ? "-" : "";
        for (int n = digits(rng); n; --n)
            t += static_cast<char>(digit(rng));
        if (fraction(rng))
            t += ".5";
        texts.push_back(t);
    }
    expect_standard<std::int8_t>(texts);
    expect_standard<std::uint8_t>(texts);
    expect_standard<std::int16_t>(texts);
    expect_standard<std::uint16_t>(texts);
    expect_standard<std::int32_t>(texts);
    expect_standard<std::uint32_t>(texts);
    expect_standard<std::int64_t>(texts);
    expect_standard<std::uint64_t>(texts);
}

// A short number is read from its own bytes only, whatever follows it in memory.
TEST(JsonNumber, ShortNumbersReadNoFurther)
{
    const std::string memory = "12345678901234567";
    for (std::size_t n = 1; n <= 9; ++n) {
        Json v(memory.data(), static_cast<unsigned>(n), Json::Type::num);
        EXPECT_EQ(v.num_as<std::int32_t>(), std::stoi(memory.substr(0, n))) << n;
    }
    const std::string signed_memory = "-98765432";
    for (std::size_t n = 2; n <= 9; ++n) {
        Json v(signed_memory.data(), static_cast<unsigned>(n), Json::Type::num);
        EXPECT_EQ(v.num_as<std::int32_t>(), std::stoi(signed_memory.substr(0, n))) << n;
    }
}

TEST(JsonNumber, ReadsOnlyItsOwnText)
{
    // Numbers in an array: each view ends at its own last digit.
    Json_doc doc("[12,345,6.5e1]"s);
    auto arr = doc.root().arr();
    EXPECT_EQ(arr.at(0).num_as<std::int32_t>(), 12);
    EXPECT_EQ(arr.at(1).num_as<std::int32_t>(), 345);
    EXPECT_EQ(arr.at(2).num(), 65);
    EXPECT_EQ(arr.at(2).num_as<float>(), 65.0f);
}

TEST(JsonValue, Booleans)
{
    Json_doc doc("[true, false]"s);
    EXPECT_TRUE(doc.root().arr().at(0).bol());
    EXPECT_FALSE(doc.root().arr().at(1).bol());
}

TEST(JsonValue, AccessorsRequireTheirType)
{
    Json_doc doc(R"([null, true, 1, "s", [], {}])");
    auto arr = doc.root().arr();
    const Json none;
    const Json* values[] = {&arr.at(0), &arr.at(1), &arr.at(2), &arr.at(3), &arr.at(4), &arr.at(5), &none};
    for (const Json* v : values) {
        auto t = v->type;
        if (t != Json::Type::bol) {
            EXPECT_THROW(v->bol(), std::bad_cast) << int(t);
        }
        if (t != Json::Type::num) {
            EXPECT_THROW(v->num(), std::bad_cast) << int(t);
            EXPECT_THROW(v->num_as<std::int32_t>(), std::bad_cast) << int(t);
        }
        if (t != Json::Type::str) {
            EXPECT_THROW(v->str(), std::bad_cast) << int(t);
        }
        if (t != Json::Type::arr) {
            EXPECT_THROW(v->arr(), std::bad_cast) << int(t);
        }
        if (t != Json::Type::obj) {
            EXPECT_THROW(v->obj(), std::bad_cast) << int(t);
        }
    }
}

TEST(JsonValue, MoveLeavesNone)
{
    Json_doc doc(R"([[1, 2], {"a": "b"}])");
    auto arr = doc.root().arr();
    Json& inner = const_cast<Json&>(arr.at(0));
    Json taken(std::move(inner));
    EXPECT_EQ(inner.type, Json::Type::none);
    EXPECT_EQ(inner.data, nullptr);
    EXPECT_EQ(inner.size, 0u);
    EXPECT_EQ(taken.arr().at(1).num(), 2);

    // Assignment exchanges: the target's old value ends up in the source.
    Json& obj = const_cast<Json&>(arr.at(1));
    taken = std::move(obj);
    EXPECT_EQ(taken.obj().at("a").str(), "b");
    EXPECT_EQ(obj.arr().at(0).num(), 1);
}

TEST(JsonValue, ContainersFromRanges)
{
    std::string text = "xy";
    Json elements[] = {Json(text.data(), 1, Json::Type::str), Json(text.data() + 1, 1, Json::Type::str)};
    Json arr(elements, elements + 2);
    EXPECT_EQ(elements[0].type, Json::Type::none);
    EXPECT_EQ(arr.arr().at(1).str(), "y");

    std::pair<Json, Json> members[1];
    members[0].first = Json(text.data(), 1, Json::Type::str);
    members[0].second = std::move(arr);
    Json obj(members, members + 1);
    EXPECT_EQ(members[0].second.type, Json::Type::none);
    EXPECT_EQ(obj.obj().at("x").arr().at(0).str(), "x");
}

// Deep nesting is neither refused nor a stack overflow, in the parse or when the
// values are destroyed.
TEST(JsonDoc, NestingMillionsDeep)
{
    const std::size_t depth = 1'000'000;
    for (auto [open, close] : {std::pair{"[", "]"}, std::pair{"{\"k\":", "}"}}) {
        std::string text;
        for (std::size_t i = 0; i < depth; ++i)
            text += open;
        text += "7";
        for (std::size_t i = 0; i < depth; ++i)
            text += close;
        Json_doc doc(std::move(text));
        const Json* v = &doc.root();
        std::size_t levels = 0;
        while (v->type == Json::Type::arr || v->type == Json::Type::obj) {
            v = v->type == Json::Type::arr ? &v->arr().at(0) : &v->obj().at("k");
            ++levels;
        }
        EXPECT_EQ(levels, depth);
        EXPECT_EQ(v->num(), 7);
    }
}

// --- String decoding ------------------------------------------------------------

TEST(EscapeJsonString, DecodesEachEscape)
{
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"", ""},
        {"plain \xC3\xA9", "plain \xC3\xA9"},
        {R"(a\nb)", "a\nb"},
        {R"(\"\\\/\b\f\n\r\t)", "\"\\/\b\f\n\r\t"},
        {R"(\u0041\u00e9\u00E9)", "A\xC3\xA9\xC3\xA9"},
        {R"(\u20AC\u20ac)", "\xE2\x82\xAC\xE2\x82\xAC"},
        {R"(\u0000)", "\0"sv},
        {R"(\uFFFF)", "\xEF\xBF\xBF"},
        // A surrogate pair is the one character it stands for, with hex digits of
        // either case.
        {R"(\uD83D\uDE00)", "\xF0\x9F\x98\x80"},
        {R"(\ud83d\ude00)", "\xF0\x9F\x98\x80"},
        {R"(\uD800\uDC00\uDBFF\uDFFF)", "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"},
        {R"(a\uD83C\uDFE0b)", "a\xF0\x9F\x8F\xA0" "b"},
        // A lone surrogate is encoded by itself.
        {R"(\uD83D)", "\xED\xA0\xBD"},
        {R"(\uDE00)", "\xED\xB8\x80"},
        {R"(\uD83Dx)", "\xED\xA0\xBDx"},
        {R"(\uD83D\n)", "\xED\xA0\xBD\n"},
        {R"(\uD83D\u0041)", "\xED\xA0\xBD" "A"},
        {R"(\uD83D\uE000)", "\xED\xA0\xBD\xEE\x80\x80"},
        {R"(\uDE00\uD83D)", "\xED\xB8\x80\xED\xA0\xBD"},
        {R"(\uD83D\uD83D\uDE00)", "\xED\xA0\xBD\xF0\x9F\x98\x80"},
        {R"(\uD83D\\uDE00)", "\xED\xA0\xBD\\uDE00"},
        {R"(x\\u0041)", "x\\u0041"},
    };
    for (const auto& [raw, decoded] : cases)
        EXPECT_EQ(kesp::escape_json_string(raw), decoded) << raw;
}

TEST(EscapeJsonString, DecodesWhatStrGives)
{
    Json_doc doc(R"({"music": "..\/sound\/theme.ogg", "empty": ""})");
    auto obj = doc.root().obj();
    EXPECT_EQ(kesp::escape_json_string(obj.at("music").str()), "../sound/theme.ogg");
    EXPECT_EQ(obj.at("empty").str(), "");
    EXPECT_EQ(kesp::escape_json_string(obj.at("empty").str()), "");
}

TEST(EscapeJsonStringDeathTest, StopsOnAnEscapeTheTokenizerRejects)
{
    EXPECT_DEATH(kesp::escape_json_string(R"(\x)"), "");
    EXPECT_DEATH(kesp::escape_json_string("a\\"), "");
    EXPECT_DEATH(kesp::escape_json_string(R"(\u12)"), "");
}

TEST(ParseCodepoint, ReadsFourHexDigits)
{
    const char* text = "00e9Ab";
    const char* p = text;
    EXPECT_EQ(kesp::parse_codepoint(p), 0xE9);
    EXPECT_EQ(p, text + 4);
    const char* q = "FfFf";
    EXPECT_EQ(kesp::parse_codepoint(q), 0xFFFF);
}

}  // namespace
