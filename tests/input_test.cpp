#include "support/input.h"

#include <SDL_keyboard.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace kesp;

std::string write(const Catch& c) {
    std::ostringstream out;
    out << c;
    return out.str();
}

std::string write(const std::vector<Catch>& list) {
    std::ostringstream out;
    out << list;
    return out.str();
}

// Reads one binding into a target that starts as mbutton(42), so a failed read
// shows as the target unchanged.
struct Read {
    bool ok;
    Catch c;
    std::string rest;
};

Read read(const std::string& text) {
    std::istringstream in(text);
    Catch c = Catch_mbutton{42};
    bool ok = static_cast<bool>(in >> c);
    in.clear();
    std::string rest((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return {ok, c, rest};
}

const Catch untouched = Catch_mbutton{42};

TEST(Binding, EveryKindWritesItsTextAndReadsBack) {
    struct Case { Catch c; const char* text; };
    const Case cases[] = {
        {Catch_scancode{SDL_SCANCODE_LEFT}, "key(Left)"},
        {Catch_scancode{SDL_SCANCODE_KP_LEFTPAREN}, "key(Keypad ()"},
        {Catch_jbutton{-1}, "jbutton(-1)"},
        {Catch_jaxis<1>{2}, "jaxis+(2)"},
        {Catch_jaxis<-1>{0}, "jaxis-(0)"},
        {Catch_jhat<1>{0}, "jhat_u(0)"},
        {Catch_jhat<2>{1}, "jhat_r(1)"},
        {Catch_jhat<4>{2}, "jhat_d(2)"},
        {Catch_jhat<8>{3}, "jhat_l(3)"},
        {Catch_gbutton{SDL_CONTROLLER_BUTTON_DPAD_LEFT}, "gbutton(dpleft)"},
        {Catch_gaxis<1>{SDL_CONTROLLER_AXIS_LEFTY}, "gaxis+(lefty)"},
        {Catch_gaxis<-1>{SDL_CONTROLLER_AXIS_LEFTX}, "gaxis-(leftx)"},
        {Catch_mbutton{3}, "mbutton(3)"},
        {Catch_mwheel<1>{1}, "mwheel+(1)"},
        {Catch_mwheel<-1>{0}, "mwheel-(0)"},
        {Catch_jbutton{2147483647}, "jbutton(2147483647)"},
        {Catch_mbutton{-2147483647 - 1}, "mbutton(-2147483648)"},
    };
    for (const Case& k : cases) {
        EXPECT_EQ(write(k.c), k.text);
        Read r = read(k.text);
        EXPECT_TRUE(r.ok) << k.text;
        EXPECT_EQ(r.c, k.c) << k.text;
    }
}

TEST(Binding, EveryNamedPlatformCodeRoundTrips) {
    for (int s = 1; s < SDL_NUM_SCANCODES; ++s) {
        std::string name = SDL_GetScancodeName(static_cast<SDL_Scancode>(s));
        if (name.empty() || name.find(')') != std::string::npos) continue;
        Read r = read(write(Catch_scancode{static_cast<SDL_Scancode>(s)}));
        ASSERT_TRUE(r.ok) << name;
        // A few names stand for two scancodes; the name is what survives.
        EXPECT_EQ(SDL_GetScancodeName(std::get<Catch_scancode>(r.c).scancode), name);
    }
    for (int b = 0; b < SDL_CONTROLLER_BUTTON_MAX; ++b) {
        Catch c = Catch_gbutton{static_cast<SDL_GameControllerButton>(b)};
        EXPECT_EQ(read(write(c)).c, c) << b;
    }
    for (int a = 0; a < SDL_CONTROLLER_AXIS_MAX; ++a) {
        Catch plus = Catch_gaxis<1>{static_cast<SDL_GameControllerAxis>(a)};
        Catch minus = Catch_gaxis<-1>{static_cast<SDL_GameControllerAxis>(a)};
        EXPECT_EQ(read(write(plus)).c, plus) << a;
        EXPECT_EQ(read(write(minus)).c, minus) << a;
    }
}

TEST(Binding, ReaderAcceptsOnlyWhatTheFormAllows) {
    struct Case { std::string text; bool ok; Catch c; };
    const Case cases[] = {
        {"  \n jbutton(1)", true, Catch_jbutton{1}},    // blanks in front are skipped
        {"jbutton(3", true, Catch_jbutton{3}},          // end of text closes the argument
        {"key(left)", true, Catch_scancode{SDL_SCANCODE_LEFT}},  // the platform ignores case
        {"jbutton(999)", true, Catch_jbutton{999}},     // no range test
        {"jbutton(+1)", false, untouched},
        {"jbutton(1x)", false, untouched},
        {"jbutton()", false, untouched},
        {"jbutton( 1)", false, untouched},
        {"jbutton(2147483648)", false, untouched},
        {"jbutton(-2147483649)", false, untouched},
        {"JBUTTON(1)", false, untouched},
        {"button(1)", false, untouched},
        {"key (X)", false, untouched},
        {"jbutton(", false, untouched},
        {"jbutton", false, untouched},
        {"", false, untouched},
        {"   ", false, untouched},
        {"key(NoSuchKey)", false, untouched},
        {"key()", false, untouched},
        {std::string("key(A\0B)", 8), false, untouched},
        {"gbutton(dpsideways)", false, untouched},
        {"gaxis+(nope)", false, untouched},
        {"mwheel(1)", false, untouched},
    };
    for (const Case& k : cases) {
        Read r = read(k.text);
        EXPECT_EQ(r.ok, k.ok) << k.text;
        EXPECT_EQ(r.c, k.c) << k.text;
    }
}

TEST(Binding, AFailedReadKeepsWhatItConsumed) {
    EXPECT_EQ(read("bogus(2) jbutton(3)").rest, " jbutton(3)");
    EXPECT_EQ(read("jbutton(x)y").rest, "y");
    EXPECT_EQ(read("jbutton(1)jbutton(2)").rest, "jbutton(2)");
}

TEST(BindingList, WritesEachBindingFollowedByASpace) {
    EXPECT_EQ(write(std::vector<Catch>{}), "");
    EXPECT_EQ(write(std::vector<Catch>{Catch_jbutton{0}, Catch_jbutton{7}}), "jbutton(0) jbutton(7) ");
}

TEST(BindingList, LeavesOutBindingsThatWouldNotReadBack) {
    // No name, and a name the reader would cut at its ')': either would end the
    // list there when the file is read again.
    const std::vector<Catch> list = {Catch_jbutton{1}, Catch_scancode{SDL_SCANCODE_UNKNOWN},
                                     Catch_scancode{SDL_SCANCODE_KP_RIGHTPAREN},
                                     Catch_gbutton{SDL_CONTROLLER_BUTTON_INVALID}, Catch_jbutton{2}};
    std::string text = write(list);
    EXPECT_EQ(text, "jbutton(1) jbutton(2) ");
    EXPECT_EQ(write(list[2]), "");
}

TEST(BindingList, ValidBindingsUpToTheFirstInvalidOneReplaceTheList) {
    const std::vector<Catch> old = {Catch_mbutton{1}, Catch_mbutton{2}};
    struct Case { const char* text; std::vector<Catch> result; };
    const Case cases[] = {
        {"jbutton(1) bogus(2) jbutton(3)", {Catch_jbutton{1}}},
        {"jbutton(1)jbutton(2)", {Catch_jbutton{1}, Catch_jbutton{2}}},
        {"key(X) gbutton(a) jbutton(0) ", {Catch_scancode{SDL_SCANCODE_X},
                                          Catch_gbutton{SDL_CONTROLLER_BUTTON_A}, Catch_jbutton{0}}},
        {"", old},
        {"    ", old},
        {"bogus(2)", old},
        {"bogus(2) jbutton(3)", old},
    };
    for (const Case& k : cases) {
        std::vector<Catch> list = old;
        std::istringstream in(k.text);
        in >> list;
        EXPECT_TRUE(in.fail()) << k.text;
        EXPECT_EQ(list, k.result) << k.text;
    }
}

}  // namespace
