// The default level as a place to play: rooms with ground, the player and
// every kind of mob placed in the open, and mirrors and cracks that work.
#include "common/default_map.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <set>
#include <string>
#include <vector>

namespace {

using test::Map_fixture;
using test::Place;
using test::Rect;

TEST_F(Map_fixture, RoomsOfBothSizesEachWithGroundAndNoTwoSharingSpace)
{
    int full = 0, small = 0;
    for (const Rect& r : rooms) {
        (r.w >= 384 && r.h >= 216 ? full : small)++;
        EXPECT_TRUE(r.x >= 0 && r.y >= 0 && r.right() <= w * 8.0 && r.bottom() <= h * 8.0);
        // Ground: a solid tile inside the room with open space above it.
        bool ground = false;
        for (int y = static_cast<int>(r.y / 8) + 1; y < r.bottom() / 8 && !ground; ++y)
            for (int x = static_cast<int>(r.x / 8); x < r.right() / 8 && !ground; ++x)
                ground = solid_at(x, y) && !solid_at(x, y - 1);
        EXPECT_TRUE(ground) << "room at " << r.x << ", " << r.y;
    }
    EXPECT_GE(full, 3);
    EXPECT_GE(small, 1);
    for (std::size_t i = 0; i < rooms.size(); ++i)
        for (std::size_t j = i + 1; j < rooms.size(); ++j) {
            const Rect& a = rooms[i];
            const Rect& b = rooms[j];
            const bool shared = a.x < b.right() && b.x < a.right() && a.y < b.bottom() && b.y < a.bottom();
            EXPECT_FALSE(shared) << "rooms " << i << " and " << j;
        }
}

TEST_F(Map_fixture, OnePlayerStandingInARoom)
{
    const auto players = of_type("player");
    ASSERT_EQ(players.size(), 1u);
    const Rect& b = players[0]->box;
    EXPECT_TRUE(room_of(b.cx(), b.cy()));
    EXPECT_FALSE(hits_solid(b));
    EXPECT_TRUE(stands(b));
}

TEST_F(Map_fixture, EveryKindIsPlacedAndEveryMobFitsItsRoom)
{
    const std::set<std::string> kinds{"bone", "bones", "crack", "crawler", "dust", "mirror",
                                      "thorns", "peeper", "player", "poof", "rotten", "splat"};
    const std::set<std::string> markers{"target", "brush"};
    std::set<std::string> seen;
    for (const Place& p : places) {
        SCOPED_TRACE(p.type + " at " + std::to_string(p.box.x) + ", " + std::to_string(p.box.y));
        EXPECT_TRUE(kinds.count(p.type) || markers.count(p.type)) << "unknown type";
        seen.insert(p.type);
        if (markers.count(p.type) || p.type == "crack")
            continue;
        // Every mob starts in a room, in the open; the walkers and crawlers on the ground.
        EXPECT_TRUE(room_of(p.box.cx(), p.box.cy()));
        EXPECT_FALSE(hits_solid(p.box));
        if (p.type == "rotten" || p.type == "bones" || p.type == "crawler") {
            EXPECT_TRUE(stands(p.box));
        }
    }
    for (const std::string& k : kinds)
        EXPECT_TRUE(seen.count(k)) << k << " is never placed";
}

TEST_F(Map_fixture, MirrorsSendThePlayerToATargetInAnotherRoom)
{
    const auto mirrors = of_type("mirror");
    ASSERT_FALSE(mirrors.empty());
    for (const Place* mirror : mirrors) {
        SCOPED_TRACE("mirror " + mirror->name);
        const Rect* from = room_of(mirror->box.cx(), mirror->box.cy());
        ASSERT_TRUE(from);
        const Place* target = nullptr;
        for (const Place& p : places)
            if (!target && p.type == "target" && p.name == mirror->name)
                target = &p;
        ASSERT_TRUE(target);
        const Rect* to = room_of(target->box.cx(), target->box.cy());
        ASSERT_TRUE(to);
        EXPECT_NE(to, from);
        // A centre at or below the mirror room's bottom would count as a fall.
        EXPECT_LT(target->box.cy(), from->bottom());
        // She lands on her feet in the open.
        const Rect body{target->box.cx() - 4, target->box.cy() - 10, 8, 20};
        EXPECT_FALSE(hits_solid(body));
        EXPECT_TRUE(stands(body));
    }
}

TEST_F(Map_fixture, CracksSwapASolidWallWithOpenSpaceOfTheSameSize)
{
    const auto cracks = of_type("crack");
    ASSERT_FALSE(cracks.empty());
    for (const Place* crack : cracks) {
        SCOPED_TRACE("crack " + crack->name);
        std::vector<const Place*> brushes;
        for (const Place& p : places)
            if (p.type == "brush" && p.name == crack->name)
                brushes.push_back(&p);
        ASSERT_GE(brushes.size(), 2u);
        const Rect& a = brushes[0]->box;
        const Rect& b = brushes[1]->box;
        EXPECT_TRUE(crack->box.overlaps(a)) << "the blow must land on the wall it breaks";
        // The swap takes every cell the first brush touches and the same block
        // from the second brush's top-left cell: wall there, open space here.
        const int ax = static_cast<int>(std::floor(a.x / 8)), ay = static_cast<int>(std::floor(a.y / 8));
        const int bx = static_cast<int>(std::floor(b.x / 8)), by = static_cast<int>(std::floor(b.y / 8));
        const int cw = static_cast<int>(std::ceil(a.right() / 8)) - ax, ch = static_cast<int>(std::ceil(a.bottom() / 8)) - ay;
        ASSERT_TRUE(bx >= 0 && by >= 0 && bx + cw <= w && by + ch <= h);
        for (int j = 0; j < ch; ++j)
            for (int i = 0; i < cw; ++i) {
                EXPECT_TRUE(solid_at(ax + i, ay + j));
                EXPECT_FALSE(solid_at(bx + i, by + j));
            }
    }
}

}  // namespace
