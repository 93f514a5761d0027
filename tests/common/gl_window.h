// One small window with a GL 3.3 core context, shared by every GL test of a
// process, and helpers for test images and for reading pixels back.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

struct SDL_Surface;

namespace test {

// The drawable size of the shared window.
constexpr int gl_width = 320;
constexpr int gl_height = 240;

// Opens the media scope windowed at gl_width x gl_height the first time it is
// called and keeps it until the process ends; true while the GL context stands.
bool gl_window();

// Base fixture of GL tests: fails the test when no GL context can be had.
class Gl_test : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(gl_window()) << "no GL 3.3 core context (run under Xvfb)"; }
};

// A pixel as GL reads it back with GL_RGBA / GL_UNSIGNED_BYTE: bytes R, G, B, A.
constexpr std::uint32_t rgba(std::uint32_t r, std::uint32_t g, std::uint32_t b, std::uint32_t a) {
    return r | g << 8 | b << 16 | a << 24;
}

struct Surface_free {
    void operator()(SDL_Surface* s) const;
};
using Surface = std::unique_ptr<SDL_Surface, Surface_free>;

// A w x h image in the same byte order as rgba(), each pixel from pixel(x, y).
Surface make_image(int w, int h, const std::function<std::uint32_t(int x, int y)>& pixel);
// A w x h image of noise, the same at every call, which no encoder packs much
// below its 4 bytes a pixel.
Surface noise_image(int w, int h);
// The pixel at (x, y) of an image made by make_image or converted like one.
std::uint32_t pixel_at(const SDL_Surface* image, int x, int y);
// Writes the image as PNG, failing the test when it can't.
void save_image(const SDL_Surface* image, const std::filesystem::path& file);
// Loads a PNG and converts it to the byte order of rgba(); null when it can't.
Surface load_image(const std::filesystem::path& file);

// A block of pixels read back from GL, row 0 first.
struct Pixels {
    int w = 0;
    int h = 0;
    std::vector<std::uint32_t> data;
    std::uint32_t at(int x, int y) const { return data[static_cast<std::size_t>(y * w + x)]; }
};

// Level 0 of a 2D texture (binds it); empty when nothing was ever sent to it.
Pixels read_texture(unsigned texture);
// The shared window's drawing buffer, flipped so that row 0 is the top row. The
// window may have no alpha channel, so alpha always reads as 255.
Pixels read_window();

}  // namespace test
