#include "game/mob_main.h"

#include "game/mob_effect.h"
#include "game/mob_hostile.h"
#include "game/mob_player.h"
#include "game/mob_solid.h"
#include "game/scene.h"

#include "common/game_files.h"
#include "common/gl_window.h"
#include "common/log_record.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

using kesp::Box;
using kesp::Vec;

// A mob kind for watching the container: it writes what happens to it into a log
// and does in its update whatever the test asks.
class Probe : public Mob {
public:
    using Act = std::function<bool(Probe&, Scene&)>;

    Probe(std::vector<std::string>& log, std::string name, const Box& box, int flags, Act act)
        : Mob(box, flags), log(log), name(std::move(name)), act(std::move(act)) {}
    ~Probe() override { log.push_back("destroy " + name); }

    bool update(Scene& scene) override {
        log.push_back("update " + name);
        return act ? act(*this, scene) : false;
    }
    void render(Mobs&) override { log.push_back("render " + name); }

    std::vector<std::string>& log;
    std::string name;
    Act act;
};

bool logged(const std::vector<std::string>& log, const std::string& entry) {
    return std::find(log.begin(), log.end(), entry) != log.end();
}

// Where an entry first stands in the log; the log's size when it is missing.
std::size_t index_of(const std::vector<std::string>& log, const std::string& entry) {
    return static_cast<std::size_t>(std::find(log.begin(), log.end(), entry) - log.begin());
}

class Mobs_test : public test::Gl_test {
protected:
    void SetUp() override {
        test::Gl_test::SetUp();
        if (HasFatalFailure()) return;
        files.emplace();
        scene.emplace();
        scene->room = room;
        mobs().clock = [this] { return now; };
        mobs().next_tick = now + 33;
    }

    void TearDown() override {
        scene.reset();
        files.reset();
    }

    Mobs& mobs() { return scene->mobs; }

    Probe& add(const std::string& name, int flags = 0, const Box& box = {10, 20, 10, 20},
               Probe::Act act = {}) {
        mobs().roster.push_back(std::make_unique<Probe>(log, name, box, flags, std::move(act)));
        return static_cast<Probe&>(*mobs().roster.back());
    }

    // A player outside the room and outside the roster: only hazards reach it.
    Mob_player& bystander() {
        outside_player = std::make_unique<Mob_player>(mobs(), player_box, nullptr);
        return *outside_player;
    }

    std::vector<std::string> names() const {
        std::vector<std::string> n;
        for (const auto& mob : scene->mobs.roster)
            if (auto* p = dynamic_cast<const Probe*>(mob.get())) n.push_back(p->name);
        return n;
    }

    const Box room{0, 100, 0, 100};
    const Box player_box{300, 308, 300, 316};
    std::uint64_t now = 5000;
    std::vector<std::string> log;
    std::optional<test::Game_files> files;
    std::optional<Scene> scene;
    std::unique_ptr<Mob_player> outside_player;
};

TEST_F(Mobs_test, MobsAppendedDuringThePassAreUpdatedUnlessAppendedByTheLast) {
    struct Case {
        const char* what;
        bool spawner_last;
    };
    const Case cases[] = {{"appended by a middle mob", false}, {"appended by the last mob", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        mobs().roster.clear();
        log.clear();
        bool spawned = false;
        auto spawn = [this, &spawned](Probe&, Scene&) {
            if (!std::exchange(spawned, true)) add("new");
            return false;
        };
        if (c.spawner_last) add("other");
        add("spawner", 0, {10, 20, 10, 20}, spawn);
        if (!c.spawner_last) add("other");

        mobs().update(*scene);
        EXPECT_EQ(logged(log, "update new"), !c.spawner_last);
        EXPECT_EQ(names().back(), "new");

        log.clear();
        mobs().render({0, test::gl_width, 0, test::gl_height});
        EXPECT_EQ(log.size(), 3u);
        EXPECT_EQ(log.back(), "render new");

        log.clear();
        mobs().update(*scene);
        EXPECT_TRUE(logged(log, "update new"));
        EXPECT_EQ(names().size(), 3u);
    }
}

TEST_F(Mobs_test, RoomBoundMobsOutsideTheRoomGoBeforeTheirUpdate) {
    struct Case {
        const char* what;
        int flags;
        Box box;
        bool stays;
        bool harms;
    };
    const int hazard = Body::room_bound | Body::harmful;
    const Case cases[] = {
        {"room-bound hazard outside", hazard, player_box, false, false},
        {"hazard outside, not room-bound", Body::harmful, player_box, true, true},
        {"room-bound, touching the room's edge", Body::room_bound, {100, 108, 50, 58}, true, false},
        {"room-bound inside", Body::room_bound, {40, 48, 40, 48}, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        mobs().roster.clear();
        log.clear();
        Mob_player& player = bystander();
        add("mob", c.flags, c.box);
        mobs().update(*scene);
        EXPECT_EQ(logged(log, "update mob"), c.stays);
        EXPECT_EQ(names().size(), c.stays ? 1u : 0u);
        EXPECT_EQ(logged(log, "destroy mob"), !c.stays);
        EXPECT_EQ(player.health, c.harms ? 127 - 32 : 127);
    }
}

TEST_F(Mobs_test, FlagsAreReadAfterTheUpdateAndARemovingUpdateSkipsHarmAndPhysics) {
    struct Case {
        const char* what;
        int flags;       // set by the update
        bool removes;
        bool harms;
        bool queued;
    };
    const int both = Body::harmful | Body::physical;
    const Case cases[] = {
        {"stays", both, false, true, true},
        {"removed by its update", both, true, false, false},
        {"only physical", Body::physical, false, false, true},
        {"no flags", 0, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        mobs().roster.clear();
        scene->physics.bodies.clear();
        Mob_player& player = bystander();
        Probe& mob = add("mob", 0, player_box, [&c](Probe& self, Scene&) {
            self.set(c.flags);
            return c.removes;
        });
        const Body* body = &mob;
        mobs().update(*scene);
        EXPECT_EQ(player.health, c.harms ? 127 - 32 : 127);
        EXPECT_EQ(scene->physics.bodies.size(), c.queued ? 1u : 0u);
        if (c.queued) {
            EXPECT_EQ(scene->physics.bodies[0], body);
        }
        EXPECT_EQ(names().size(), c.removes ? 0u : 1u);
    }
}

TEST_F(Mobs_test, RemovedMobsLiveUntilThePassEnds) {
    auto go = [](Probe&, Scene&) { return true; };
    add("a", 0, {}, go);
    add("b", Body::room_bound, {500, 510, 500, 510});
    add("c", 0, {}, go);
    add("d");
    mobs().update(*scene);
    EXPECT_EQ(names(), std::vector<std::string>{"d"});
    const std::size_t last_update = index_of(log, "update d");
    ASSERT_LT(last_update, log.size());
    for (const char* gone : {"destroy a", "destroy b", "destroy c"}) {
        SCOPED_TRACE(gone);
        EXPECT_GT(index_of(log, gone), last_update);
        EXPECT_LT(index_of(log, gone), log.size());
    }
}

TEST_F(Mobs_test, HarmfulMobWithoutAPlayerHarmsNobody) {
    add("hazard", Body::harmful);
    mobs().update(*scene);
    EXPECT_TRUE(logged(log, "update hazard"));
    EXPECT_EQ(names().size(), 1u);
}

TEST_F(Mobs_test, TheFirstTickFallsMoreThan33MsAfterConstruction) {
    now = 1000;
    Mobs fresh([this] { return now; });
    EXPECT_EQ(fresh.next_tick, 1033u);
    for (std::uint64_t t : {1010u, 1033u}) {
        now = t;
        fresh.update(*scene);
        EXPECT_FALSE(fresh.tick) << t;
    }
    now = 1034;
    fresh.update(*scene);
    EXPECT_TRUE(fresh.tick);
    EXPECT_EQ(fresh.tick_count, 1u);
    EXPECT_EQ(fresh.next_tick, 1066u);
}

TEST_F(Mobs_test, At16MsATickFallsOnEverySecondOrThirdUpdate) {
    const std::uint64_t start = now;
    std::vector<int> gaps;
    int since = 0;
    for (int i = 1; i <= 200; ++i) {
        now = start + 16u * i;
        const std::uint64_t before = mobs().tick_count;
        mobs().update(*scene);
        ++since;
        EXPECT_EQ(mobs().tick_count - before, mobs().tick ? 1u : 0u);
        if (mobs().tick) {
            gaps.push_back(since);
            since = 0;
        }
    }
    // The tick due at 33 m falls at the first update past it: 3200 ms hold 96 ticks.
    EXPECT_EQ(mobs().tick_count, 96u);
    ASSERT_FALSE(gaps.empty());
    EXPECT_EQ(gaps[0], 3);
    const auto twos = std::count(gaps.begin(), gaps.end(), 2);
    const auto threes = std::count(gaps.begin(), gaps.end(), 3);
    EXPECT_EQ(twos + threes, static_cast<long>(gaps.size()));
    EXPECT_GT(twos, 10 * threes);
}

TEST_F(Mobs_test, AfterAPauseTicksFallOnEveryUpdateUntilCaughtUp) {
    const std::uint64_t start = now;
    now = start + 1000;  // 30 ticks fell due meanwhile
    int ticking = 0;
    for (int i = 0; i < 100; ++i) {
        const std::uint64_t before = mobs().tick_count;
        mobs().update(*scene);
        ASSERT_LE(mobs().tick_count - before, 1u);
        if (!mobs().tick) break;
        ++ticking;
        now += 16;
    }
    // 967 ms behind, the backlog shrinks by 17 ms an update: 57 updates until the
    // tick clock leads again.
    EXPECT_EQ(ticking, 57);
    EXPECT_EQ(mobs().tick_count, 57u);
    EXPECT_EQ(mobs().next_tick, start + 33 * 58);
    EXPECT_GE(mobs().next_tick, now);
}

TEST_F(Mobs_test, ClearKeepsOnlyThePlayer) {
    add("before");
    Mob* first = mobs().construct("player", player_box, nullptr);
    Mob* second = mobs().construct("player", player_box, nullptr);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    add("after");
    EXPECT_EQ(static_cast<Mob*>(mobs().player), second);
    const auto sheets = mobs().sheets.size();

    mobs().clear();
    ASSERT_EQ(mobs().roster.size(), 1u);
    EXPECT_EQ(mobs().roster.front().get(), second);
    EXPECT_TRUE(logged(log, "destroy before"));
    EXPECT_TRUE(logged(log, "destroy after"));
    EXPECT_EQ(mobs().sheets.size(), sheets);

    mobs().player = nullptr;
    mobs().clear();
    EXPECT_TRUE(mobs().roster.empty());
}

template <class Kind>
bool is_a(const Mob* mob) {
    return dynamic_cast<const Kind*>(mob) != nullptr;
}

TEST_F(Mobs_test, FactoryMakesKindsByExactName) {
    struct Case {
        const char* type;
        bool (*is_kind)(const Mob*);
        int flags;
    };
    const Case kinds[] = {
        {"bone", is_a<Mob_bone>, 0xe00},       {"bones", is_a<Mob_bones>, 0xe10},
        {"crack", is_a<Mob_crack>, 0},         {"crawler", is_a<Mob_crawler>, 0xe10},
        {"dust", is_a<Mob_dust>, 0},           {"mirror", is_a<Mob_mirror>, 0},
        {"thorns", is_a<Mob_thorns>, 0x400},   {"peeper", is_a<Mob_peeper>, 0xc00},
        {"player", is_a<Mob_player>, 0x810},   {"poof", is_a<Mob_poof>, 0},
        {"rotten", is_a<Mob_rotten>, 0xe10},   {"splat", is_a<Mob_splat>, 0},
    };
    for (const Case& c : kinds) {
        SCOPED_TRACE(c.type);
        Mob* mob = mobs().construct(c.type, Box{8, 24, 0, 8}, nullptr);
        ASSERT_NE(mob, nullptr);
        EXPECT_TRUE(c.is_kind(mob));
        EXPECT_EQ(mobs().roster.back().get(), mob);
        EXPECT_EQ(mob->pos.x, 16);
        EXPECT_EQ(mob->half.x, 8);
        EXPECT_EQ(mob->flags, c.flags);
    }

    const std::size_t count = mobs().roster.size();
    for (const char* type : {"Dust", "dust ", "target", "brush", "", "mob"}) {
        SCOPED_TRACE(type);
        EXPECT_EQ(mobs().construct(type, Box{8, 24, 0, 8}, nullptr), nullptr);
    }
    EXPECT_EQ(mobs().roster.size(), count);
}

TEST_F(Mobs_test, FactoryWithCentreAndHalfSizeMakesTheSameBox) {
    Mob* a = mobs().construct("poof", Vec{20, 30}, Vec{4, 6}, nullptr);
    ASSERT_NE(a, nullptr);
    const Box want = Box::from_center({20, 30}, {4, 6});
    EXPECT_EQ(a->box.l, want.l);
    EXPECT_EQ(a->box.r, want.r);
    EXPECT_EQ(a->box.u, want.u);
    EXPECT_EQ(a->box.d, want.d);
    EXPECT_EQ(a->pos.y, 30);
    EXPECT_EQ(a->half.y, 6);
}

TEST_F(Mobs_test, SheetsAreReadOncePerFileNameWhateverTheCells) {
    auto plain = [](int cell, int, int) { return test::rgba(40 * cell, 0, 0, 255); };
    files->sheet("dust.png", 4, 1, 8, 8, plain);
    files->sheet("other.png", 2, 1, 8, 8, plain);

    EXPECT_EQ(mobs().load_frames("dust.png", 4, 1), 0);
    std::filesystem::remove(files->data() / "texture" / "dust.png");
    EXPECT_EQ(mobs().load_frames("dust.png", 2, 2), 0);
    EXPECT_EQ(mobs().load_frames("other.png", 2, 1), 4);  // no tile was added in between

    EXPECT_EQ(mobs().load_frames("missing.png", 1, 1), -1);
    files->sheet("missing.png", 1, 1, 8, 8, plain);
    EXPECT_EQ(mobs().load_frames("missing.png", 1, 1), -1);
    EXPECT_EQ(mobs().sheets.size(), 3u);
}

TEST_F(Mobs_test, SoundsAreReadOncePerFileName) {
    files->sound("kill.wav");
    const kesp::Audio* kill = mobs().load_audio("kill.wav");
    ASSERT_NE(kill, nullptr);
    std::filesystem::remove(files->data() / "sound" / "kill.wav");
    EXPECT_EQ(mobs().load_audio("kill.wav"), kill);

    EXPECT_EQ(mobs().load_audio("step.wav"), nullptr);
    files->sound("step.wav");
    EXPECT_EQ(mobs().load_audio("step.wav"), nullptr);
    EXPECT_EQ(mobs().sounds.size(), 2u);
}

// One error line names the file and says why: the search found it in no data
// folder, or the mixer could not read it.
// The player or a map maker sees which sheet or sound failed and why, in one
// error line; the search has listed the folders it looked in.
TEST_F(Mobs_test, ASheetOrSoundThatFailsToLoadIsAnErrorNamingTheFile) {
    const std::filesystem::path notes = files->data() / "texture" / "notes.png";
    const std::filesystem::path noise = files->data() / "sound" / "noise.wav";
    const std::filesystem::path pipe_sheet = files->data() / "texture" / "pipe.png";
    const std::filesystem::path pipe_sound = files->data() / "sound" / "pipe.wav";
    test::write_file(notes, "no picture here");
    test::write_file(noise, "not a sound at all");
    ASSERT_EQ(mkfifo(pipe_sheet.c_str(), 0644), 0);
    ASSERT_EQ(mkfifo(pipe_sound.c_str(), 0644), 0);
    struct Case {
        const char* name;
        bool sound;
        std::string named;
        const char* why;  // null: the image loader's or the mixer's
    };
    const Case cases[] = {
        {"nowhere.png", false, "\"quorla/texture/nowhere.png\": ", std::strerror(ENOENT)},
        {"notes.png", false, "\"" + notes.string() + "\": ", nullptr},
        {"pipe.png", false, "\"" + pipe_sheet.string() + "\": ", "not a regular file"},
        {"step.wav", true, "\"quorla/sound/step.wav\": ", std::strerror(ENOENT)},
        {"noise.wav", true, "\"" + noise.string() + "\": ", nullptr},
        {"pipe.wav", true, "\"" + pipe_sound.string() + "\": ", "not a regular file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::Log_record log;
        if (c.sound)
            EXPECT_EQ(mobs().load_audio(c.name), nullptr);
        else
            EXPECT_EQ(mobs().load_frames(c.name, 1, 1), -1);
        if (!c.why) {
            EXPECT_STRNE(SDL_GetError(), "");
        }
        const std::string line = c.named + (c.why ? c.why : SDL_GetError());
        EXPECT_EQ(log.problems(), std::vector<std::string>{line});
        EXPECT_EQ(log.errors(line), 1);
    }
}

TEST_F(Mobs_test, DestructionWritesTheAtlasToTheStateFolder) {
    files->sheet("dust.png", 4, 1, 8, 8, [](int cell, int, int) { return test::rgba(200, 10 * cell, 7, 255); });
    ASSERT_EQ(mobs().load_frames("dust.png", 4, 1), 0);
    const auto png = files->state() / "mobs.png";
    ASSERT_FALSE(std::filesystem::exists(png));
    scene.reset();

    test::Surface image = test::load_image(png);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->w, 1024);
    EXPECT_EQ(image->h, 1024);
    int painted = 0;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            if (test::pixel_at(image.get(), x, y) == test::rgba(200, 30, 7, 255)) ++painted;
    EXPECT_EQ(painted, 64);  // the fourth cell, 8 x 8, packed near the corner
}

// "mobs.png" only helps a developer look at the sprites: a state folder that
// can't be made or an image that can't be written is one warning naming it, and
// an image is never left cut off.
TEST_F(Mobs_test, AnAtlasImageThatCantBeWrittenIsOneWarningNamingIt) {
    struct Case {
        const char* what;
        void (*spoil)(const std::filesystem::path& state);
        std::string why;  // what the warning says after the file's name
        std::uint64_t limit = 0;  // bytes a file may hold; 0: no limit
    };
    const std::filesystem::path png = files->state() / "mobs.png";
    const Case cases[] = {
        {"a file where the folder goes", [](const std::filesystem::path& s) { test::write_file(s, "x"); },
         "can't make the folder " + files->state().string() + ": "},
        {"a folder where the image goes",
         [](const std::filesystem::path& s) { std::filesystem::create_directories(s / "mobs.png"); }, "Is a directory"},
        {"a disk too full for the image",
         [](const std::filesystem::path& s) { test::write_file(s / "mobs.png", "the old image"); },
         "can't write " + png.string() + ".tmp-", 4096},
    };
    // Noise, which no encoder packs into a few KiB.
    ASSERT_NO_FATAL_FAILURE(test::save_image(test::noise_image(128, 128).get(), files->data() / "texture" / "noise.png"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(files->state());
        c.spoil(files->state());
        const auto before = test::folder_tree(files->state().parent_path());
        scene.emplace();
        ASSERT_EQ(mobs().load_frames("noise.png", 1, 1), 0);
        test::Log_record log;
        {
            std::optional<test::File_size_limit> limit;
            if (c.limit) limit.emplace(c.limit);
            scene.reset();
        }
        const std::string start = "can't write \"" + png.string() + "\": ";
        ASSERT_EQ(log.problems().size(), 1u);
        EXPECT_EQ(log.problems()[0].substr(0, start.size() + c.why.size()), start + c.why) << log.problems()[0];
        EXPECT_EQ(log.errors(log.problems()[0]), 0);
        if (c.limit) {
            EXPECT_NE(log.problems()[0].find(std::strerror(EFBIG)), std::string::npos) << log.problems()[0];
            EXPECT_EQ(test::folder_tree(files->state().parent_path()), before);
        }
    }
}

}  // namespace
