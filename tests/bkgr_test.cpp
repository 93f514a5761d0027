#include "game/bkgr.h"

#include "game/strings.h"
#include "support/paths.h"

#include "common/gl_window.h"
#include "common/process.h"

#include <GL/glew.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <functional>
#include <ostream>
#include <stdexcept>
#include <string>

namespace {

constexpr std::int32_t _mx = static_cast<std::int32_t>(tile_mirror_x);
constexpr std::int32_t _my = static_cast<std::int32_t>(tile_mirror_y);
constexpr std::int32_t _sw = static_cast<std::int32_t>(tile_swap_xy);

struct Range_case {
    const char* name;
    kesp::Box room;
    int w, h;
    Cell_range want;
};

std::ostream& operator<<(std::ostream& out, const Range_case& c) { return out << c.name; }

class Room_cells : public ::testing::TestWithParam<Range_case> {};

TEST_P(Room_cells, TakesCellsTheRoomCoversClampedToTheGrid) {
    const Range_case& c = GetParam();
    Cell_range got = room_cells(c.room, c.w, c.h);
    EXPECT_EQ(got.x0, c.want.x0);
    EXPECT_EQ(got.x1, c.want.x1);
    EXPECT_EQ(got.y0, c.want.y0);
    EXPECT_EQ(got.y1, c.want.y1);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Room_cells,
    ::testing::Values(
        // columns 2 to 5 and rows 1 to 4
        Range_case{"inside", {16, 48, 8, 40}, 10, 10, {2, 6, 1, 5}},
        // trunc(-1.5) is -1, clamped to 0; trunc(2.5) is 2: the edge at 20 cuts column 2 out
        Range_case{"cut_edges", {-12, 20, 0, 8}, 10, 10, {0, 2, 0, 1}},
        Range_case{"beyond_the_grid", {-100, 1000, -3, 500}, 10, 4, {0, 10, 0, 4}},
        // a left or top edge inside a cell keeps it
        Range_case{"left_and_top_inside_a_cell", {7.9f, 16, 15.5f, 24}, 10, 10, {0, 2, 1, 3}},
        Range_case{"swapped_edges", {40, 8, 0, 8}, 10, 10, {5, 1, 0, 1}},
        // no conversion out of int's range
        Range_case{"infinite_edges", {-INFINITY, INFINITY, INFINITY, INFINITY}, 3, 3, {0, 3, 3, 3}},
        Range_case{"far_edges", {-1e30f, 1e30f, 1e30f, 1e30f}, 3, 3, {0, 3, 3, 3}},
        Range_case{"edges_not_a_number", {NAN, NAN, NAN, NAN}, 3, 3, {0, 0, 0, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Tile_index, LowSixteenBitsOfTheCellLessOne) {
    EXPECT_EQ(tile_index(1), 0u);
    EXPECT_EQ(tile_index(3 | _my), 2u);
    EXPECT_EQ(tile_index(1 | _mx), 0u);
    EXPECT_EQ(tile_index(5 | _mx | _sw), 4u);
    EXPECT_EQ(tile_index(0x10001), 0u);
    EXPECT_EQ(tile_index(0x10000), 0xFFFFu);
}

struct Turn_case {
    const char* name;
    std::int32_t bits;
    kesp::Vec top_left, top_right;  // where the tile's corners land, cell (2, 1)
};

std::ostream& operator<<(std::ostream& out, const Turn_case& c) { return out << c.name; }

class Tile_transform : public ::testing::TestWithParam<Turn_case> {};

TEST_P(Tile_transform, TurnsTheTileInPlaceOnItsCell) {
    const Turn_case& c = GetParam();
    kesp::Mat m = tile_transform(2, 1, 1 | c.bits);
    kesp::Vec tl = m * kesp::Vec{-4, -4}, tr = m * kesp::Vec{4, -4}, mid = m * kesp::Vec{0, 0};
    EXPECT_FLOAT_EQ(mid.x, 20);
    EXPECT_FLOAT_EQ(mid.y, 12);
    EXPECT_FLOAT_EQ(tl.x, c.top_left.x);
    EXPECT_FLOAT_EQ(tl.y, c.top_left.y);
    EXPECT_FLOAT_EQ(tr.x, c.top_right.x);
    EXPECT_FLOAT_EQ(tr.y, c.top_right.y);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Tile_transform,
    ::testing::Values(Turn_case{"plain", 0, {16, 8}, {24, 8}},
                      Turn_case{"mirror_x", _mx, {24, 8}, {16, 8}},
                      Turn_case{"mirror_y", _my, {16, 16}, {24, 16}},
                      Turn_case{"swap", _sw, {16, 8}, {16, 16}},
                      Turn_case{"quarter_turn_clockwise", _mx | _sw, {24, 8}, {24, 16}},
                      Turn_case{"quarter_turn_anticlockwise", _my | _sw, {16, 16}, {16, 8}},
                      Turn_case{"half_turn", _mx | _my, {24, 16}, {16, 16}},
                      Turn_case{"other_diagonal", _mx | _my | _sw, {24, 16}, {24, 8}}),
    [](const auto& info) { return std::string(info.param.name); });

// Tileset of five 8 x 8 tiles side by side. Texel (x, y) of tile t has red and
// green from x and y and blue from t, so every texel and tile is told apart.
std::uint32_t texel(int tile, int x, int y) {
    return test::rgba(16 + 28 * x, 16 + 28 * y, 20 + 40 * tile, 255);
}

constexpr int _cols = 4, _rows = 2;  // the grid drawn, one screen pixel per world pixel

class Bkgr_gl : public test::Gl_test {
protected:
    void SetUp() override {
        test::Gl_test::SetUp();
        saved_state = kesp::paths.state.dir;
        kesp::paths.state.dir = tmp / "state";
        test::Surface image = test::make_image(40, 8, [](int x, int y) { return texel(x / 8, x % 8, y); });
        ASSERT_TRUE(image);
        ASSERT_NO_FATAL_FAILURE(test::save_image(image.get(), tmp / "tiles.png"));
        bkgr = std::make_unique<Bkgr>();
        bkgr->tiles.resize(_cols, _rows);
        std::fill(bkgr->tiles.begin(), bkgr->tiles.begin() + bkgr->tiles.size(), 0);
    }
    void TearDown() override {
        bkgr.reset();
        kesp::paths.state.dir = saved_state;
    }

    // The number of its first tile.
    long long add_tileset() { return bkgr->add_tiles(tmp / "tiles.png", 5, 1); }

    // The whole grid drawn one screen pixel per world pixel into the window's
    // top-left corner, the window's pixels read back.
    test::Pixels draw() {
        const int w = 8 * _cols, h = 8 * _rows;
        glViewport(0, test::gl_height - h, w, h);
        glClearColor(0, 0, 0, 0);
        glClear(GL_COLOR_BUFFER_BIT);
        bkgr->render({0, float(w), 0, float(h)});
        return test::read_window();
    }

    // Every pixel of the grid: each cell shows the tile texels want gives (0: black).
    using Texel_of = std::function<std::uint32_t(int cx, int cy, int i, int j)>;
    void expect_picture(const test::Pixels& window, const Texel_of& want) {
        int wrong = 0;
        for (int y = 0; y < 8 * _rows; ++y)
            for (int x = 0; x < 8 * _cols; ++x) {
                // the window may have no alpha channel: colours only
                std::uint32_t expected = want(x / 8, y / 8, x % 8, y % 8) & 0xFFFFFF;
                std::uint32_t got = window.at(x, y) & 0xFFFFFF;
                if (got != expected && wrong++ < 8)
                    ADD_FAILURE() << "pixel (" << x << ", " << y << "): " << std::hex << got << ", want "
                                  << expected;
            }
        EXPECT_EQ(wrong, 0);
    }

    test::Temp_dir tmp;
    std::filesystem::path saved_state;
    std::unique_ptr<Bkgr> bkgr;
};

struct Draw_case {
    const char* name;
    std::int32_t cell;
    int tile;
    // the tile texel that shows at pixel (i, j) of the cell
    std::array<int, 2> (*source)(int i, int j);
};

std::ostream& operator<<(std::ostream& out, const Draw_case& c) { return out << c.name; }

class Bkgr_draw : public Bkgr_gl, public ::testing::WithParamInterface<Draw_case> {};

TEST_P(Bkgr_draw, DrawsTheCellsTileTurnedByItsFlipBits) {
    const Draw_case& c = GetParam();
    add_tileset();
    bkgr->tiles.at(1, 1) = c.cell;
    bkgr->upload({0, 8 * _cols, 0, 8 * _rows});
    expect_picture(draw(), [&](int cx, int cy, int i, int j) -> std::uint32_t {
        if (cx != 1 || cy != 1) return 0;
        auto [si, sj] = c.source(i, j);
        return texel(c.tile, si, sj);
    });
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Bkgr_draw,
    ::testing::Values(
        Draw_case{"plain", 1, 0, [](int i, int j) { return std::array{i, j}; }},
        Draw_case{"mirror_x", 1 | _mx, 0, [](int i, int j) { return std::array{7 - i, j}; }},
        Draw_case{"mirror_y", 3 | _my, 2, [](int i, int j) { return std::array{i, 7 - j}; }},
        Draw_case{"swap", 1 | _sw, 0, [](int i, int j) { return std::array{j, i}; }},
        // the tile's top-left texel lands top right: a quarter turn clockwise
        Draw_case{"quarter_turn", 5 | _mx | _sw, 4, [](int i, int j) { return std::array{j, 7 - i}; }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Bkgr_gl, DrawsOnlyTheNonEmptyCellsTheRoomTakes) {
    add_tileset();
    for (int y = 0; y < _rows; ++y)
        for (int x = 0; x < _cols; ++x) bkgr->tiles.at(x, y) = 1 + (x + y) % 5;
    bkgr->tiles.at(2, 0) = 0;
    // Its right edge cuts column 3 and its bottom edge row 1: both are left out.
    bkgr->upload({8, 28, 0, 12});
    expect_picture(draw(), [](int cx, int cy, int i, int j) -> std::uint32_t {
        if (cy != 0 || cx < 1 || cx > 2 || cx == 2) return 0;
        return texel((cx + cy) % 5, i, j);
    });
}

TEST_F(Bkgr_gl, SwappedCellsShowOnlyAfterTheNextUpload) {
    add_tileset();
    bkgr->tiles.at(0, 0) = 1;
    bkgr->tiles.at(3, 1) = 2;
    const kesp::Box room{0, 8 * _cols, 0, 8 * _rows};
    bkgr->upload(room);
    std::swap(bkgr->tiles.at(0, 0), bkgr->tiles.at(3, 1));
    auto before = [](int cx, int cy, int i, int j) -> std::uint32_t {
        if (cx == 0 && cy == 0) return texel(0, i, j);
        if (cx == 3 && cy == 1) return texel(1, i, j);
        return 0;
    };
    expect_picture(draw(), before);
    bkgr->upload(room);
    expect_picture(draw(), [&](int cx, int cy, int i, int j) { return before(3 - cx, 1 - cy, i, j); });
}

TEST_F(Bkgr_gl, EmptyRoomDrawsNothing) {
    add_tileset();
    bkgr->tiles.at(1, 0) = 1;
    bkgr->upload({24, 8, 0, 16});  // edges swapped
    expect_picture(draw(), [](int, int, int, int) { return 0u; });
}

TEST_F(Bkgr_gl, TileBeyondTheAtlasThrowsOnUpload) {
    add_tileset();
    bkgr->tiles.at(0, 0) = 6;  // tile 5 of five
    EXPECT_THROW(bkgr->upload({0, 8, 0, 8}), std::out_of_range);
}

// Width, height of a PNG file from its header; 0 x 0 when it is none.
std::pair<std::uint32_t, std::uint32_t> png_size(const std::filesystem::path& file) {
    std::string bytes = test::read_file(file);
    if (bytes.size() < 24 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return {0, 0};
    auto be32 = [&](std::size_t at) {
        std::uint32_t v = 0;
        for (std::size_t i = 0; i < 4; ++i) v = v << 8 | static_cast<std::uint8_t>(bytes[at + i]);
        return v;
    };
    return {be32(16), be32(20)};
}

TEST_F(Bkgr_gl, AddTilesWritesTheWholeAtlasToTheStateFolder) {
    const auto png = tmp / "state" / basedir / "bkgr.png";
    EXPECT_EQ(add_tileset(), 0);
    ASSERT_TRUE(std::filesystem::exists(png));
    EXPECT_EQ(png_size(png), std::make_pair(1024u, 1024u));
    std::filesystem::remove(png);
    EXPECT_EQ(add_tileset(), 5);  // written again for every tileset
    EXPECT_TRUE(std::filesystem::exists(png));
}

TEST_F(Bkgr_gl, ImageThatFailsToLoadLeavesTheAtlasAndStillWritesThePng) {
    const auto png = tmp / "state" / basedir / "bkgr.png";
    EXPECT_EQ(bkgr->add_tiles(tmp / "missing.png", 5, 1), -1);
    EXPECT_TRUE(std::filesystem::exists(png));
    EXPECT_EQ(add_tileset(), 0);  // numbered from 0 all the same
    bkgr->tiles.at(0, 0) = 2;
    bkgr->upload({0, 8, 0, 8});
    expect_picture(draw(), [](int cx, int cy, int i, int j) { return cx == 0 && cy == 0 ? texel(1, i, j) : 0u; });
}

}  // namespace
