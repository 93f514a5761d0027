#include "game/mob_effect.h"

#include <cmath>

Mob_effect::Mob_effect(Mobs& mobs, const kesp::Box& box, const char* file, int frames, bool mirrors)
    : Mob(box, 0), sheet(mobs.load_frames(file, frames, 1)), frames(frames), mirrors(mirrors) {}

bool Mob_effect::update(Scene&) {
    time = time + 12.0f / static_cast<float>(kesp::conf.fps);
    return time >= static_cast<float>(frames);
}

void Mob_effect::render(Mobs& mobs) {
    if (sheet < 0) return;
    kesp::Mat m = kesp::Mat::translate(pos.floor());
    if (mirrors && is(Body::flip)) m *= kesp::Mat::scale(-1, 1);
    mobs.batch.push(static_cast<unsigned long long>(sheet) +
                        static_cast<unsigned long long>(std::floor(time)),
                    m);
}

Mob_dust::Mob_dust(Mobs& mobs, const kesp::Box& box, Place*) : Mob_effect(mobs, box, "dust.png", 4, true) {}

Mob_splat::Mob_splat(Mobs& mobs, const kesp::Box& box, Place*)
    : Mob_effect(mobs, box, "splat.png", 5, false) {}

Mob_poof::Mob_poof(Mobs& mobs, const kesp::Box& box, Place*)
    : Mob_effect(mobs, box, "poof.png", 7, false) {}

void Mob_dust::make_from(Mobs& mobs, Mob* mob) {
    static constexpr kesp::Vec size{4, 4};
    const kesp::Vec p = mob->pos, h = mob->half, v = mob->vel;
    const float y = (h.y - 4) + p.y;
    if (std::fabs(v.x) > 1) {
        Mob* puff = mobs.construct("dust", {p.x, y}, size, nullptr);
        if (mob->is(Body::flip)) puff->set(Body::flip);
    } else {
        const kesp::Vec left{p.x - 0.5f * h.x, y};
        mobs.construct("dust", left, size, nullptr);
        mobs.construct("dust", {left.x + h.x, left.y}, size, nullptr)->set(Body::flip);
    }
}
