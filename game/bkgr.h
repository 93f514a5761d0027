// The map's layer of tiles: the grid of tile numbers, the tileset atlas and the
// quads of the current room.
#pragma once

#include "support/atlas.h"
#include "support/geometry.h"
#include "support/quads.h"

#include <cstdint>
#include <filesystem>

// Flip bits of a tile cell; the rest of a nonzero cell is its tile number + 1.
constexpr std::uint32_t tile_mirror_x = 0x80000000u;  // left-right
constexpr std::uint32_t tile_mirror_y = 0x40000000u;  // top-bottom
constexpr std::uint32_t tile_swap_xy = 0x20000000u;   // x and y exchanged

// The atlas tile a nonzero cell draws.
inline std::uint32_t tile_index(std::int32_t cell) {
    return (static_cast<std::uint32_t>(cell) - 1) & 0xFFFF;
}

// Where the quad of cell (x, y) goes: centred on the cell, turned by its flip bits.
kesp::Mat tile_transform(int x, int y, std::int32_t cell);

// Half-open cell ranges [x0, x1) x [y0, y1) that a room box covers on a grid of
// w x h cells: edges that cut through a cell keep it on the left and top only.
struct Cell_range {
    int x0, x1, y0, y1;
};
Cell_range room_cells(const kesp::Box& room, int w, int h);

// Writes an atlas as the image name in the game's state folder. The image only
// helps a developer look at the atlas: a failure is one warning naming the file.
void save_atlas_image(kesp::Atlas& atlas, const char* name);

struct Bkgr {
    Bkgr();

    // Adds an image cut into cols x rows tiles and writes the atlas as "bkgr.png".
    // The number of its first tile, or -1 when the image can't be loaded or cut,
    // or its tiles don't fit.
    long long add_tiles(const std::filesystem::path& image, unsigned long long cols, unsigned long long rows);
    long long add_tiles(const kesp::Image& image, unsigned long long cols, unsigned long long rows);
    // Rebuilds the quads from the cells the room covers.
    void upload(const kesp::Box& room);
    void render(const kesp::Box& view);

    kesp::Grid<std::int32_t> tiles;
    kesp::Atlas tileset;
    kesp::Quads batch;
};
