#include "support/paths.h"

#include "support/static_order.h"

#include <SDL.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace kesp {

namespace {

// The platform's variables and, where the platform has them, their defaults.
// A default that starts with '~' is relative to HOME.
struct Role {
    const char* var;
    const char* fallback;  // null: the variable is required
};

#ifdef _WIN32
const char separator = ';';
const Role _data_home{"APPDATA", nullptr};
const Role _data_dirs{"PROGRAMDATA", nullptr};
const Role _config_home{"APPDATA", nullptr};
const Role _config_dirs{"PROGRAMDATA", nullptr};
const Role _state_home{"APPDATA", nullptr};
const Role _cache_home{"APPDATA", nullptr};
const Role _runtime_dir{"TEMP", nullptr};
#else
const char separator = ':';
const Role _data_home{"XDG_DATA_HOME", "~/.local/share"};
const Role _data_dirs{"XDG_DATA_DIRS", "/usr/local/share/:/usr/share/"};
const Role _config_home{"XDG_CONFIG_HOME", "~/.config"};
const Role _config_dirs{"XDG_CONFIG_DIRS", "/etc/xdg"};
const Role _state_home{"XDG_STATE_HOME", "~/.local/state"};
const Role _cache_home{"XDG_CACHE_HOME", "~/.cache"};
const Role _runtime_dir{"XDG_RUNTIME_DIR", nullptr};  // TMPDIR, else /tmp
#endif

std::string getenv_safe(const char* name) {
    const char* value = std::getenv(name);
    if (!value || !*value) {
        SDL_LogError(SDL_LOG_CATEGORY_APPLICATION, "unset environment variable '%s'", name);
        std::exit(-1);
    }
    return value;
}

std::string lookup(const Role& role) {
    const char* value = std::getenv(role.var);
    if (value && *value) return value;
    if (!role.fallback) return getenv_safe(role.var);
    if (role.fallback[0] == '~') return getenv_safe("HOME") + (role.fallback + 1);
    return role.fallback;
}

std::filesystem::path data_home() { return lookup(_data_home); }
std::string data_dirs() { return lookup(_data_dirs); }
std::filesystem::path config_home() { return lookup(_config_home); }
std::string config_dirs() { return lookup(_config_dirs); }
std::filesystem::path state_home() { return lookup(_state_home); }
std::filesystem::path cache_home() { return lookup(_cache_home); }

std::filesystem::path runtime_dir() {
#ifndef _WIN32
    const char* value = std::getenv(_runtime_dir.var);
    if (value && *value) return value;
    const char* tmp = std::getenv("TMPDIR");
    return tmp && *tmp ? tmp : "/tmp";
#else
    return lookup(_runtime_dir);
#endif
}

void make_parent(const std::filesystem::path& p) {
    if (p.has_parent_path()) std::filesystem::create_directories(p.parent_path());
}

}  // namespace

Dirs::Dirs(const std::filesystem::path& home, const std::string& list) {
    std::istringstream in(list);
    for (std::string piece; std::getline(in, piece, separator);) roots.emplace_back(piece);
    roots.push_back(home);
}

std::filesystem::path Dirs::r(const std::filesystem::path& rel) const {
    for (const std::filesystem::path& root : roots) {
        std::filesystem::path p = root / rel;
        // A folder that can't be searched holds nothing for this program.
        std::error_code unsearchable;
        if (std::filesystem::exists(p, unsearchable)) return p;
    }
    SDL_Log("%s: %s", rel.string().c_str(), std::strerror(ENOENT));
    for (const std::filesystem::path& root : roots) SDL_Log("  | %s", root.string().c_str());
    return {};
}

std::filesystem::path Dirs::w(const std::filesystem::path& rel) const {
    std::filesystem::path p = roots.back() / rel;
    make_parent(p);
    return p;
}

Home::Home(const std::filesystem::path& dir) : dir(dir) {}

std::filesystem::path Home::r(const std::filesystem::path& rel) const { return dir / rel; }

std::filesystem::path Home::w(const std::filesystem::path& rel) const {
    std::filesystem::path p = dir / rel;
    make_parent(p);
    return p;
}

Paths::Paths()
    // Braces keep the variables read in a fixed order, so the first one found
    // missing is the one reported.
    : data{data_home(), data_dirs()},
      config{config_home(), config_dirs()},
      state{state_home()},
      cache{cache_home()},
      runtime{runtime_dir()} {}

Paths::~Paths() = default;

KESP_STATIC_ORDER(1) Paths paths;

}  // namespace kesp
