#include "common/gl_window.h"

#include "support/media.h"

#include <GL/glew.h>
#include <SDL.h>
#include <SDL_image.h>

namespace test {

bool gl_window() {
    // Never torn down: shutting SDL down unloads the GL driver, and the leak
    // checker at exit would then take the driver's own caches for our leaks.
    static const kesp::Media_lock* const media = [] {
        kesp::conf.width = gl_width;
        kesp::conf.height = gl_height;
        kesp::conf.full = false;
        kesp::conf.vsync = false;
        return new kesp::Media_lock("Quorla test");
    }();
    return static_cast<bool>(*media);
}

void Surface_free::operator()(SDL_Surface* s) const { SDL_FreeSurface(s); }

Surface make_image(int w, int h, const std::function<std::uint32_t(int x, int y)>& pixel) {
    // ABGR8888 is the bytes R, G, B, A on a little-endian machine, as rgba() packs.
    Surface image(SDL_CreateRGBSurfaceWithFormat(0, w, h, 32, SDL_PIXELFORMAT_ABGR8888));
    if (!image) return image;
    for (int y = 0; y < h; ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(static_cast<char*>(image->pixels) + y * image->pitch);
        for (int x = 0; x < w; ++x) row[x] = pixel(x, y);
    }
    return image;
}

Surface noise_image(int w, int h) {
    std::uint32_t seed = 12345;
    return make_image(w, h, [&seed](int, int) { return seed = seed * 1664525u + 1013904223u; });
}

std::uint32_t pixel_at(const SDL_Surface* image, int x, int y) {
    auto* row = reinterpret_cast<const std::uint32_t*>(static_cast<const char*>(image->pixels) +
                                                       y * image->pitch);
    return row[x];
}

void save_image(const SDL_Surface* image, const std::filesystem::path& file) {
    ASSERT_EQ(IMG_SavePNG(const_cast<SDL_Surface*>(image), file.string().c_str()), 0)
        << SDL_GetError();
}

Surface load_image(const std::filesystem::path& file) {
    Surface loaded(IMG_Load(file.string().c_str()));
    if (!loaded) return loaded;
    return Surface(SDL_ConvertSurfaceFormat(loaded.get(), SDL_PIXELFORMAT_ABGR8888, 0));
}

Pixels read_texture(unsigned texture) {
    Pixels p;
    glBindTexture(GL_TEXTURE_2D, texture);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &p.w);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &p.h);
    p.data.resize(static_cast<std::size_t>(p.w) * static_cast<std::size_t>(p.h));
    if (!p.data.empty()) {
        glPixelStorei(GL_PACK_ALIGNMENT, 4);
        glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, p.data.data());
    }
    return p;
}

Pixels read_window() {
    Pixels p;
    p.w = gl_width;
    p.h = gl_height;
    std::vector<std::uint32_t> bottom_up(static_cast<std::size_t>(p.w * p.h));
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(0, 0, p.w, p.h, GL_RGBA, GL_UNSIGNED_BYTE, bottom_up.data());
    p.data.resize(bottom_up.size());
    for (int y = 0; y < p.h; ++y)
        for (int x = 0; x < p.w; ++x)
            p.data[static_cast<std::size_t>(y * p.w + x)] =
                bottom_up[static_cast<std::size_t>((p.h - 1 - y) * p.w + x)] | rgba(0, 0, 0, 255);
    return p;
}

}  // namespace test
