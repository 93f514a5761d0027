// A batch of textured quads, each one atlas tile placed by an affine transform.
#pragma once

#include "support/atlas.h"
#include "support/geometry.h"
#include "support/texture.h"

namespace kesp {

// Draws triangles from one atlas, which must outlive the batch.
class Quads {
public:
    explicit Quads(Atlas& atlas);
    Quads(const Quads&) = delete;
    Quads& operator=(const Quads&) = delete;

    // Appends a quad of the tile's size in pixels centred on m's origin;
    // std::out_of_range, appending nothing, for a tile the atlas lacks.
    void push(unsigned long long tile, const Mat& m);
    void clear() { tex.clear(); }
    void upload() { tex.upload(); }
    // Sends the atlas and the vertices where they changed, then draws.
    void render(const Box& view);

private:
    Texture_renderer tex;
    Atlas& atlas;
};

}  // namespace kesp
