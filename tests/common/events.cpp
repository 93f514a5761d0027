#include "common/events.h"

#include <gtest/gtest.h>

namespace test {

void push_event(SDL_Event e) { ASSERT_EQ(SDL_PushEvent(&e), 1) << SDL_GetError(); }

void push_key(SDL_Scancode key, bool down) {
    SDL_Event e{};
    e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    e.key.keysym.scancode = key;
    push_event(e);
}

}  // namespace test
