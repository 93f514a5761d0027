#include "support/clock.h"

#include <SDL.h>

namespace kesp {

std::uint64_t ticks() { return SDL_GetTicks64(); }

}  // namespace kesp
