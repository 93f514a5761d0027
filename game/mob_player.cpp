#include "game/mob_player.h"

#include "game/mob_effect.h"
#include "game/phys.h"
#include "game/scene.h"
#include "support/input.h"
#include "support/media.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <random>

namespace {

constexpr float _inf = std::numeric_limits<float>::infinity();

// Velocities in pixels per thirtieth of a second, rates per thirtieth of a second.
constexpr float _running_speed = 3.0f;
constexpr float _land_acceleration = 0.25f;
constexpr float _land_deceleration = 0.5f;
constexpr float _air_acceleration = 0.25f;
constexpr float _air_deceleration = 0.1f;
constexpr float _full_jump_impulse = -8.0f;
constexpr float _wall_jump_impulse = 3.0f;
constexpr float _jump_peak_threshold = 3.0f;
constexpr float _jump_peak_floatiness = 1.0f;
constexpr float _max_sliding_speed = 1.0f;
constexpr float _gravity = 1.6f;
// Seconds.
constexpr float _coyote_time = 0.1f;
constexpr float _land_animation_time = 0.05f;
constexpr float _jump_buffer_time = 0.2f;
constexpr float _invincibility_frames = 0.5f;
constexpr float _recovery_time = 1.0f;
constexpr kesp::Vec _hurt_impulse = {3.0f, -6.0f};
constexpr float _pre_attack_time = 0.5f;
constexpr float _attack_time = 0.4f;
constexpr float _post_attack_time = 0.3f;
// The coyote timer is refreshed in every update on the ground and counted down
// at its end, so it must be at least 2 to reach the next update: with fewer
// (below 20 frames per second, or wrapped in eight bits) standing still would
// land on every update.
constexpr std::uint8_t _least_coyote = 2;

constexpr std::int8_t _full_health = 127;
constexpr int _damage = 32;
// Between walking and running.
constexpr float _walk_limit = 1.5f;

struct Sheet {
    std::uint64_t Mob_player::*first;
    const char* file;
    int cols;
    int rows;
};

// Loaded in this order, so that with the player built first they are frames 0 to 41.
constexpr std::array<Sheet, 9> _sheets = {{
    {&Mob_player::idle_sheet, "player_idle.png", 1, 1},
    {&Mob_player::walk_sheet, "player_walk.png", 10, 1},
    {&Mob_player::run_sheet, "player_run.png", 10, 1},
    {&Mob_player::jump_sheet, "player_jump.png", 10, 1},
    {&Mob_player::skid_sheet, "player_skid.png", 1, 1},
    {&Mob_player::hurt_sheet, "player_hurt.png", 2, 1},
    {&Mob_player::reel_sheet, "player_reel.png", 1, 1},
    {&Mob_player::attk_sheet, "player_attk.png", 4, 1},
    {&Mob_player::head_sheet, "player_head.png", 3, 1},
}};
struct Sound {
    const kesp::Audio* Mob_player::*field;
    const char* file;
};

constexpr std::array<Sound, 7> _sounds = {{
    {&Mob_player::step_sound, "step.wav"},
    {&Mob_player::jump_sound, "jump.wav"},
    {&Mob_player::land_sound, "land.wav"},
    {&Mob_player::skid_sound, "skid.wav"},
    {&Mob_player::dunk_sound, "dunk.wav"},
    {&Mob_player::hurt_sound, "hurt.wav"},
    {&Mob_player::attk_sound, "attk.wav"},
}};

// The head's centre relative to the body's, facing right, by body frame.
constexpr kesp::Vec _head_positions[40] = {
    {0, -9},                                                                 // idle
    {0, -8}, {1, -8}, {0, -8}, {0, -9}, {0, -9},                             // walk
    {0, -8}, {1, -8}, {0, -8}, {0, -9}, {0, -9},                             //
    {2, -8}, {2, -6}, {2, -8}, {2, -10}, {2, -9},                            // run
    {2, -8}, {2, -6}, {2, -8}, {2, -10}, {2, -9},                            //
    {1, -8}, {1, -6}, {1, -9}, {1, -9}, {1, -9},                             // jump
    {1, -8}, {1, -6}, {1, -9}, {1, -9}, {1, -9},                             //
    {0, -8},                                                                 // skid
    {1, -7}, {2, -6},                                                        // hurt
    {0, -9},                                                                 // reel
    {-2, -8}, {2, -8}, {2, -8}, {2, -8},                                     // attk
    {0, 0},                                                                  // none
};
// Which of the three head frames goes with each body frame.
constexpr std::int32_t _head_frames[40] = {
    0,                             // idle
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // walk
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // run
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // jump
    0,                             // skid
    1, 0,                          // hurt
    2,                             // reel
    0, 0, 0, 0,                    // attk
    0,                             // none
};

float fps() { return static_cast<float>(kesp::conf.fps); }

// A timer of the given seconds: truncated, and only its low 8 bits kept.
std::uint8_t updates_of(float seconds) {
    return static_cast<std::uint8_t>(static_cast<std::int64_t>(seconds * fps()));
}

// What a sheet that failed to load holds.
constexpr std::uint64_t _failed = static_cast<std::uint64_t>(-1);
// The frame of a sheet that failed to load: names no tile, draws nothing.
constexpr std::uint16_t _no_frame = 0xFFFF;

// Frame k of a sheet, as the 16-bit frame number the player keeps. A failed
// sheet must not wrap round onto the frames of the sheets loaded after it.
std::uint16_t tile(std::uint64_t sheet, std::uint64_t k) {
    return sheet == _failed ? _no_frame : static_cast<std::uint16_t>(sheet + k);
}

// The frame a fractional offset into a sheet lands on: base and offset are
// added in float before truncating, so an offset a hair below a whole number
// can round up onto the next frame.
std::uint16_t tile_at(std::uint64_t sheet, float offset) {
    if (sheet == _failed) return _no_frame;
    return static_cast<std::uint16_t>(static_cast<std::uint64_t>(static_cast<float>(sheet) + offset));
}

// An action's value; an action the table lacks reads as released.
float action(std::size_t index) {
    return index < kesp::inputs.size() ? kesp::inputs[index].value : 0.0f;
}

// Uniform in [0, 1): 24 random bits scaled, so 1 itself never comes out.
float randf() {
    static std::mt19937 generator{std::random_device{}()};
    return static_cast<float>(generator() >> 8) * 0x1p-24f;
}

kesp::Box nowhere() { return {_inf, _inf, _inf, _inf}; }

}  // namespace

Mob_player::Mob_player(Mobs& mobs, const kesp::Box& box, Place*)
    : Mob(box, Body::solid | Body::physical), attack_box(nowhere()) {
    for (const Sheet& s : _sheets)
        this->*s.first = static_cast<std::uint64_t>(mobs.load_frames(s.file, s.cols, s.rows));
    for (const Sound& s : _sounds) this->*s.field = mobs.load_audio(s.file);
    mobs.player = this;
}

Mob_player::~Mob_player() = default;

bool Mob_player::update(Scene& scene) {
    last_frame = frame;
    update_rest(scene);
    update_move(scene);
    update_jump(scene);
    update_frame(scene);
    update_effects(scene);
    update_health(scene);
    update_attack(scene);
    for (std::uint8_t* timer : {&landing_timer, &jump_buffer_timer, &coyote_timer,
                                &invincible_timer, &recovery_timer, &attack_timer})
        if (*timer != 0) --*timer;
    scene.physics.add_engine(this, {0, 1}, _inf, _gravity);
    return false;
}

void Mob_player::update_rest(Scene& scene) {
    if (!is(Body::touch_dn)) return;
    // Longer in the air than the coyote time, or jumped: this is a landing.
    if (coyote_timer == 0) {
        landing_timer = updates_of(_land_animation_time);
        kesp::play_audio(land_sound);
        Mob_dust::make_from(scene.mobs, this);
    }
    coyote_timer = std::max(_least_coyote, updates_of(_coyote_time));
}

void Mob_player::update_move(Scene& scene) {
    bool ground = is(Body::touch_dn);
    float acceleration = ground ? _land_acceleration : _air_acceleration;
    float deceleration = ground ? _land_deceleration : _air_deceleration;
    float x = _running_speed * (action(1) - action(0));
    if (x < 0)
        set(Body::flip);
    else if (x > 0)
        unset(Body::flip);
    // The attack brakes whatever the input; the facing still follows it.
    if (x == 0 || attack_timer != 0)
        scene.physics.add_engine(this, {1, 0}, 0, deceleration);
    else
        scene.physics.add_engine(this, {1, 0}, x, acceleration);
    if (is(Body::touch_lf | Body::touch_rt) && vel.y > _max_sliding_speed)
        vel.y = _max_sliding_speed;
}

void Mob_player::update_jump(Scene& scene) {
    if (jump_buffer_timer != 0) {
        bool jumped = true;
        if (coyote_timer != 0) {
            vel.y = _full_jump_impulse;
            coyote_timer = 0;
        } else if (is(Body::touch_lf)) {
            vel = {_wall_jump_impulse, _full_jump_impulse};
            unset(Body::flip);
        } else if (is(Body::touch_rt)) {
            vel = {-_wall_jump_impulse, _full_jump_impulse};
            set(Body::flip);
        } else {
            jumped = false;
        }
        // Otherwise the press waits until its timer runs out, even while an
        // earlier jump is still held: that one must not swallow it silently.
        if (jumped) {
            set(Body::jumping);
            jump_buffer_timer = 0;
            kesp::play_audio(jump_sound);
        }
    }
    // A held jump floats near its peak.
    if (is(Body::jumping) && std::fabs(vel.y) < _jump_peak_threshold)
        scene.physics.add_engine(this, {0, -1}, _inf, _jump_peak_floatiness);
}

void Mob_player::update_frame(Scene& scene) {
    float t = static_cast<float>(attack_timer);
    bool ground = is(Body::touch_dn);
    if (t >= _attack_time * fps()) {
        frame = tile(attk_sheet, 0);
    } else if (t > _post_attack_time * fps()) {
        frame = tile(attk_sheet, ground ? 2 : 3);
    } else if (static_cast<float>(invincible_timer) > fps() * 0.5f * 0.5f) {
        frame = tile(reel_sheet, 0);
    } else if (attack_timer != 0) {
        frame = tile(attk_sheet, 1);
    } else if (coyote_timer == 0) {
        // max after min also turns a velocity that is not a number into frame 0.
        float k = std::max(0.0f, std::min((vel.y + 8) / 1.5f, 9.0f));
        frame = tile_at(jump_sheet, k);
    } else if (landing_timer != 0) {
        frame = tile(run_sheet, 1);
    } else if (vel.x == 0) {
        if (health == _full_health)
            frame = tile(idle_sheet, 0);
        else
            frame = tile(hurt_sheet, (scene.mobs.tick_count & 8) == 0 ? 1 : 0);
    } else if ((vel.x < 0) != is(Body::flip)) {
        frame = tile(skid_sheet, 0);
    } else {
        // The cycle follows the position, so the feet keep pace with the ground;
        // walking left steps forward through it too. A position too far for 64
        // bits walks on the frame of the nearest end, and one not a number on 0.
        float x = is(Body::flip) ? -pos.x : pos.x;
        std::uint64_t c = static_cast<std::uint64_t>(kesp::saturate_cast<std::int64_t>(x)) / 6 % 10;
        bool walking = -_walk_limit < vel.x && vel.x < _walk_limit;
        frame = tile(walking ? walk_sheet : run_sheet, c);
    }
}

void Mob_player::update_effects(Scene& scene) {
    if (landing_timer != 0) return;
    bool changed = frame != last_frame;
    bool stride = shows(run_sheet, 1) || shows(run_sheet, 6);
    if (changed && (stride || shows(walk_sheet, 1) || shows(walk_sheet, 6)))
        kesp::play_audio(step_sound);
    bool skid = shows(skid_sheet, 0);
    if (changed && skid) kesp::play_audio(skid_sound);
    if (!is(Body::touch_dn)) return;
    if (changed && stride) Mob_dust::make_from(scene.mobs, this);
    if (skid && randf() < 0.5f) Mob_dust::make_from(scene.mobs, this);
}

void Mob_player::update_health(Scene& scene) {
    if (health <= 0) set(Body::dead);
    if (vel != kesp::Vec{0, 0} || attack_timer != 0) recovery_timer = updates_of(_recovery_time);
    if (scene.mobs.tick && recovery_timer == 0 && health != _full_health) ++health;
}

void Mob_player::update_attack(Scene&) {
    float t = static_cast<float>(attack_timer);
    if (!(_attack_time * fps() > t && t > _post_attack_time * fps())) {
        attack_box = nowhere();
    } else if (!is(Body::touch_dn)) {
        attack_box = kesp::Box::from_center(pos + kesp::Vec{0, -8}, {16, 8});
    } else {
        float side = is(Body::flip) ? -8.0f : 8.0f;
        attack_box = kesp::Box::from_center(pos + kesp::Vec{side, 0}, {8, 4});
    }
}

bool Mob_player::shows(std::uint64_t sheet, std::uint64_t k) const {
    return sheet != _failed && frame == tile(sheet, k);
}

void Mob_player::render(Mobs& mobs) {
    if (frame == _no_frame) return;
    kesp::Mat m = kesp::Mat::translate(pos.floor());
    if (is(Body::flip)) m *= kesp::Mat::scale(-1, 1);
    mobs.batch.push(frame, m);
    // A body frame past the head tables (the player's sheets were not the first
    // in the atlas) gets no head.
    if (frame >= std::size(_head_positions) || head_sheet == _failed) return;
    m *= kesp::Mat::translate(_head_positions[frame]);
    mobs.batch.push(head_sheet + static_cast<std::uint64_t>(_head_frames[frame]), m);
}

void Mob_player::begin_jump() { jump_buffer_timer = updates_of(_jump_buffer_time); }

void Mob_player::end_jump() {
    jump_buffer_timer = 0;
    unset(Body::jumping);
}

void Mob_player::begin_attack() {
    if (attack_timer != 0) return;
    attack_timer = updates_of(_pre_attack_time);
    kesp::play_audio(attk_sound);
}

void Mob_player::end_attack() {}

bool Mob_player::harm(const kesp::Box& hazard) {
    if (invincible_timer != 0 || !hazard.overlaps(Body::box)) return false;
    // Away from the hazard; one centred on the player knocks it left.
    vel.x = pos.x > hazard.ct().x ? _hurt_impulse.x : -_hurt_impulse.x;
    vel.y = _hurt_impulse.y;
    kesp::play_audio(hurt_sound);
    invincible_timer = updates_of(_invincibility_frames);
    // Held at the bottom of the range: hits piling up must not wrap round to full health.
    health = static_cast<std::int8_t>(std::max(health - _damage, -128));
    return true;
}

void Mob_player::reset() {
    unset(Body::dead);
    vel = {0, 0};
    coyote_timer = landing_timer = jump_buffer_timer = invincible_timer = recovery_timer = 0;
    health = _full_health;
    // The idle pose, which is tile 0 of a fresh atlas; nothing when it failed to load.
    frame = last_frame = tile(idle_sheet, 0);
}
