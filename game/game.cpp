#include "game/game.h"

#include "support/input.h"
#include "support/media.h"

#include <GL/glew.h>

// Interim frame loop until the game object lands: clears the window until it is closed.
void play(const std::filesystem::path&) {
    kesp::Event_callback ignore = [](int, float) {};
    for (;;) {
        {
            kesp::Render_lock frame;
            glClearColor(0, 0, 0, 0);
            glClear(GL_COLOR_BUFFER_BIT);
        }
        kesp::handle_events(ignore);
    }
}
