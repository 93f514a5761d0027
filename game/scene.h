// The loaded map as the game plays it, and the reader of map files.
#pragma once

#include "support/geometry.h"
#include "support/media.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

// One map object kept for spawning later: a mob kind's name or a trigger's
// marker type ("target", "brush"), the name that pairs triggers with markers,
// and its box.
struct Place {
    Place(std::string type, std::string name, const kesp::Box& box)
        : type(std::move(type)), name(std::move(name)), box(box) {}
    Place(Place&& o) noexcept = default;
    ~Place() = default;

    std::string type;
    std::string name;
    kesp::Box box;
};

class Mobs;
class Phys;
class Bkgr;

// Members, in build order; they are destroyed in reverse, so the mobs go last.
// The first three join as their headers land:
//     Mobs mobs;         game/mob_main.h
//     Phys physics;      game/phys.h, grid Phys::solid
//     Bkgr background;   game/bkgr.h, grid Bkgr::tiles
struct Scene {
    kesp::Box room;                      // the current room; zero until one is entered
    std::vector<Place> places;           // map order; never grows after loading
    std::vector<kesp::Box> rooms;        // map order
    std::unique_ptr<kesp::Audio> music;  // the looping music, or null
};
