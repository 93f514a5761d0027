#include "art.h"

#include "source.h"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

namespace tools {

namespace {

int hex_byte(const Source& src, const std::string& s, std::size_t at)
{
    const std::string two = s.substr(at, 2);
    char* end = nullptr;
    const long v = std::strtol(two.c_str(), &end, 16);
    if (two.size() != 2 || *end != '\0')
        src.fail("bad colour \"" + s + "\"");
    return static_cast<int>(v);
}

// Sets one character of a canvas, refusing anything outside it.
void plot(const Source& src, Grid& canvas, int x, int y, char c)
{
    if (x < 0 || y < 0 || x >= canvas.w || y >= canvas.h)
        src.fail("drawing at (" + std::to_string(x) + ", " + std::to_string(y) + ") outside the " +
                 std::to_string(canvas.w) + "x" + std::to_string(canvas.h) + " cell");
    canvas.cells[static_cast<std::size_t>(y) * canvas.w + x] = c;
}

}  // namespace

int Sheet::find(const std::string& name) const
{
    for (std::size_t i = 0; i < frames.size(); ++i)
        if (frames[i].name == name)
            return static_cast<int>(i);
    return -1;
}

const Sheet* Art::sheet(const std::string& file) const
{
    for (const Sheet& s : all_sheets)
        if (s.file == file)
            return &s;
    return nullptr;
}

void Art::load(const std::filesystem::path& path)
{
    const auto canonical = std::filesystem::weakly_canonical(path);
    if (std::find(loading.begin(), loading.end(), canonical) != loading.end())
        throw std::runtime_error(path.string() + ": included from itself");
    loading.push_back(canonical);
    Source src(path);
    parse(src);
    loading.pop_back();
}

void Art::parse(Source& src)
{
    while (src.next()) {
        const auto w = src.words();
        if (w[0] == "include" && w.size() == 2)
            load(src.path().parent_path() / w[1]);
        else if (w[0] == "colour")
            parse_colour(src, w);
        else if (w[0] == "grid")
            parse_grid(src, w);
        else if (w[0] == "sheet")
            parse_sheet(src, w);
        else
            src.fail("expected include, colour, grid or sheet");
    }
}

void Art::parse_colour(Source& src, const std::vector<std::string>& w)
{
    if (w.size() != 3 || w[1].size() != 1 || (w[2].size() != 6 && w[2].size() != 8))
        src.fail("expected: colour <char> <rrggbb[aa]>");
    const char c = w[1][0];
    if (c == '.' || c == ';')
        src.fail("'.' is transparent and ';' starts comments; neither can be a colour");
    Rgba v;
    v.r = static_cast<std::uint8_t>(hex_byte(src, w[2], 0));
    v.g = static_cast<std::uint8_t>(hex_byte(src, w[2], 2));
    v.b = static_cast<std::uint8_t>(hex_byte(src, w[2], 4));
    v.a = static_cast<std::uint8_t>(w[2].size() == 8 ? hex_byte(src, w[2], 6) : 255);
    palette[c] = v;
}

void Art::check_row(const Source& src, const std::string& row) const
{
    for (char c : row)
        if (c != '.' && !palette.count(c))
            src.fail(std::string("no colour '") + c + "'");
}

void Art::parse_grid(Source& src, const std::vector<std::string>& w)
{
    if (w.size() != 2)
        src.fail("expected: grid <name>");
    if (grids.count(w[1]))
        src.fail("grid \"" + w[1] + "\" defined twice");
    Grid g;
    while (src.next() && src.line() != "end") {
        const std::string& row = src.line();
        if (row.find(' ') != std::string::npos)
            src.fail("a grid holds only rows of colours, up to \"end\"");
        if (g.h > 0 && static_cast<int>(row.size()) != g.w)
            src.fail("every row of a grid must be " + std::to_string(g.w) + " wide");
        check_row(src, row);
        g.w = static_cast<int>(row.size());
        g.cells += row;
        ++g.h;
    }
    if (src.line() != "end")
        src.fail("grid \"" + w[1] + "\" has no end");
    if (g.h == 0)
        src.fail("grid \"" + w[1] + "\" is empty");
    grids.emplace(w[1], std::move(g));
}

void Art::draw_op(Source& src, Grid& canvas, int& row, const std::vector<std::string>& w) const
{
    if (w.size() == 1) {
        // A row of colours, drawn under the previous row; '.' leaves what is there.
        check_row(src, w[0]);
        for (int x = 0; x < static_cast<int>(w[0].size()); ++x)
            if (w[0][x] != '.')
                plot(src, canvas, x, row, w[0][x]);
        ++row;
    } else if (w[0] == "put" && (w.size() >= 4 && w.size() <= 6)) {
        const auto it = grids.find(w[1]);
        if (it == grids.end())
            src.fail("no grid \"" + w[1] + "\"");
        const Grid& g = it->second;
        const int x0 = parse_int(src, w[2]), y0 = parse_int(src, w[3]);
        bool flip = false, vflip = false;
        for (std::size_t i = 4; i < w.size(); ++i) {
            if (w[i] == "flip")
                flip = true;
            else if (w[i] == "vflip")
                vflip = true;
            else
                src.fail("expected flip or vflip, got \"" + w[i] + "\"");
        }
        for (int y = 0; y < g.h; ++y)
            for (int x = 0; x < g.w; ++x) {
                const char c = g.get(flip ? g.w - 1 - x : x, vflip ? g.h - 1 - y : y);
                if (c != '.')
                    plot(src, canvas, x0 + x, y0 + y, c);
            }
    } else if (w[0] == "cut" && w.size() == 4) {
        // One cell-sized piece of a bigger picture, for things several tiles large.
        const auto it = grids.find(w[1]);
        if (it == grids.end())
            src.fail("no grid \"" + w[1] + "\"");
        const Grid& g = it->second;
        const int x0 = parse_int(src, w[2]), y0 = parse_int(src, w[3]);
        if (x0 < 0 || y0 < 0 || x0 + canvas.w > g.w || y0 + canvas.h > g.h)
            src.fail("the piece at (" + w[2] + ", " + w[3] + ") reaches outside grid \"" + w[1] + "\"");
        for (int y = 0; y < canvas.h; ++y)
            for (int x = 0; x < canvas.w; ++x)
                if (g.get(x0 + x, y0 + y) != '.')
                    plot(src, canvas, x, y, g.get(x0 + x, y0 + y));
    } else if (w[0] == "line" && w.size() == 6 && w[1].size() == 1) {
        check_row(src, w[1]);
        int x0 = parse_int(src, w[2]), y0 = parse_int(src, w[3]);
        const int x1 = parse_int(src, w[4]), y1 = parse_int(src, w[5]);
        // Bresenham, both ends included.
        const int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
        const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
        for (int err = dx + dy;;) {
            plot(src, canvas, x0, y0, w[1][0]);
            if (x0 == x1 && y0 == y1)
                break;
            const int e2 = 2 * err;
            if (e2 >= dy) {
                err += dy;
                x0 += sx;
            }
            if (e2 <= dx) {
                err += dx;
                y0 += sy;
            }
        }
    } else if (w[0] == "rect" && w.size() == 6 && w[1].size() == 1) {
        check_row(src, w[1]);
        const int x0 = parse_int(src, w[2]), y0 = parse_int(src, w[3]);
        const int rw = parse_int(src, w[4]), rh = parse_int(src, w[5]);
        for (int y = y0; y < y0 + rh; ++y)
            for (int x = x0; x < x0 + rw; ++x)
                plot(src, canvas, x, y, w[1][0]);
    } else {
        src.fail("expected a row of colours, put, cut, line, rect, frame or end");
    }
}

void Art::parse_sheet(Source& src, const std::vector<std::string>& w)
{
    if (w.size() != 4)
        src.fail("expected: sheet <file> <cols>x<rows> <width>x<height>");
    if (sheet(w[1]))
        src.fail("sheet \"" + w[1] + "\" defined twice");
    Sheet s;
    s.file = w[1];
    std::tie(s.cols, s.rows) = parse_size(src, w[2]);
    std::tie(s.cw, s.ch) = parse_size(src, w[3]);
    s.image = Image(s.cols * s.cw, s.rows * s.ch);
    const int count = s.cols * s.rows;

    Grid canvas;
    int row = 0;
    auto flush = [&] {
        const int n = static_cast<int>(s.frames.size()) - 1;
        const int ox = (n % s.cols) * s.cw, oy = (n / s.cols) * s.ch;
        for (int y = 0; y < s.ch; ++y)
            for (int x = 0; x < s.cw; ++x) {
                const char c = canvas.get(x, y);
                s.image.at(ox + x, oy + y) = c == '.' ? Rgba{} : palette.at(c);
            }
    };
    bool open = false;
    while (src.next() && src.line() != "end") {
        const auto ws = src.words();
        if (ws[0] == "frame") {
            if (open)
                flush();
            if (static_cast<int>(s.frames.size()) == count)
                src.fail("sheet \"" + s.file + "\" holds only " + std::to_string(count) + " frames");
            Frame_info info;
            for (std::size_t i = 1; i < ws.size(); ++i) {
                if (ws[i] == "solid")
                    info.solid = true;
                else if (info.name.empty())
                    info.name = ws[i];
                else
                    src.fail("expected: frame [name] [solid]");
            }
            if (!info.name.empty() && s.find(info.name) >= 0)
                src.fail("frame \"" + info.name + "\" named twice");
            s.frames.push_back(info);
            canvas = Grid{s.cw, s.ch, std::string(static_cast<std::size_t>(s.cw) * s.ch, '.')};
            row = 0;
            open = true;
        } else if (!open) {
            src.fail("expected frame");
        } else {
            draw_op(src, canvas, row, ws);
        }
    }
    if (src.line() != "end")
        src.fail("sheet \"" + s.file + "\" has no end");
    if (open)
        flush();
    if (static_cast<int>(s.frames.size()) != count)
        src.fail("sheet \"" + s.file + "\" needs " + std::to_string(count) + " frames, has " +
                 std::to_string(s.frames.size()));
    all_sheets.push_back(std::move(s));
}

}  // namespace tools
