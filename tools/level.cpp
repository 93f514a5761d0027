#include "level.h"

#include "art.h"
#include "source.h"

#include <cmath>
#include <cstdint>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace tools {

namespace {

struct Weighted {
    int tile;
    int weight;
};

// What a character of a block stands for: tiles (one picked per cell by a hash
// of its place, by weight), and the tiles for a top or a bottom open to the air
// and for a cell under something solid.
struct Legend {
    std::vector<Weighted> tiles;
    std::optional<int> top, bottom, shade;  // open above, open below, solid above
};

struct Mob_mark {
    std::string type, name;
    double w = 0, h = 0;  // pixels
    std::string anchor = "bottom";
    char on = '.';
};

// A picture several tiles large, drawn from the cell that holds its character;
// the cell itself counts as the character it lies on.
struct Stamp {
    int w = 0, h = 0;
    std::vector<int> tiles;  // row by row
    char on = '.';
};

struct Run {
    std::string type;
    double inset = 0;
};

struct Object {
    std::string type, name;
    double x, y, w, h;  // pixels
};

std::string json_string(const std::string& s)
{
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\')
            out += '\\';
        if (static_cast<unsigned char>(c) < 0x20)
            throw std::runtime_error("control character in a map string");
        out += c;
    }
    return out + "\"";
}

std::string json_number(double v)
{
    std::ostringstream s;
    s.precision(10);
    s << v;
    return s.str();
}

class Layout {
public:
    explicit Layout(const std::filesystem::path& path);
    void write(const std::filesystem::path& out) const;

private:
    void parse(Source& src);
    int tile(const Source& src, const std::string& name) const;
    void claim(const Source& src, char c) const;
    void parse_legend(const Source& src, const std::vector<std::string>& w);
    void parse_mob(const Source& src, const std::vector<std::string>& w);
    void parse_block(Source& src, const std::vector<std::string>& w);
    char at(int x, int y) const { return chars[static_cast<std::size_t>(y) * width + x]; }
    void resolve();
    int pick(const Legend& l, int x, int y) const;
    bool solid(int tile) const { return tile >= 0 && sheet->frames[static_cast<std::size_t>(tile)].solid; }

    Art art;
    const Sheet* sheet = nullptr;
    std::string title, music, image;
    int width = 0, height = 0;
    char fill = 0;
    std::map<char, Legend> legend;
    std::map<char, Mob_mark> mobs;
    std::map<char, Stamp> stamps;
    std::map<char, Run> runs;
    std::vector<char> chars;            // the layout, fill where no block wrote
    std::vector<int> tiles;             // tile per cell, -1 for none
    std::vector<Object> rooms, places;  // in map order
};

Layout::Layout(const std::filesystem::path& path)
{
    Source src(path);
    parse(src);
    resolve();
}

int Layout::tile(const Source& src, const std::string& name) const
{
    if (!sheet)
        src.fail("the tileset comes first");
    if (name == "none")
        return -1;
    const int i = sheet->find(name);
    if (i < 0)
        src.fail("no tile \"" + name + "\" in " + sheet->file);
    return i;
}

// Each character means one thing: a legend entry, a mob or a stamp.
void Layout::claim(const Source& src, char c) const
{
    if (legend.count(c) || mobs.count(c) || stamps.count(c))
        src.fail(std::string("'") + c + "' has a meaning already");
}

void Layout::parse_legend(const Source& src, const std::vector<std::string>& w)
{
    if (w.size() < 3 || w[1].size() != 1)
        src.fail("expected: legend <char> <tile>[*weight]... [top=<tile>] [bottom=<tile>] [shade=<tile>]");
    Legend l;
    for (std::size_t i = 2; i < w.size(); ++i) {
        if (w[i].rfind("top=", 0) == 0) {
            l.top = tile(src, w[i].substr(4));
        } else if (w[i].rfind("bottom=", 0) == 0) {
            l.bottom = tile(src, w[i].substr(7));
        } else if (w[i].rfind("shade=", 0) == 0) {
            l.shade = tile(src, w[i].substr(6));
        } else {
            const auto star = w[i].find('*');
            const int weight = star == std::string::npos ? 1 : parse_int(src, w[i].substr(star + 1));
            if (weight < 1)
                src.fail("weights must be at least 1");
            l.tiles.push_back({tile(src, w[i].substr(0, star)), weight});
        }
    }
    if (l.tiles.empty())
        src.fail("a legend needs a tile");
    claim(src, w[1][0]);
    legend.emplace(w[1][0], l);
}

void Layout::parse_mob(const Source& src, const std::vector<std::string>& w)
{
    if (w.size() < 4 || w[1].size() != 1)
        src.fail("expected: mob <char> <type> <w>x<h> [on=<char>] [anchor=bottom|top|center] [name=<name>]");
    Mob_mark m;
    m.type = w[2];
    const auto [mw, mh] = parse_size(src, w[3]);
    m.w = mw;
    m.h = mh;
    Options o(src, w, 4);
    const std::string on = o.text("on", ".");
    m.anchor = o.text("anchor", "bottom");
    m.name = o.text("name", "");
    o.finish();
    if (on.size() != 1 || (m.anchor != "bottom" && m.anchor != "top" && m.anchor != "center"))
        src.fail("on= takes one character, anchor= bottom, top or center");
    m.on = on[0];
    claim(src, w[1][0]);
    mobs.emplace(w[1][0], m);
}

void Layout::parse_block(Source& src, const std::vector<std::string>& w)
{
    if (w.size() != 3 || width == 0)
        src.fail("expected: block <x> <y>, after size");
    const int x0 = parse_int(src, w[1]), y0 = parse_int(src, w[2]);
    int y = y0;
    while (src.next() && src.line() != "end") {
        const std::string& row = src.line();
        if (row.find(' ') != std::string::npos)
            src.fail("a block holds only rows of map characters, up to \"end\"");
        if (x0 < 0 || y < 0 || x0 + static_cast<int>(row.size()) > width || y >= height)
            src.fail("the block reaches outside the map");
        for (std::size_t i = 0; i < row.size(); ++i)
            chars[static_cast<std::size_t>(y) * width + x0 + i] = row[i];
        ++y;
    }
    if (src.line() != "end")
        src.fail("block has no end");
}

void Layout::parse(Source& src)
{
    while (src.next()) {
        const auto w = src.words();
        const std::string& k = w[0];
        if (k == "title" && w.size() >= 2) {
            title = src.line().substr(src.line().find_first_not_of(' ', 5));
        } else if (k == "music" && w.size() == 2) {
            music = w[1];
        } else if (k == "tileset" && w.size() == 4) {
            art.load(src.path().parent_path() / w[1]);
            sheet = art.sheet(w[2]);
            if (!sheet)
                src.fail("no sheet \"" + w[2] + "\" in " + w[1]);
            image = w[3];
        } else if (k == "size" && w.size() == 3) {
            width = parse_int(src, w[1]);
            height = parse_int(src, w[2]);
            if (width < 1 || height < 1)
                src.fail("the map needs a size");
            chars.assign(static_cast<std::size_t>(width) * height, 0);
        } else if (k == "fill" && w.size() == 2 && w[1].size() == 1) {
            fill = w[1][0];
        } else if (k == "legend") {
            parse_legend(src, w);
        } else if (k == "mob") {
            parse_mob(src, w);
        } else if (k == "stamp" && w.size() >= 4 && w[1].size() == 1) {
            Stamp s;
            std::tie(s.w, s.h) = parse_size(src, w[2]);
            for (std::size_t i = 3; i < w.size(); ++i) {
                if (w[i].rfind("on=", 0) == 0 && w[i].size() == 4)
                    s.on = w[i][3];
                else
                    s.tiles.push_back(tile(src, w[i]));
            }
            if (static_cast<int>(s.tiles.size()) != s.w * s.h)
                src.fail("a stamp of " + w[2] + " needs " + std::to_string(s.w * s.h) + " tiles");
            claim(src, w[1][0]);
            stamps.emplace(w[1][0], s);
        } else if (k == "run" && w.size() >= 3 && w[1].size() == 1) {
            Options o(src, w, 3);
            runs[w[1][0]] = Run{w[2], o.number("inset", 0)};
            o.finish();
        } else if (k == "block") {
            parse_block(src, w);
        } else if ((k == "room" && w.size() == 5) || (k == "place" && w.size() == 7)) {
            const std::size_t b = k == "room" ? 1 : 3;
            Object o{k == "room" ? "room" : w[1], k == "room" ? "" : w[2],
                     parse_number(src, w[b]) * 8, parse_number(src, w[b + 1]) * 8,
                     parse_number(src, w[b + 2]) * 8, parse_number(src, w[b + 3]) * 8};
            if (o.w <= 0 || o.h <= 0 || o.x < 0 || o.y < 0 || o.x + o.w > width * 8.0 || o.y + o.h > height * 8.0)
                src.fail("the box must have a size and lie inside the map");
            (k == "room" ? rooms : places).push_back(o);
        } else {
            src.fail("expected title, music, tileset, size, fill, legend, mob, stamp, run, block, room or place");
        }
    }
    if (!sheet || width == 0 || !fill || title.empty())
        throw std::runtime_error(src.path().string() + ": the layout needs title, tileset, size and fill");
}

int Layout::pick(const Legend& l, int x, int y) const
{
    int total = 0;
    for (const Weighted& t : l.tiles)
        total += t.weight;
    // A fixed mix of the position, so the same layout always gives the same map.
    std::uint32_t h = static_cast<std::uint32_t>(x) * 73856093u ^ static_cast<std::uint32_t>(y) * 19349663u;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    int r = static_cast<int>(h % static_cast<std::uint32_t>(total));
    for (const Weighted& t : l.tiles) {
        if (r < t.weight)
            return t.tile;
        r -= t.weight;
    }
    return l.tiles.back().tile;
}

void Layout::resolve()
{
    for (char& c : chars)
        if (!c)
            c = fill;
    tiles.assign(chars.size(), -1);
    std::vector<const Legend*> legends(chars.size(), nullptr);

    auto fail_at = [](int x, int y, const std::string& what) {
        throw std::runtime_error("map cell (" + std::to_string(x) + ", " + std::to_string(y) + "): " + what);
    };
    auto legend_of = [&](char c, int x, int y) -> const Legend& {
        const auto it = legend.find(c);
        if (it == legend.end())
            fail_at(x, y, std::string("'") + c + "' means nothing");
        return it->second;
    };

    // Places from marks, row by row, in the order the map is read.
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            char c = at(x, y);
            if (const auto m = mobs.find(c); m != mobs.end()) {
                const Mob_mark& mark = m->second;
                const double cx = x * 8 + 4.0;
                const double top = mark.anchor == "bottom" ? (y + 1) * 8 - mark.h
                                 : mark.anchor == "top"    ? y * 8.0
                                                           : y * 8 + 4 - mark.h / 2;
                places.push_back({mark.type, mark.name, cx - mark.w / 2, top, mark.w, mark.h});
                c = mark.on;
            } else if (const auto st = stamps.find(c); st != stamps.end()) {
                c = st->second.on;
            }
            const std::size_t i = static_cast<std::size_t>(y) * width + x;
            legends[i] = &legend_of(c, x, y);
            tiles[i] = pick(*legends[i], x, y);
        }
    // Edges open to the air, read from the tiles before any edge changed them.
    const std::vector<int> plain = tiles;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * width + x;
            const bool open_up = y > 0 && !solid(plain[i - width]);
            const bool open_down = y + 1 < height && !solid(plain[i + width]);
            if (legends[i]->top && open_up)
                tiles[i] = *legends[i]->top;
            else if (legends[i]->bottom && open_down)
                tiles[i] = *legends[i]->bottom;
            else if (legends[i]->shade && y > 0 && !open_up)
                tiles[i] = *legends[i]->shade;
        }
    // Stamps draw over whatever lies under them.
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if (const auto s = stamps.find(at(x, y)); s != stamps.end()) {
                const Stamp& st = s->second;
                if (x + st.w > width || y + st.h > height)
                    fail_at(x, y, "the stamp reaches outside the map");
                for (int j = 0; j < st.h; ++j)
                    for (int i = 0; i < st.w; ++i)
                        tiles[static_cast<std::size_t>(y + j) * width + x + i] = st.tiles[static_cast<std::size_t>(j * st.w + i)];
            }
    // Runs of a character along a row become one place each.
    for (const auto& [c, run] : runs)
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width;) {
                if (at(x, y) != c) {
                    ++x;
                    continue;
                }
                int end = x;
                while (end < width && at(end, y) == c)
                    ++end;
                places.push_back({run.type, "", x * 8.0, y * 8 + run.inset, (end - x) * 8.0, 8 - run.inset});
                x = end;
            }
}

void Layout::write(const std::filesystem::path& out) const
{
    std::ostringstream j;
    int next_id = 1;
    auto objects = [&](const std::vector<Object>& list) {
        for (std::size_t i = 0; i < list.size(); ++i) {
            const Object& o = list[i];
            j << "        {\"height\": " << json_number(o.h) << ", \"id\": " << next_id++
              << ", \"name\": " << json_string(o.name) << ", \"rotation\": 0, \"type\": " << json_string(o.type)
              << ", \"visible\": true, \"width\": " << json_number(o.w) << ", \"x\": " << json_number(o.x)
              << ", \"y\": " << json_number(o.y) << "}" << (i + 1 < list.size() ? ",\n" : "\n");
        }
    };
    auto group = [&](int id, const char* name, const std::vector<Object>& list, bool last) {
        j << "    {\n      \"draworder\": \"topdown\",\n      \"id\": " << id << ",\n      \"name\": \"" << name
          << "\",\n      \"objects\": [\n";
        objects(list);
        j << "      ],\n      \"opacity\": 1,\n      \"type\": \"objectgroup\",\n      \"visible\": true,\n"
             "      \"x\": 0,\n      \"y\": 0\n    }" << (last ? "\n" : ",\n");
    };

    j << "{\n  \"compressionlevel\": -1,\n  \"height\": " << height << ",\n  \"infinite\": false,\n"
         "  \"layers\": [\n    {\n      \"data\": [\n";
    for (int y = 0; y < height; ++y) {
        j << "        ";
        for (int x = 0; x < width; ++x) {
            j << tiles[static_cast<std::size_t>(y) * width + x] + 1;
            if (x + 1 < width || y + 1 < height)
                j << ",";
        }
        j << "\n";
    }
    j << "      ],\n      \"height\": " << height << ",\n      \"id\": 1,\n      \"name\": \"tiles\",\n"
         "      \"opacity\": 1,\n      \"type\": \"tilelayer\",\n      \"visible\": true,\n      \"width\": "
      << width << ",\n      \"x\": 0,\n      \"y\": 0\n    },\n";
    group(2, "rooms", rooms, false);
    group(3, "places", places, true);
    j << "  ],\n  \"nextlayerid\": 4,\n  \"nextobjectid\": " << next_id << ",\n"
         "  \"orientation\": \"orthogonal\",\n  \"properties\": [\n"
         "    {\"name\": \"music\", \"type\": \"file\", \"value\": " << json_string(music) << "},\n"
         "    {\"name\": \"title\", \"type\": \"string\", \"value\": " << json_string(title) << "}\n"
         "  ],\n  \"renderorder\": \"right-down\",\n  \"tiledversion\": \"1.10.2\",\n"
         "  \"tileheight\": " << sheet->ch << ",\n  \"tilesets\": [\n    {\n"
         "      \"columns\": " << sheet->cols << ",\n      \"firstgid\": 1,\n      \"image\": " << json_string(image)
      << ",\n      \"imageheight\": " << sheet->rows * sheet->ch << ",\n      \"imagewidth\": " << sheet->cols * sheet->cw
      << ",\n      \"margin\": 0,\n      \"name\": \"tiles\",\n      \"spacing\": 0,\n      \"tilecount\": "
      << sheet->frames.size() << ",\n      \"tileheight\": " << sheet->ch << ",\n      \"tiles\": [\n";
    bool first = true;
    for (std::size_t i = 0; i < sheet->frames.size(); ++i)
        if (sheet->frames[i].solid) {
            j << (first ? "" : ",\n") << "        {\"id\": " << i << ", \"type\": \"solid\"}";
            first = false;
        }
    j << "\n      ],\n      \"tilewidth\": " << sheet->cw << "\n    }\n  ],\n  \"tilewidth\": " << sheet->cw
      << ",\n  \"type\": \"map\",\n  \"version\": \"1.10\",\n  \"width\": " << width << "\n}\n";

    std::ofstream f(out, std::ios::binary);
    f << j.str();
    if (!f)
        throw std::runtime_error("can't write \"" + out.string() + "\"");
}

}  // namespace

void build_level(const std::filesystem::path& layout, const std::filesystem::path& out)
{
    Layout(layout).write(out);
}

}  // namespace tools
