#include "game/mob_hostile.h"

#include "game/mob_player.h"
#include "game/scene.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace {

constexpr float _inf = std::numeric_limits<float>::infinity();
constexpr std::int32_t _walker_flags = Body::solid | Body::room_bound | Body::harmful | Body::physical;

// The death rule: when the player's strike reaches the mob, the kill sound, an
// effect of 16 x 16 pixels centred on at, and true.
bool struck(Scene& scene, const Mob& mob, const kesp::Audio* kill_sound, const char* effect,
            kesp::Vec at) {
    if (!scene.mobs.player->attack_box.overlaps(mob.box)) return false;
    kesp::play_audio(kill_sound);
    scene.mobs.construct(effect, at, {8, 8}, nullptr);
    return true;
}

void gravity(Scene& scene, Body* body) { scene.physics.add_engine(body, {0, 1}, _inf, 1.6f); }

// Placed at the floored centre plus offset, mirrored about the sprite's own
// centre when the mob faces left.
kesp::Mat facing(const Body& body, kesp::Vec offset) {
    kesp::Mat m = kesp::Mat::translate(body.pos.floor() + offset);
    if (body.is(Body::flip)) m *= kesp::Mat::scale(-1, 1);
    return m;
}

// One frame of a sheet; a sheet that failed to load draws nothing.
void draw(Mobs& mobs, long long sheet, std::int64_t frame, const kesp::Mat& m) {
    if (sheet < 0) return;
    mobs.batch.push(static_cast<unsigned long long>(sheet + frame), m);
}

}  // namespace

Mob_rotten::Mob_rotten(Mobs& mobs, const kesp::Box& box, Place*)
    : Mob(box, _walker_flags), sheet(mobs.load_frames("rotten.png", 7, 1)),
      kill_sound(mobs.load_audio("kill.wav")) {}

bool Mob_rotten::update(Scene& scene) {
    if (struck(scene, *this, kill_sound, "splat", {pos.x, pos.y - 2})) return true;
    // Touching both walls leaves it facing right.
    if (is(touch_rt)) set(flip);
    if (is(touch_lf)) unset(flip);
    scene.physics.add_engine(this, {1, 0}, is(flip) ? -1.f : 1.f, 1);
    gravity(scene, this);
    return false;
}

int Mob_rotten::cycle_frame() const {
    // The cycle follows the distance walked, forward whichever way it walks.
    const float s = is(flip) ? -pos.x : pos.x;
    return static_cast<int>(kesp::saturate_cast<std::int64_t>(s / 6) & 3);
}

void Mob_rotten::render(Mobs& mobs) { draw(mobs, sheet, cycle_frame(), facing(*this, {0, -4})); }

Mob_bones::Mob_bones(Mobs& mobs, const kesp::Box& box, Place*)
    : Mob(box, _walker_flags), sheet(mobs.load_frames("bones.png", 7, 1)),
      kill_sound(mobs.load_audio("kill.wav")) {}

bool Mob_bones::update(Scene& scene) {
    if (struck(scene, *this, kill_sound, "poof", {pos.x, pos.y - 2})) return true;
    if (scene.mobs.tick) {
        switch (state) {
        case 7: {
            const float dx = scene.mobs.player->pos.x - pos.x;
            state = std::abs(dx) < 32 ? 32 : 8;
            if (dx < 0)
                set(flip);
            else
                unset(flip);
            break;
        }
        case 31:
        case 47:
            state = 0;
            break;
        case 34:
            if (Mob* bone = scene.mobs.construct("bone", pos, {4, 4}, nullptr))
                bone->vel = {is(flip) ? -2.f : 2.f, -8};
            state = 35;
            break;
        default:
            ++state;
        }
    }
    auto walking = [this] { return 8 <= state && state <= 31; };
    if (walking()) {
        // Stops at once in the air, at a wall ahead or where the ground ends.
        const kesp::Vec corner = is(flip) ? box.dl() : box.dr();
        if (!is(touch_dn) || is(is(flip) ? touch_lf : touch_rt) ||
            !scene.physics.at(corner + kesp::Vec{0, 1}))
            state = 0;
    }
    if (walking())
        scene.physics.add_engine(this, {1, 0}, is(flip) ? -1.f : 1.f, 1);
    else
        scene.physics.add_engine(this, {1, 0}, 0, _inf);
    gravity(scene, this);
    return false;
}

void Mob_bones::render(Mobs& mobs) {
    static constexpr std::int16_t frames[48] = {
        0, 0, 0, 0, 0, 0, 0, 0,  //
        1, 1, 2, 2, 3, 3, 4, 4,  //
        1, 1, 2, 2, 3, 3, 4, 4,  //
        1, 1, 2, 2, 3, 3, 4, 4,  //
        5, 5, 6, 6, 6, 6, 6, 6,  //
        6, 6, 6, 6, 6, 6, 6, 6,  //
    };
    draw(mobs, sheet, frames[state], facing(*this, {0, -4}));
}

Mob_bone::Mob_bone(Mobs& mobs, const kesp::Box& box, Place*)
    : Mob(box, Body::room_bound | Body::harmful | Body::physical),
      sheet(mobs.load_frames("bone.png", 3, 1)), kill_sound(mobs.load_audio("kill.wav")) {}

bool Mob_bone::update(Scene& scene) {
    if (scene.mobs.tick) frame = (frame + 1) % 3;
    gravity(scene, this);
    return false;
}

void Mob_bone::render(Mobs& mobs) { draw(mobs, sheet, frame, facing(*this, {0, 0})); }

Mob_peeper::Mob_peeper(Mobs& mobs, const kesp::Box& box, Place*)
    : Mob(box, Body::harmful | Body::physical), sheet(mobs.load_frames("peeper.png", 4, 1)),
      kill_sound(mobs.load_audio("kill.wav")) {}

bool Mob_peeper::update(Scene& scene) {
    if (struck(scene, *this, kill_sound, "poof", pos)) return true;
    const kesp::Vec d = pos - scene.mobs.player->pos;
    if (scene.mobs.tick) {
        if (state == 0) {
            // Wakes whatever the height and flies toward the player; level with
            // it, to the left.
            if (-64 <= d.x && d.x < 64) {
                const bool right = d.x < 0;
                vel.x = right ? 1.5f : -1.5f;
                if (right)
                    unset(flip);
                else
                    set(flip);
                state = 1;
            }
        } else if (state == 1) {
            if (is(flip) && d.x < -32) {
                unset(flip);
                state = 10;
            } else if (!is(flip) && d.x > 32) {
                set(flip);
                state = 10;
            } else if (d.y > 0) {
                state = 2;
            }
        } else if (state <= 8) {
            ++state;
        } else if (state == 9) {
            state = 1;
        } else if (vel.x == (is(flip) ? -1.5f : 1.5f)) {
            state = 1;  // the turn is done
        } else if (++state == 17) {
            state = 10;
        }
    }
    if (state != 0) {
        const bool lift = state == 4 || state == 5;
        scene.physics.add_engine(this, {0, 1}, _inf, lift ? -1.f : 0.1f);
    }
    if (state > 1) scene.physics.add_engine(this, {1, 0}, is(flip) ? -1.5f : 1.5f, 0.25f);
    vel.y = std::clamp(vel.y, -2.f, 2.f);
    return false;
}

void Mob_peeper::render(Mobs& mobs) {
    static constexpr std::int16_t frames[18] = {0, 3, 2, 2, 1, 1, 2, 2, 3, 3, 2, 2, 1, 1, 2, 2, 3, 3};
    draw(mobs, sheet, frames[state], facing(*this, {0, 0}));
}

const kesp::Vec Mob_crawler::tangents[4] = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}};
const kesp::Vec Mob_crawler::normals[4] = {{0, -1}, {1, 0}, {0, 1}, {-1, 0}};

Mob_crawler::Mob_crawler(Mobs& mobs, const kesp::Box& box, Place*)
    : Mob(box, _walker_flags), sheet(mobs.load_frames("crawler.png", 2, 1)),
      kill_sound(mobs.load_audio("kill.wav")) {}

bool Mob_crawler::update(Scene& scene) {
    // By direction: the contact with the face held, and the contact ahead.
    static constexpr std::int32_t cw[4] = {touch_dn, touch_lf, touch_up, touch_rt};
    static constexpr std::int32_t ccw[4] = {touch_rt, touch_dn, touch_lf, touch_up};
    if (struck(scene, *this, kill_sound, "poof", pos)) return true;
    if (dir == 255) {
        dir = 0;
    } else if (scene.mobs.tick) {
        if (is(ccw[dir]))
            dir = (dir + 3) % 4;  // blocked ahead: round an inner corner
        else if (!is(cw[dir]))
            dir = (dir + 1) % 4;  // the face has ended: round an outer corner
    }
    // Along the face, and pressed into it far harder than the physics lets through.
    vel = tangents[dir] - normals[dir] * 10;
    return false;
}

unsigned Mob_crawler::heading() const { return dir < 4 ? dir : 0; }

int Mob_crawler::cycle_frame() const {
    return static_cast<int>(kesp::saturate_cast<std::int64_t>(pos * tangents[heading()]) & 1);
}

void Mob_crawler::render(Mobs& mobs) {
    kesp::Mat m = kesp::Mat::translate(pos.floor());
    m *= kesp::Mat::rotate(tangents[heading()]);
    draw(mobs, sheet, cycle_frame(), m);
}

Mob_thorns::Mob_thorns(Mobs&, const kesp::Box& box, Place*) : Mob(box, Body::harmful) {}

bool Mob_thorns::update(Scene&) { return false; }

void Mob_thorns::render(Mobs&) {}
