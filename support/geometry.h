// Small value types for positions, rectangles, transforms and tile maps, and the
// conversion of a coordinate to a whole number.
// World coordinates: x grows rightward, y grows downward.
#pragma once

#include <algorithm>
#include <cmath>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <stdexcept>
#include <utility>

namespace kesp {

// v truncated toward zero as an I, like the plain conversion, but defined for
// every value: beyond I's range it gives I's nearest limit, and NaN gives 0.
template <std::integral I, std::floating_point F>
I saturate_cast(F v) {
    using limits = std::numeric_limits<I>;
    // 2^digits, the first value past the top, and the bottom, 0 or -2^digits,
    // are exact in F; the top itself is not in a float for 32 bits and more.
    constexpr F past_top = static_cast<F>(limits::max() / 2 + 1) * 2;
    constexpr F bottom = static_cast<F>(limits::min());
    if (std::isnan(v)) return 0;
    if (v >= past_top) return limits::max();
    if (v <= bottom) return limits::min();
    return static_cast<I>(v);
}

struct Vec {
    float x = 0;
    float y = 0;

    Vec operator+(Vec o) const { return {x + o.x, y + o.y}; }
    Vec operator-(Vec o) const { return {x - o.x, y - o.y}; }
    Vec operator*(float k) const { return {x * k, y * k}; }
    Vec operator/(float k) const { return {x / k, y / k}; }
    float operator*(Vec o) const { return x * o.x + y * o.y; }
    bool operator!=(Vec o) const { return !(x == o.x) || !(y == o.y); }
    Vec floor() const { return {std::floor(x), std::floor(y)}; }
    // Component along the unit direction o, then across it.
    Vec decomp(Vec o) const { return {x * o.x + y * o.y, y * o.x - x * o.y}; }
    // Inverse of decomp for the same unit direction.
    Vec recomp(Vec o) const { return {x * o.x - y * o.y, y * o.x + x * o.y}; }
    Vec& operator+=(Vec o) { x += o.x; y += o.y; return *this; }
    Vec& operator*=(float k) { x *= k; y *= k; return *this; }
    Vec& operator/=(float k) { x /= k; y /= k; return *this; }
};

struct Box {
    float l = 0;
    float r = 0;
    float u = 0;
    float d = 0;

    // h is the half size.
    static Box from_center(Vec c, Vec h) { return {c.x - h.x, c.x + h.x, c.y - h.y, c.y + h.y}; }
    static Box from_corner(Vec p, Vec s) { return {p.x, p.x + s.x, p.y, p.y + s.y}; }

    Vec ct() const { return {(l + r) / 2, (u + d) / 2}; }
    Vec size() const { return {r - l, d - u}; }
    Vec dl() const { return {l, d}; }
    Vec dr() const { return {r, d}; }
    Box grow(float e) const { return {l - e, r + e, u - e, d + e}; }
    Box& operator*=(float k) { l *= k; r *= k; u *= k; d *= k; return *this; }

    // Closed on all four edges.
    bool contains(Vec p) const { return l <= p.x && p.x <= r && u <= p.y && p.y <= d; }
    // Touching boxes overlap; a box parked at +infinity overlaps no finite box.
    bool overlaps(const Box& o) const { return r >= o.l && o.r >= l && d >= o.u && o.d >= u; }

    // Called on the bounds: x moved inside them, cut to them where it is larger.
    Box clamp(const Box& x) const {
        Box n = x;
        if (l > x.l) {
            n.r = std::min((l + x.r) - x.l, r);
            n.l = l;
        } else if (x.r > r) {
            n.l = std::max((x.l + r) - x.r, l);
            n.r = r;
        }
        if (u > x.u) {
            n.d = std::min((u + x.d) - x.u, d);
            n.u = u;
        } else if (x.d > d) {
            n.u = std::max((x.u + d) - x.d, u);
            n.d = d;
        }
        return n;
    }

    // Cell 0..8 of the 3 x 3 grid around the box holding p, row by row, 4 inside.
    // Half-open, unlike contains: the right and bottom edges lie outside.
    int ninth(Vec p) const {
        int row = p.y < u ? 0 : (p.y < d ? 1 : 2);
        int col = p.x < l ? 0 : (p.x < r ? 1 : 2);
        return 3 * row + col;
    }
};

// 2 x 3 affine transform, row by row: (a b tx; c d ty).
struct Mat {
    float a, b, tx;
    float c, d, ty;

    static Mat scale(float sx, float sy) { return {sx, 0, 0, 0, sy, 0}; }
    // The rotation that takes (1, 0) to the unit direction v.
    static Mat rotate(Vec v) { return {v.x, -v.y, 0, v.y, v.x, 0}; }
    static Mat translate(float x, float y) { return {1, 0, x, 0, 1, y}; }
    static Mat translate(Vec v) { return translate(v.x, v.y); }

    Vec operator*(Vec p) const { return {a * p.x + b * p.y + tx, c * p.x + d * p.y + ty}; }
    // The composition in which m acts first.
    Mat operator*(const Mat& m) const {
        return {a * m.a + b * m.c, a * m.b + b * m.d, a * m.tx + b * m.ty + tx,
                c * m.a + d * m.c, c * m.b + d * m.d, c * m.tx + d * m.ty + ty};
    }
    Mat& operator*=(const Mat& m) { return *this = *this * m; }
};

// A width x height array stored row by row, x fastest.
template <typename T>
class Grid {
public:
    Grid() = default;
    Grid(Grid&& o) noexcept { *this = std::move(o); }
    Grid& operator=(Grid&& o) noexcept {
        w = std::exchange(o.w, 0);
        h = std::exchange(o.h, 0);
        cells = std::move(o.cells);
        return *this;
    }

    T& at(std::size_t x, std::size_t y) { check(x, y); return get(x, y); }
    const T& at(std::size_t x, std::size_t y) const { check(x, y); return get(x, y); }
    T& get(std::size_t x, std::size_t y) { return cells[x + y * w]; }
    const T& get(std::size_t x, std::size_t y) const { return cells[x + y * w]; }
    T* begin() { return cells.get(); }

    // Keeps the top-left block; the new cells are left for the caller to write.
    void resize(std::size_t w2, std::size_t h2) {
        if (w2 == w && h2 == h) return;
        std::unique_ptr<T[]> n(new T[w2 * h2]);
        std::size_t cw = std::min(w, w2), ch = std::min(h, h2);
        for (std::size_t y = 0; y < ch; ++y)
            for (std::size_t x = 0; x < cw; ++x)
                n[x + y * w2] = std::move(cells[x + y * w]);
        cells = std::move(n);
        w = w2;
        h = h2;
    }

    std::size_t size() const { return w * h; }
    std::size_t width() const { return w; }
    std::size_t height() const { return h; }

private:
    void check(std::size_t x, std::size_t y) const {
        if (x >= w || y >= h) throw std::out_of_range("Grid accessed out of range");
    }

    std::size_t w = 0;
    std::size_t h = 0;
    std::unique_ptr<T[]> cells;
};

}  // namespace kesp
