// The running game: the scene, the frame loop, rooms and the view that follows the player.
#pragma once

#include "game/scene.h"
#include "support/geometry.h"

#include <cstdint>
#include <filesystem>

class Game {
public:
    // Loads the map and enters the room that holds the player. Needs the media scope.
    explicit Game(const std::filesystem::path& map);
    // Stops the sound and frees the music before the scene goes, which writes "mobs.png".
    ~Game();
    Game(const Game&) = delete;
    Game& operator=(const Game&) = delete;

    // Update, render and input, once per pass, until the menu action.
    void run();
    void update();
    void render();
    void input();
    // Enters the first room in map order that holds the player and returns true;
    // outside every room, makes a makeshift room around it and returns false.
    bool room_init();
    // Resets or changes the room by where the player's centre lies around it.
    void room_update();
    // Puts the player back where the room was entered and spawns its mobs afresh;
    // from a makeshift room that does not hold that point, enters its room again.
    void room_reset();
    void room_populate();
    // Places the camera inside the room and the viewport in the window.
    void recalculate_view();

    bool running = true;
    bool paused = false;
    kesp::Box view;
    std::int32_t reset_timer = 0;  // updates left until the room is reset after a death
    Scene scene;
    kesp::Vec respawn;  // the player's centre when the current room was entered, or its start
};

// Plays the map until the player leaves through the menu action.
void play(const std::filesystem::path& map);
