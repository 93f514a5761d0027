#include "game/phys.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr float _tile = 8;
constexpr std::int32_t _touch_all = Body::touch_lf | Body::touch_rt | Body::touch_up | Body::touch_dn;

// A float cell coordinate as a 32-bit integer. Out of range saturates and NaN
// takes the lowest value, which puts them outside any map.
std::int64_t _to_cell(float v) {
    return std::isnan(v) ? std::numeric_limits<std::int32_t>::min() : kesp::saturate_cast<std::int32_t>(v);
}

std::int64_t _floor(float v) { return _to_cell(std::floor(v)); }
std::int64_t _ceil(float v) { return _to_cell(std::ceil(v)); }

bool _inside(std::int64_t v, std::size_t n) { return v >= 0 && v < static_cast<std::int64_t>(n); }

// The whole number an edge lies on, if it lies on one.
bool _whole(float edge, std::int64_t& k) {
    k = _to_cell(edge);
    return edge == static_cast<float>(k);
}

}  // namespace

Body::Body(const kesp::Box& box, int flags)
    : pos(box.ct()), vel{0, 0}, half(box.size() * 0.5f), box(box), flags(flags) {}

void Engine::apply(float dt) {
    kesp::Vec sq = body->vel.decomp(dir);
    if (target > sq.x)
        sq.x = std::min(sq.x + rate * dt, target);
    else
        sq.x = std::max(sq.x - rate * dt, target);
    body->vel = sq.recomp(dir);
}

void Phys::step(float dt) {
    for (Engine& e : engines) e.apply(dt);
    engines.clear();
    for (Body* b : bodies) move_body(*b, dt);
    bodies.clear();
}

bool Phys::at(const kesp::Vec& p) const {
    std::int64_t y = _floor(p.y / _tile);
    return column_hit(_floor(p.x / _tile), y, y);
}

void Phys::move_body(Body& b, float dt) const {
    if (!b.is(Body::solid)) return ghost_body(b, dt);
    // Each move tests only the line its leading edge reaches, so one of a tile or
    // more (below 30 frames per second) would pass floors and walls and leave
    // the map: such a step is made of moves shorter than a tile.
    int moves = dt > 1 ? static_cast<int>(std::min(dt, 1e6f)) + 1 : 1;
    for (int i = 0; i < moves; ++i) solid_body(b, dt / static_cast<float>(moves));
}

void Phys::ghost_body(Body& b, float dt) const {
    b.pos += b.vel * dt;
    b.box = kesp::Box::from_center(b.pos, b.half);
}

void Phys::solid_body(Body& b, float dt) const {
    b.pos /= _tile;
    b.vel /= _tile;
    b.half /= _tile;
    b.vel.x = std::clamp(b.vel.x, -1.0f, 1.0f);
    b.vel.y = std::clamp(b.vel.y, -1.0f, 1.0f);
    b.unset(_touch_all);
    b.box = kesp::Box::from_center(b.pos, b.half);

    if (b.vel.x < 0) {
        test_lf(b, dt);
    } else if (b.vel.x > 0) {
        test_rt(b, dt);
    } else {
        kiss_lf(b);
        kiss_rt(b);
    }
    b.box.l = b.pos.x - b.half.x;
    b.box.r = b.pos.x + b.half.x;

    if (b.vel.y < 0) {
        test_up(b, dt);
    } else if (b.vel.y > 0) {
        test_dn(b, dt);
    } else {
        kiss_up(b);
        kiss_dn(b);
    }
    b.box.u = b.pos.y - b.half.y;
    b.box.d = b.pos.y + b.half.y;

    b.pos *= _tile;
    b.vel *= _tile;
    b.half *= _tile;
    b.box *= _tile;
}

// Cells outside the map are empty, so only the stretch of a line inside it is
// scanned: a body far out or of a huge size costs no more than the map's side.
bool Phys::column_hit(std::int64_t x, std::int64_t lo, std::int64_t hi) const {
    if (!_inside(x, solid.width())) return false;
    hi = std::min(hi, static_cast<std::int64_t>(solid.height()) - 1);
    for (std::int64_t y = std::max<std::int64_t>(lo, 0); y <= hi; ++y)
        if (solid.get(static_cast<std::size_t>(x), static_cast<std::size_t>(y))) return true;
    return false;
}

bool Phys::row_hit(std::int64_t y, std::int64_t lo, std::int64_t hi) const {
    if (!_inside(y, solid.height())) return false;
    hi = std::min(hi, static_cast<std::int64_t>(solid.width()) - 1);
    for (std::int64_t x = std::max<std::int64_t>(lo, 0); x <= hi; ++x)
        if (solid.get(static_cast<std::size_t>(x), static_cast<std::size_t>(y))) return true;
    return false;
}

void Phys::test_lf(Body& b, float dt) const {
    std::int64_t c = _floor(b.box.l + b.vel.x * dt);
    if (column_hit(c, _floor(b.box.u), _ceil(b.box.d) - 1)) {
        b.pos.x = b.half.x + static_cast<float>(c + 1);
        b.vel.x = 0;
        b.set(Body::touch_lf);
    } else {
        b.pos.x += b.vel.x * dt;
    }
}

void Phys::test_rt(Body& b, float dt) const {
    std::int64_t c = _floor(b.box.r + b.vel.x * dt);
    if (column_hit(c, _floor(b.box.u), _ceil(b.box.d) - 1)) {
        b.pos.x = static_cast<float>(c) - b.half.x;
        b.vel.x = 0;
        b.set(Body::touch_rt);
    } else {
        b.pos.x += b.vel.x * dt;
    }
}

void Phys::test_up(Body& b, float dt) const {
    std::int64_t c = _floor(b.box.u + b.vel.y * dt);
    if (row_hit(c, _floor(b.box.l), _ceil(b.box.r) - 1)) {
        b.pos.y = b.half.y + static_cast<float>(c + 1);
        b.vel.y = 0;
        b.set(Body::touch_up);
    } else {
        b.pos.y += b.vel.y * dt;
    }
}

void Phys::test_dn(Body& b, float dt) const {
    std::int64_t c = _floor(b.box.d + b.vel.y * dt);
    if (row_hit(c, _floor(b.box.l), _ceil(b.box.r) - 1)) {
        b.pos.y = static_cast<float>(c) - b.half.y;
        b.vel.y = 0;
        b.set(Body::touch_dn);
    } else {
        b.pos.y += b.vel.y * dt;
    }
}

void Phys::kiss_lf(Body& b) const {
    std::int64_t k;
    if (_whole(b.box.l, k) && column_hit(k - 1, _floor(b.box.u), _ceil(b.box.d) - 1))
        b.set(Body::touch_lf);
}

void Phys::kiss_rt(Body& b) const {
    std::int64_t k;
    if (_whole(b.box.r, k) && column_hit(k, _floor(b.box.u), _ceil(b.box.d) - 1))
        b.set(Body::touch_rt);
}

void Phys::kiss_up(Body& b) const {
    std::int64_t k;
    if (_whole(b.box.u, k) && row_hit(k - 1, _floor(b.box.l), _ceil(b.box.r) - 1))
        b.set(Body::touch_up);
}

void Phys::kiss_dn(Body& b) const {
    std::int64_t k;
    if (_whole(b.box.d, k) && row_hit(k, _floor(b.box.l), _ceil(b.box.r) - 1))
        b.set(Body::touch_dn);
}
