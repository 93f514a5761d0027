#include "game/mob_solid.h"

#include "game/mob_player.h"
#include "game/scene.h"
#include "support/log.h"

#include <iterator>
#include <limits>
#include <string>
#include <vector>

namespace {

using Place_it = std::vector<Place>::iterator;

// The first place from `from` on with this type and this name, both exact.
Place_it find_partner(Scene& scene, Place_it from, const char* type, const std::string& name) {
    for (; from != scene.places.end(); ++from)
        if (from->type == type && from->name == name) return from;
    return from;
}

bool struck(Scene& scene, const Mob& mob) { return scene.mobs.player->attack_box.overlaps(mob.box); }

}  // namespace

Mob_mirror::Mob_mirror(Mobs&, const kesp::Box& box, Place* place) : Mob(box, 0), place(place) {}

bool Mob_mirror::update(Scene& scene) {
    if (!struck(scene, *this)) return false;
    auto target = find_partner(scene, scene.places.begin(), "target", place->name);
    if (target == scene.places.end()) {
        kesp::log_error("Can't find the target for this mirror");
        return false;
    }
    // The player's box follows in the coming physics step.
    scene.mobs.player->pos = target->box.ct();
    return false;
}

void Mob_mirror::render(Mobs&) {}

Mob_crack::Mob_crack(Mobs& mobs, const kesp::Box& box, Place* place)
    : Mob(box, 0), place(place), kill_sound(mobs.load_audio("kill.wav")) {}

bool Mob_crack::update(Scene& scene) {
    if (!struck(scene, *this)) return false;
    auto first = find_partner(scene, scene.places.begin(), "brush", place->name);
    auto second = first == scene.places.end()
                      ? first
                      : find_partner(scene, std::next(first), "brush", place->name);
    if (second == scene.places.end()) {
        kesp::log_error("Can't find the brushes for this crack");
        return false;
    }
    // A map's brush that reaches off the map must not end the game; the crack stays.
    if (!scene.can_swap(first->box, second->box)) {
        kesp::log_error("The brushes for this crack reach outside the map");
        return false;
    }
    scene.swap_tiles(first->box, second->box);
    scene.background.upload(scene.room);
    kesp::play_audio(kill_sound);
    // A box at infinity overlaps no room, so this crack is never made again.
    constexpr float inf = std::numeric_limits<float>::infinity();
    place->box = {inf, inf, inf, inf};
    return true;
}

void Mob_crack::render(Mobs&) {}
