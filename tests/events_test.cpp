#include "support/input.h"

#include "common/events.h"

#include <SDL.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace kesp;
using Call = std::pair<int, float>;
using Calls = std::vector<Call>;

// What the platform's log received, as "E: text" for errors and "I: text" otherwise.
std::vector<std::string> logged;

void record_log(void*, int, SDL_LogPriority priority, const char* message) {
    logged.push_back(std::string(priority >= SDL_LOG_PRIORITY_ERROR ? "E: " : "I: ") + message);
}

class Pump : public testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO | SDL_INIT_JOYSTICK | SDL_INIT_GAMECONTROLLER), 0)
            << SDL_GetError();
        // Use up an instance id, so that a device's id and its device index differ
        // and a mix-up of the two shows.
        SDL_JoystickDetachVirtual(SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 0, 0, 0));
    }
    static void TearDownTestSuite() { SDL_Quit(); }

    void SetUp() override {
        SDL_PumpEvents();
        SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
        SDL_LogGetOutputFunction(&old_log, &old_log_data);
        SDL_LogSetOutputFunction(record_log, nullptr);
        logged.clear();
    }
    void TearDown() override {
        SDL_LogSetOutputFunction(old_log, old_log_data);
        inputs.clear();
    }

    // One action per list, all values 0.
    static void bind(std::vector<std::vector<Catch>> lists) {
        inputs.clear();
        inputs.resize(lists.size());
        for (std::size_t i = 0; i < lists.size(); ++i) inputs[i].catches = std::move(lists[i]);
    }

    static std::vector<float> values() {
        std::vector<float> v;
        for (const Input& input : inputs) v.push_back(input.value);
        return v;
    }


    static Calls pump() {
        Calls calls;
        // The pump takes the callback by const reference: a temporary will do.
        handle_events([&](int i, float v) { calls.emplace_back(i, v); });
        return calls;
    }

    static SDL_Event key(Uint32 type, SDL_Scancode code) {
        SDL_Event e{};
        e.type = type;
        e.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
        e.key.keysym.scancode = code;
        return e;
    }
    static SDL_Event jaxis(int axis, Sint16 v) {
        SDL_Event e{};
        e.type = SDL_JOYAXISMOTION;
        e.jaxis.axis = static_cast<Uint8>(axis);
        e.jaxis.value = v;
        return e;
    }
    static SDL_Event wheel(float x, float y) {
        SDL_Event e{};
        e.type = SDL_MOUSEWHEEL;
        e.wheel.preciseX = x;
        e.wheel.preciseY = y;
        return e;
    }

private:
    SDL_LogOutputFunction old_log = nullptr;
    void* old_log_data = nullptr;
};

TEST_F(Pump, AKeyBoundToTwoActionsCallsBackForEachInActionOrder) {
    bind({{Catch_scancode{SDL_SCANCODE_X}}, {Catch_scancode{SDL_SCANCODE_Z}},
          {Catch_jbutton{0}, Catch_scancode{SDL_SCANCODE_X}}});
    test::push_event(key(SDL_KEYDOWN, SDL_SCANCODE_X));
    EXPECT_EQ(pump(), (Calls{{0, 1.0f}, {2, 1.0f}}));
    EXPECT_EQ(values(), (std::vector<float>{1, 0, 1}));
}

TEST_F(Pump, OnlyChangesCallBack) {
    bind({{Catch_scancode{SDL_SCANCODE_X}}});
    // Down and up in one frame: two calls; a repeated down while held: none.
    test::push_event(key(SDL_KEYDOWN, SDL_SCANCODE_X));
    SDL_Event repeat = key(SDL_KEYDOWN, SDL_SCANCODE_X);
    repeat.key.repeat = 1;
    test::push_event(repeat);
    test::push_event(key(SDL_KEYUP, SDL_SCANCODE_X));
    test::push_event(key(SDL_KEYUP, SDL_SCANCODE_X));
    SDL_Event motion{};
    motion.type = SDL_MOUSEMOTION;
    test::push_event(motion);
    EXPECT_EQ(pump(), (Calls{{0, 1.0f}, {0, 0.0f}}));
}

TEST_F(Pump, AxisHalvesScaleBy32768) {
    struct Case { Sint16 v; float neg; float pos; };
    const Case cases[] = {
        {0, 0.0f, 0.0f},
        {-32768, 1.0f, 0.0f},
        {32767, 0.0f, 32767.0f / 32768.0f},
        {-16384, 0.5f, 0.0f},
    };
    for (const Case& k : cases) {
        bind({{Catch_jaxis<-1>{0}}, {Catch_jaxis<1>{0}}, {Catch_jaxis<1>{1}}});
        for (Input& input : inputs) input.value = 0.25f;
        test::push_event(jaxis(0, k.v));
        pump();
        EXPECT_EQ(values(), (std::vector<float>{k.neg, k.pos, 0.25f})) << k.v;
    }
}

TEST_F(Pump, TheLastBindingAnEventConcernsDecides) {
    bind({{Catch_jaxis<1>{0}, Catch_jaxis<-1>{0}}});
    test::push_event(jaxis(0, 16384));
    EXPECT_EQ(pump(), (Calls{{0, 0.5f}, {0, 0.0f}}));
    test::push_event(jaxis(0, -16384));
    EXPECT_EQ(pump(), (Calls{{0, 0.5f}}));

    // A centred axis overwrites a held key on the same action.
    bind({{Catch_scancode{SDL_SCANCODE_LEFT}, Catch_jaxis<-1>{0}}});
    test::push_event(key(SDL_KEYDOWN, SDL_SCANCODE_LEFT));
    test::push_event(jaxis(0, 0));
    EXPECT_EQ(pump(), (Calls{{0, 1.0f}, {0, 0.0f}}));
}

TEST_F(Pump, HatDirectionsFollowTheirBits) {
    bind({{Catch_jhat<1>{0}}, {Catch_jhat<2>{0}}, {Catch_jhat<4>{0}}, {Catch_jhat<8>{0}},
          {Catch_jhat<1>{1}}});
    for (Input& input : inputs) input.value = 0.5f;
    SDL_Event e{};
    e.type = SDL_JOYHATMOTION;
    e.jhat.hat = 0;
    e.jhat.value = SDL_HAT_RIGHTUP;  // 3
    test::push_event(e);
    pump();
    EXPECT_EQ(values(), (std::vector<float>{1, 1, 0, 0, 0.5f}));
}

TEST_F(Pump, WheelAmountsAreKeptAsDelivered) {
    bind({{Catch_mwheel<1>{1}}, {Catch_mwheel<-1>{0}}});
    test::push_event(wheel(0.5f, 2.5f));
    test::push_event(wheel(0.5f, 2.5f));
    EXPECT_EQ(pump(), (Calls{{0, 2.5f}, {1, -0.5f}}));
    test::push_event(wheel(1.0f, 0.0f));
    EXPECT_EQ(pump(), (Calls{{0, 0.0f}, {1, -1.0f}}));
}

TEST_F(Pump, AChangeIsWhatFloatEqualityCallsOne) {
    bind({{Catch_mwheel<1>{1}}, {Catch_mwheel<-1>{1}}});
    // 0 and -0 are equal: the negated half of a still wheel changes nothing.
    test::push_event(wheel(0.0f, 0.0f));
    EXPECT_EQ(pump(), Calls{});
    // A NaN differs from everything, itself included.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    test::push_event(wheel(0.0f, nan));
    test::push_event(wheel(0.0f, nan));
    Calls calls = pump();
    ASSERT_EQ(calls.size(), 4u);
    for (std::size_t k = 0; k < calls.size(); ++k) {
        EXPECT_EQ(calls[k].first, static_cast<int>(k % 2));
        EXPECT_TRUE(std::isnan(calls[k].second));
    }
}

TEST_F(Pump, ButtonsFollowOnlyTheirOwnKindOfEvent) {
    struct Kind { Catch c; Uint32 down; Uint32 up; };
    const Kind kinds[] = {
        {Catch_jbutton{3}, SDL_JOYBUTTONDOWN, SDL_JOYBUTTONUP},
        {Catch_gbutton{SDL_CONTROLLER_BUTTON_Y}, SDL_CONTROLLERBUTTONDOWN, SDL_CONTROLLERBUTTONUP},
        {Catch_mbutton{3}, SDL_MOUSEBUTTONDOWN, SDL_MOUSEBUTTONUP},
    };
    // The button number sits at the same place in all three event records.
    auto event = [](Uint32 type, int button) {
        SDL_Event e{};
        e.type = type;
        if (type == SDL_JOYBUTTONDOWN || type == SDL_JOYBUTTONUP) e.jbutton.button = button;
        else if (type == SDL_MOUSEBUTTONDOWN || type == SDL_MOUSEBUTTONUP) e.button.button = button;
        else e.cbutton.button = button;
        return e;
    };
    for (const Kind& k : kinds) {
        bind({{k.c}});
        for (const Kind& other : kinds)
            if (other.down != k.down) test::push_event(event(other.down, 3));
        test::push_event(event(k.down, 4));
        EXPECT_EQ(pump(), Calls{}) << k.down;
        test::push_event(event(k.down, 3));
        test::push_event(event(k.up, 3));
        EXPECT_EQ(pump(), (Calls{{0, 1.0f}, {0, 0.0f}})) << k.down;
    }
}

TEST_F(Pump, QuitEndsTheProcessWithEventsQueuedBehindIt) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            bind({{Catch_scancode{SDL_SCANCODE_X}}, {Catch_scancode{SDL_SCANCODE_Z}}});
            test::push_event(key(SDL_KEYDOWN, SDL_SCANCODE_X));
            SDL_Event quit{};
            quit.type = SDL_QUIT;
            test::push_event(quit);
            test::push_event(key(SDL_KEYDOWN, SDL_SCANCODE_Z));
            Event_callback callback = [](int i, float v) { std::fprintf(stderr, "call %d %g\n", i, v); };
            handle_events(callback);
            std::fprintf(stderr, "pump returned\n");
            std::exit(3);
        },
        testing::ExitedWithCode(0),
        testing::AllOf(testing::HasSubstr("call 0 1\n"), testing::Not(testing::HasSubstr("call 1")),
                       testing::Not(testing::HasSubstr("pump returned"))));
}

TEST_F(Pump, RemovingAnUnattachedJoystickLogsAnError) {
    SDL_Event e{};
    e.type = SDL_JOYDEVICEREMOVED;
    e.jdevice.which = 12345;
    test::push_event(e);
    pump();
    EXPECT_EQ(logged, (std::vector<std::string>{"E: Attempt to detach unattached joystick"}));
}

// A virtual device, detached when the test ends.
class Virtual {
public:
    Virtual(SDL_JoystickType type, int axes, int buttons, int hats)
        : index(SDL_JoystickAttachVirtual(type, axes, buttons, hats)),
          id(SDL_JoystickGetDeviceInstanceID(index)) {}
    ~Virtual() { SDL_JoystickDetachVirtual(index); }
    Virtual(const Virtual&) = delete;
    Virtual& operator=(const Virtual&) = delete;

    // The pump opened it, so it is there by its instance id.
    SDL_Joystick* joystick() const { return SDL_JoystickFromInstanceID(id); }
    std::string name() const { return SDL_JoystickNameForIndex(index); }

    const int index;
    const SDL_JoystickID id;
};

TEST_F(Pump, AJoystickIsOpenedWhenItArrivesAndClosedWhenItLeaves) {
    bind({{Catch_jbutton{1}}, {Catch_jhat<1>{0}, Catch_jhat<2>{0}}, {Catch_jaxis<-1>{1}},
          {Catch_gbutton{SDL_CONTROLLER_BUTTON_B}}});
    std::vector<std::string> expected;
    {
        Virtual stick(SDL_JOYSTICK_TYPE_FLIGHT_STICK, 2, 4, 1);
        ASSERT_GE(stick.index, 0) << SDL_GetError();
        ASSERT_NE(stick.id, stick.index);
        ASSERT_FALSE(SDL_IsGameController(stick.index));
        pump();
        expected.push_back("I: Attached joystick " + std::to_string(stick.id) + " (" + stick.name() + ")");
        EXPECT_EQ(logged, expected);
        ASSERT_NE(stick.joystick(), nullptr);

        SDL_JoystickSetVirtualButton(stick.joystick(), 1, SDL_PRESSED);
        SDL_JoystickSetVirtualHat(stick.joystick(), 0, SDL_HAT_RIGHTUP);
        SDL_JoystickSetVirtualAxis(stick.joystick(), 1, -32768);
        pump();
        EXPECT_EQ(values(), (std::vector<float>{1, 1, 1, 0}));
        expected.push_back("I: Detached joystick " + std::to_string(stick.id) + " (" + stick.name() + ")");
    }
    pump();
    EXPECT_EQ(logged, expected);
}

TEST_F(Pump, AGamepadIsOpenedOnlyAsAGamepad) {
    bind({{Catch_gbutton{SDL_CONTROLLER_BUTTON_A}}, {Catch_gaxis<-1>{SDL_CONTROLLER_AXIS_LEFTX}},
          {Catch_jbutton{0}}});
    std::vector<std::string> expected;
    {
        Virtual pad(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 6, 15, 0);
        ASSERT_GE(pad.index, 0) << SDL_GetError();
        ASSERT_NE(pad.id, pad.index);
        ASSERT_TRUE(SDL_IsGameController(pad.index));
        pump();
        const std::string id = std::to_string(pad.id);
        expected = {"I: Attached gamepad " + id + " (" + SDL_GameControllerNameForIndex(pad.index) + ")",
                    "I: Attached joystick " + id + ", but it's a gamepad"};
        EXPECT_THAT(logged, testing::UnorderedElementsAreArray(expected));

        // The gamepad's own events, and those of the joystick beneath it.
        SDL_JoystickSetVirtualButton(pad.joystick(), 0, SDL_PRESSED);
        SDL_JoystickSetVirtualAxis(pad.joystick(), 0, -32768);
        pump();
        EXPECT_EQ(values(), (std::vector<float>{1, 1, 1}));
        expected.push_back("I: Detached gamepad " + id + " (" + SDL_GameControllerNameForIndex(pad.index) + ")");
        expected.push_back("I: Detached joystick " + id + ", but it's a gamepad");
    }
    pump();
    EXPECT_THAT(logged, testing::UnorderedElementsAreArray(expected));
}

TEST_F(Pump, RemovingAGamepadTwiceLogsAnError) {
    Virtual pad(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 6, 15, 0);
    ASSERT_GE(pad.index, 0) << SDL_GetError();
    pump();
    SDL_Event e{};
    e.type = SDL_CONTROLLERDEVICEREMOVED;
    e.cdevice.which = pad.id;
    test::push_event(e);
    test::push_event(e);
    logged.clear();
    pump();
    EXPECT_EQ(logged, (std::vector<std::string>{
                          "I: Detached gamepad " + std::to_string(pad.id) + " (" +
                              SDL_GameControllerNameForIndex(pad.index) + ")",
                          "E: Attempt to detach unattached gamepad"}));
}

}  // namespace
