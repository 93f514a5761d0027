#include "support/input.h"

#include <SDL.h>

#include <cstdlib>

namespace kesp {

void handle_events(Event_callback&) {
    SDL_Event event;
    while (SDL_PollEvent(&event))
        if (event.type == SDL_QUIT) std::exit(0);
}

}  // namespace kesp
