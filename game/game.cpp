#include "game/game.h"

#include "game/mob_player.h"
#include "support/input.h"
#include "support/log.h"
#include "support/media.h"

#include <GL/glew.h>

#include <algorithm>
#include <cmath>
#include <functional>

namespace {

// Actions the game itself reacts to; the player reads left and right on its own.
constexpr int _accept = 4;  // jump
constexpr int _cancel = 5;  // attack
constexpr int _start = 6;   // pause
constexpr int _menu = 7;    // quit

}  // namespace

Game::Game(const std::filesystem::path& map) {
    scene.load(map);
    // A player who starts outside every room comes back to where it started,
    // not to the map's corner; entering a room moves this on.
    respawn = scene.mobs.player->pos;
    room_init();
    kesp::show_cursor(false);
}

Game::~Game() {
    kesp::stop_audio();
    scene.music.reset();
    kesp::show_cursor(true);
}

void Game::run() {
    while (running) {
        update();
        render();
        input();
    }
}

void Game::update() {
    Mob_player& player = *scene.mobs.player;
    if (reset_timer > 0) {
        if (--reset_timer == 0) room_reset();
        return;
    }
    if (player.is(Body::dead)) {
        // At least one update: half a second of a low frame rate truncates to
        // nothing, and a countdown of 0 would never reset the room.
        reset_timer = std::max(1, static_cast<int>(0.5f * static_cast<float>(kesp::conf.fps)));
        return;
    }
    if (paused) return;
    room_update();
    scene.mobs.update(scene);
    scene.physics.step(30.0f / static_cast<float>(kesp::conf.fps));
    recalculate_view();
}

void Game::render() {
    kesp::Render_lock frame;
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT);
    scene.background.render(view);
    scene.mobs.render(view);
}

void Game::input() {
    kesp::Event_callback callback = [this](int action, float value) {
        bool pressed = value != 0;  // a NaN counts as pressed
        Mob_player& player = *scene.mobs.player;
        switch (action) {
        case _accept:
            if (pressed)
                player.begin_jump();
            else
                player.end_jump();
            break;
        case _cancel:
            if (pressed)
                player.begin_attack();
            else
                player.end_attack();
            break;
        case _start:
            if (pressed) paused = !paused;
            break;
        case _menu:
            if (pressed) running = false;
            break;
        default:
            break;
        }
    };
    kesp::handle_events(callback);
}

bool Game::room_init() {
    Mob_player& player = *scene.mobs.player;
    auto room = std::find_if(scene.rooms.begin(), scene.rooms.end(),
                             [&](const kesp::Box& r) { return r.contains(player.pos); });
    if (room == scene.rooms.end()) {
        kesp::log_warn("Player fell outside the world");
        scene.room = player.box.grow(100);
        return false;
    }
    respawn = player.pos;
    scene.room = *room;
    scene.mobs.clear();
    room_populate();
    scene.background.upload(scene.room);
    return true;
}

void Game::room_update() {
    switch (scene.room.ninth(scene.mobs.player->pos)) {
    case 4:
        break;
    case 6:
    case 7:
    case 8:
        room_reset();
        break;
    default:
        room_init();
        break;
    }
}

void Game::room_reset() {
    Mob_player& player = *scene.mobs.player;
    player.pos = respawn;
    // The box goes with the centre: the fresh mobs' harm test in the next pass
    // would otherwise see the player where it fell or died.
    player.box = kesp::Box::from_center(player.pos, player.half);
    player.reset();
    // Out of a makeshift room, the respawn lies in the room left for it, most
    // often below: that room is entered again, or every following update would
    // see the player under the makeshift room and reset it once more.
    if (!scene.room.contains(respawn) && room_init()) return;
    scene.mobs.clear();
    room_populate();
}

void Game::room_populate() {
    for (Place& place : scene.places)
        if (place.box.overlaps(scene.room)) scene.mobs.construct(place.type, place.box, &place);
}

void Game::recalculate_view() {
    static const kesp::Vec real{384, 216};
    kesp::Box camera = kesp::Box::from_center(scene.mobs.player->pos.floor(), real / 2);
    view = scene.room.clamp(camera);
    float scale = std::floor(std::min(kesp::wsize.x / real.x, kesp::wsize.y / real.y));
    kesp::viewport(view, scale);
}

void play(const std::filesystem::path& map) {
    Game game(map);
    game.run();
}
