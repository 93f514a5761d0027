#include "support/quads.h"

#include <GL/glew.h>

namespace kesp {

Quads::Quads(Atlas& atlas) : tex(GL_TRIANGLES), atlas(atlas) {}

void Quads::push(unsigned long long tile, const Mat& m) {
    const Box& b = atlas.get(tile);
    auto side = static_cast<float>(atlas.size());
    float w = (b.r - b.l) * side / 2;
    float h = (b.d - b.u) * side / 2;
    // y grows downward, so +h is the bottom edge.
    const Texture_vertex c0{m * Vec{-w, +h}, {b.l, b.d}};
    const Texture_vertex c1{m * Vec{+w, +h}, {b.r, b.d}};
    const Texture_vertex c2{m * Vec{+w, -h}, {b.r, b.u}};
    const Texture_vertex c3{m * Vec{-w, -h}, {b.l, b.u}};
    const Texture_vertex quad[] = {c0, c1, c2, c0, c2, c3};
    tex.push(quad, 6);
}

void Quads::render(const Box& view) { tex.render(view, atlas.upload()); }

}  // namespace kesp
