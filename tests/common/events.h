// Events pushed onto the platform's queue as if a device had sent them.
#pragma once

#include <SDL_events.h>

namespace test {

// Pushes e, failing the test when the queue refuses it.
void push_event(SDL_Event e);

// A key pressed (down) or let go.
void push_key(SDL_Scancode key, bool down);

}  // namespace test
