// Skyline packer: places rectangles one at a time, top down, in a square.
#pragma once

#include <cstdint>
#include <list>

struct SDL_Rect;

namespace kesp {

// One skyline point: its stretch begins at column x and ends where the next
// point's begins; y is the first free row of that stretch.
struct Rpack_rect {
    std::int32_t x;
    std::int32_t y;
};

class Rpack {
public:
    explicit Rpack(int side);

    // The square is empty again.
    void clear();
    // Places an r.w x r.h rectangle: on success writes r.x and r.y (its top-left
    // corner) and returns true; on failure changes neither r nor the skyline.
    bool add(SDL_Rect& r);

    // The skyline points from left to right, the closing (size, size) last.
    const std::list<Rpack_rect>& skyline() const { return line; }

private:
    using Point = std::list<Rpack_rect>::iterator;

    std::int32_t rect_waste(Point p, const SDL_Rect& r);
    void reshape_rects(Point p, const SDL_Rect& r);
    void rise_rect(Point p, const SDL_Rect& r);
    void split_rect(Point p, const SDL_Rect& r);

    std::list<Rpack_rect> line;
    std::int32_t size;
};

}  // namespace kesp
