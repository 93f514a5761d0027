// The asset generator: turns the text sources under data/ into the game's PNG
// images, WAV sounds and Tiled map at build time.
#include "art.h"
#include "level.h"
#include "synth.h"

#define SDL_MAIN_HANDLED

#include <SDL.h>
#include <SDL_image.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

namespace {

void write_png(const tools::Image& image, const std::filesystem::path& path)
{
    std::unique_ptr<SDL_Surface, decltype(&SDL_FreeSurface)> surface(
        SDL_CreateRGBSurfaceWithFormat(0, image.w, image.h, 32, SDL_PIXELFORMAT_RGBA32), SDL_FreeSurface);
    if (!surface)
        throw std::runtime_error(std::string("can't make an image: ") + SDL_GetError());
    for (int y = 0; y < image.h; ++y)
        std::memcpy(static_cast<char*>(surface->pixels) + static_cast<std::ptrdiff_t>(y) * surface->pitch,
                    &image.at(0, y), static_cast<std::size_t>(image.w) * 4);
    if (IMG_SavePNG(surface.get(), path.string().c_str()) != 0)
        throw std::runtime_error("can't write \"" + path.string() + "\": " + SDL_GetError());
}

int run(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "Usage: %s art|sounds|music|level SOURCE OUTPUT\n", argv[0]);
        return 2;
    }
    const std::string what = argv[1];
    const std::filesystem::path source = argv[2], output = argv[3];
    if (what == "level") {
        std::filesystem::create_directories(output.parent_path());
        tools::build_level(source, output);
        return 0;
    }
    std::filesystem::create_directories(output);
    if (what == "art") {
        tools::Art art;
        art.load(source);
        for (const tools::Sheet& sheet : art.sheets())
            write_png(sheet.image, output / sheet.file);
    } else if (what == "sounds") {
        for (const tools::Wave& wave : tools::read_sounds(source))
            tools::write_wav(wave, output / wave.file);
    } else if (what == "music") {
        const tools::Wave wave = tools::read_music(source);
        tools::write_wav(wave, output / wave.file);
    } else {
        std::fprintf(stderr, "%s: unknown kind \"%s\"\n", argv[0], what.c_str());
        return 2;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}
