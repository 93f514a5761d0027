#include "support/texture.h"

#include "support/media.h"

#include <GL/glew.h>

#include <cstddef>

namespace kesp {

namespace {

const char vshader_code[] =
    "#version 330 core\n"
    "\n"
    "layout(location = 0) in vec2 vertex_pos;\n"
    "layout(location = 1) in vec2 vertex_tc;\n"
    "out vec2 fragment_tc;\n"
    "uniform mat4 mvp;\n"
    "\n"
    "void main()\n"
    "{\n"
    "        gl_Position = mvp * vec4(vertex_pos, 0.0f, 1.0f);\n"
    "        fragment_tc = vertex_tc;\n"
    "}\n";

const char fshader_code[] =
    "#version 330 core\n"
    "\n"
    "in vec2 fragment_tc;\n"
    "out vec4 color;\n"
    "uniform sampler2D image;\n"
    "\n"
    "void main()\n"
    "{\n"
    "        color = texture(image, fragment_tc);\n"
    "        if (color.a == 0) discard;\n"
    "}\n";

static_assert(sizeof(Texture_vertex) == 16 && offsetof(Texture_vertex, tc) == 8,
              "the attribute layout below expects two packed float pairs");

}  // namespace

template <typename V>
Renderer<V>::Renderer(unsigned mode) : mode(mode) {
    glGenVertexArrays(1, &vao);
    glGenBuffers(1, &vbo);
    glBindVertexArray(vao);
    glBindBuffer(GL_ARRAY_BUFFER, vbo);
}

template <typename V>
Renderer<V>::~Renderer() {
    glDeleteBuffers(1, &vbo);
    glDeleteVertexArrays(1, &vao);
}

template <typename V>
void Renderer<V>::push(const V* v, unsigned long long n) {
    verts.insert(verts.end(), v, v + n);
    uploaded = false;
}

template <typename V>
void Renderer<V>::clear() {
    verts.clear();
    uploaded = false;
}

template <typename V>
void Renderer<V>::upload() {
    if (uploaded) return;
    glBindBuffer(GL_ARRAY_BUFFER, vbo);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(verts.size() * sizeof(V)), verts.data(),
                 GL_STATIC_DRAW);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    uploaded = true;
}

template <typename V>
void Renderer<V>::render() {
    upload();
    glBindVertexArray(vao);
    glDrawArrays(mode, 0, static_cast<GLsizei>(verts.size()));
}

template class Renderer<Texture_vertex>;

Texture_renderer::Texture_renderer(unsigned mode)
    : mesh(mode),
      vshader(compile_shader(vshader_code, GL_VERTEX_SHADER)),
      fshader(compile_shader(fshader_code, GL_FRAGMENT_SHADER)),
      program(link_program({vshader, fshader})),
      mvp_loc(glGetUniformLocation(program, "mvp")),
      image_loc(glGetUniformLocation(program, "image")) {
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(0, 2, GL_FLOAT, GL_FALSE, sizeof(Texture_vertex),
                          reinterpret_cast<const void*>(offsetof(Texture_vertex, pos)));
    glEnableVertexAttribArray(1);
    glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, sizeof(Texture_vertex),
                          reinterpret_cast<const void*>(offsetof(Texture_vertex, tc)));
}

Texture_renderer::~Texture_renderer() {
    glDeleteProgram(program);
    glDeleteShader(vshader);
    glDeleteShader(fshader);
}

void Texture_renderer::render(const Box& view, unsigned texture) {
    glUseProgram(program);
    float mvp[4][4];
    ortho(mvp, view);
    glUniformMatrix4fv(mvp_loc, 1, GL_FALSE, &mvp[0][0]);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, texture);
    glUniform1i(image_loc, 0);
    mesh.render();
}

}  // namespace kesp
