#include "game/conf.h"

#include "game/strings.h"
#include "support/files.h"
#include "support/input.h"
#include "support/kv.h"
#include "support/log.h"
#include "support/media.h"
#include "support/paths.h"

#include <array>
#include <exception>
#include <sstream>
#include <stdexcept>
#include <string_view>

namespace {

namespace fs = std::filesystem;
using kesp::Catch;

// The actions' keys in "[input]", in table order.
constexpr std::array<std::string_view, 8> _action_keys = {
    "left", "right", "up", "down", "accept", "cancel", "start", "menu",
};

const fs::path _conf_file = "game.cfg";

// A settings file is a few hundred bytes; anything far larger is not one.
constexpr std::size_t _max_size = 1 << 20;

// No window is wider or taller than this.
constexpr std::int32_t _max_window = 16384;
constexpr const char* _window_size = "a window size (1 to 16384, or negative for the desktop's)";

// The error that ends the program for a settings file it can't use: the line
// names the file, since any of the configuration directories may hold it.
std::runtime_error refused(const fs::path& file, const std::string& why) {
    return std::runtime_error(file.string() + ": can't read the settings: " + why);
}

// The whole file. A device, a folder or a pipe would read without end or fail
// half-way, so only a regular file is read, and no more than one file's worth.
// One that exists but won't open is not taken for a missing one: the save would
// replace it with the defaults.
std::string read_text(const fs::path& file) {
    try {
        return kesp::read_file(file, _max_size);
    } catch (const kesp::Read_error& e) {
        throw refused(file, e.what());
    }
}

kesp::Kv_doc read_doc(const fs::path& file) {
    std::string text = read_text(file);
    try {
        return kesp::Kv_doc(std::move(text));
    } catch (const std::exception& e) {
        throw refused(file, e.what());
    }
}

bool is_window_size(std::int32_t v) { return v < 0 || (v >= 1 && v <= _max_window); }
bool is_frame_rate(std::int32_t v) { return v >= 1; }

// Reads a number of "[media]" into field when it is a value the game can use;
// otherwise the field keeps its value, with a warning naming the file and key.
void read_checked(const kesp::Kv_doc& doc, const fs::path& file, const char* key,
                  std::int32_t& field, bool (*usable)(std::int32_t), const char* what) {
    const kesp::Kv_val& value = doc.at("media", key);
    std::int32_t read = field;
    value >> read;
    if (usable(read)) {
        field = read;
        return;
    }
    kesp::log_warn("%s: %s = %.*s is not %s; keeping %d", file.string().c_str(), key,
                   static_cast<int>(value.text.size()), value.text.data(), what, field);
}

std::string settings_text() {
    const kesp::Conf& conf = kesp::conf;
    std::ostringstream out;
    out << "\n[media]\n"
        << "width = " << conf.width << '\n'
        << "height = " << conf.height << '\n'
        << "full = " << conf.full << '\n'
        << "vsync = " << conf.vsync << '\n'
        << "fps = " << conf.fps << '\n'
        << "\n[input]\n";
    for (std::size_t i = 0; i < _action_keys.size(); ++i)
        out << _action_keys[i] << " = " << kesp::inputs[i].catches << '\n';
    return out.str();
}

}  // namespace

void conf_init() {
    using kesp::Catch_gaxis;
    using kesp::Catch_gbutton;
    using kesp::Catch_jaxis;
    using kesp::Catch_jbutton;
    using kesp::Catch_jhat;
    using kesp::Catch_scancode;
    const std::array<std::vector<Catch>, _action_keys.size()> defaults = {{
        {Catch_scancode{SDL_SCANCODE_LEFT}, Catch_scancode{SDL_SCANCODE_J},
         Catch_gbutton{SDL_CONTROLLER_BUTTON_DPAD_LEFT}, Catch_gaxis<-1>{SDL_CONTROLLER_AXIS_LEFTX},
         Catch_jhat<8>{0}, Catch_jaxis<-1>{0}},
        {Catch_scancode{SDL_SCANCODE_RIGHT}, Catch_scancode{SDL_SCANCODE_L},
         Catch_gbutton{SDL_CONTROLLER_BUTTON_DPAD_RIGHT}, Catch_gaxis<1>{SDL_CONTROLLER_AXIS_LEFTX},
         Catch_jhat<2>{0}, Catch_jaxis<1>{0}},
        {Catch_scancode{SDL_SCANCODE_UP}, Catch_scancode{SDL_SCANCODE_I},
         Catch_gbutton{SDL_CONTROLLER_BUTTON_DPAD_UP}, Catch_gaxis<-1>{SDL_CONTROLLER_AXIS_LEFTY},
         Catch_jhat<1>{0}, Catch_jaxis<-1>{1}},
        {Catch_scancode{SDL_SCANCODE_DOWN}, Catch_scancode{SDL_SCANCODE_K},
         Catch_gbutton{SDL_CONTROLLER_BUTTON_DPAD_DOWN}, Catch_gaxis<1>{SDL_CONTROLLER_AXIS_LEFTY},
         Catch_jhat<4>{0}, Catch_jaxis<1>{1}},
        {Catch_scancode{SDL_SCANCODE_X}, Catch_gbutton{SDL_CONTROLLER_BUTTON_A}, Catch_jbutton{0}},
        {Catch_scancode{SDL_SCANCODE_Z}, Catch_gbutton{SDL_CONTROLLER_BUTTON_B}, Catch_jbutton{2}},
        {Catch_scancode{SDL_SCANCODE_RETURN}, Catch_gbutton{SDL_CONTROLLER_BUTTON_START},
         Catch_jbutton{7}},
        {Catch_scancode{SDL_SCANCODE_ESCAPE}, Catch_gbutton{SDL_CONTROLLER_BUTTON_BACK},
         Catch_jbutton{6}},
    }};
    kesp::inputs.resize(defaults.size());
    for (std::size_t i = 0; i < defaults.size(); ++i) kesp::inputs[i].catches = defaults[i];
}

bool conf_load() {
    conf_init();
    const fs::path file = kesp::paths.config.r(basedir / _conf_file);
    if (file.empty()) return false;
    const kesp::Kv_doc doc = read_doc(file);

    kesp::Conf& conf = kesp::conf;
    // No window can have a size outside these, and every time step divides by
    // the frame rate: such a value keeps the default, so the next save repairs it.
    read_checked(doc, file, "width", conf.width, is_window_size, _window_size);
    read_checked(doc, file, "height", conf.height, is_window_size, _window_size);
    doc.at("media", "full") >> conf.full;
    doc.at("media", "vsync") >> conf.vsync;
    read_checked(doc, file, "fps", conf.fps, is_frame_rate, "a frame rate of at least 1");

    for (std::size_t i = 0; i < _action_keys.size(); ++i)
        doc.at("input", _action_keys[i]) >> kesp::inputs[i].catches;
    return true;
}

bool conf_save() {
    const fs::path rel = basedir / _conf_file;
    fs::path file;
    try {
        file = kesp::paths.config.w(rel);
    } catch (const fs::filesystem_error& e) {
        kesp::log_error("%s: can't save the settings: can't make the folder %s: %s",
                        (kesp::paths.config.roots.back() / rel).string().c_str(),
                        e.path1().string().c_str(), e.code().message().c_str());
        return false;
    }
    const std::string why = kesp::replace_file(file, settings_text());
    if (why.empty()) return true;
    kesp::log_error("%s: can't save the settings: %s", file.string().c_str(), why.c_str());
    return false;
}
