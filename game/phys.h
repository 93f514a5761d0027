// Tile physics: bodies moved against a grid of solid 8-pixel tiles.
// Units: world pixels (y down), time in thirtieths of a second.
#pragma once

#include "support/geometry.h"

#include <cstdint>
#include <vector>

// The physical state every mob carries.
struct Body {
    static constexpr std::int32_t touch_lf = 0x1;
    static constexpr std::int32_t touch_rt = 0x2;
    static constexpr std::int32_t touch_up = 0x4;
    static constexpr std::int32_t touch_dn = 0x8;
    static constexpr std::int32_t solid = 0x10;
    static constexpr std::int32_t flip = 0x100;
    static constexpr std::int32_t room_bound = 0x200;
    static constexpr std::int32_t harmful = 0x400;
    static constexpr std::int32_t physical = 0x800;
    static constexpr std::int32_t jumping = 0x10000;
    static constexpr std::int32_t dead = 0x20000;

    Body(const kesp::Box& box, int flags);

    // Whether any bit of mask is set.
    bool is(int mask) const { return (flags & mask) != 0; }
    void set(int mask) { flags |= mask; }
    void unset(int mask) { flags &= ~mask; }

    kesp::Vec pos;   // centre
    kesp::Vec vel;   // pixels per thirtieth of a second
    kesp::Vec half;  // half size, never negative
    kesp::Box box;   // rebuilt by every move; stale after pos is set directly
    std::int32_t flags;
};

// Drives a body's speed along dir towards target for one step. A target of
// +infinity is a constant acceleration (a push against dir with a negative
// rate); a rate of +infinity reaches the target at once.
struct Engine {
    Body* body;
    kesp::Vec dir;  // unit length
    float target;
    float rate;  // per thirtieth of a second

    void apply(float dt);
};

// The scene's physics: the solid tiles and the queues of one step. Bodies and
// engines are queued during the mob update and must stay alive until the step.
class Phys {
public:
    // Cell (x, y) covers the pixels [8x, 8x + 8) x [8y, 8y + 8).
    kesp::Grid<bool> solid;
    std::vector<Body*> bodies;     // not owned; a body queued twice moves twice
    std::vector<Engine> engines;

    void add_body(Body* body) { bodies.push_back(body); }
    void add_engine(Body* body, kesp::Vec dir, float target, float rate) {
        engines.push_back({body, dir, target, rate});
    }

    // Applies the queued engines, then moves the queued bodies, and empties both
    // queues. Cells outside the map are empty: a body may leave it, and the
    // room logic decides what then becomes of it.
    void step(float dt);

    // Whether the tile holding world point p is solid; false outside the map
    // and for a point that is not a number.
    bool at(const kesp::Vec& p) const;

    // The parts of a step. Everything from solid_body down works in tile units.
    void move_body(Body& b, float dt) const;
    void solid_body(Body& b, float dt) const;
    void ghost_body(Body& b, float dt) const;
    void test_lf(Body& b, float dt) const;
    void test_rt(Body& b, float dt) const;
    void test_up(Body& b, float dt) const;
    void test_dn(Body& b, float dt) const;
    void kiss_lf(Body& b) const;
    void kiss_rt(Body& b) const;
    void kiss_up(Body& b) const;
    void kiss_dn(Body& b) const;

private:
    // Whether any cell of column x in rows lo..hi (or of row y in columns lo..hi)
    // is solid, scanning upward and stopping at the first; cells outside the
    // map count as empty.
    bool column_hit(std::int64_t x, std::int64_t lo, std::int64_t hi) const;
    bool row_hit(std::int64_t y, std::int64_t lo, std::int64_t hi) const;
};
