#include "common/shipped_data.h"

#include <SDL.h>

namespace test {

double wav_seconds(const std::filesystem::path& path) {
    SDL_AudioSpec spec{};
    Uint8* buffer = nullptr;
    Uint32 bytes = 0;
    if (!SDL_LoadWAV(path.string().c_str(), &spec, &buffer, &bytes))
        return -1;
    SDL_FreeWAV(buffer);
    const int frame = SDL_AUDIO_BITSIZE(spec.format) / 8 * spec.channels;
    return static_cast<double>(bytes) / frame / spec.freq;
}

}  // namespace test
