#include "common/player_fixture.h"

#include "game/mob_effect.h"
#include "game/mob_main.h"
#include "game/phys.h"
#include "support/media.h"

#include <string>
#include <utility>

namespace test {

kesp::Box standing(float x) { return kesp::Box::from_center({x, floor_y - 8}, {4, 8}); }

void Player_test::SetUp() {
    Gl_test::SetUp();
    if (HasFatalFailure()) return;
    saved_fps = kesp::conf.fps;
    saved_inputs = std::exchange(kesp::inputs, {});
    kesp::inputs.resize(8);
    files.emplace();
    write_files(true);
}

void Player_test::TearDown() {
    scene.reset();
    files.reset();
    kesp::inputs = std::move(saved_inputs);
    kesp::conf.fps = saved_fps;
}

void Player_test::write_files(bool walk_sheet) {
    for (const Sheet_file& s : sheets) {
        if (!walk_sheet && std::string(s.name) == "player_walk.png") continue;
        bool head = std::string(s.name) == "player_head.png";
        int w = head ? head_side : body_w, h = head ? head_side : body_h;
        int first = s.first;
        files->sheet(s.name, s.cols, 1, w, h, [=](int cell, int x, int) {
            return head ? head_colour(cell, x >= head_side / 2) : body_colour(first + cell);
        });
    }
    files->sheet("dust.png", 4, 1, 8, 8, [](int, int, int) { return rgba(9, 9, 9, 255); });
    for (const char* s : sounds) files->sound(s);
}

void Player_test::build(int fps, const kesp::Box& box, const std::function<void(Scene&)>& prepare) {
    kesp::conf.fps = fps;
    scene.reset();
    scene.emplace();
    scene->room = {0, map_w * 8, 0, map_h * 8};
    scene->mobs.clock = [this] { return now; };
    scene->mobs.next_tick = now + 33;
    kesp::Grid<bool>& solid = scene->physics.solid;
    solid.resize(map_w, map_h);
    for (int y = 0; y < map_h; ++y)
        for (int x = 0; x < map_w; ++x) solid.at(x, y) = y == floor_row;
    if (prepare) prepare(*scene);
    p = static_cast<Mob_player*>(scene->mobs.construct("player", box, nullptr));
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(scene->mobs.player, p);
    for (const kesp::Audio* sound : {p->step_sound, p->jump_sound, p->land_sound, p->skid_sound,
                                     p->dunk_sound, p->hurt_sound, p->attk_sound})
        ASSERT_NE(sound, nullptr);
    hold(0, 0);
}

void Player_test::hold(float left, float right) {
    kesp::inputs[0].value = left;
    kesp::inputs[1].value = right;
}

float Player_test::dt() const { return 30.0f / static_cast<float>(kesp::conf.fps); }

void Player_test::update() {
    now += ms_per_update;
    scene->mobs.update(*scene);
}

void Player_test::physics() { scene->physics.step(dt()); }

void Player_test::step(int n) {
    for (int i = 0; i < n; ++i) {
        update();
        physics();
    }
}

void Player_test::settle() {
    for (int i = 0; i < 100 && (!p->is(Body::touch_dn) || p->coyote_timer == 0 ||
                                p->landing_timer != 0);
         ++i)
        step();
    ASSERT_TRUE(p->is(Body::touch_dn));
    ASSERT_EQ(p->landing_timer, 0);
}

void Player_test::update_alone() {
    p->update(*scene);
    scene->physics.engines.clear();
}

int Player_test::dust() const {
    int n = 0;
    for (const auto& mob : scene->mobs.roster) n += dynamic_cast<const Mob_dust*>(mob.get()) != nullptr;
    return n;
}

}  // namespace test
