// Vertex buffers, and the shader program that draws them with one texture.
#pragma once

#include "support/geometry.h"

#include <cstdint>
#include <vector>

namespace kesp {

// Position in world pixels (attribute 0) and texture coordinate (attribute 1).
struct Texture_vertex {
    Vec pos;
    Vec tc;
};

// A GL vertex array and buffer with their vertices kept in memory: sent when
// they changed and drawn as one list of primitives of the given mode.
template <typename V>
class Renderer {
public:
    // Leaves its vertex array and buffer bound, so the owner's attribute
    // set-up right after is recorded against them.
    explicit Renderer(unsigned mode);
    ~Renderer();
    Renderer(const Renderer&) = delete;
    Renderer& operator=(const Renderer&) = delete;

    void push(const V* v, unsigned long long n);
    void clear();
    void upload();
    void render();

private:
    std::uint32_t vao = 0;
    std::uint32_t vbo = 0;
    std::uint32_t mode;
    std::vector<V> verts;
    bool uploaded = false;
};

extern template class Renderer<Texture_vertex>;

// Draws its vertices with one 2D texture through a view box.
class Texture_renderer {
public:
    explicit Texture_renderer(unsigned mode);
    ~Texture_renderer();
    Texture_renderer(const Texture_renderer&) = delete;
    Texture_renderer& operator=(const Texture_renderer&) = delete;

    void push(const Texture_vertex* v, unsigned long long n) { mesh.push(v, n); }
    void clear() { mesh.clear(); }
    void upload() { mesh.upload(); }
    void render(const Box& view, unsigned texture);

private:
    Renderer<Texture_vertex> mesh;
    std::uint32_t vshader;
    std::uint32_t fshader;
    std::uint32_t program;
    std::int32_t mvp_loc;
    std::int32_t image_loc;
};

}  // namespace kesp
