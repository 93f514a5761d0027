// Pixel art kept as text: a palette of one-character colours, named grids of
// those characters, and sprite sheets whose frames are drawn from rows, grids
// and lines. Every sheet becomes one RGBA image. A source holds, line by line:
//   include <file>                        another source, relative to this one
//   colour <c> <rrggbb[aa]>               '.' is always transparent
//   grid <name> ... end                   rows of colour characters
//   sheet <file.png> <cols>x<rows> <w>x<h> ... end
//     frame [name] [solid]                then, in drawing order:
//       <row>                             drawn under the frame's previous row
//       put <grid> <x> <y> [flip] [vflip] a grid at a place, mirrored if asked
//       cut <grid> <x> <y>                the cell-sized piece of a grid at (x, y)
//       line <c> <x0> <y0> <x1> <y1>      both ends included
//       rect <c> <x> <y> <w> <h>
// Transparent pixels never paint over others, and nothing may draw outside its cell.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace tools {

class Source;

struct Rgba {
    std::uint8_t r = 0, g = 0, b = 0, a = 0;
};

struct Image {
    int w = 0;
    int h = 0;
    std::vector<Rgba> px;  // row by row

    Image() = default;
    Image(int w, int h) : w(w), h(h), px(static_cast<std::size_t>(w) * h) {}
    Rgba& at(int x, int y) { return px[static_cast<std::size_t>(y) * w + x]; }
    const Rgba& at(int x, int y) const { return px[static_cast<std::size_t>(y) * w + x]; }
};

struct Frame_info {
    std::string name;  // may be empty
    bool solid = false;
};

struct Sheet {
    std::string file;
    int cols = 0, rows = 0;  // frames across and down
    int cw = 0, ch = 0;      // cell size in pixels
    std::vector<Frame_info> frames;
    Image image;

    // The frame called name, or -1.
    int find(const std::string& name) const;
};

// Characters in a grid or a frame, before colours are given to them.
struct Grid {
    int w = 0, h = 0;
    std::string cells;  // '.' is transparent

    char get(int x, int y) const { return cells[static_cast<std::size_t>(y) * w + x]; }
};

class Art {
public:
    // Reads a source; "include" lines read other sources relative to it.
    void load(const std::filesystem::path& path);

    const std::vector<Sheet>& sheets() const { return all_sheets; }
    const Sheet* sheet(const std::string& file) const;

private:
    void parse(Source& src);
    void parse_colour(Source& src, const std::vector<std::string>& w);
    void parse_grid(Source& src, const std::vector<std::string>& w);
    void parse_sheet(Source& src, const std::vector<std::string>& w);
    void draw_op(Source& src, Grid& canvas, int& row, const std::vector<std::string>& w) const;
    void check_row(const Source& src, const std::string& row) const;

    std::map<char, Rgba> palette;
    std::map<std::string, Grid> grids;
    std::vector<Sheet> all_sheets;
    std::vector<std::filesystem::path> loading;  // include chain, to refuse loops
};

}  // namespace tools
