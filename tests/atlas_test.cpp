#include "support/atlas.h"

#include "support/log.h"

#include "common/gl_window.h"
#include "common/process.h"

#include <GL/glew.h>
#include <SDL.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>

namespace {

// Every pixel of every test image tells which image and where it came from.
std::uint32_t ident(int x, int y, int id) {
    return test::rgba(static_cast<std::uint32_t>(x % 256), static_cast<std::uint32_t>(y),
                      static_cast<std::uint32_t>(x / 256 + 16 * id), 255);
}

test::Surface image(int w, int h, int id) {
    return test::make_image(w, h, [id](int x, int y) { return ident(x, y, id); });
}

int count(const std::string& text, const std::string& what) {
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

class Atlas : public test::Gl_test {
protected:
    // Writes a w x h image with the given id as PNG into the test's own folder.
    std::filesystem::path file(int w, int h, int id) {
        auto path = dir / ("image" + std::to_string(id) + ".png");
        test::save_image(image(w, h, id).get(), path);
        return path;
    }

    // The w x h block at (ax, ay) of the atlas texture holds the image block at (sx, sy).
    static void expect_copy(const test::Pixels& tex, int ax, int ay, int sx, int sy, int w, int h,
                            int id) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                ASSERT_EQ(tex.at(ax + x, ay + y), ident(sx + x, sy + y, id))
                    << "atlas pixel (" << ax + x << ", " << ay + y << ")";
    }

    static void expect_box(const kesp::Box& b, float l, float r, float u, float d) {
        EXPECT_FLOAT_EQ(b.l, l);
        EXPECT_FLOAT_EQ(b.r, r);
        EXPECT_FLOAT_EQ(b.u, u);
        EXPECT_FLOAT_EQ(b.d, d);
    }

    test::Temp_dir dir;
};

TEST_F(Atlas, ANewAtlasSendsNothing) {
    kesp::Atlas atlas(1024, 0, GL_NEAREST);
    EXPECT_EQ(atlas.size(), 1024);
    unsigned name = atlas.upload();
    EXPECT_NE(name, 0u);
    EXPECT_EQ(atlas.upload(), name);
    EXPECT_EQ(test::read_texture(name).w, 0);
    EXPECT_THROW(atlas.get(0), std::out_of_range);
}

TEST_F(Atlas, CellsBecomeTilesNumberedInOrderAndCopiedInPlace) {
    kesp::Atlas atlas(1024, 0, GL_NEAREST);
    ASSERT_EQ(atlas.load(file(80, 8, 1), 10, 1, -1), 0);
    for (int i = 0; i < 10; ++i)
        expect_box(atlas.get(i), i * 8 / 1024.f, (i + 1) * 8 / 1024.f, 0, 8 / 1024.f);
    EXPECT_EQ(atlas.get(1).l, 0.0078125f);
    EXPECT_EQ(atlas.get(1).r, 0.015625f);
    EXPECT_EQ(atlas.get(1).u, 0.0f);
    EXPECT_EQ(atlas.get(1).d, 0.0078125f);
    EXPECT_THROW(atlas.get(10), std::out_of_range);

    ASSERT_EQ(atlas.load(file(16, 16, 2), 2, 2, -1), 10);
    // Row by row: the second image's tiles follow on row 0, then row 8 of it.
    expect_box(atlas.get(12), 96 / 1024.f, 104 / 1024.f, 0, 8 / 1024.f);

    test::Pixels tex = test::read_texture(atlas.upload());
    ASSERT_EQ(tex.w, 1024);
    ASSERT_EQ(tex.h, 1024);
    expect_copy(tex, 0, 0, 0, 0, 80, 8, 1);
    expect_copy(tex, 80, 0, 0, 0, 8, 8, 2);
    expect_copy(tex, 88, 0, 8, 0, 8, 8, 2);
    expect_copy(tex, 96, 0, 0, 8, 8, 8, 2);
    expect_copy(tex, 104, 0, 8, 8, 8, 8, 2);
    EXPECT_EQ(tex.at(112, 0), 0u);  // the rest is still transparent black
    EXPECT_EQ(tex.at(0, 8), 0u);
}

TEST_F(Atlas, UploadLeavesNoGlErrorAndClampsToTheEdge) {
    kesp::Atlas atlas(64, 0, GL_NEAREST);
    test::Surface img = test::make_image(8, 8, [](int, int) { return test::rgba(1, 2, 3, 255); });
    ASSERT_EQ(atlas.add(img.get(), 1, 1, -1), 0);
    while (glGetError() != GL_NO_ERROR) {}
    glBindTexture(GL_TEXTURE_2D, atlas.upload());
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    GLint wrap_s = 0, wrap_t = 0;
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &wrap_s);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, &wrap_t);
    EXPECT_EQ(wrap_s, GL_CLAMP_TO_EDGE);
    EXPECT_EQ(wrap_t, GL_CLAMP_TO_EDGE);
}

TEST_F(Atlas, TheHundredAndTwentyNinthTileWrapsToTheNextRow) {
    kesp::Atlas atlas(1024, 0, GL_NEAREST);
    ASSERT_EQ(atlas.load(file(129 * 8, 8, 3), 129, 1, -1), 0);
    expect_box(atlas.get(127), 1016 / 1024.f, 1.f, 0, 8 / 1024.f);
    expect_box(atlas.get(128), 0, 8 / 1024.f, 8 / 1024.f, 16 / 1024.f);
    expect_copy(test::read_texture(atlas.upload()), 0, 8, 1024, 0, 8, 8, 3);
}

TEST_F(Atlas, CellsTruncateAndLeaveTheRemainderUnused) {
    kesp::Atlas atlas(64, 0, GL_NEAREST);
    ASSERT_EQ(atlas.load(file(20, 8, 4), 3, 1, -1), 0);
    for (int i = 0; i < 3; ++i) expect_box(atlas.get(i), i * 6 / 64.f, (i + 1) * 6 / 64.f, 0, 8 / 64.f);
    EXPECT_THROW(atlas.get(3), std::out_of_range);
    test::Pixels tex = test::read_texture(atlas.upload());
    expect_copy(tex, 0, 0, 0, 0, 18, 8, 4);
    for (int y = 0; y < 8; ++y) {
        EXPECT_EQ(tex.at(18, y), 0u);  // image columns 18 and 19 were never copied
        EXPECT_EQ(tex.at(19, y), 0u);
    }
}

TEST_F(Atlas, PaddingReservesAFrameThatIsNeverWritten) {
    kesp::Atlas atlas(64, 1, GL_NEAREST);
    ASSERT_EQ(atlas.load(file(16, 8, 5), 2, 1, -1), 0);
    expect_box(atlas.get(0), 1 / 64.f, 9 / 64.f, 1 / 64.f, 9 / 64.f);
    expect_box(atlas.get(1), 11 / 64.f, 19 / 64.f, 1 / 64.f, 9 / 64.f);
    test::Pixels tex = test::read_texture(atlas.upload());
    expect_copy(tex, 1, 1, 0, 0, 8, 8, 5);
    expect_copy(tex, 11, 1, 8, 0, 8, 8, 5);
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(tex.at(i, 0), 0u) << i;
        EXPECT_EQ(tex.at(i, 9), 0u) << i;
    }
    for (int y = 0; y < 10; ++y)
        for (int x : {0, 9, 10, 19}) EXPECT_EQ(tex.at(x, y), 0u) << x << ", " << y;
}

TEST_F(Atlas, OverflowKeepsTheCellsAddedBefore) {
    // A 48 x 48 square: a full-height strip, then room for five 8 x 32 cells.
    kesp::Atlas atlas(48, 0, GL_NEAREST);
    ASSERT_EQ(atlas.load(file(8, 48, 6), 1, 1, -1), 0);
    SDL_ClearError();
    testing::internal::CaptureStderr();
    EXPECT_EQ(atlas.load(file(48, 32, 7), 6, 1, -1), -1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(count(err, "Atlas overflow"), 1) << err;
    EXPECT_STREQ(kesp::platform_error(), "Atlas overflow");
    for (int i = 1; i <= 5; ++i)
        expect_box(atlas.get(i), i * 8 / 48.f, (i + 1) * 8 / 48.f, 0, 32 / 48.f);
    EXPECT_THROW(atlas.get(6), std::out_of_range);
    EXPECT_EQ(atlas.load(file(8, 8, 8), 1, 1, -1), 6);
    expect_box(atlas.get(6), 8 / 48.f, 16 / 48.f, 32 / 48.f, 40 / 48.f);
}

TEST_F(Atlas, AOneCellAddThatDoesNotFitIsFalse) {
    kesp::Atlas atlas(16, 0, GL_NEAREST);
    test::Surface img = image(20, 8, 9);
    SDL_Rect too_wide{0, 0, 17, 8};
    testing::internal::CaptureStderr();
    EXPECT_FALSE(atlas.add(img.get(), too_wide));
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Atlas overflow"), std::string::npos);
    EXPECT_THROW(atlas.get(0), std::out_of_range);
    EXPECT_EQ(test::read_texture(atlas.upload()).w, 0);  // nothing changed, nothing sent
}

TEST_F(Atlas, AMissingFileLeavesTheAtlasUnchanged) {
    kesp::Atlas atlas(64, 0, GL_NEAREST);
    ASSERT_EQ(atlas.load(file(16, 8, 10), 2, 1, -1), 0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(atlas.load(dir / "missing.png", 1, 1, -1), -1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("ERROR: "), std::string::npos) << err;
    EXPECT_EQ(atlas.load(file(8, 8, 11), 1, 1, -1), 2);
}

TEST_F(Atlas, OneCellByIndexAndRefusedCuts) {
    kesp::Atlas atlas(64, 0, GL_NEAREST);
    test::Surface img = image(16, 12, 12);  // 4 x 3 cells of 4 x 4
    EXPECT_EQ(atlas.add(img.get(), 4, 3, 7), 0);  // column 3, row 1
    expect_box(atlas.get(0), 0, 4 / 64.f, 0, 4 / 64.f);
    expect_copy(test::read_texture(atlas.upload()), 0, 0, 12, 4, 4, 4, 12);

    // Each refusal leaves its reason as the platform's error text, for callers to name.
    struct Refused {
        int cols, rows, index;
        const char* reason;
    };
    // 17 columns or 13 rows of a 16 x 12 image would be cells of no pixels.
    for (Refused c : {Refused{0, 1, -1, "Atlas can't cut a 16 x 12 image into 0 x 1 cells"},
                      Refused{1, 0, -1, "Atlas can't cut a 16 x 12 image into 1 x 0 cells"},
                      Refused{-2, 3, 0, "Atlas can't cut a 16 x 12 image into -2 x 3 cells"},
                      Refused{4, 3, 12, "Atlas cell 12 lies outside a 4 x 3 cut"},
                      Refused{4, 3, 100, "Atlas cell 100 lies outside a 4 x 3 cut"},
                      Refused{17, 1, -1, "Atlas can't cut a 16 x 12 image into 17 x 1 cells"},
                      Refused{1, 13, -1, "Atlas can't cut a 16 x 12 image into 1 x 13 cells"},
                      Refused{17, 1, 0, "Atlas can't cut a 16 x 12 image into 17 x 1 cells"},
                      Refused{2000000000, 1, -1, "Atlas can't cut a 16 x 12 image into 2000000000 x 1 cells"}}) {
        SCOPED_TRACE(testing::Message() << c.cols << " x " << c.rows << " index " << c.index);
        SDL_ClearError();
        EXPECT_EQ(atlas.add(img.get(), c.cols, c.rows, c.index), -1);
        EXPECT_STREQ(kesp::platform_error(), c.reason);
    }
    EXPECT_THROW(atlas.get(1), std::out_of_range);
    EXPECT_EQ(atlas.add(img.get(), 4, 3, 11), 1);  // the last cell is still in the image
}

TEST_F(Atlas, CopiesAlphaAsItIs) {
    kesp::Atlas atlas(16, 0, GL_NEAREST);
    test::Surface img = test::make_image(2, 1, [](int x, int) {
        return x ? test::rgba(200, 100, 50, 128) : test::rgba(10, 20, 30, 0);
    });
    SDL_Rect cell{0, 0, 2, 1};
    ASSERT_TRUE(atlas.add(img.get(), cell));
    SDL_BlendMode mode = SDL_BLENDMODE_BLEND;
    SDL_GetSurfaceBlendMode(img.get(), &mode);
    EXPECT_EQ(mode, SDL_BLENDMODE_NONE);  // the setting stays on the caller's image
    test::Pixels tex = test::read_texture(atlas.upload());
    EXPECT_EQ(tex.at(0, 0), test::rgba(10, 20, 30, 0));
    EXPECT_EQ(tex.at(1, 0), test::rgba(200, 100, 50, 128));
}

TEST_F(Atlas, ClearRestartsNumberingButKeepsThePixels) {
    kesp::Atlas atlas(64, 0, GL_NEAREST);
    ASSERT_EQ(atlas.load(file(32, 8, 13), 4, 1, -1), 0);
    atlas.clear();
    EXPECT_THROW(atlas.get(0), std::out_of_range);
    ASSERT_EQ(atlas.load(file(8, 8, 14), 1, 1, -1), 0);
    expect_box(atlas.get(0), 0, 8 / 64.f, 0, 8 / 64.f);
    EXPECT_THROW(atlas.get(1), std::out_of_range);
    test::Pixels tex = test::read_texture(atlas.upload());
    expect_copy(tex, 0, 0, 0, 0, 8, 8, 14);
    expect_copy(tex, 8, 0, 8, 0, 24, 8, 13);  // painted over only where the new tile landed
}

// An indexed PNG with one transparent entry loads with a colour key, which the
// copy skips; the tile must still replace what the old one left there.
TEST_F(Atlas, AColourKeyedCellReplacesThePixelsUnderIt) {
    kesp::Atlas atlas(16, 0, GL_NEAREST);
    ASSERT_EQ(atlas.add(image(2, 1, 1).get(), 1, 1, -1), 0);
    atlas.clear();
    test::Surface keyed(SDL_CreateRGBSurfaceWithFormat(0, 2, 1, 8, SDL_PIXELFORMAT_INDEX8));
    ASSERT_TRUE(keyed);
    const SDL_Color colours[] = {{255, 0, 0, 255}, {0, 255, 0, 255}};
    ASSERT_EQ(SDL_SetPaletteColors(keyed->format->palette, colours, 0, 2), 0);
    static_cast<Uint8*>(keyed->pixels)[0] = 0;
    static_cast<Uint8*>(keyed->pixels)[1] = 1;
    ASSERT_EQ(SDL_SetColorKey(keyed.get(), SDL_TRUE, 0), 0);
    ASSERT_EQ(atlas.add(keyed.get(), 1, 1, -1), 0);
    test::Pixels tex = test::read_texture(atlas.upload());
    EXPECT_EQ(tex.at(0, 0) >> 24, 0u) << std::hex << tex.at(0, 0);
    EXPECT_EQ(tex.at(1, 0), test::rgba(0, 255, 0, 255));
}

TEST_F(Atlas, UploadSendsOnlyAfterAChange) {
    kesp::Atlas atlas(16, 0, GL_NEAREST);
    ASSERT_EQ(atlas.load(file(4, 4, 15), 1, 1, -1), 0);
    unsigned name = atlas.upload();
    test::Pixels sent = test::read_texture(name);
    ASSERT_EQ(sent.w, 16);
    expect_copy(sent, 0, 0, 0, 0, 4, 4, 15);

    GLint filter = 0;
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &filter);
    EXPECT_EQ(filter, GL_NEAREST);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &filter);
    EXPECT_EQ(filter, GL_NEAREST);

    // Mark the texture behind the atlas's back: a second upload must not resend.
    std::vector<std::uint32_t> marks(16 * 16, test::rgba(1, 2, 3, 4));
    glBindTexture(GL_TEXTURE_2D, name);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 16, 16, GL_RGBA, GL_UNSIGNED_BYTE, marks.data());
    EXPECT_EQ(atlas.upload(), name);
    EXPECT_EQ(test::read_texture(name).data, marks);

    ASSERT_EQ(atlas.load(file(4, 4, 16), 1, 1, -1), 1);
    EXPECT_EQ(atlas.upload(), name);
    test::Pixels again = test::read_texture(name);
    expect_copy(again, 0, 0, 0, 0, 4, 4, 15);
    expect_copy(again, 4, 0, 0, 0, 4, 4, 16);
}

TEST_F(Atlas, SavesAPngThatLoadsBackWithTheSamePixels) {
    kesp::Atlas atlas(32, 1, GL_NEAREST);
    ASSERT_EQ(atlas.load(file(24, 10, 17), 3, 2, -1), 0);
    test::Surface translucent = test::make_image(3, 3, [](int x, int y) {
        return test::rgba(40 * x, 50 * y, 7, 60 * x + 20 * y);
    });
    SDL_Rect cell{0, 0, 3, 3};
    ASSERT_TRUE(atlas.add(translucent.get(), cell));
    auto path = dir / "atlas.png";
    atlas.save_png(path);
    test::Surface back = test::load_image(path);
    ASSERT_TRUE(back) << SDL_GetError();
    ASSERT_EQ(back->w, 32);
    ASSERT_EQ(back->h, 32);
    test::Pixels tex = test::read_texture(atlas.upload());
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            ASSERT_EQ(test::pixel_at(back.get(), x, y), tex.at(x, y)) << x << ", " << y;
    expect_copy(tex, 1, 1, 0, 0, 8, 5, 17);
}

// The image is written whole or not at all: under a file size limit, as on a
// full disk, the old image stays as it was with nothing beside it, and the
// reason is the system's.
TEST_F(Atlas, APngThatCantBeWrittenWholeLeavesTheOldOne) {
    kesp::Atlas atlas(128, 0, GL_NEAREST);
    // Noise, which no encoder packs below the limit.
    test::Surface noise = test::noise_image(128, 128);
    SDL_Rect cell{0, 0, 128, 128};
    ASSERT_TRUE(atlas.add(noise.get(), cell));
    const auto path = dir / "state" / "atlas.png";
    test::write_file(path, "the old image");
    {
        test::File_size_limit limit(4096);
        EXPECT_FALSE(atlas.save_png(path));
    }
    EXPECT_NE(std::string(SDL_GetError()).find(std::strerror(EFBIG)), std::string::npos) << SDL_GetError();
    EXPECT_EQ(test::folder_tree(dir / "state"), (std::map<std::string, std::string>{{"atlas.png", "the old image"}}));

    ASSERT_TRUE(atlas.save_png(path)) << SDL_GetError();
    test::Surface back = test::load_image(path);
    ASSERT_TRUE(back) << SDL_GetError();
    EXPECT_EQ(test::pixel_at(back.get(), 127, 127), test::pixel_at(noise.get(), 127, 127));
    EXPECT_EQ(test::folder_tree(dir / "state").size(), 1u);
}

TEST_F(Atlas, ASurfaceThatCannotBeMadeThrows) {
    testing::internal::CaptureStderr();
    try {
        kesp::Atlas atlas(-1, 0, GL_NEAREST);
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "can't create atlas");
    }
    EXPECT_NE(testing::internal::GetCapturedStderr().find("ERROR: "), std::string::npos);
}

}  // namespace
