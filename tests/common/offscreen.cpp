#include "common/offscreen.h"

#include <GL/glew.h>

namespace test {

Offscreen::Offscreen(int w, int h) : w(w), h(h) {
    glGenRenderbuffers(1, &colour);
    glBindRenderbuffer(GL_RENDERBUFFER, colour);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, w, h);
    glGenFramebuffers(1, &framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colour);
}

Offscreen::~Offscreen() {
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glDeleteFramebuffers(1, &framebuffer);
    glDeleteRenderbuffers(1, &colour);
}

bool Offscreen::complete() const {
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    return glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
}

Pixels Offscreen::read() const {
    Pixels p;
    p.w = w;
    p.h = h;
    std::vector<std::uint32_t> bottom_up(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
    glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, bottom_up.data());
    p.data.resize(bottom_up.size());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            p.data[static_cast<std::size_t>(y * w + x)] =
                bottom_up[static_cast<std::size_t>((h - 1 - y) * w + x)] | rgba(0, 0, 0, 255);
    return p;
}

Surface to_image(const Pixels& pixels) {
    return make_image(pixels.w, pixels.h, [&](int x, int y) { return pixels.at(x, y); });
}

}  // namespace test
