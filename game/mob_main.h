// Mobs: everything that lives in a room, their container and their factory.
#pragma once

#include "game/phys.h"
#include "support/atlas.h"
#include "support/clock.h"
#include "support/geometry.h"
#include "support/media.h"
#include "support/quads.h"

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>

struct Scene;
struct Place;
class Mobs;
class Mob_player;

// A physics body that updates and draws itself. Every kind has one constructor
// taking (Mobs&, const kesp::Box&, Place*): the container to load sheets and
// sounds from, the box it is spawned in, and its map place or null.
class Mob : public Body {
public:
    Mob(const kesp::Box& box, int flags) : Body(box, flags) {}
    Mob(const Mob&) = delete;
    Mob& operator=(const Mob&) = delete;
    virtual ~Mob() = 0;

    // One update; true when the mob is to be removed now. A mob that asks to go
    // must not have queued anything with the physics in this update.
    virtual bool update(Scene& scene) = 0;
    // Pushes the mob's quads, if any, into mobs.batch.
    virtual void render(Mobs& mobs) = 0;
};

inline Mob::~Mob() = default;

// Owns every mob of the map, in update and draw order, one sprite atlas and its
// quad batch shared by all of them, and the caches of their sheets and sounds.
// Needs a current GL context from construction to destruction.
class Mobs {
public:
    // Milliseconds; the tick clock reads it once per update.
    using Clock = std::function<std::uint64_t()>;

    explicit Mobs(Clock clock = kesp::ticks);
    // Writes the sprite atlas to "mobs.png" in the state folder.
    ~Mobs();
    Mobs(const Mobs&) = delete;
    Mobs& operator=(const Mobs&) = delete;

    // The tick, then every mob's update with the container's tests around it.
    void update(Scene& scene);
    // Draws every mob in one batch through the view box.
    void render(const kesp::Box& view);
    // Removes every mob but the player.
    void clear();

    // Creates and appends the kind named type (exact name); null for any other
    // name. The pointer belongs to the container.
    Mob* construct(const std::string& type, const kesp::Box& box, Place* place);
    Mob* construct(const std::string& type, const kesp::Vec& center, const kesp::Vec& half,
                   Place* place);

    // First tile of a sprite sheet in sprites, or -1 when it failed to load.
    // Cached by file name: later columns and rows are not looked at.
    long long load_frames(const std::string& name, int cols, int rows);
    // A sound owned by the container, or null when it failed to load; cached by
    // file name.
    const kesp::Audio* load_audio(const std::string& name);

    std::unordered_map<std::string, long long> sheets;  // -1: failed
    std::unordered_map<std::string, std::unique_ptr<kesp::Audio>> sounds;  // null: failed
    std::list<std::unique_ptr<Mob>> roster;  // the player first once a room is entered
    Clock clock;
    std::uint64_t next_tick;  // the clock reading after which the next tick falls due
    kesp::Atlas sprites;
    kesp::Quads batch;
    Mob_player* player = nullptr;  // not owned; set by the player's constructor
    bool tick = false;             // a tick fell in this update
    std::uint64_t tick_count = 0;
};
