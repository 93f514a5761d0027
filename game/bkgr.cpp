#include "game/bkgr.h"

#include "game/strings.h"
#include "support/log.h"
#include "support/paths.h"

#include <GL/glew.h>

#include <algorithm>
#include <string>

namespace {

constexpr float _tile = 8;

// The cell column or row an edge lies in, held to 0..n; NaN gives 0.
int _cell_clamp(float edge, int n) {
    int t = kesp::saturate_cast<int>(edge / _tile);
    return t <= 0 ? 0 : std::min(t, n);
}

}  // namespace

kesp::Mat tile_transform(int x, int y, std::int32_t cell) {
    auto bits = static_cast<std::uint32_t>(cell);
    kesp::Mat m = kesp::Mat::translate((x + 0.5f) * _tile, (y + 0.5f) * _tile);
    if (bits & tile_mirror_x) m *= kesp::Mat::scale(-1, 1);
    if (bits & tile_mirror_y) m *= kesp::Mat::scale(1, -1);
    if (bits & tile_swap_xy) m *= kesp::Mat{0, 1, 0, 1, 0, 0};
    return m;
}

Cell_range room_cells(const kesp::Box& room, int w, int h) {
    return {_cell_clamp(room.l, w), _cell_clamp(room.r, w), _cell_clamp(room.u, h), _cell_clamp(room.d, h)};
}

Bkgr::Bkgr() : tileset(1024, 0, GL_NEAREST), batch(tileset) {}

void save_atlas_image(kesp::Atlas& atlas, const char* name) {
    const std::filesystem::path rel = basedir / name;
    std::string why;
    try {
        if (!atlas.save_png(kesp::paths.state.w(rel))) why = kesp::platform_error();
    } catch (const std::filesystem::filesystem_error& e) {
        why = "can't make the folder " + e.path1().string() + ": " + e.code().message();
    }
    if (!why.empty())
        kesp::log_warn("can't write \"%s\": %s", kesp::paths.state.r(rel).string().c_str(), why.c_str());
}

long long Bkgr::add_tiles(const std::filesystem::path& image, unsigned long long cols, unsigned long long rows) {
    long long first = tileset.load(image, static_cast<int>(cols), static_cast<int>(rows), -1);
    save_atlas_image(tileset, "bkgr.png");
    return first;
}

long long Bkgr::add_tiles(const kesp::Image& image, unsigned long long cols, unsigned long long rows) {
    long long first = image ? tileset.add(image.surface, static_cast<int>(cols), static_cast<int>(rows), -1) : -1;
    save_atlas_image(tileset, "bkgr.png");
    return first;
}

void Bkgr::upload(const kesp::Box& room) {
    batch.clear();
    Cell_range c = room_cells(room, static_cast<int>(tiles.width()), static_cast<int>(tiles.height()));
    for (int y = c.y0; y < c.y1; ++y)
        for (int x = c.x0; x < c.x1; ++x) {
            std::int32_t v = tiles.at(x, y);
            if (v != 0) batch.push(tile_index(v), tile_transform(x, y, v));
        }
    batch.upload();
}

void Bkgr::render(const kesp::Box& view) { batch.render(view); }
