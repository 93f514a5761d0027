// The hostile mobs: walkers (rotten, bones and the bone it throws), the peeper,
// the crawler and the thorns. All of them hurt the player on contact.
#pragma once

#include "game/mob_main.h"
#include "support/geometry.h"

#include <cstdint>

namespace kesp {
class Audio;
}
struct Place;
struct Scene;

// Paces left and right at walking speed and turns back at walls, not at ledges.
class Mob_rotten : public Mob {
public:
    Mob_rotten(Mobs& mobs, const kesp::Box& box, Place* place);
    ~Mob_rotten() override = default;

    bool update(Scene& scene) override;
    void render(Mobs& mobs) override;
    // The frame of its walk it shows, 0 to 3, from its position.
    int cycle_frame() const;

    long long sheet;                 // first frame in the mob atlas, or -1
    const kesp::Audio* kill_sound;  // owned by the container; null when missing
};

// Stands, then walks toward a distant player or throws a bone at a near one.
class Mob_bones : public Mob {
public:
    Mob_bones(Mobs& mobs, const kesp::Box& box, Place* place);
    ~Mob_bones() override = default;

    bool update(Scene& scene) override;
    void render(Mobs& mobs) override;

    long long sheet;
    const kesp::Audio* kill_sound;
    std::uint8_t state = 0;  // 0 to 47, advanced on the container's ticks
};

// A thrown bone: spins, falls and flies through tiles until it leaves the room.
class Mob_bone : public Mob {
public:
    Mob_bone(Mobs& mobs, const kesp::Box& box, Place* place);
    ~Mob_bone() override = default;

    bool update(Scene& scene) override;
    void render(Mobs& mobs) override;

    long long sheet;
    const kesp::Audio* kill_sound;  // loaded with the set; nothing kills a bone
    std::uint8_t frame = 0;         // 0 to 2
};

// Hangs still until the player comes near, then flies after it through tiles.
class Mob_peeper : public Mob {
public:
    Mob_peeper(Mobs& mobs, const kesp::Box& box, Place* place);
    ~Mob_peeper() override = default;

    bool update(Scene& scene) override;
    void render(Mobs& mobs) override;

    long long sheet;
    const kesp::Audio* kill_sound;
    std::uint8_t state = 0;  // 0 waiting, 1 gliding, 2-9 flapping, 10-16 turning
};

// Crawls clockwise around solid blocks, pressed against the face it holds.
class Mob_crawler : public Mob {
public:
    Mob_crawler(Mobs& mobs, const kesp::Box& box, Place* place);
    ~Mob_crawler() override = default;

    bool update(Scene& scene) override;
    // Before the first update it is drawn as it will start: direction 0.
    void render(Mobs& mobs) override;
    // The frame it shows, 0 or 1, from its position along its direction.
    int cycle_frame() const;

    // By direction: right along a top, down a right face, left along an
    // underside, up a left face.
    static const kesp::Vec tangents[4];
    static const kesp::Vec normals[4];  // away from the face held

    long long sheet;
    const kesp::Audio* kill_sound;
    std::uint8_t dir = 255;  // 0 to 3; 255 until the first update

private:
    // The direction it is drawn in.
    unsigned heading() const;
};

// An invisible, motionless hazard box.
class Mob_thorns : public Mob {
public:
    Mob_thorns(Mobs& mobs, const kesp::Box& box, Place* place);
    ~Mob_thorns() override = default;

    bool update(Scene& scene) override;
    void render(Mobs& mobs) override;
};
