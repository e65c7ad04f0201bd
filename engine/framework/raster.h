// The off-screen raster the engine displays draw into: 32-bit pixels (0x00RRGGBB, the layout the Qt
// host shows without conversion), a small drawing API, a built-in pixel font for the small texts, and
// our own BMP reader (1, 4, 8, 24 and 32 bits per pixel) and writer (24 bits per pixel).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tunefold {

// Colours as the components store them: 0x00BBGGRR.
using TColor = std::uint32_t;
constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clOlive = 0x008080;
constexpr TColor clNavy = 0x800000;
constexpr TColor clPurple = 0x800080;
constexpr TColor clTeal = 0x808000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clFuchsia = 0xFF00FF;
constexpr TColor clAqua = 0xFFFF00;
constexpr TColor clWhite = 0xFFFFFF;
// The system colours the bevels use, fixed to the classic desktop look.
constexpr TColor clBtnFace = clSilver;
constexpr TColor clBtnHighlight = clWhite;
constexpr TColor clBtnShadow = clGray;
constexpr TColor clWindowFrame = clBlack;

using Pixel = std::uint32_t; // 0x00RRGGBB

constexpr Pixel ColorToPixel(TColor c) {
    return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
}
constexpr TColor PixelToColor(Pixel p) {
    return ((p & 0xFF) << 16) | (p & 0xFF00) | ((p >> 16) & 0xFF);
}

struct TRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
    bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
    bool operator==(const TRect&) const = default;
};

struct TPoint {
    int X = 0;
    int Y = 0;
};

class TRaster {
public:
    TRaster() = default;
    TRaster(int width, int height, TColor fill = clBlack);

    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    bool IsEmpty() const { return FWidth == 0 || FHeight == 0; }
    // Resizing keeps nothing: the raster is refilled with `fill`.
    void SetSize(int width, int height, TColor fill = clBlack);

    const Pixel* Row(int y) const { return FPixels.data() + static_cast<std::size_t>(y) * FWidth; }
    Pixel* Row(int y) { return FPixels.data() + static_cast<std::size_t>(y) * FWidth; }
    const std::vector<Pixel>& Pixels() const { return FPixels; }

    // Outside the raster reads give black and writes do nothing.
    TColor GetPixel(int x, int y) const;
    void SetPixel(int x, int y, TColor color);

    void Clear(TColor color);
    // Fills [Left, Right) x [Top, Bottom), clipped.
    void FillRect(const TRect& r, TColor color);
    // One-pixel outline of the rectangle's edge pixels.
    void FrameRect(const TRect& r, TColor color);
    // Inclusive end points.
    void HLine(int x1, int x2, int y, TColor color);
    void VLine(int x, int y1, int y2, TColor color);
    void Line(int x1, int y1, int x2, int y2, TColor color);
    void Polyline(std::span<const TPoint> points, TColor color);
    // Every other pixel of a filled rectangle (checkerboard from the rectangle's origin).
    void FillRectDotted(const TRect& r, TColor color);

    // Copies `src` (clipped to both rasters) to (dx, dy).
    void Blit(const TRaster& src, const TRect& srcRect, int dx, int dy);
    void Blit(const TRaster& src, int dx, int dy) { Blit(src, {0, 0, src.Width(), src.Height()}, dx, dy); }
    // Nearest-neighbour stretch of srcRect into dstRect.
    void StretchBlit(const TRaster& src, const TRect& srcRect, const TRect& dstRect);
    // Moves the content of `r` down by `rows` (up when negative); the uncovered rows are not touched.
    void ScrollRect(const TRect& r, int rows);

    // The built-in font: 3 x 5 glyphs on a 4-pixel advance, 6 pixels line height. Lower case is drawn
    // as upper case; unknown characters as a small box.
    static constexpr int FontHeight = 5;
    static constexpr int FontAdvance = 4;
    static int TextWidth(std::string_view text);
    // `bold` doubles every glyph column.
    void TextOut(int x, int y, std::string_view text, TColor color, bool bold = false);

private:
    int FWidth = 0;
    int FHeight = 0;
    std::vector<Pixel> FPixels;
};

// ---- BMP files ----

// Reads a Windows bitmap file image (BITMAPINFOHEADER or larger header, bottom-up or top-down,
// uncompressed 1, 4, 8, 24 or 32 bits per pixel, or 32 bits with the standard bit fields).
// Anything else, and any file that does not hold what it claims, reads as none.
std::optional<TRaster> ReadBMP(std::span<const std::uint8_t> data);
// A 24-bit bottom-up bitmap file image.
std::vector<std::uint8_t> WriteBMP(const TRaster& raster);
bool SaveBMPFile(const TRaster& raster, const std::string& path);

} // namespace tunefold
