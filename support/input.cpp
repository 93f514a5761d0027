#include "support/input.h"

#include "support/static_order.h"

#include <SDL.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdlib>
#include <list>
#include <set>
#include <string>
#include <utility>

namespace kesp {

KESP_STATIC_ORDER(2) std::vector<Input> inputs;

namespace {

// Opened devices, in arrival order. Built right after the action table and
// destroyed before it.
KESP_STATIC_ORDER(2) std::list<SDL_Joystick*> _joysticks;
KESP_STATIC_ORDER(2) std::list<SDL_GameController*> _gamepads;
// Instance ids of devices that arrived as gamepads. A gamepad leaves as a gamepad
// first and as a joystick after; by then SDL 2 can no longer tell that the
// joystick was a gamepad.
KESP_STATIC_ORDER(2) std::set<SDL_JoystickID> _gamepad_ids;

// Keywords of the text form, in the order of the variant's alternatives.
constexpr std::array<std::string_view, std::variant_size_v<Catch>> _keywords = {
    "key",    "jbutton", "jaxis+", "jaxis-", "jhat_u",  "jhat_r",  "jhat_d",
    "jhat_l", "gbutton", "gaxis+", "gaxis-", "mbutton", "mwheel+", "mwheel-",
};

// Text of a code. False when the code has no text that would read back: writing
// such a binding would cut every binding after it from the list on the next read.
bool code_text(int code, std::string& text) {
    text = std::to_string(code);
    return true;
}

bool name_text(const char* name, std::string& text) {
    if (!name || !*name) return false;
    text = name;
    return text.find(')') == std::string::npos;
}

bool code_text(SDL_Scancode code, std::string& text) {
    return name_text(SDL_GetScancodeName(code), text);
}

bool code_text(SDL_GameControllerButton code, std::string& text) {
    return name_text(SDL_GameControllerGetStringForButton(code), text);
}

bool code_text(SDL_GameControllerAxis code, std::string& text) {
    return name_text(SDL_GameControllerGetStringForAxis(code), text);
}

// The whole argument as a decimal 32-bit int: no blanks, no '+', nothing after it.
bool read_code(const std::string& arg, int& code) {
    const char* end = arg.data() + arg.size();
    auto [ptr, ec] = std::from_chars(arg.data(), end, code);
    return ec == std::errc() && ptr == end;
}

// A name goes to the platform's lookup as it is; one holding a NUL byte cannot.
bool read_code(const std::string& arg, SDL_Scancode& code) {
    if (arg.find('\0') != std::string::npos) return false;
    code = SDL_GetScancodeFromName(arg.c_str());
    return code != SDL_SCANCODE_UNKNOWN;
}

bool read_code(const std::string& arg, SDL_GameControllerButton& code) {
    if (arg.find('\0') != std::string::npos) return false;
    code = SDL_GameControllerGetButtonFromString(arg.c_str());
    return code != SDL_CONTROLLER_BUTTON_INVALID;
}

bool read_code(const std::string& arg, SDL_GameControllerAxis& code) {
    if (arg.find('\0') != std::string::npos) return false;
    code = SDL_GameControllerGetAxisFromString(arg.c_str());
    return code != SDL_CONTROLLER_AXIS_INVALID;
}

template <std::size_t I>
bool read_kind(const std::string& arg, Catch& out) {
    std::variant_alternative_t<I, Catch> kind{};
    auto& [code] = kind;
    if (!read_code(arg, code)) return false;
    out = kind;
    return true;
}

template <std::size_t... I>
constexpr auto make_readers(std::index_sequence<I...>) {
    return std::array{&read_kind<I>...};
}

// One reader per keyword, in the order of _keywords.
constexpr auto _readers = make_readers(std::make_index_sequence<std::variant_size_v<Catch>>());

bool write_catch(std::ostream& out, const Catch& c) {
    std::string text;
    bool ok = std::visit([&](const auto& kind) {
        const auto& [code] = kind;
        return code_text(code, text);
    }, c);
    if (ok) out << _keywords[c.index()] << '(' << text << ')';
    return ok;
}

}  // namespace

std::ostream& operator<<(std::ostream& out, const Catch& c) {
    write_catch(out, c);
    return out;
}

std::istream& operator>>(std::istream& in, Catch& c) {
    in >> std::ws;
    if (!in) return in;
    // getline fails only when it takes nothing at all; running into the end of the
    // text before the delimiter is not yet a failure.
    std::string keyword, arg;
    if (!std::getline(in, keyword, '(') || !std::getline(in, arg, ')')) return in;
    auto k = std::find(_keywords.begin(), _keywords.end(), keyword);
    if (k == _keywords.end() || !_readers[static_cast<std::size_t>(k - _keywords.begin())](arg, c))
        in.setstate(std::ios_base::failbit);
    return in;
}

std::ostream& operator<<(std::ostream& out, const std::vector<Catch>& list) {
    for (const Catch& c : list)
        if (write_catch(out, c)) out << ' ';
    return out;
}

std::istream& operator>>(std::istream& in, std::vector<Catch>& list) {
    std::vector<Catch> read;
    Catch c;
    while (in >> c) read.push_back(c);
    if (!read.empty()) list = std::move(read);
    return in;
}

namespace {

// Stores v and tells whether it differs from what was there (a NaN always does).
bool set_input(float& value, float v) {
    if (value == v) return false;
    value = v;
    return true;
}

// A button or key: 1 on its down event, 0 on its up event.
bool is_press(const SDL_Event& e, Uint32 down, Uint32 up) { return e.type == down || e.type == up; }
float press_value(const SDL_Event& e, Uint32 down) { return e.type == down ? 1.0f : 0.0f; }

// One half of an axis: 32768 so that the negative half reaches exactly 1.
float half_axis(int d, Sint16 v) {
    return std::max(static_cast<float>(d * v) / 32768.0f, 0.0f);
}

bool catch_event(const Catch_scancode& c, const SDL_Event& e, float& value) {
    if (!is_press(e, SDL_KEYDOWN, SDL_KEYUP) || e.key.keysym.scancode != c.scancode) return false;
    return set_input(value, press_value(e, SDL_KEYDOWN));
}

bool catch_event(const Catch_jbutton& c, const SDL_Event& e, float& value) {
    if (!is_press(e, SDL_JOYBUTTONDOWN, SDL_JOYBUTTONUP) || e.jbutton.button != c.button)
        return false;
    return set_input(value, press_value(e, SDL_JOYBUTTONDOWN));
}

bool catch_event(const Catch_gbutton& c, const SDL_Event& e, float& value) {
    if (!is_press(e, SDL_CONTROLLERBUTTONDOWN, SDL_CONTROLLERBUTTONUP) || e.cbutton.button != c.button)
        return false;
    return set_input(value, press_value(e, SDL_CONTROLLERBUTTONDOWN));
}

bool catch_event(const Catch_mbutton& c, const SDL_Event& e, float& value) {
    if (!is_press(e, SDL_MOUSEBUTTONDOWN, SDL_MOUSEBUTTONUP) || e.button.button != c.button)
        return false;
    return set_input(value, press_value(e, SDL_MOUSEBUTTONDOWN));
}

template <int D>
bool catch_event(const Catch_jaxis<D>& c, const SDL_Event& e, float& value) {
    if (e.type != SDL_JOYAXISMOTION || e.jaxis.axis != c.axis) return false;
    return set_input(value, half_axis(D, e.jaxis.value));
}

template <int D>
bool catch_event(const Catch_gaxis<D>& c, const SDL_Event& e, float& value) {
    if (e.type != SDL_CONTROLLERAXISMOTION || e.caxis.axis != c.axis) return false;
    return set_input(value, half_axis(D, e.caxis.value));
}

template <int M>
bool catch_event(const Catch_jhat<M>& c, const SDL_Event& e, float& value) {
    if (e.type != SDL_JOYHATMOTION || e.jhat.hat != c.hat) return false;
    return set_input(value, (e.jhat.value & M) ? 1.0f : 0.0f);
}

// Every wheel event concerns a wheel binding; the amount is kept until the next one.
template <int D>
bool catch_event(const Catch_mwheel<D>& c, const SDL_Event& e, float& value) {
    if (e.type != SDL_MOUSEWHEEL) return false;
    return set_input(value, D * (c.axis != 0 ? e.wheel.preciseY : e.wheel.preciseX));
}

bool catch_event(const Catch& c, const SDL_Event& e, float& value) {
    return std::visit([&](const auto& kind) { return catch_event(kind, e, value); }, c);
}

const char* name_or_empty(const char* name) { return name ? name : ""; }

// Joysticks and gamepads arrive by device index and leave by instance id.
bool arrived_as_gamepad(int index) {
    if (!SDL_IsGameController(index)) return false;
    _gamepad_ids.insert(SDL_JoystickGetDeviceInstanceID(index));
    return true;
}

void attach_joystick(int index) {
    if (arrived_as_gamepad(index)) {
        SDL_Log("Attached joystick %d, but it's a gamepad", SDL_JoystickGetDeviceInstanceID(index));
        return;
    }
    SDL_Joystick* joystick = SDL_JoystickOpen(index);
    if (!joystick) {
        SDL_LogError(SDL_LOG_CATEGORY_APPLICATION, "%s", SDL_GetError());
        return;
    }
    SDL_Log("Attached joystick %d (%s)", SDL_JoystickInstanceID(joystick),
            name_or_empty(SDL_JoystickName(joystick)));
    _joysticks.push_back(joystick);
}

// The joystick removal is the last event for a gamepad.
void detach_joystick(SDL_JoystickID id) {
    if (_gamepad_ids.erase(id)) {
        SDL_Log("Detached joystick %d, but it's a gamepad", id);
        return;
    }
    auto it = std::find_if(_joysticks.begin(), _joysticks.end(),
                           [id](SDL_Joystick* j) { return SDL_JoystickInstanceID(j) == id; });
    if (it == _joysticks.end()) {
        SDL_LogError(SDL_LOG_CATEGORY_APPLICATION, "Attempt to detach unattached joystick");
        return;
    }
    SDL_Log("Detached joystick %d (%s)", id, name_or_empty(SDL_JoystickName(*it)));
    SDL_JoystickClose(*it);
    _joysticks.erase(it);
}

SDL_JoystickID gamepad_id(SDL_GameController* gamepad) {
    return SDL_JoystickInstanceID(SDL_GameControllerGetJoystick(gamepad));
}

void attach_gamepad(int index) {
    arrived_as_gamepad(index);
    SDL_GameController* gamepad = SDL_GameControllerOpen(index);
    if (!gamepad) {
        SDL_LogError(SDL_LOG_CATEGORY_APPLICATION, "%s", SDL_GetError());
        return;
    }
    SDL_Log("Attached gamepad %d (%s)", gamepad_id(gamepad),
            name_or_empty(SDL_GameControllerName(gamepad)));
    _gamepads.push_back(gamepad);
}

void detach_gamepad(SDL_JoystickID id) {
    auto it = std::find_if(_gamepads.begin(), _gamepads.end(),
                           [id](SDL_GameController* g) { return gamepad_id(g) == id; });
    if (it == _gamepads.end()) {
        // SDL 2 announces every joystick's removal as a gamepad's too; only what
        // arrived as a gamepad is one.
        if (!_gamepad_ids.count(id)) return;
        SDL_LogError(SDL_LOG_CATEGORY_APPLICATION, "Attempt to detach unattached gamepad");
        return;
    }
    SDL_Log("Detached gamepad %d (%s)", id, name_or_empty(SDL_GameControllerName(*it)));
    SDL_GameControllerClose(*it);
    _gamepads.erase(it);
}

void handle_event(const SDL_Event& e, const Event_callback& callback) {
    switch (e.type) {
    case SDL_QUIT:
        std::exit(0);
    case SDL_JOYDEVICEADDED:
        attach_joystick(e.jdevice.which);
        return;
    case SDL_JOYDEVICEREMOVED:
        detach_joystick(e.jdevice.which);
        return;
    case SDL_CONTROLLERDEVICEADDED:
        attach_gamepad(e.cdevice.which);
        return;
    case SDL_CONTROLLERDEVICEREMOVED:
        detach_gamepad(e.cdevice.which);
        return;
    }
    // The size is read anew for every action.
    for (std::size_t i = 0; i != inputs.size(); ++i) {
        Input& input = inputs[i];
        for (const Catch& c : input.catches)
            if (catch_event(c, e, input.value)) callback(static_cast<int>(i), input.value);
    }
}

}  // namespace

void handle_events(const Event_callback& callback) {
    SDL_Event event;
    while (SDL_PollEvent(&event)) handle_event(event, callback);
}

}  // namespace kesp
