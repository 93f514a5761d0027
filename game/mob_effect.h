// Short-lived effects: one sprite animation played once where they were made.
#pragma once

#include "game/mob_main.h"
#include "support/geometry.h"

struct Place;
struct Scene;

// The family of dust, splat and poof: 12 frames per second of game time, removed
// by the update in which the last frame has been shown long enough.
class Mob_effect : public Mob {
public:
    bool update(Scene& scene) override;
    // One quad, none when the sheet failed to load.
    void render(Mobs& mobs) override;

    long long sheet;  // first tile in the mob atlas, or -1
    float time = 0;   // age in sprite frames

protected:
    // The sheet is frames x 1 cells; mirrors: drawn mirrored when flipped.
    Mob_effect(Mobs& mobs, const kesp::Box& box, const char* file, int frames, bool mirrors);

private:
    int frames;
    bool mirrors;
};

// A puff of dust at a mob's feet.
class Mob_dust : public Mob_effect {
public:
    Mob_dust(Mobs& mobs, const kesp::Box& box, Place* place);

    // One puff facing the way mob faces when it moves sideways faster than one
    // pixel per thirtieth of a second, otherwise a mirrored pair.
    static void make_from(Mobs& mobs, Mob* mob);
};

// The rotten walker's death.
class Mob_splat : public Mob_effect {
public:
    Mob_splat(Mobs& mobs, const kesp::Box& box, Place* place);
};

// The death of the bone thrower, the peeper and the crawler.
class Mob_poof : public Mob_effect {
public:
    Mob_poof(Mobs& mobs, const kesp::Box& box, Place* place);
};
