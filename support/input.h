// Input actions, their bindings, and the event pump that feeds them.
#pragma once

#include <SDL_gamecontroller.h>
#include <SDL_scancode.h>

#include <functional>
#include <istream>
#include <ostream>
#include <variant>
#include <vector>

namespace kesp {

// One binding: which physical input drives an action. No binding names a device:
// it matches that input on any keyboard, mouse, joystick or gamepad.
struct Catch_scancode {
    SDL_Scancode scancode;
    friend bool operator==(const Catch_scancode&, const Catch_scancode&) = default;
};
struct Catch_jbutton {
    int button;
    friend bool operator==(const Catch_jbutton&, const Catch_jbutton&) = default;
};
// One half of a joystick axis: D is 1 or -1.
template <int D>
struct Catch_jaxis {
    int axis;
    friend bool operator==(const Catch_jaxis&, const Catch_jaxis&) = default;
};
// One direction of a joystick hat: M is the direction's bit (up 1, right 2, down 4, left 8).
template <int M>
struct Catch_jhat {
    int hat;
    friend bool operator==(const Catch_jhat&, const Catch_jhat&) = default;
};
struct Catch_gbutton {
    SDL_GameControllerButton button;
    friend bool operator==(const Catch_gbutton&, const Catch_gbutton&) = default;
};
template <int D>
struct Catch_gaxis {
    SDL_GameControllerAxis axis;
    friend bool operator==(const Catch_gaxis&, const Catch_gaxis&) = default;
};
struct Catch_mbutton {
    int button;
    friend bool operator==(const Catch_mbutton&, const Catch_mbutton&) = default;
};
// A wheel direction: axis 0 is the horizontal wheel, anything else the vertical one.
template <int D>
struct Catch_mwheel {
    int axis;
    friend bool operator==(const Catch_mwheel&, const Catch_mwheel&) = default;
};

using Catch = std::variant<Catch_scancode, Catch_jbutton, Catch_jaxis<1>, Catch_jaxis<-1>,
                           Catch_jhat<1>, Catch_jhat<2>, Catch_jhat<4>, Catch_jhat<8>,
                           Catch_gbutton, Catch_gaxis<1>, Catch_gaxis<-1>, Catch_mbutton,
                           Catch_mwheel<1>, Catch_mwheel<-1>>;

// One action: its value, written only by the event pump, and its bindings in the
// order they are matched and saved.
struct Input {
    Input() = default;
    Input(Input&&) = default;

    float value = 0;
    std::vector<Catch> catches;
};

// The action table, indexed by action number; the game sizes it.
extern std::vector<Input> inputs;

// The text form of one binding: keyword "(" code ")", e.g. key(Left) or jbutton(3).
std::ostream& operator<<(std::ostream& out, const Catch& c);
// On failure sets failbit only and leaves c as it was.
std::istream& operator>>(std::istream& in, Catch& c);
// Every binding followed by one space.
std::ostream& operator<<(std::ostream& out, const std::vector<Catch>& list);
// Reads bindings up to the first that fails; replaces the list only when at least
// one was read, so text can never empty a list. Leaves the stream failed.
std::istream& operator>>(std::istream& in, std::vector<Catch>& list);

// Called with (action index, new value) for each change of an action.
using Event_callback = std::function<void(int, float)>;

// Drains the platform's event queue, opening and closing controllers as they come
// and go and feeding every other event to the bindings. A quit event ends the
// process with status 0. The callback must not resize the table or change a
// binding list.
void handle_events(const Event_callback& callback);

}  // namespace kesp
