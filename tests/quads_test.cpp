#include "support/quads.h"

#include "support/atlas.h"
#include "support/media.h"

#include "common/gl_window.h"
#include "common/process.h"

#include <GL/glew.h>
#include <SDL.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using kesp::Box;
using kesp::Mat;
using kesp::Texture_vertex;
using kesp::Vec;

// The position of a world point under the projection, in GL's clip space.
Vec project(const float m[4][4], Vec p) {
    return {m[0][0] * p.x + m[1][0] * p.y + m[3][0], m[0][1] * p.x + m[1][1] * p.y + m[3][1]};
}

TEST(Ortho, MapsTheViewOntoTheDrawingAreaWithYDown) {
    float m[4][4];
    for (auto& column : m)
        for (float& v : column) v = 99;  // every entry is written
    kesp::ortho(m, {0, 384, 0, 216});
    const float want[4][4] = {{2.f / 384, 0, 0, 0}, {0, -2.f / 216, 0, 0}, {0, 0, -1, 0}, {-1, 1, 0, 1}};
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r) EXPECT_FLOAT_EQ(m[c][r], want[c][r]) << "m[" << c << "][" << r << "]";

    for (Box view : {Box{0, 384, 0, 216}, Box{-50, 30, 100, 260}, Box{1000.5f, 1384.5f, -8, 208}}) {
        kesp::ortho(m, view);
        Vec tl = project(m, {view.l, view.u}), br = project(m, {view.r, view.d}), c = project(m, view.ct());
        EXPECT_FLOAT_EQ(tl.x, -1);
        EXPECT_FLOAT_EQ(tl.y, 1);
        EXPECT_FLOAT_EQ(br.x, 1);
        EXPECT_FLOAT_EQ(br.y, -1);
        EXPECT_NEAR(c.x, 0, 1e-6);
        EXPECT_NEAR(c.y, 0, 1e-6);
    }
}

// The cleared window as read back: it may have no alpha channel.
constexpr std::uint32_t black = test::rgba(0, 0, 0, 255);

// Every pixel of the test tile tells where in the tile it is.
std::uint32_t texel(int x, int y) { return test::rgba(10 + 10 * x, 5 + 5 * y, 77, 255); }

class Batch : public test::Gl_test {
protected:
    void SetUp() override {
        test::Gl_test::SetUp();
        if (HasFatalFailure()) return;
        glViewport(0, 0, test::gl_width, test::gl_height);
        glEnable(GL_BLEND);
        clear_window(0, 0, 0, 0);
        atlas.emplace(64, 1, GL_NEAREST);
        tile = test::make_image(16, 24, texel);
        ASSERT_EQ(atlas->add(tile.get(), 1, 1, -1), 0);
        quads.emplace(*atlas);
    }

    void TearDown() override {
        quads.reset();
        atlas.reset();
        glEnable(GL_BLEND);
    }

    static void clear_window(float r, float g, float b, float a) {
        glClearColor(r, g, b, a);
        glClear(GL_COLOR_BUFFER_BIT);
    }

    // Compares each window pixel with what should show at the world point
    // under its centre: expected(x, y) or, when that gives nothing, background.
    static void expect_window(const Box& view, std::uint32_t background,
                              const std::function<std::optional<std::uint32_t>(float, float)>& expected) {
        test::Pixels shown = test::read_window();
        const Vec scale{view.size().x / test::gl_width, view.size().y / test::gl_height};
        int differ = 0;
        for (int y = 0; y < shown.h; ++y)
            for (int x = 0; x < shown.w; ++x) {
                float wx = view.l + (x + 0.5f) * scale.x, wy = view.u + (y + 0.5f) * scale.y;
                std::uint32_t want = expected(wx, wy).value_or(background);
                if (shown.at(x, y) != want && ++differ <= 5)
                    ADD_FAILURE() << "window pixel (" << x << ", " << y << ") is " << std::hex
                                  << shown.at(x, y) << ", expected " << want;
            }
        EXPECT_EQ(differ, 0);
    }

    // The tile placed with its top-left corner at (left, top), optionally mirrored.
    static std::function<std::optional<std::uint32_t>(float, float)> tile_at(float left, float top,
                                                                              bool mirrored = false) {
        return [=](float wx, float wy) -> std::optional<std::uint32_t> {
            int x = static_cast<int>(std::floor(wx - left)), y = static_cast<int>(std::floor(wy - top));
            if (x < 0 || x >= 16 || y < 0 || y >= 24) return std::nullopt;
            return texel(mirrored ? 15 - x : x, y);
        };
    }

    // The vertices in the GL buffer of the bound vertex array.
    static std::vector<Texture_vertex> sent_vertices() {
        GLint buffer = 0, bytes = 0;
        glGetVertexAttribiv(0, GL_VERTEX_ATTRIB_ARRAY_BUFFER_BINDING, &buffer);
        glBindBuffer(GL_ARRAY_BUFFER, static_cast<GLuint>(buffer));
        glGetBufferParameteriv(GL_ARRAY_BUFFER, GL_BUFFER_SIZE, &bytes);
        std::vector<Texture_vertex> v(static_cast<std::size_t>(bytes) / sizeof(Texture_vertex));
        if (bytes) glGetBufferSubData(GL_ARRAY_BUFFER, 0, bytes, v.data());
        glBindBuffer(GL_ARRAY_BUFFER, 0);
        return v;
    }

    const Box window_view{0, test::gl_width, 0, test::gl_height};
    std::optional<kesp::Atlas> atlas;
    test::Surface tile;
    std::optional<kesp::Quads> quads;
};

struct Corner {
    Vec pos;
    Vec tc;
};

void expect_vertices(const std::vector<Texture_vertex>& got, const std::vector<Corner>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(got[i].pos.x, want[i].pos.x) << "vertex " << i;
        EXPECT_EQ(got[i].pos.y, want[i].pos.y) << "vertex " << i;
        EXPECT_EQ(got[i].tc.x, want[i].tc.x) << "vertex " << i;
        EXPECT_EQ(got[i].tc.y, want[i].tc.y) << "vertex " << i;
    }
}

TEST_F(Batch, APushedTileIsTwoTrianglesOfItsSizeInPixels) {
    // The tile sits at (1, 1) of the padded 64-pixel atlas.
    const float l = 1 / 64.f, r = 17 / 64.f, u = 1 / 64.f, d = 25 / 64.f;
    struct Case {
        const char* what;
        Mat m;
        std::vector<Corner> want;
    };
    Mat mirrored = Mat::translate(100, 50);
    mirrored *= Mat::scale(-1, 1);
    const Case cases[] = {
        {"identity", Mat::scale(1, 1),
         {{{-8, 12}, {l, d}}, {{8, 12}, {r, d}}, {{8, -12}, {r, u}},
          {{-8, 12}, {l, d}}, {{8, -12}, {r, u}}, {{-8, -12}, {l, u}}}},
        {"translated", Mat::translate(100, 50),
         {{{92, 62}, {l, d}}, {{108, 62}, {r, d}}, {{108, 38}, {r, u}},
          {{92, 62}, {l, d}}, {{108, 38}, {r, u}}, {{92, 38}, {l, u}}}},
        {"mirrored", mirrored,
         {{{108, 62}, {l, d}}, {{92, 62}, {r, d}}, {{92, 38}, {r, u}},
          {{108, 62}, {l, d}}, {{92, 38}, {r, u}}, {{108, 38}, {l, u}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        quads->clear();
        quads->push(0, c.m);
        quads->render(window_view);
        expect_vertices(sent_vertices(), c.want);
    }
}

TEST_F(Batch, VerticesAreTwoFloatPairsSixteenBytesApart) {
    quads->render(window_view);
    GLint buffer0 = 0, buffer1 = 0;
    glGetVertexAttribiv(0, GL_VERTEX_ATTRIB_ARRAY_BUFFER_BINDING, &buffer0);
    glGetVertexAttribiv(1, GL_VERTEX_ATTRIB_ARRAY_BUFFER_BINDING, &buffer1);
    EXPECT_NE(buffer0, 0);
    EXPECT_EQ(buffer0, buffer1);
    for (GLuint attribute : {0u, 1u}) {
        GLint enabled = 0, size = 0, type = 0, normalized = 1, stride = 0;
        void* offset = nullptr;
        glGetVertexAttribiv(attribute, GL_VERTEX_ATTRIB_ARRAY_ENABLED, &enabled);
        glGetVertexAttribiv(attribute, GL_VERTEX_ATTRIB_ARRAY_SIZE, &size);
        glGetVertexAttribiv(attribute, GL_VERTEX_ATTRIB_ARRAY_TYPE, &type);
        glGetVertexAttribiv(attribute, GL_VERTEX_ATTRIB_ARRAY_NORMALIZED, &normalized);
        glGetVertexAttribiv(attribute, GL_VERTEX_ATTRIB_ARRAY_STRIDE, &stride);
        glGetVertexAttribPointerv(attribute, GL_VERTEX_ATTRIB_ARRAY_POINTER, &offset);
        EXPECT_EQ(enabled, GL_TRUE) << attribute;
        EXPECT_EQ(size, 2) << attribute;
        EXPECT_EQ(type, GL_FLOAT) << attribute;
        EXPECT_EQ(normalized, GL_FALSE) << attribute;
        EXPECT_EQ(stride, 16) << attribute;
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(offset), attribute * 8u) << attribute;
    }
}

TEST_F(Batch, AnUnknownTileThrowsAndAppendsNothing) {
    quads->push(0, Mat::translate(20, 20));
    EXPECT_THROW(quads->push(1, Mat::translate(40, 40)), std::out_of_range);
    quads->push(0, Mat::translate(60, 60));
    quads->render(window_view);
    EXPECT_EQ(sent_vertices().size(), 12u);
}

TEST_F(Batch, DrawsTheTileWhereTheViewPutsIt) {
    struct Case {
        const char* what;
        Box view;
    };
    // The window's own size, then a view of half that size, drawn at twice the scale.
    for (const Case& c : {Case{"one to one", window_view}, Case{"scaled and moved", {50, 210, 20, 140}}}) {
        SCOPED_TRACE(c.what);
        clear_window(0, 0, 0, 0);
        quads->clear();
        quads->push(0, Mat::translate(100, 50));
        quads->render(c.view);
        expect_window(c.view, black, tile_at(92, 38));
    }
}

TEST_F(Batch, AMirroredTileShowsItsPictureMirrored) {
    Mat m = Mat::translate(100, 50);
    m *= Mat::scale(-1, 1);
    quads->push(0, m);
    quads->render(window_view);
    expect_window(window_view, black, tile_at(92, 38, true));
}

TEST_F(Batch, FullyTransparentTexelsAreDiscarded) {
    // Without blending, only the discard keeps alpha-0 texels off the window.
    test::Surface half = test::make_image(8, 8, [](int x, int) {
        return x < 4 ? test::rgba(255, 0, 0, 0) : test::rgba(0, 255, 0, 1);
    });
    ASSERT_EQ(atlas->add(half.get(), 1, 1, -1), 1);
    glDisable(GL_BLEND);
    clear_window(0, 0, 1, 1);
    quads->push(1, Mat::translate(40, 40));
    quads->render(window_view);
    expect_window(window_view, test::rgba(0, 0, 255, 255), [](float wx, float wy) -> std::optional<std::uint32_t> {
        if (wx < 36 || wx >= 44 || wy < 36 || wy >= 44) return std::nullopt;
        if (wx < 40) return std::nullopt;  // discarded: the clear colour stays
        return test::rgba(0, 255, 0, 255);
    });
}

TEST_F(Batch, AnEmptyBatchDrawsNothing) {
    quads->render(window_view);
    EXPECT_TRUE(sent_vertices().empty());
    expect_window(window_view, black, [](float, float) { return std::nullopt; });
}

TEST_F(Batch, RenderSendsChangedVerticesWithoutUpload) {
    quads->push(0, Mat::translate(100, 50));
    quads->render(window_view);
    clear_window(0, 0, 0, 0);
    quads->clear();
    quads->push(0, Mat::translate(200, 150));
    quads->render(window_view);
    expect_window(window_view, black, tile_at(192, 138));
}

TEST_F(Batch, VerticesAreSentOnceUntilTheyChange) {
    quads->push(0, Mat::translate(100, 50));
    quads->upload();
    quads->render(window_view);  // binds the batch's vertex array for the read-back
    std::vector<Texture_vertex> first = sent_vertices();
    ASSERT_EQ(first.size(), 6u);

    // Overwrite the buffer behind the batch's back: unchanged vertices are not resent.
    GLint buffer = 0;
    glGetVertexAttribiv(0, GL_VERTEX_ATTRIB_ARRAY_BUFFER_BINDING, &buffer);
    std::vector<Texture_vertex> marks(6, Texture_vertex{{-1, -2}, {-3, -4}});
    glBindBuffer(GL_ARRAY_BUFFER, static_cast<GLuint>(buffer));
    glBufferSubData(GL_ARRAY_BUFFER, 0, 6 * sizeof(Texture_vertex), marks.data());
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    quads->upload();
    quads->render(window_view);
    std::vector<Corner> marked(6, Corner{{-1, -2}, {-3, -4}});
    expect_vertices(sent_vertices(), marked);

    // Cleared and refilled with the same quad: sent again.
    quads->clear();
    quads->push(0, Mat::translate(100, 50));
    quads->upload();
    std::vector<Corner> again;
    for (const Texture_vertex& v : first) again.push_back({v.pos, v.tc});
    expect_vertices(sent_vertices(), again);
}

TEST_F(Batch, NewTilesReachTheTextureOnTheNextRender) {
    quads->push(0, Mat::translate(100, 50));
    quads->render(window_view);
    test::Surface other = test::make_image(16, 24, [](int x, int y) { return texel(15 - x, y); });
    ASSERT_EQ(atlas->add(other.get(), 1, 1, -1), 1);
    clear_window(0, 0, 0, 0);
    quads->clear();
    quads->push(1, Mat::translate(100, 50));
    quads->render(window_view);
    expect_window(window_view, black, tile_at(92, 38, true));
}

class Shaders : public test::Gl_test {
protected:
    void TearDown() override {
        for (GLuint s : made) glDeleteShader(s);
        for (GLuint p : programs) glDeleteProgram(p);
    }

    unsigned keep(unsigned shader) {
        if (shader) made.push_back(shader);
        return shader;
    }

    std::vector<GLuint> made;
    std::vector<GLuint> programs;
    test::Temp_dir dir;
};

const char good_vertex[] =
    "#version 330 core\n"
    "layout(location = 0) in vec2 p;\n"
    "out vec2 v;\n"
    "void main() { gl_Position = vec4(p, 0.0, 1.0); v = p; }\n";
const char good_fragment[] =
    "#version 330 core\n"
    "in vec2 v;\n"
    "out vec4 color;\n"
    "void main() { color = vec4(v, 0.0, 1.0); }\n";
// Reads v as another type than the vertex shader writes: compiles, won't link.
const char mismatched_fragment[] =
    "#version 330 core\n"
    "in vec3 v;\n"
    "out vec4 color;\n"
    "void main() { color = vec4(v, 1.0); }\n";
const char broken[] = "#version 330 core\nvoid main() { this is not glsl }\n";

TEST_F(Shaders, CompileAndLinkGiveNamesOrZero) {
    unsigned vs = keep(kesp::compile_shader(good_vertex, GL_VERTEX_SHADER));
    unsigned fs = keep(kesp::compile_shader(good_fragment, GL_FRAGMENT_SHADER));
    ASSERT_NE(vs, 0u);
    ASSERT_NE(fs, 0u);
    GLint type = 0;
    glGetShaderiv(fs, GL_SHADER_TYPE, &type);
    EXPECT_EQ(type, GL_FRAGMENT_SHADER);
    unsigned program = kesp::link_program({vs, fs});
    programs.push_back(program);
    ASSERT_NE(program, 0u);
    GLint attached = 0;
    glGetProgramiv(program, GL_ATTACHED_SHADERS, &attached);
    EXPECT_EQ(attached, 2);
}

TEST_F(Shaders, ACompileErrorLogsTheInfoLogAndGivesZero) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(kesp::compile_shader(broken, GL_FRAGMENT_SHADER), 0u);
    std::string err = testing::internal::GetCapturedStderr();
    auto at = err.find("INFO: ");
    ASSERT_NE(at, std::string::npos) << err;
    EXPECT_GT(err.size(), at + 8) << "an empty info log";
}

TEST_F(Shaders, ALinkErrorIsReportedAndGivesZero) {
    unsigned vs = keep(kesp::compile_shader(good_vertex, GL_VERTEX_SHADER));
    unsigned fs = keep(kesp::compile_shader(mismatched_fragment, GL_FRAGMENT_SHADER));
    ASSERT_NE(vs, 0u);
    ASSERT_NE(fs, 0u);
    testing::internal::CaptureStderr();
    EXPECT_EQ(kesp::link_program({vs, fs}), 0u);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("ERROR: can't link program"), std::string::npos) << err;
    EXPECT_NE(err.find("INFO: "), std::string::npos) << err;
}

TEST_F(Shaders, LoadingFromAFileReportsEachFailure) {
    test::write_file(dir / "good.vert", good_vertex);
    test::write_file(dir / "empty.frag", "");
    test::write_file(dir / "broken.frag", broken);
    std::filesystem::create_directories(dir / "folder.frag");
    ASSERT_EQ(mkfifo((dir / "pipe.frag").c_str(), 0644), 0);  // no writer: read at once or never
    EXPECT_NE(keep(kesp::load_shader(dir / "good.vert", GL_VERTEX_SHADER)), 0u);

    struct Case {
        const char* name;
        std::string message;
    };
    const Case cases[] = {
        {"missing.vert", ": No such file or directory"},
        {"folder.frag", ": not a regular file"},
        {"pipe.frag", ": not a regular file"},
        {"empty.frag", ": can't compile shader"},
        {"broken.frag", ": can't compile shader"},
    };
    for (const Case& c : cases) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(kesp::load_shader(dir / c.name, GL_FRAGMENT_SHADER), 0u) << c.name;
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find("ERROR: " + (dir / c.name).string() + c.message), std::string::npos)
            << c.name << ": " << err;
    }
}

}  // namespace
