#include "game/conf.h"

#include "game/strings.h"
#include "support/input.h"
#include "support/kv.h"
#include "support/log.h"
#include "support/media.h"
#include "support/paths.h"

#include <array>
#include <exception>
#include <fstream>
#include <string_view>

namespace {

using kesp::Catch;

// The actions' keys in "[input]", in table order.
constexpr std::array<std::string_view, 8> _action_keys = {
    "left", "right", "up", "down", "accept", "cancel", "start", "menu",
};

const std::filesystem::path _conf_file = "game.cfg";

// The error of a file that can't be read or parsed doesn't say which file it was.
kesp::Kv_doc read_doc(std::istream& in, const std::filesystem::path& file) {
    try {
        return kesp::Kv_doc(kesp::slurp(in));
    } catch (const std::exception&) {
        kesp::log_error("%s: can't read the settings", file.string().c_str());
        throw;
    }
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
    const std::filesystem::path file = kesp::paths.config.r(basedir / _conf_file);
    std::ifstream in(file);
    if (!in) return false;
    kesp::Kv_doc doc = read_doc(in, file);

    kesp::Conf& conf = kesp::conf;
    doc.at("media", "width") >> conf.width;
    doc.at("media", "height") >> conf.height;
    doc.at("media", "full") >> conf.full;
    doc.at("media", "vsync") >> conf.vsync;
    // Every time step divides by the frame rate.
    std::int32_t fps = conf.fps;
    doc.at("media", "fps") >> fps;
    if (fps < 1)
        kesp::log_warn("game.cfg: fps = %d is below 1, keeping %d", fps, conf.fps);
    else
        conf.fps = fps;

    for (std::size_t i = 0; i < _action_keys.size(); ++i)
        doc.at("input", _action_keys[i]) >> kesp::inputs[i].catches;
    return true;
}

bool conf_save() {
    std::ofstream out(kesp::paths.config.w(basedir / _conf_file));
    if (!out) return false;
    const kesp::Conf& conf = kesp::conf;
    out << "\n[media]\n"
        << "width = " << conf.width << '\n'
        << "height = " << conf.height << '\n'
        << "full = " << conf.full << '\n'
        << "vsync = " << conf.vsync << '\n'
        << "fps = " << conf.fps << '\n'
        << "\n[input]\n";
    for (std::size_t i = 0; i < _action_keys.size(); ++i)
        out << _action_keys[i] << " = " << kesp::inputs[i].catches << '\n';
    return true;
}
