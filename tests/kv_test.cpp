#include "support/kv.h"

#include "support/input.h"

#include <gtest/gtest.h>

#include <climits>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

namespace {

using Entry = std::tuple<std::string, std::string, std::string>;  // section, key, value

std::vector<Entry> entries(const std::string& text) {
    kesp::Kv_doc doc(text);
    std::vector<Entry> out;
    for (const auto& [k, v] : doc.entries) out.emplace_back(k.first, k.second, v.text);
    return out;
}

TEST(KvDoc, LinesGiveTheseEntries) {
    struct Case { std::string text; std::vector<Entry> result; };
    const Case cases[] = {
        {"", {}},
        {"\n\n   \n", {}},
        {"a=b=c", {{"", "a", "b=c"}}},
        {"a = \n", {{"", "a", ""}}},
        {"a =", {{"", "a", ""}}},
        {"   a   =   1   \n", {{"", "a", "1"}}},
        {"my key = some value\n", {{"", "my key", "some value"}}},
        {"#x = 1\nx = 1 # note\n", {{"", "#x", "1"}, {"", "x", "1 # note"}}},
        {"a = 1\na = 2\n", {{"", "a", "1"}}},
        {"]x = 1\n==1\n", {{"", "=", "1"}, {"", "]x", "1"}}},
        {"k = [v] =\n", {{"", "k", "[v] ="}}},
        {"a = 1\r\n", {{"", "a", "1\r"}}},
        {"[ media ]\nfps = 30", {{" media ", "fps", "30"}}},
        {"k = 1\n[a]", {{"", "k", "1"}}},  // a header on a last line without line feed
        {"  [a=[b]  \r\nk = 1\n[]\nk = 2", {{"", "k", "2"}, {"a=[b", "k", "1"}}},
        {"x = 0\n[a]\nx = 1\n[b]\nx = 2\n[a]\nx = 3\ny = 4\n",
         {{"", "x", "0"}, {"a", "x", "1"}, {"a", "y", "4"}, {"b", "x", "2"}}},
    };
    for (const Case& k : cases) EXPECT_EQ(entries(k.text), k.result) << k.text;
}

TEST(KvDoc, RejectsWhatIsNoKeyValueLine) {
    const std::string texts[] = {
        "[a] [b]\n", "[a]x = 1\n", "[a\nx = 1\n", "[a", "key\n", "key", "k = 1\nkey",
        "=x\n", "a = 1\tb\n", "[a]\t\n", "\tx = 1\n", "a = caf\xc3\xa9\n", "a = \x7f\n",
        "a = 1\n\x0c\n", std::string("[a\0]", 4),
    };
    for (const std::string& t : texts) {
        testing::internal::CaptureStderr();
        try {
            kesp::Kv_doc doc(t);
            ADD_FAILURE() << "accepted: " << t;
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "syntax error");
        }
        EXPECT_NE(testing::internal::GetCapturedStderr().find("syntax error\n"), std::string::npos);
    }
}

TEST(KvDoc, ReportMarksTheTokenReadSoFar) {
    testing::internal::CaptureStderr();
    EXPECT_THROW(kesp::Kv_doc("a = 1\nkey\tb = 2\n"), std::runtime_error);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "syntax error\n    2 | key\tb = 2\n      | ~~~^\n");
}

TEST(KvDoc, LookupIsExact) {
    kesp::Kv_doc doc(std::string("top = 0\n[media]\nfps = 30\nmy key = 1\n"));
    EXPECT_EQ(doc.at("", "top").text, "0");
    EXPECT_EQ(doc.at("media", "fps").text, "30");
    EXPECT_EQ(doc.at("media", "my key").text, "1");
    EXPECT_EQ(doc.at("media", "mykey").text, "");
    EXPECT_EQ(doc.at("Media", "fps").text, "");
    EXPECT_EQ(doc.at("media", "FPS").text, "");
    EXPECT_EQ(doc.at("media", "top").text, "");
    EXPECT_EQ(&doc.at("x", "y"), &kesp::Kv_doc(std::string()).at("media", "fps"));
}

TEST(KvDoc, ViewsPointIntoItsOwnCopyOfTheText) {
    std::string text = "[s]\nk = value\n";
    kesp::Kv_doc doc(text);
    text.assign(text.size(), 'x');
    text.clear();
    text.shrink_to_fit();
    EXPECT_EQ(doc.at("s", "k").text, "value");
    const char* first = doc.text.data();
    const char* v = doc.at("s", "k").text.data();
    EXPECT_TRUE(v >= first && v < first + doc.text.size());
}

template <class T>
T extract(const std::string& value, T start) {
    kesp::Kv_val(value) >> start;
    return start;
}

TEST(KvVal, IntReadsAsAStreamDoes) {
    struct Case { const char* value; int result; };
    const Case cases[] = {
        {"60", 60}, {"60 fps", 60}, {"60x", 60}, {"  -5", -5}, {"1 # note", 1}, {"1\r", 1},
        {"abc", 0}, {"x60", 0}, {"99999999999", INT_MAX}, {"-99999999999", INT_MIN},
        {"", 7}, {"   ", 7},  // nothing there: unchanged
    };
    for (const Case& k : cases) EXPECT_EQ(extract(k.value, 7), k.result) << k.value;
}

TEST(KvVal, BoolReadsAsANumber) {
    struct Case { const char* value; bool start; bool result; };
    const Case cases[] = {
        {"0", true, false}, {"1", false, true}, {"2", false, true}, {"-1", false, true},
        {"true", true, false}, {"false", true, false}, {"", true, true}, {"", false, false},
        {" ", true, true},
    };
    for (const Case& k : cases) EXPECT_EQ(extract(k.value, k.start), k.result) << k.value;
}

TEST(KvVal, BindingListReadsThroughTheListReader) {
    using kesp::Catch;
    const std::vector<Catch> old = {kesp::Catch_jbutton{9}};
    EXPECT_EQ(extract("jbutton(1) bogus(2) jbutton(3)", old), std::vector<Catch>{kesp::Catch_jbutton{1}});
    EXPECT_EQ(extract("", old), old);
    EXPECT_EQ(extract("bogus", old), old);
    kesp::Kv_doc doc(std::string("[input]\nleft = key(Left) jhat_l(0) \n"));
    std::vector<Catch> list = old;
    doc.at("input", "left") >> list;
    EXPECT_EQ(list, (std::vector<Catch>{kesp::Catch_scancode{SDL_SCANCODE_LEFT}, kesp::Catch_jhat<8>{0}}));
    doc.at("input", "right") >> list;  // missing: unchanged
    EXPECT_EQ(list.size(), 2u);
}

}  // namespace
