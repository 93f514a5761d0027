// Every image format the platform opens reaches the game through its one door,
// the file's bytes read into memory and typed by its extension, as it would from
// the file's path: a map's tileset image and a sprite sheet load exactly when the
// platform's own loader opens the same file by name, to the same pixels, and a
// file it refuses is refused with its reason.
#include "game/scene.h"
#include "support/atlas.h"
#include "support/rwops.h"

#include "common/file_bytes.h"
#include "common/game_files.h"
#include "common/gl_window.h"
#include "common/log_record.h"
#include "common/scene_map.h"

#include <SDL.h>
#include <SDL_image.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

using test::put_be;
using test::put_le;

// Every file holds one picture: 16 x 8 pixels, two tiles of 8 x 8, in 16 opaque
// colours. tests/fixtures/make draws the same one.
constexpr int _w = 16, _h = 8, _colours = 16;

struct Rgb {
    std::uint8_t r, g, b;
};

Rgb colour(int i) {
    return {static_cast<std::uint8_t>(17 * i), static_cast<std::uint8_t>(255 - 17 * i),
            static_cast<std::uint8_t>(i * 5 % 16 * 17)};
}

int index_at(int x, int y) { return (x + 3 * y) % _colours; }

Rgb rgb_at(int x, int y) { return colour(index_at(x, y)); }

// Red, green and blue bytes.
std::string bytes_of(const Rgb& c) {
    return {static_cast<char>(c.r), static_cast<char>(c.g), static_cast<char>(c.b)};
}

test::Surface picture() {
    return test::make_image(_w, _h, [](int x, int y) {
        const Rgb c = rgb_at(x, y);
        return test::rgba(c.r, c.g, c.b, 255);
    });
}

// The picture as one of the platform's own encoders writes it.
std::string saved(const std::function<int(SDL_Surface*, SDL_RWops*)>& save) {
    test::Surface image = picture();
    std::string out;
    SDL_RWops* rw = kesp::rw_to_string(out);
    if (!image || !rw || save(image.get(), rw) != 0) throw std::runtime_error(SDL_GetError());
    return out;
}

std::string png() {
    return saved([](SDL_Surface* s, SDL_RWops* rw) { return IMG_SavePNG_RW(s, rw, 1); });
}

std::string bmp() {
    return saved([](SDL_Surface* s, SDL_RWops* rw) { return SDL_SaveBMP_RW(s, rw, 1); });
}

std::string jpg() {
    return saved([](SDL_Surface* s, SDL_RWops* rw) { return IMG_SaveJPG_RW(s, rw, 1, 90); });
}

// Uncompressed true colour with alpha, top row first.
std::string tga() {
    std::string s("\0\0\x02", 3);  // no id, no colour map, true colour
    s.append(9, '\0');             // colour map fields and origin
    put_le(s, _w, 2);
    put_le(s, _h, 2);
    s += "\x20\x28";  // 32 bits a pixel; the top row first, 8 bits of alpha
    for (int y = 0; y < _h; ++y)
        for (int x = 0; x < _w; ++x) {
            const Rgb c = rgb_at(x, y);
            s += {static_cast<char>(c.b), static_cast<char>(c.g), static_cast<char>(c.r), '\xff'};
        }
    return s;
}

// The pixels' colour numbers as GIF's LZW data of literal codes alone, each a
// bit wider than code_size, packed least significant bit first.
std::string lzw_literals(int code_size) {
    const int clear = 1 << code_size, width = code_size + 1;
    std::string out;
    std::uint32_t bits = 0;
    int held = 0;
    auto put = [&](int code) {
        bits |= static_cast<std::uint32_t>(code) << held;
        for (held += width; held >= 8; held -= 8, bits >>= 8) out.push_back(static_cast<char>(bits & 0xff));
    };
    // Each literal after a clear code adds an entry to the decoder's table; a
    // clear before the table outgrows the width keeps every code that wide.
    const int per_clear = (1 << width) - clear - 2;
    put(clear);
    int since_clear = 0;
    for (int y = 0; y < _h; ++y)
        for (int x = 0; x < _w; ++x) {
            if (since_clear == per_clear) {
                put(clear);
                since_clear = 0;
            }
            put(index_at(x, y));
            ++since_clear;
        }
    put(clear + 1);  // end of information
    if (held > 0) out.push_back(static_cast<char>(bits & 0xff));
    return out;
}

std::string gif() {
    std::string s = "GIF89a";
    put_le(s, _w, 2);
    put_le(s, _h, 2);
    s += "\xf3";  // a global table of 16 colours of 8 bits
    s.append(2, '\0');
    for (int i = 0; i < _colours; ++i) s += bytes_of(colour(i));
    s += ',';
    put_le(s, 0, 4);
    put_le(s, _w, 2);
    put_le(s, _h, 2);
    s += '\0';
    s += '\x04';  // 4-bit codes, 5 bits wide
    const std::string data = lzw_literals(4);
    for (std::size_t at = 0; at < data.size(); at += 255) {
        const std::string block = data.substr(at, 255);
        s += static_cast<char>(block.size());
        s += block;
    }
    s += '\0';
    s += ';';
    return s;
}

std::string rgb_rows() {
    std::string s;
    for (int y = 0; y < _h; ++y)
        for (int x = 0; x < _w; ++x) s += bytes_of(rgb_at(x, y));
    return s;
}

// Baseline uncompressed RGB in one strip.
std::string tif() {
    struct Entry {
        int tag, type;
        std::uint32_t count, value;
    };
    constexpr int short_ = 3, long_ = 4, rational = 5;
    constexpr std::uint32_t entries = 13, after_ifd = 8 + 2 + entries * 12 + 4;
    constexpr std::uint32_t bits = after_ifd, xres = bits + 6, yres = xres + 8, data = yres + 8;
    const Entry ifd[entries] = {
        {256, short_, 1, _w},          // width
        {257, short_, 1, _h},          // height
        {258, short_, 3, bits},        // bits a sample
        {259, short_, 1, 1},           // no compression
        {262, short_, 1, 2},           // RGB
        {273, long_, 1, data},         // where the strip starts
        {277, short_, 1, 3},           // samples a pixel
        {278, short_, 1, _h},          // rows a strip
        {279, long_, 1, _w * _h * 3},  // bytes in the strip
        {282, rational, 1, xres},      // pixels an inch
        {283, rational, 1, yres},
        {284, short_, 1, 1},  // samples side by side
        {296, short_, 1, 2},  // resolution in inches
    };
    std::string s = "II";
    put_le(s, 42, 2);
    put_le(s, 8, 4);
    put_le(s, entries, 2);
    for (const Entry& e : ifd) {
        put_le(s, static_cast<std::uint64_t>(e.tag), 2);
        put_le(s, static_cast<std::uint64_t>(e.type), 2);
        put_le(s, e.count, 4);
        put_le(s, e.value, 4);
    }
    put_le(s, 0, 4);  // no other image
    for (int i = 0; i < 3; ++i) put_le(s, 8, 2);
    for (int i = 0; i < 2; ++i) {
        put_le(s, 72, 4);
        put_le(s, 1, 4);
    }
    return s + rgb_rows();
}

std::string webp() { return test::fixture("picture.webp"); }

std::string ppm() { return "P6\n" + std::to_string(_w) + " " + std::to_string(_h) + "\n255\n" + rgb_rows(); }

std::string xpm() {
    char line[32];
    std::string s = "/* XPM */\nstatic char *picture[] = {\n\"" + std::to_string(_w) + " " + std::to_string(_h) + " " +
                    std::to_string(_colours) + " 1\",\n";
    for (int i = 0; i < _colours; ++i) {
        SDL_snprintf(line, sizeof line, "\"%c c #%02X%02X%02X\",\n", 'a' + i, colour(i).r, colour(i).g, colour(i).b);
        s += line;
    }
    for (int y = 0; y < _h; ++y) {
        s += '"';
        for (int x = 0; x < _w; ++x) s += static_cast<char>('a' + index_at(x, y));
        s += y + 1 < _h ? "\",\n" : "\"\n";
    }
    return s + "};\n";
}

// 24 bits in three planes a row, run-length encoded byte by byte.
std::string pcx() {
    std::string s("\x0a\x05\x01\x08", 4);  // ZSoft, version 5, run lengths, 8 bits a plane
    put_le(s, 0, 4);
    put_le(s, _w - 1, 2);
    put_le(s, _h - 1, 2);
    put_le(s, 72, 2);
    put_le(s, 72, 2);
    s.append(48 + 1, '\0');  // the EGA palette, reserved
    s += '\x03';
    put_le(s, _w, 2);  // bytes a plane's row
    put_le(s, 1, 2);
    s.append(128 - s.size(), '\0');
    for (int y = 0; y < _h; ++y)
        for (int plane = 0; plane < 3; ++plane)
            for (int x = 0; x < _w; ++x) {
                const Rgb c = rgb_at(x, y);
                const std::uint8_t v = plane == 0 ? c.r : plane == 1 ? c.g : c.b;
                if (v >= 0xc0) s += '\xc1';  // a run of one, as a byte that high would read as a count
                s += static_cast<char>(v);
            }
    return s;
}

std::string qoi() {
    std::string s = "qoif";
    put_be(s, _w, 4);
    put_be(s, _h, 4);
    s += "\x04";  // RGBA
    s += '\0';    // sRGB
    for (int y = 0; y < _h; ++y)
        for (int x = 0; x < _w; ++x) {
            const Rgb c = rgb_at(x, y);
            s += {'\xff', static_cast<char>(c.r), static_cast<char>(c.g), static_cast<char>(c.b), '\xff'};
        }
    s.append(7, '\0');
    return s + '\x01';
}

// A Windows icon (type 1) or cursor (type 2) of one 24-bit image and its mask.
std::string icon(int type) {
    constexpr int mask_row = 4;  // 16 bits, padded to 32
    constexpr std::uint32_t pixels = 40 + _w * _h * 3 + _h * mask_row;
    std::string s;
    put_le(s, 0, 2);
    put_le(s, static_cast<std::uint64_t>(type), 2);
    put_le(s, 1, 2);
    s += {static_cast<char>(_w), static_cast<char>(_h), '\0', '\0'};
    put_le(s, type == 1 ? 1 : 0, 2);   // planes, or the hot spot's x
    put_le(s, type == 1 ? 24 : 0, 2);  // bits, or the hot spot's y
    put_le(s, pixels, 4);
    put_le(s, 22, 4);
    put_le(s, 40, 4);
    put_le(s, _w, 4);
    put_le(s, 2 * _h, 4);  // the image and its mask
    put_le(s, 1, 2);
    put_le(s, 24, 2);
    put_le(s, 0, 4);
    put_le(s, _w * _h * 3, 4);
    s.append(16, '\0');
    for (int y = _h - 1; y >= 0; --y)
        for (int x = 0; x < _w; ++x) {
            const Rgb c = rgb_at(x, y);
            s += {static_cast<char>(c.b), static_cast<char>(c.g), static_cast<char>(c.r)};
        }
    s.append(_h * mask_row, '\0');  // nothing masked
    return s;
}

std::string ico() { return icon(1); }
std::string cur() { return icon(2); }

std::string svg() {
    char rect[96];
    std::string s = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(_w) + "\" height=\"" +
                    std::to_string(_h) + "\">\n";
    for (int y = 0; y < _h; ++y)
        for (int x = 0; x < _w; ++x) {
            const Rgb c = rgb_at(x, y);
            SDL_snprintf(rect, sizeof rect,
                         "<rect x=\"%d\" y=\"%d\" width=\"1\" height=\"1\" fill=\"#%02x%02x%02x\"/>\n", x, y, c.r,
                         c.g, c.b);
            s += rect;
        }
    return s + "</svg>\n";
}

// An XV thumbnail: 3 bits of red and green and 2 of blue a pixel.
std::string xv() {
    std::string s = "P7 332\n#XVVERSION:Version 3.10a\n#END_OF_COMMENTS\n" + std::to_string(_w) + " " +
                    std::to_string(_h) + " 255\n";
    for (int y = 0; y < _h; ++y)
        for (int x = 0; x < _w; ++x) {
            const Rgb c = rgb_at(x, y);
            s += static_cast<char>((c.r & 0xe0) | (c.g & 0xe0) >> 3 | c.b >> 6);
        }
    return s;
}

// An IFF picture of Deluxe Paint's chunky kind ("PBM "), uncompressed.
std::string lbm() {
    std::string header;
    put_be(header, _w, 2);
    put_be(header, _h, 2);
    put_be(header, 0, 4);
    header += {'\x08', '\0', '\0', '\0'};  // 8 planes, no mask, no compression
    put_be(header, 0, 2);
    header += {'\x01', '\x01'};
    put_be(header, _w, 2);
    put_be(header, _h, 2);
    std::string map;
    for (int i = 0; i < _colours; ++i) map += bytes_of(colour(i));
    std::string body;
    for (int y = 0; y < _h; ++y)
        for (int x = 0; x < _w; ++x) body += static_cast<char>(index_at(x, y));
    std::string chunks = "PBM ";
    for (auto [id, data] : {std::pair{"BMHD", &header}, std::pair{"CMAP", &map}, std::pair{"BODY", &body}}) {
        chunks += id;
        put_be(chunks, data->size(), 4);
        chunks += *data;
    }
    std::string s = "FORM";
    put_be(s, chunks.size(), 4);
    return s + chunks;
}

// A GIMP image of one uncompressed RGB layer, laid out as GIMP writes it: the
// layer, its hierarchy and first level, the level's one tile, then the smaller
// levels GIMP adds and no reader uses. SDL_image reads a last tile as if it
// could take six bytes a pixel, past the end of the file.
std::string xcf() {
    auto property = [](std::string& s, int id, std::initializer_list<std::uint32_t> words) {
        put_be(s, static_cast<std::uint64_t>(id), 4);
        put_be(s, words.size() * 4, 4);
        for (std::uint32_t w : words) put_be(s, w, 4);
    };
    std::string s("gimp xcf file\0", 14);
    put_be(s, _w, 4);
    put_be(s, _h, 4);
    put_be(s, 0, 4);   // RGB
    put_be(s, 17, 4);  // the compression, in one byte: none
    put_be(s, 1, 4);
    s += '\0';
    property(s, 0, {});
    const std::size_t layer_offset = s.size();
    s.append(4 + 4 + 4, '\0');  // the one layer's offset, the end of layers and of channels
    const std::size_t layer = s.size();
    put_be(s, _w, 4);
    put_be(s, _h, 4);
    put_be(s, 0, 4);  // RGB
    put_be(s, 8, 4);
    s.append("picture", 8);
    property(s, 8, {1});      // visible
    property(s, 15, {0, 0});  // at the top left
    property(s, 0, {});
    const std::size_t hierarchy = s.size() + 8;
    put_be(s, hierarchy, 4);
    put_be(s, 0, 4);  // no mask
    put_be(s, _w, 4);
    put_be(s, _h, 4);
    put_be(s, 3, 4);  // bytes a pixel
    const std::size_t level = s.size() + 12;
    const std::size_t tile = level + 16;
    const std::size_t smaller = tile + _w * _h * 3;
    put_be(s, level, 4);
    put_be(s, smaller, 4);
    put_be(s, 0, 4);
    put_be(s, _w, 4);
    put_be(s, _h, 4);
    put_be(s, tile, 4);
    put_be(s, 0, 4);
    s += rgb_rows();
    put_be(s, _w / 2, 4);
    put_be(s, _h / 2, 4);
    put_be(s, 0, 4);
    std::string offset;
    put_be(offset, layer, 4);
    s.replace(layer_offset, 4, offset);
    return s;
}

std::string words() { return "this is no picture, only words about one\n"; }

std::string cut_png() {
    const std::string whole = png();
    return whole.substr(0, whole.size() / 2);
}

enum class Expect {
    picture,   // opens to the picture, pixel for pixel
    likeness,  // opens at the picture's size, to colours of the format's own
    refusal,   // the platform's loader refuses it
};

struct Format {
    const char* what;
    const char* file;
    std::string (*bytes)();
    int needs;  // the IMG_Init flag of the library that reads it; 0: read by SDL_image itself
    Expect expect;
};

const Format formats[] = {
    {"PNG", "picture.png", png, IMG_INIT_PNG, Expect::picture},
    {"JPEG", "picture.jpg", jpg, IMG_INIT_JPG, Expect::likeness},
    {"TIFF", "picture.tif", tif, IMG_INIT_TIF, Expect::picture},
    {"WEBP", "picture.webp", webp, IMG_INIT_WEBP, Expect::picture},
    {"TGA", "picture.tga", tga, 0, Expect::picture},
    {"TGA named in capitals", "PICTURE.TGA", tga, 0, Expect::picture},
    {"BMP", "picture.bmp", bmp, 0, Expect::picture},
    {"GIF", "picture.gif", gif, 0, Expect::picture},
    {"PPM", "picture.ppm", ppm, 0, Expect::picture},
    {"XPM", "picture.xpm", xpm, 0, Expect::picture},
    {"PCX", "picture.pcx", pcx, 0, Expect::picture},
    {"QOI", "picture.qoi", qoi, 0, Expect::picture},
    {"ICO", "picture.ico", ico, 0, Expect::picture},
    {"CUR", "picture.cur", cur, 0, Expect::picture},
    {"SVG", "picture.svg", svg, 0, Expect::picture},
    {"XV", "picture.xv", xv, 0, Expect::likeness},
    {"LBM", "picture.lbm", lbm, 0, Expect::picture},
    {"XCF", "picture.xcf", xcf, 0, Expect::picture},
    {"words named as TGA", "words.tga", words, 0, Expect::refusal},
    {"PNG cut short", "cut.png", cut_png, IMG_INIT_PNG, Expect::refusal},
};

// The libraries that SDL_image may be built to read formats with.
struct Library {
    int flag;
    const char* name;
};
const Library libraries[] = {{IMG_INIT_JPG, "JPG"},   {IMG_INIT_PNG, "PNG"}, {IMG_INIT_TIF, "TIF"},
                             {IMG_INIT_WEBP, "WEBP"}, {IMG_INIT_JXL, "JXL"}, {IMG_INIT_AVIF, "AVIF"}};

int all_libraries() {
    int flags = 0;
    for (const Library& l : libraries) flags |= l.flag;
    return flags;
}

// A format this build reads with a library, but that no file of the table holds,
// would go untested.
TEST(Image_formats, EveryLibraryTheBuildReadsWithHasAFile) {
    const int reported = IMG_Init(all_libraries());
    for (const Library& l : libraries) {
        if (!(reported & l.flag)) continue;
        bool covered = false;
        for (const Format& f : formats) covered = covered || (f.needs == l.flag && f.expect != Expect::refusal);
        EXPECT_TRUE(covered) << "IMG_Init reports " << l.name << ", but no file of it is in the table";
    }
}

// The image as the atlas holds it: its pixels copied as they are onto
// transparent black, in the byte order of test::rgba.
test::Surface as_the_atlas_holds(SDL_Surface* image) {
    test::Surface copy(SDL_CreateRGBSurfaceWithFormat(0, image->w, image->h, 32, SDL_PIXELFORMAT_ABGR8888));
    if (!copy) throw std::runtime_error(SDL_GetError());
    SDL_SetSurfaceBlendMode(image, SDL_BLENDMODE_NONE);
    SDL_BlitSurface(image, nullptr, copy.get(), nullptr);
    return copy;
}

// The image whose two tiles, left and right, the atlas holds from tile first on.
test::Surface held(kesp::Atlas& atlas, long long first) {
    const test::Pixels texture = test::read_texture(atlas.upload());
    const float side = static_cast<float>(atlas.size());
    auto at = [&](float edge) { return static_cast<int>(edge * side); };
    const kesp::Box& left = atlas.get(static_cast<unsigned long long>(first));
    const int w = at(left.r) - at(left.l), h = at(left.d) - at(left.u);
    return test::make_image(2 * w, h, [&](int x, int y) {
        const kesp::Box& tile = atlas.get(static_cast<unsigned long long>(first + x / w));
        return texture.at(at(tile.l) + x % w, at(tile.u) + y);
    });
}

// Empty when the images are the same, or of the same size when their pixels
// don't matter; else the first thing that tells them apart.
std::string difference(const SDL_Surface* got, const SDL_Surface* want, bool pixels = true) {
    if (got->w != want->w || got->h != want->h)
        return std::to_string(got->w) + " x " + std::to_string(got->h) + " pixels, not " + std::to_string(want->w) +
               " x " + std::to_string(want->h);
    if (!pixels) return "";
    char text[96];
    for (int y = 0; y < got->h; ++y)
        for (int x = 0; x < got->w; ++x)
            if (test::pixel_at(got, x, y) != test::pixel_at(want, x, y)) {
                SDL_snprintf(text, sizeof text, "pixel (%d, %d) is %08x, not %08x", x, y, test::pixel_at(got, x, y),
                             test::pixel_at(want, x, y));
                return text;
            }
    return "";
}

// The map's tileset image is read beside the map, with the build's data for its
// player; a sheet is read from a data folder of the test's own.
class Image_files : public test::Scene_test {};

std::string tileset(const std::string& image, int w, int h) {
    return R"({"firstgid":1,"name":"t","tilecount":2,"columns":2,"imagewidth":)" + std::to_string(w) +
           R"(,"imageheight":)" + std::to_string(h) + R"(,"tilewidth":8,"tileheight":8,"image":")" + image +
           R"(","tiles":[]})";
}

TEST_F(Image_files, TilesetsAndSheetsLoadExactlyWhenThePlatformOpensTheFileByName) {
    const test::Surface drawn = picture();
    ASSERT_TRUE(drawn);
    for (const Format& f : formats) {
        SCOPED_TRACE(f.what);
        const std::string bytes = f.bytes();
        const fs::path image = tmp / f.file;
        test::write_file(image, bytes);

        test::Surface opened(IMG_Load(image.c_str()));
        const std::string reason = opened ? "" : SDL_GetError();
        EXPECT_EQ(static_cast<bool>(opened), f.expect != Expect::refusal) << reason;
        const test::Surface want = opened ? as_the_atlas_holds(opened.get()) : nullptr;
        if (opened) {
            EXPECT_EQ(difference(want.get(), drawn.get(), f.expect == Expect::picture), "") << "opened by name";
        }

        scene = std::make_unique<Scene>();
        test::Map map;
        map.tilesets = "[" + tileset(f.file, opened ? opened->w : _w, opened ? opened->h : _h) + "]";
        map.layers = "[" + test::tilelayer("[1,2,2,1]") + "," + test::objectgroup({test::_player, test::_room}) + "]";
        const std::string loaded = thrown<std::runtime_error>(map);
        if (!opened) {
            EXPECT_EQ(loaded, named("tilesets[0].image: can't use \"" + image.string() + "\": " + reason));
        } else {
            EXPECT_EQ(loaded, "loaded");
            if (loaded == "loaded") {
                EXPECT_EQ(difference(held(scene->background.tileset, 0).get(), want.get()), "") << "the tileset";
            }
        }

        test::Game_files files;
        const fs::path sheet = files.data() / "texture" / f.file;
        test::write_file(sheet, bytes);
        test::Log_record log;
        const long long first = scene->mobs.load_frames(f.file, 2, 1);
        if (!opened) {
            const std::string line = "\"" + sheet.string() + "\": " + reason;
            EXPECT_EQ(first, -1);
            EXPECT_EQ(log.problems(), std::vector<std::string>{line});
            EXPECT_EQ(log.errors(line), 1);
        } else {
            EXPECT_EQ(log.problems(), std::vector<std::string>{});
            EXPECT_GE(first, 0);
            if (first >= 0) {
                EXPECT_EQ(difference(held(scene->mobs.sprites, first).get(), want.get()), "") << "the sheet";
            }
        }
    }
}

}  // namespace
