// A square RGBA image into which tile images are packed, paired with a GL texture.
#pragma once

#include "support/geometry.h"
#include "support/rpack.h"

#include <cstdint>
#include <filesystem>
#include <vector>

struct SDL_Surface;
struct SDL_Rect;

namespace kesp {

// An image file in memory; frees itself.
class Image {
public:
    // Empty, with the reason in the platform's error text, when file can't be read
    // as an image. The file is read like every other (kesp::read_file): a pipe or
    // a device is refused at once, with the system's reason.
    explicit Image(const std::filesystem::path& file);
    ~Image();
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    explicit operator bool() const { return surface != nullptr; }
    int width() const;
    int height() const;

    SDL_Surface* surface;
};

// Tiles are numbered 0, 1, 2 ... in the order they are added; each is known by
// its box of texture coordinates. Needs a current GL context from construction
// to destruction.
class Atlas {
public:
    // Throws std::runtime_error "can't create atlas" when the image can't be made.
    Atlas(int side, int pad, unsigned int filter);
    ~Atlas();
    Atlas(const Atlas&) = delete;
    Atlas& operator=(const Atlas&) = delete;

    // Adds the cell of image as one tile; false when there is no room, with
    // "Atlas overflow" logged and left as the platform's error text.
    bool add(SDL_Surface* image, SDL_Rect& cell);
    // Cuts image into cols x rows cells and adds the one at index, or every cell
    // row by row for a negative index. The number of the first tile added, or -1;
    // -1 too for cols or rows below 1, cells smaller than a pixel, or an index
    // outside the image. Each -1 leaves its reason in the platform's error text
    // (kesp::platform_error).
    long long add(SDL_Surface* image, int cols, int rows, int index);
    // The same for an image file; one that can't be read is logged with its name.
    long long load(const std::filesystem::path& file, int cols, int rows, int index);

    // Sends the image to the texture if it changed; the texture's name.
    unsigned int upload();
    // The tile's texture box; std::out_of_range for an unknown tile.
    Box& get(unsigned long long tile);
    // The side of the square in pixels.
    int size() const;
    // Writes the whole image as PNG, replacing file in one step (kesp::replace_file);
    // false, with the reason in the platform's error text, when it can't, and file
    // is then as it was.
    bool save_png(const std::filesystem::path& file);
    // Forgets every tile; the pixels stay until new tiles cover them.
    void clear();

private:
    Rpack packer;
    std::int32_t pad;
    std::vector<Box> boxes;
    SDL_Surface* canvas;
    std::uint32_t texture = 0;
    bool uploaded = true;
    std::uint32_t filter;
};

}  // namespace kesp
