// Triggers: invisible mobs that act when the player's strike touches them,
// paired with marker places of the same name.
#pragma once

#include "game/mob_main.h"
#include "support/geometry.h"

namespace kesp {
class Audio;
}
struct Place;
struct Scene;

// Sends the player to the first "target" place of the mirror's name.
class Mob_mirror : public Mob {
public:
    // Made only for a map place, never with a null one.
    Mob_mirror(Mobs& mobs, const kesp::Box& box, Place* place);
    ~Mob_mirror() override = default;

    // Never asks to be removed.
    bool update(Scene& scene) override;
    void render(Mobs& mobs) override;

    Place* place;  // not owned: an element of Scene::places
};

// Swaps the tiles of the first two "brush" places of the crack's name, once for
// the rest of the game.
class Mob_crack : public Mob {
public:
    // Made only for a map place, never with a null one.
    Mob_crack(Mobs& mobs, const kesp::Box& box, Place* place);
    ~Mob_crack() override = default;

    // True once, when the tiles have been swapped and the place spent.
    bool update(Scene& scene) override;
    void render(Mobs& mobs) override;

    Place* place;                    // not owned: an element of Scene::places
    const kesp::Audio* kill_sound;  // owned by the container; null when missing
};
