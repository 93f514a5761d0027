// The generated sheets and sounds: every sheet the mobs load, cut the way they
// cut it; every sound.
#include "common/gl_window.h"
#include "common/shipped_data.h"

#include <SDL.h>
#include <SDL_image.h>
#include <gtest/gtest.h>

#include <cstdint>

namespace {

using test::data_dir;
using test::load_image;
using test::Surface;
using test::wav_seconds;

std::uint8_t alpha(const SDL_Surface* s, int x, int y)
{
    return static_cast<const std::uint8_t*>(s->pixels)[y * s->pitch + x * 4 + 3];
}

// The lowest row of a cell that holds a visible pixel, or -1 for an empty cell.
int lowest_row(const SDL_Surface* s, int x0, int y0, int w, int h)
{
    for (int y = h - 1; y >= 0; --y)
        for (int x = 0; x < w; ++x)
            if (alpha(s, x0 + x, y0 + y))
                return y;
    return -1;
}

struct Sheet {
    const char* file;
    int cols, rows;  // as the mob that loads it cuts it
    int cw, ch;      // the cell size its map box and drawing offset call for
    bool stands;     // every frame has its feet on the cell's bottom row
};

// Player bodies are centred on an 8x20 box; rotten and bones are drawn 4 pixels
// above a 12x16 box, so a 24-pixel cell ends at the box's bottom; effects and
// flyers are centred on boxes of their cell's size.
const Sheet sheets[] = {
    {"player_idle.png", 1, 1, 16, 20, true},
    {"player_walk.png", 10, 1, 16, 20, true},
    {"player_run.png", 10, 1, 16, 20, false},
    {"player_jump.png", 10, 1, 16, 20, false},
    {"player_skid.png", 1, 1, 16, 20, true},
    {"player_hurt.png", 2, 1, 16, 20, true},
    {"player_reel.png", 1, 1, 16, 20, false},
    {"player_attk.png", 4, 1, 32, 32, false},
    {"player_head.png", 3, 1, 8, 8, false},
    {"rotten.png", 7, 1, 16, 24, true},
    {"bones.png", 7, 1, 16, 24, true},
    {"bone.png", 3, 1, 8, 8, false},
    {"peeper.png", 4, 1, 16, 16, false},
    {"crawler.png", 2, 1, 8, 8, true},
    {"dust.png", 4, 1, 8, 8, false},
    {"splat.png", 5, 1, 16, 16, false},
    {"poof.png", 7, 1, 16, 16, false},
};

TEST(Sheets, EveryCellHoldsAFrameAndWalkersStandOnTheirBoxBottom)
{
    for (const Sheet& sheet : sheets) {
        SCOPED_TRACE(sheet.file);
        const Surface s = load_image(data_dir / "texture" / sheet.file);
        ASSERT_TRUE(s) << IMG_GetError();
        // The game cuts a sheet into columns x rows by dividing its size: any
        // other size would shift every frame.
        EXPECT_EQ(s->w, sheet.cols * sheet.cw);
        EXPECT_EQ(s->h, sheet.rows * sheet.ch);
        for (int r = 0; r < sheet.rows; ++r)
            for (int c = 0; c < sheet.cols; ++c) {
                const int low = lowest_row(s.get(), c * sheet.cw, r * sheet.ch, sheet.cw, sheet.ch);
                EXPECT_GE(low, 0) << "frame " << r * sheet.cols + c << " is empty";
                if (sheet.stands) {
                    EXPECT_EQ(low, sheet.ch - 1) << "frame " << r * sheet.cols + c << " floats";
                }
            }
    }
}

const char* const sounds[] = {"step.wav", "jump.wav", "land.wav", "skid.wav",
                              "dunk.wav", "hurt.wav", "attk.wav", "kill.wav"};

TEST(Sounds, EveryEffectIsAShortWav)
{
    for (const char* name : sounds) {
        SCOPED_TRACE(name);
        const double seconds = wav_seconds(data_dir / "sound" / name);
        EXPECT_GT(seconds, 0.01) << SDL_GetError();
        EXPECT_LT(seconds, 1.0);
    }
}

TEST(Sounds, TheMusicIsALongWav)
{
    EXPECT_GT(wav_seconds(data_dir / "sound" / "princess.wav"), 20.0) << SDL_GetError();
}

}  // namespace
