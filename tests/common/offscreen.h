// A framebuffer that GL draws into in place of the window, for pictures of a
// size the shared test window doesn't have.
#pragma once

#include "common/gl_window.h"

namespace test {

// A w x h RGBA colour buffer, bound for drawing while the object lives; the
// window's own framebuffer is bound again when it goes.
class Offscreen {
public:
    Offscreen(int w, int h);
    ~Offscreen();
    Offscreen(const Offscreen&) = delete;
    Offscreen& operator=(const Offscreen&) = delete;

    // Whether GL accepted the buffer for drawing.
    bool complete() const;
    // Everything drawn so far, row 0 the top row, alpha read as 255 like a
    // window without an alpha channel shows it.
    Pixels read() const;

private:
    int w;
    int h;
    unsigned framebuffer = 0;
    unsigned colour = 0;
};

// An image of the pixels, in the byte order of rgba().
Surface to_image(const Pixels& pixels);

}  // namespace test
