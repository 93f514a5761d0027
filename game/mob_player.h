// The character the user steers: runs, jumps, slides down walls and jumps off
// them, attacks, is hurt, regains health and dies.
#pragma once

#include "game/mob_main.h"
#include "support/geometry.h"

#include <cstdint>

namespace kesp {
class Audio;
}
struct Place;
struct Scene;

// Timers count updates; their lengths follow the frame rate of kesp::conf.
class Mob_player : public Mob {
public:
    // Loads the sheets and sounds through mobs and becomes mobs.player; place
    // is not used.
    Mob_player(Mobs& mobs, const kesp::Box& box, Place* place);
    ~Mob_player() override;

    // Never asks to be removed.
    bool update(Scene& scene) override;
    // The body, then the head over it.
    void render(Mobs& mobs) override;

    // The input handlers only set timers and flags; the next update acts on them.
    void begin_jump();
    void end_jump();
    void begin_attack();
    void end_attack();
    // Takes a hit from a hazard's box; true when the hit was taken.
    bool harm(const kesp::Box& box);
    // Revives the player where the game has put it; a running attack goes on.
    void reset();

    // First frames in the mob atlas; a sheet that failed to load holds -1 wrapped.
    std::uint64_t idle_sheet;
    std::uint64_t walk_sheet;
    std::uint64_t run_sheet;
    std::uint64_t jump_sheet;
    std::uint64_t skid_sheet;
    std::uint64_t hurt_sheet;
    std::uint64_t reel_sheet;
    std::uint64_t attk_sheet;
    std::uint64_t head_sheet;
    // Owned by the mob container; null when the file failed to load.
    const kesp::Audio* step_sound;
    const kesp::Audio* jump_sound;
    const kesp::Audio* land_sound;
    const kesp::Audio* skid_sound;
    const kesp::Audio* dunk_sound;  // loaded for the set, never played
    const kesp::Audio* hurt_sound;
    const kesp::Audio* attk_sound;
    std::uint8_t coyote_timer = 0;       // a jump still counts as from the ground
    std::uint8_t landing_timer = 0;      // the landing pose
    std::uint8_t jump_buffer_timer = 0;  // a pressed jump still waiting
    std::uint8_t invincible_timer = 0;   // harm is ignored
    std::uint8_t recovery_timer = 0;     // stillness still needed before health returns
    std::uint8_t attack_timer = 0;       // the attack sequence
    std::int8_t health = 127;            // 127 full, 0 or less dead
    std::uint16_t frame = 0;             // body frame of this update, in the mob atlas
    std::uint16_t last_frame = 0;        // body frame of the previous update
    kesp::Box attack_box;                // every edge +infinity while no strike is live

private:
    void update_rest(Scene& scene);
    void update_move(Scene& scene);
    void update_jump(Scene& scene);
    void update_frame(Scene& scene);
    void update_effects(Scene& scene);
    void update_health(Scene& scene);
    void update_attack(Scene& scene);

    // Whether frame is frame k of the sheet, which loaded.
    bool shows(std::uint64_t sheet, std::uint64_t k) const;
};
