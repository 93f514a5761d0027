// A player on a flat test map, its sheets and sounds written to a private data
// folder, with the game's update and physics passes run one at a time.
#pragma once

#include "game/mob_player.h"
#include "game/scene.h"
#include "support/geometry.h"
#include "support/input.h"

#include "common/game_files.h"
#include "common/gl_window.h"

#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <vector>

namespace test {

// The edges of an attack box that is not striking.
constexpr float inf = std::numeric_limits<float>::infinity();

// The player's sheets in load order, and the first frame of each when they are
// the first sheets of the atlas.
struct Sheet_file {
    const char* name;
    int cols;
    int first;
};
inline constexpr Sheet_file sheets[] = {
    {"player_idle.png", 1, 0},  {"player_walk.png", 10, 1}, {"player_run.png", 10, 11},
    {"player_jump.png", 10, 21}, {"player_skid.png", 1, 31}, {"player_hurt.png", 2, 32},
    {"player_reel.png", 1, 34}, {"player_attk.png", 4, 35}, {"player_head.png", 3, 39},
};
inline constexpr const char* sounds[] = {"step.wav", "jump.wav", "land.wav", "skid.wav",
                                         "dunk.wav", "hurt.wav", "attk.wav"};

// Body cells are 8 x 16, each body frame its own colour; head cells are 4 x 4,
// their left and right halves told apart so that mirroring shows.
constexpr int body_w = 8, body_h = 16, head_side = 4;
constexpr std::uint32_t body_colour(int frame) { return rgba(frame + 1, 200, 50, 255); }
constexpr std::uint32_t head_colour(int frame, bool right_half) {
    return rgba(frame + 1, right_half ? 100 : 0, 200, 255);
}

// The test map: 64 x 40 tiles, empty but for a floor whose top is at y = 240.
constexpr int map_w = 64, map_h = 40, floor_row = 30;
constexpr float floor_y = floor_row * 8;

// A player standing on the floor with its centre at x.
kesp::Box standing(float x);

class Player_test : public Gl_test {
protected:
    void SetUp() override;
    void TearDown() override;

    void write_files(bool walk_sheet);

    // A fresh scene at the frame rate, with the player built from box; prepare
    // runs on the empty scene first (extra walls, other sheets).
    void build(int fps, const kesp::Box& box, const std::function<void(Scene&)>& prepare = {});

    void hold(float left, float right);

    float dt() const;

    // The mob pass alone, as the game runs it before the physics step.
    void update();
    void physics();
    void step(int n = 1);
    // Steps until the player stands on the ground past its landing pose.
    void settle();
    // The player's own update alone, with the queues it fills emptied again:
    // the frame choice sees exactly the state a test set.
    void update_alone();

    int dust() const;

    int saved_fps = 60;
    std::vector<kesp::Input> saved_inputs;
    std::uint64_t now = 5000;
    std::uint64_t ms_per_update = 0;  // no ticks unless a test asks
    std::optional<Game_files> files;
    std::optional<Scene> scene;
    Mob_player* p = nullptr;
};

}  // namespace test
