#include "game/mob_main.h"

#include "game/bkgr.h"
#include "game/mob_effect.h"
#include "game/mob_hostile.h"
#include "game/mob_player.h"
#include "game/mob_solid.h"
#include "game/scene.h"
#include "game/strings.h"
#include "support/log.h"
#include "support/paths.h"

#include <GL/glew.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iterator>

namespace {

constexpr std::uint64_t _tick_ms = 33;

using Maker = std::unique_ptr<Mob> (*)(Mobs&, const kesp::Box&, Place*);

template <class Kind>
std::unique_ptr<Mob> _make(Mobs& mobs, const kesp::Box& box, Place* place) {
    return std::make_unique<Kind>(mobs, box, place);
}

// Every mob kind by its type name in the map; one line per kind.
struct Kind {
    const char* name;
    Maker make;
};

const Kind _kinds[] = {
    {"bone", _make<Mob_bone>},
    {"bones", _make<Mob_bones>},
    {"crack", _make<Mob_crack>},
    {"crawler", _make<Mob_crawler>},
    {"dust", _make<Mob_dust>},
    {"mirror", _make<Mob_mirror>},
    {"peeper", _make<Mob_peeper>},
    {"player", _make<Mob_player>},
    {"poof", _make<Mob_poof>},
    {"rotten", _make<Mob_rotten>},
    {"splat", _make<Mob_splat>},
    {"thorns", _make<Mob_thorns>},
};

// Where a sheet or sound of the game's data is; empty, after an error naming it,
// when no data folder holds it (the search has listed every folder it tried).
std::filesystem::path _data_file(const char* folder, const std::string& name) {
    const std::filesystem::path file = basedir / folder / name;
    std::filesystem::path path = kesp::paths.data.r(file);
    if (path.empty()) kesp::log_error("\"%s\": %s", file.string().c_str(), std::strerror(ENOENT));
    return path;
}

}  // namespace

Mobs::Mobs(Clock clock)
    : clock(std::move(clock)), next_tick(this->clock() + _tick_ms), sprites(1024, 0, GL_NEAREST),
      batch(sprites) {}

Mobs::~Mobs() {
    save_atlas_image(sprites, "mobs.png");
    sprites.clear();
    batch.clear();
    sheets.clear();
    sounds.clear();
}

void Mobs::update(Scene& scene) {
    tick = next_tick < clock();
    if (tick) {
        next_tick += _tick_ms;
        ++tick_count;
    }

    // Mobs appended during the walk are reached unless they were appended by the
    // last one; removed mobs stay alive until the walk is over.
    std::list<std::unique_ptr<Mob>> removed;
    for (auto it = roster.begin(), end = roster.end(); it != end;) {
        auto next = std::next(it);
        Mob& mob = **it;
        if ((mob.is(Body::room_bound) && !mob.box.overlaps(scene.room)) || mob.update(scene)) {
            removed.splice(removed.end(), roster, it);
        } else {
            if (mob.is(Body::harmful) && player) player->harm(mob.box);
            if (mob.is(Body::physical)) scene.physics.add_body(&mob);
        }
        it = next;
    }
}

void Mobs::render(const kesp::Box& view) {
    batch.clear();
    for (auto& mob : roster) mob->render(*this);
    batch.upload();
    batch.render(view);
}

void Mobs::clear() {
    const Mob* keep = player;
    roster.remove_if([keep](const std::unique_ptr<Mob>& mob) { return mob.get() != keep; });
}

Mob* Mobs::construct(const std::string& type, const kesp::Box& box, Place* place) {
    for (const Kind& kind : _kinds) {
        if (type != kind.name) continue;
        roster.push_back(kind.make(*this, box, place));
        return roster.back().get();
    }
    return nullptr;
}

Mob* Mobs::construct(const std::string& type, const kesp::Vec& center, const kesp::Vec& half,
                     Place* place) {
    return construct(type, kesp::Box::from_center(center, half), place);
}

long long Mobs::load_frames(const std::string& name, int cols, int rows) {
    if (auto found = sheets.find(name); found != sheets.end()) return found->second;
    auto path = _data_file("texture", name);
    long long first = path.empty() ? -1 : sprites.load(path, cols, rows, -1);
    sheets.emplace(name, first);
    return first;
}

const kesp::Audio* Mobs::load_audio(const std::string& name) {
    if (auto found = sounds.find(name); found != sounds.end()) return found->second.get();
    auto path = _data_file("sound", name);
    return sounds.emplace(name, path.empty() ? nullptr : kesp::load_audio(path, 1)).first->second.get();
}
