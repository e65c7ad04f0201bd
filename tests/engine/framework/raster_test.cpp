#include "engine/framework/raster.h"
#include "engine/framework/resources.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

namespace tunefold {
namespace {

TEST(Raster, DrawingClipsAndHitsExactPixels) {
    TRaster r(10, 6, clBlack);
    r.FillRect({-5, -5, 3, 2}, clRed); // clipped to (0,0)-(3,2)
    EXPECT_EQ(r.GetPixel(2, 1), clRed);
    EXPECT_EQ(r.GetPixel(3, 1), clBlack);
    EXPECT_EQ(r.GetPixel(2, 2), clBlack);
    r.SetPixel(50, 50, clWhite); // ignored, no crash
    EXPECT_EQ(r.GetPixel(50, 50), clBlack);

    r.Clear(clBlack);
    r.FrameRect({1, 1, 5, 4}, clLime);
    int lit = 0;
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 10; ++x)
            lit += r.GetPixel(x, y) == clLime;
    EXPECT_EQ(lit, 2 * 4 + 2 * 1); // 4 wide, 3 high outline
    EXPECT_EQ(r.GetPixel(2, 2), clBlack);

    r.Clear(clBlack);
    r.Line(0, 0, 9, 5, clWhite);
    EXPECT_EQ(r.GetPixel(0, 0), clWhite);
    EXPECT_EQ(r.GetPixel(9, 5), clWhite);
    // One pixel per column on a shallow line.
    for (int x = 0; x < 10; ++x) {
        int n = 0;
        for (int y = 0; y < 6; ++y)
            n += r.GetPixel(x, y) == clWhite;
        EXPECT_EQ(n, 1) << x;
    }
}

TEST(Raster, BlitClipsOnBothSidesAndScrollMovesRows) {
    TRaster src(4, 4, clBlack);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            src.SetPixel(x, y, static_cast<TColor>(y * 4 + x + 1));
    TRaster dst(4, 4, clWhite);
    dst.Blit(src, {0, 0, 4, 4}, -1, 2);
    EXPECT_EQ(dst.GetPixel(0, 2), 2u); // source (1,0)
    EXPECT_EQ(dst.GetPixel(2, 3), 8u); // source (3,1)
    EXPECT_EQ(dst.GetPixel(3, 3), clWhite);
    EXPECT_EQ(dst.GetPixel(0, 1), clWhite);

    TRaster s = src;
    s.ScrollRect({0, 0, 4, 4}, 2);
    EXPECT_EQ(s.GetPixel(1, 2), 2u); // row 0 moved to row 2
    EXPECT_EQ(s.GetPixel(1, 3), 6u); // row 1 moved to row 3
    EXPECT_EQ(s.GetPixel(1, 0), 2u); // uncovered rows keep their old content
}

TEST(Raster, FontDrawsDigitsDistinctly) {
    // Each digit must have its own pattern, or labels become unreadable.
    std::vector<std::vector<Pixel>> seen;
    for (char c = '0'; c <= '9'; ++c) {
        TRaster r(3, 5, clBlack);
        r.TextOut(0, 0, std::string(1, c), clWhite);
        for (const auto& other : seen)
            EXPECT_NE(other, r.Pixels()) << c;
        seen.push_back(r.Pixels());
    }
    EXPECT_EQ(TRaster::TextWidth("100"), 11);
}

// A hand-made 2 x 2, 1-bit bitmap, bottom-up: bottom row (1,0), top row (0,1), palette red / blue.
std::vector<std::uint8_t> OneBitFile() {
    std::vector<std::uint8_t> f = {'B', 'M', 70, 0, 0, 0, 0, 0, 0, 0, 62, 0, 0, 0, 40, 0, 0, 0,
                                   2,   0,   0,  0, 2, 0, 0, 0, 1, 0, 1,  0, 0, 0, 0,  0, 8, 0,
                                   0,   0,   0,  0, 0, 0, 0, 0, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0};
    const std::array<std::uint8_t, 8> palette = {0, 0, 255, 0, 255, 0, 0, 0}; // BGRx: red, blue
    f.insert(f.end(), palette.begin(), palette.end());
    const std::array<std::uint8_t, 8> rows = {0x80, 0, 0, 0, 0x40, 0, 0, 0};
    f.insert(f.end(), rows.begin(), rows.end());
    return f;
}

TEST(Bmp, ReadsPalettedAndTrueColourFiles) {
    const auto one = ReadBMP(OneBitFile());
    ASSERT_TRUE(one);
    ASSERT_EQ(one->Width(), 2);
    ASSERT_EQ(one->Height(), 2);
    EXPECT_EQ(one->GetPixel(0, 1), clBlue); // bottom row, first pixel: bit set
    EXPECT_EQ(one->GetPixel(1, 1), clRed);
    EXPECT_EQ(one->GetPixel(0, 0), clRed);
    EXPECT_EQ(one->GetPixel(1, 0), clBlue);

    // 24-bit round trip with an odd width (row padding).
    TRaster pic(3, 2, clBlack);
    pic.SetPixel(0, 0, 0x123456);
    pic.SetPixel(2, 1, 0xABCDEF);
    const auto bytes = WriteBMP(pic);
    EXPECT_EQ(bytes.size(), 54u + 2 * 12);
    const auto back = ReadBMP(bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->Pixels(), pic.Pixels());

    // A 32-bit top-down picture.
    std::vector<std::uint8_t> f32(bytes.begin(), bytes.begin() + 54);
    f32[28] = 32;
    const std::int32_t minus2 = -2;
    std::memcpy(&f32[22], &minus2, 4);
    const std::array<std::uint8_t, 24> px = {1,  2,  3,  0, 4,  5,  6,  0, 7,  8,  9,  0,
                                             10, 11, 12, 0, 13, 14, 15, 0, 16, 17, 18, 0};
    f32.insert(f32.end(), px.begin(), px.end());
    const auto top = ReadBMP(f32);
    ASSERT_TRUE(top);
    EXPECT_EQ(top->GetPixel(0, 0), 0x010203u); // TColor BGR order: blue 1, green 2, red 3
    EXPECT_EQ(top->GetPixel(0, 1), 0x0A0B0Cu);
}

TEST(Bmp, RejectsFilesThatDoNotHoldWhatTheyClaim) {
    auto f = OneBitFile();
    EXPECT_FALSE(ReadBMP(std::span(f).first(f.size() - 1))); // pixel rows cut short
    auto badMagic = f;
    badMagic[0] = 'X';
    EXPECT_FALSE(ReadBMP(badMagic));
    auto rle = f;
    rle[30] = 1; // BI_RLE8 is not supported
    EXPECT_FALSE(ReadBMP(rle));
    auto huge = f;
    huge[21] = 0x7F; // width 2^31 - ish
    EXPECT_FALSE(ReadBMP(huge));
    auto offset = f;
    offset[13] = 0x7F; // pixel data far beyond the end
    EXPECT_FALSE(ReadBMP(offset));
    auto palette = f;
    palette[46] = 200; // more palette entries than bits allow: clamped, still reads
    EXPECT_TRUE(ReadBMP(palette));
    EXPECT_FALSE(ReadBMP({}));
}

TEST(Resources, LedStripsAreEmbeddedWithTheirFrameSizesAndColourRoles) {
    struct Expect {
        const char* name;
        int w, h;
    };
    const Expect sizes[] = {{"06X07", 4, 7},   {"07X11", 5, 9},   {"08X13", 7, 13},  {"11X19", 9, 19},
                            {"13X20", 11, 20}, {"13X21", 11, 21}, {"15X24", 13, 24}, {"15X25", 13, 25},
                            {"17X29", 15, 29}, {"18X25", 15, 23}, {"19X33", 17, 33}, {"21X37", 19, 37},
                            {"23X41", 21, 41}};
    for (const Expect& e : sizes) {
        const auto digits = LoadBitmapResource(std::string("LCD_") + e.name);
        const auto symbols = LoadBitmapResource(std::string("lcds_") + e.name); // any case
        ASSERT_TRUE(digits) << e.name;
        ASSERT_TRUE(symbols) << e.name;
        EXPECT_EQ(digits->Width(), 11 * e.w) << e.name;
        EXPECT_EQ(digits->Height(), e.h) << e.name;
        EXPECT_EQ(symbols->Width(), 4 * e.w) << e.name;
        for (Pixel p : digits->Pixels())
            ASSERT_TRUE(p == 0 || p == 0xC0C0C0 || p == 0xFFFFFF) << e.name;
        // Frame 0 (blank) lights nothing; frame 9 (the digit 8) lights every segment of frame 0.
        int blankLit = 0, unlitOf0 = 0, litOf8 = 0;
        for (int y = 0; y < e.h; ++y)
            for (int x = 0; x < e.w; ++x) {
                blankLit += digits->GetPixel(x, y) == clWhite;
                unlitOf0 += digits->GetPixel(x, y) == clSilver;
                litOf8 += digits->GetPixel(9 * e.w + x, y) == clWhite;
            }
        EXPECT_EQ(blankLit, 0) << e.name;
        EXPECT_GT(unlitOf0, 0) << e.name;
        EXPECT_EQ(litOf8, unlitOf0) << e.name;
    }
    const auto mode = LoadBitmapResource("LCD_MODE");
    ASSERT_TRUE(mode);
    EXPECT_EQ(mode->Width(), 4 * 27);
    EXPECT_EQ(mode->Height(), 11);
    EXPECT_FALSE(FindResource("NO_SUCH_THING"));
}

} // namespace
} // namespace tunefold
