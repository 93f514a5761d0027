#include "support/atlas.h"

#include "support/files.h"
#include "support/rwops.h"

#include <GL/glew.h>
#include <SDL.h>
#include <SDL_image.h>

#include <stdexcept>
#include <string>

namespace kesp {

namespace {

// Far beyond any sheet or tileset that fits an atlas.
constexpr std::size_t _max_image_size = std::size_t{64} << 20;

void log_sdl_error() { SDL_LogError(SDL_LOG_CATEGORY_APPLICATION, "%s", SDL_GetError()); }

SDL_Surface* make_canvas(int side) {
    // Zero-filled: transparent black. 32 bits a pixel keeps the rows tightly
    // packed, which the upload relies on.
    SDL_Surface* s = SDL_CreateRGBSurfaceWithFormat(0, side, side, 32, SDL_PIXELFORMAT_ABGR8888);
    if (!s) {
        log_sdl_error();
        throw std::runtime_error("can't create atlas");
    }
    return s;
}

// The decoded image of a file read through the one checked open: a pipe or a
// device is refused rather than waited on, with the system's reason. The file's
// extension is its type, as when the platform opens it by name: TGA has no
// signature to be known by.
SDL_Surface* load_image(const std::filesystem::path& file) {
    std::string bytes;
    if (!read_bytes(file, _max_image_size, bytes)) return nullptr;
    SDL_RWops* in = rw_from_bytes(bytes);
    const std::string type = type_of(file);
    return in ? IMG_LoadTyped_RW(in, 1, type.empty() ? nullptr : type.c_str()) : nullptr;
}

}  // namespace

Image::Image(const std::filesystem::path& file) : surface(load_image(file)) {}

Image::~Image() { SDL_FreeSurface(surface); }

int Image::width() const { return surface ? surface->w : 0; }

int Image::height() const { return surface ? surface->h : 0; }

Atlas::Atlas(int side, int pad, unsigned int filter)
    : packer(side), pad(pad), canvas(make_canvas(side)), filter(filter) {
    glGenTextures(1, &texture);
}

Atlas::~Atlas() {
    glDeleteTextures(1, &texture);
    SDL_FreeSurface(canvas);
}

bool Atlas::add(SDL_Surface* image, SDL_Rect& cell) {
    // Copy alpha as it is instead of blending it into the canvas.
    SDL_SetSurfaceBlendMode(image, SDL_BLENDMODE_NONE);
    SDL_Rect place{0, 0, cell.w + 2 * pad, cell.h + 2 * pad};
    if (!packer.add(place)) {
        SDL_SetError("Atlas overflow");
        log_sdl_error();
        return false;
    }
    int x = place.x + pad;
    int y = place.y + pad;
    float w = static_cast<float>(canvas->w);
    float h = static_cast<float>(canvas->h);
    boxes.push_back({static_cast<float>(x) / w, static_cast<float>(x + cell.w) / w,
                     static_cast<float>(y) / h, static_cast<float>(y + cell.h) / h});
    // The blit clips its rectangles in place: hand it copies.
    SDL_Rect src = cell;
    SDL_Rect dst{x, y, cell.w, cell.h};
    // A colour-keyed image skips its keyed pixels: they must not keep what lay there.
    SDL_FillRect(canvas, &dst, 0);
    SDL_BlitSurface(image, &src, canvas, &dst);
    uploaded = false;
    return true;
}

long long Atlas::add(SDL_Surface* image, int cols, int rows, int index) {
    // More cells than pixels would be cells of nothing, in numbers that could take
    // for ever. A refusal is told like the platform's own, for callers to name.
    if (cols < 1 || rows < 1 || image->w / cols < 1 || image->h / rows < 1) {
        SDL_SetError("Atlas can't cut a %d x %d image into %d x %d cells", image->w, image->h, cols, rows);
        return -1;
    }
    int cw = image->w / cols;
    int ch = image->h / rows;
    auto first = static_cast<long long>(boxes.size());
    if (index >= 0) {
        if (index / cols >= rows) {
            SDL_SetError("Atlas cell %d lies outside a %d x %d cut", index, cols, rows);
            return -1;
        }
        SDL_Rect cell{index % cols * cw, index / cols * ch, cw, ch};
        return add(image, cell) ? first : -1;
    }
    for (int row = 0; row < rows; ++row) {
        for (int col = 0; col < cols; ++col) {
            SDL_Rect cell{col * cw, row * ch, cw, ch};
            if (!add(image, cell)) return -1;
        }
    }
    return first;
}

long long Atlas::load(const std::filesystem::path& file, int cols, int rows, int index) {
    Image image(file);
    if (!image) {
        SDL_LogError(SDL_LOG_CATEGORY_APPLICATION, "\"%s\": %s", file.string().c_str(), SDL_GetError());
        return -1;
    }
    return add(image.surface, cols, rows, index);
}

unsigned int Atlas::upload() {
    if (uploaded) return texture;
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, static_cast<GLint>(filter));
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, static_cast<GLint>(filter));
    // A core context has no GL_CLAMP; clamping to the edge texels is what it meant.
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, canvas->w, canvas->h, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 canvas->pixels);
    uploaded = true;
    return texture;
}

Box& Atlas::get(unsigned long long tile) { return boxes.at(tile); }

int Atlas::size() const { return canvas ? canvas->w : 0; }

bool Atlas::save_png(const std::filesystem::path& file) {
    // Encoded whole in memory, then put in place in one step: a full disk leaves
    // the old image or none, never a cut-off one.
    std::string png;
    SDL_RWops* out = rw_to_string(png);
    if (!out || IMG_SavePNG_RW(canvas, out, 1) != 0) return false;
    const std::string why = replace_file(file, png);
    if (why.empty()) return true;
    SDL_SetError("%s", why.c_str());
    return false;
}

void Atlas::clear() {
    packer.clear();
    boxes.clear();
}

}  // namespace kesp
