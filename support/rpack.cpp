#include "support/rpack.h"

#include <SDL_rect.h>

#include <algorithm>

namespace kesp {

Rpack::Rpack(int side) : size(side) { clear(); }

void Rpack::clear() {
    line.clear();
    line.push_back({0, 0});
    line.push_back({size, size});
}

// The row at which r would rest with its left edge at p: the deepest first free
// row among the stretches its width covers.
std::int32_t Rpack::rect_waste(Point p, const SDL_Rect& r) {
    std::int32_t rest = p->y;
    for (Point q = std::next(p); q != line.end(); ++q) {
        if (q->x >= p->x + r.w) return rest;
        rest = std::max(rest, q->y);
    }
    return size;
}

bool Rpack::add(SDL_Rect& r) {
    // Negative sizes would break the skyline's order; oversized ones never fit
    // and would overflow the sums below.
    if (r.w < 0 || r.h < 0 || r.w > size || r.h > size) return false;
    Point best = line.end();
    std::int32_t best_row = size;
    for (Point p = line.begin(); p != line.end() && p->x + r.w <= size; ++p) {
        std::int32_t rest = rect_waste(p, r);
        // Strict: on equal rows the leftmost point stays best.
        if (rest + r.h <= size && rest < best_row) {
            best = p;
            best_row = rest;
        }
    }
    if (best == line.end()) return false;
    r.x = best->x;
    r.y = best_row;
    reshape_rects(best, r);
    return true;
}

void Rpack::reshape_rects(Point p, const SDL_Rect& r) {
    p->y = r.y;
    for (;;) {
        Point q = std::next(p);
        std::int32_t d = q->x - r.x;
        if (d == r.w) return rise_rect(p, r);
        if (d > r.w) return split_rect(p, r);
        line.erase(q);  // its stretch lies wholly under the rectangle
    }
}

void Rpack::rise_rect(Point p, const SDL_Rect& r) { p->y = r.y + r.h; }

void Rpack::split_rect(Point p, const SDL_Rect& r) {
    line.insert(p, {r.x, r.y + r.h});
    p->x = r.x + r.w;
}

}  // namespace kesp
