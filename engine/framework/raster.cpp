#include "engine/framework/raster.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/atomic_file.h"

namespace tunefold {

TRaster::TRaster(int width, int height, TColor fill) {
    SetSize(width, height, fill);
}

void TRaster::SetSize(int width, int height, TColor fill) {
    FWidth = std::max(width, 0);
    FHeight = std::max(height, 0);
    FPixels.assign(static_cast<std::size_t>(FWidth) * FHeight, ColorToPixel(fill));
}

TColor TRaster::GetPixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= FWidth || y >= FHeight)
        return clBlack;
    return PixelToColor(Row(y)[x]);
}

void TRaster::SetPixel(int x, int y, TColor color) {
    if (x < 0 || y < 0 || x >= FWidth || y >= FHeight)
        return;
    Row(y)[x] = ColorToPixel(color);
}

void TRaster::Clear(TColor color) {
    std::fill(FPixels.begin(), FPixels.end(), ColorToPixel(color));
}

void TRaster::FillRect(const TRect& r, TColor color) {
    const int l = std::max(r.Left, 0), t = std::max(r.Top, 0);
    const int rr = std::min(r.Right, FWidth), b = std::min(r.Bottom, FHeight);
    if (l >= rr || t >= b)
        return;
    const Pixel p = ColorToPixel(color);
    for (int y = t; y < b; ++y)
        std::fill(Row(y) + l, Row(y) + rr, p);
}

void TRaster::FillRectDotted(const TRect& r, TColor color) {
    const int l = std::max(r.Left, 0), t = std::max(r.Top, 0);
    const int rr = std::min(r.Right, FWidth), b = std::min(r.Bottom, FHeight);
    const Pixel p = ColorToPixel(color);
    for (int y = t; y < b; ++y)
        for (int x = l; x < rr; ++x)
            if (((x - r.Left) + (y - r.Top)) % 2 == 0)
                Row(y)[x] = p;
}

void TRaster::FrameRect(const TRect& r, TColor color) {
    if (r.IsEmpty())
        return;
    HLine(r.Left, r.Right - 1, r.Top, color);
    HLine(r.Left, r.Right - 1, r.Bottom - 1, color);
    VLine(r.Left, r.Top, r.Bottom - 1, color);
    VLine(r.Right - 1, r.Top, r.Bottom - 1, color);
}

void TRaster::HLine(int x1, int x2, int y, TColor color) {
    if (x1 > x2)
        std::swap(x1, x2);
    FillRect({x1, y, x2 + 1, y + 1}, color);
}

void TRaster::VLine(int x, int y1, int y2, TColor color) {
    if (y1 > y2)
        std::swap(y1, y2);
    FillRect({x, y1, x + 1, y2 + 1}, color);
}

void TRaster::Line(int x1, int y1, int x2, int y2, TColor color) {
    // Bresenham over the whole segment, clipping per pixel: the lines we draw are short.
    const int dx = std::abs(x2 - x1), sx = x1 < x2 ? 1 : -1;
    const int dy = -std::abs(y2 - y1), sy = y1 < y2 ? 1 : -1;
    int err = dx + dy;
    for (;;) {
        SetPixel(x1, y1, color);
        if (x1 == x2 && y1 == y2)
            break;
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x1 += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y1 += sy;
        }
    }
}

void TRaster::Polyline(std::span<const TPoint> points, TColor color) {
    if (points.size() == 1)
        SetPixel(points[0].X, points[0].Y, color);
    for (std::size_t i = 1; i < points.size(); ++i)
        Line(points[i - 1].X, points[i - 1].Y, points[i].X, points[i].Y, color);
}

void TRaster::Blit(const TRaster& src, const TRect& srcRect, int dx, int dy) {
    TRect s = srcRect;
    // Clip the source to itself, moving the destination with it.
    if (s.Left < 0) {
        dx -= s.Left;
        s.Left = 0;
    }
    if (s.Top < 0) {
        dy -= s.Top;
        s.Top = 0;
    }
    s.Right = std::min(s.Right, src.Width());
    s.Bottom = std::min(s.Bottom, src.Height());
    // Then to the destination.
    if (dx < 0) {
        s.Left -= dx;
        dx = 0;
    }
    if (dy < 0) {
        s.Top -= dy;
        dy = 0;
    }
    s.Right = std::min(s.Right, s.Left + (FWidth - dx));
    s.Bottom = std::min(s.Bottom, s.Top + (FHeight - dy));
    if (s.IsEmpty())
        return;
    const bool same = &src == this;
    const int w = s.Width();
    auto copyRow = [&](int y) {
        std::memmove(Row(dy + y - s.Top) + dx, src.Row(y) + s.Left,
                     sizeof(Pixel) * static_cast<std::size_t>(w));
    };
    if (same && dy > s.Top) {
        for (int y = s.Bottom - 1; y >= s.Top; --y)
            copyRow(y);
    } else {
        for (int y = s.Top; y < s.Bottom; ++y)
            copyRow(y);
    }
}

void TRaster::StretchBlit(const TRaster& src, const TRect& srcRect, const TRect& dstRect) {
    if (srcRect.IsEmpty() || dstRect.IsEmpty())
        return;
    for (int y = std::max(dstRect.Top, 0); y < std::min(dstRect.Bottom, FHeight); ++y) {
        const int sy = srcRect.Top + (y - dstRect.Top) * srcRect.Height() / dstRect.Height();
        for (int x = std::max(dstRect.Left, 0); x < std::min(dstRect.Right, FWidth); ++x) {
            const int sx = srcRect.Left + (x - dstRect.Left) * srcRect.Width() / dstRect.Width();
            if (sx >= 0 && sy >= 0 && sx < src.Width() && sy < src.Height())
                Row(y)[x] = src.Row(sy)[sx];
        }
    }
}

void TRaster::ScrollRect(const TRect& r, int rows) {
    if (rows > 0)
        Blit(*this, {r.Left, r.Top, r.Right, r.Bottom - rows}, r.Left, r.Top + rows);
    else if (rows < 0)
        Blit(*this, {r.Left, r.Top - rows, r.Right, r.Bottom}, r.Left, r.Top);
}

// ---- pixel font ----

namespace {

// Each glyph: five rows of three bits, the high bit at the left.
struct Glyph {
    char ch;
    std::uint8_t rows[5];
};

constexpr Glyph kFont[] = {
    {'0', {7, 5, 5, 5, 7}}, {'1', {2, 6, 2, 2, 7}}, {'2', {7, 1, 7, 4, 7}},  {'3', {7, 1, 3, 1, 7}},
    {'4', {5, 5, 7, 1, 1}}, {'5', {7, 4, 7, 1, 7}}, {'6', {7, 4, 7, 5, 7}},  {'7', {7, 1, 1, 2, 2}},
    {'8', {7, 5, 7, 5, 7}}, {'9', {7, 5, 7, 1, 7}}, {'A', {2, 5, 7, 5, 5}},  {'B', {6, 5, 6, 5, 6}},
    {'C', {3, 4, 4, 4, 3}}, {'D', {6, 5, 5, 5, 6}}, {'E', {7, 4, 6, 4, 7}},  {'F', {7, 4, 6, 4, 4}},
    {'G', {3, 4, 5, 5, 3}}, {'H', {5, 5, 7, 5, 5}}, {'I', {7, 2, 2, 2, 7}},  {'J', {1, 1, 1, 5, 2}},
    {'K', {5, 5, 6, 5, 5}}, {'L', {4, 4, 4, 4, 7}}, {'M', {5, 7, 7, 5, 5}},  {'N', {6, 5, 5, 5, 5}},
    {'O', {2, 5, 5, 5, 2}}, {'P', {6, 5, 6, 4, 4}}, {'Q', {2, 5, 5, 6, 3}},  {'R', {6, 5, 6, 5, 5}},
    {'S', {3, 4, 2, 1, 6}}, {'T', {7, 2, 2, 2, 2}}, {'U', {5, 5, 5, 5, 7}},  {'V', {5, 5, 5, 5, 2}},
    {'W', {5, 5, 7, 7, 5}}, {'X', {5, 5, 2, 5, 5}}, {'Y', {5, 5, 2, 2, 2}},  {'Z', {7, 1, 2, 4, 7}},
    {' ', {0, 0, 0, 0, 0}}, {'.', {0, 0, 0, 0, 2}}, {',', {0, 0, 0, 2, 4}},  {'-', {0, 0, 7, 0, 0}},
    {'+', {0, 2, 7, 2, 0}}, {':', {0, 2, 0, 2, 0}}, {'%', {5, 1, 2, 4, 5}},  {'/', {1, 1, 2, 4, 4}},
    {'(', {1, 2, 2, 2, 1}}, {')', {4, 2, 2, 2, 4}}, {'=', {0, 7, 0, 7, 0}},  {'!', {2, 2, 2, 0, 2}},
    {'?', {7, 1, 2, 0, 2}}, {'_', {0, 0, 0, 0, 7}}, {'\'', {2, 2, 0, 0, 0}}, {'"', {5, 5, 0, 0, 0}},
};

const Glyph* FindGlyph(char c) {
    if (c >= 'a' && c <= 'z')
        c = static_cast<char>(c - 'a' + 'A');
    for (const Glyph& g : kFont)
        if (g.ch == c)
            return &g;
    return nullptr;
}

constexpr Glyph kUnknown = {'\0', {7, 5, 5, 5, 7}};

} // namespace

int TRaster::TextWidth(std::string_view text) {
    return text.empty() ? 0 : static_cast<int>(text.size()) * FontAdvance - 1;
}

void TRaster::TextOut(int x, int y, std::string_view text, TColor color, bool bold) {
    for (char c : text) {
        const Glyph* g = FindGlyph(c);
        if (g == nullptr)
            g = &kUnknown;
        for (int row = 0; row < 5; ++row)
            for (int col = 0; col < 3; ++col)
                if (g->rows[row] & (4 >> col)) {
                    SetPixel(x + col, y + row, color);
                    if (bold)
                        SetPixel(x + col + 1, y + row, color);
                }
        x += FontAdvance + (bold ? 1 : 0);
    }
}

// ---- BMP ----

namespace {

std::uint32_t U16(std::span<const std::uint8_t> d, std::size_t at) {
    return d[at] | (d[at + 1] << 8);
}
std::uint32_t U32(std::span<const std::uint8_t> d, std::size_t at) {
    return d[at] | (d[at + 1] << 8) | (d[at + 2] << 16) | (static_cast<std::uint32_t>(d[at + 3]) << 24);
}
void Put16(std::vector<std::uint8_t>& v, std::uint32_t x) {
    v.push_back(static_cast<std::uint8_t>(x));
    v.push_back(static_cast<std::uint8_t>(x >> 8));
}
void Put32(std::vector<std::uint8_t>& v, std::uint32_t x) {
    Put16(v, x & 0xFFFF);
    Put16(v, x >> 16);
}

// Largest picture we accept: well beyond any skin, small enough that a hostile header cannot make
// us allocate gigabytes.
constexpr std::int64_t kMaxPixels = 16 * 1024 * 1024;

} // namespace

std::optional<TRaster> ReadBMP(std::span<const std::uint8_t> d) {
    if (d.size() < 14 + 40 || d[0] != 'B' || d[1] != 'M')
        return std::nullopt;
    const std::uint32_t pixelOffset = U32(d, 10);
    const std::uint32_t headerSize = U32(d, 14);
    if (headerSize < 40 || 14 + static_cast<std::uint64_t>(headerSize) > d.size())
        return std::nullopt;
    const std::int32_t width = static_cast<std::int32_t>(U32(d, 18));
    const std::int32_t rawHeight = static_cast<std::int32_t>(U32(d, 22));
    const std::uint32_t planes = U16(d, 26);
    const std::uint32_t bpp = U16(d, 28);
    const std::uint32_t compression = U32(d, 30);
    std::uint32_t colorsUsed = U32(d, 46);
    if (planes != 1 || width <= 0 || rawHeight == 0 || rawHeight == INT32_MIN)
        return std::nullopt;
    const bool topDown = rawHeight < 0;
    const std::int32_t height = topDown ? -rawHeight : rawHeight;
    if (static_cast<std::int64_t>(width) * height > kMaxPixels)
        return std::nullopt;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32)
        return std::nullopt;
    // BI_RGB, or BI_BITFIELDS on 32 bits with the one layout everybody writes (8 bits per channel).
    if (compression == 3) {
        if (bpp != 32)
            return std::nullopt;
        // Right after a 40-byte header, or at the same place inside a V4/V5 header.
        const std::size_t masks = 14 + 40;
        if (masks + 12 > d.size())
            return std::nullopt;
        if (U32(d, masks) != 0x00FF0000 || U32(d, masks + 4) != 0x0000FF00 || U32(d, masks + 8) != 0x000000FF)
            return std::nullopt;
    } else if (compression != 0) {
        return std::nullopt;
    }

    std::vector<Pixel> palette;
    if (bpp <= 8) {
        const std::uint32_t maxColors = 1u << bpp;
        if (colorsUsed == 0 || colorsUsed > maxColors)
            colorsUsed = maxColors;
        const std::uint64_t paletteAt = 14 + static_cast<std::uint64_t>(headerSize);
        if (paletteAt + 4ull * colorsUsed > d.size())
            return std::nullopt;
        palette.resize(maxColors, 0);
        for (std::uint32_t i = 0; i < colorsUsed; ++i) {
            const std::size_t at = static_cast<std::size_t>(paletteAt + 4ull * i);
            palette[i] = (static_cast<Pixel>(d[at + 2]) << 16) | (d[at + 1] << 8) | d[at];
        }
    }
    const std::uint64_t stride = ((static_cast<std::uint64_t>(width) * bpp + 31) / 32) * 4;
    if (pixelOffset > d.size() || stride * static_cast<std::uint64_t>(height) > d.size() - pixelOffset)
        return std::nullopt;

    TRaster out(width, height);
    for (std::int32_t row = 0; row < height; ++row) {
        const std::size_t at =
            static_cast<std::size_t>(pixelOffset + stride * static_cast<std::uint64_t>(row));
        const int y = topDown ? row : height - 1 - row;
        Pixel* dst = out.Row(y);
        const std::uint8_t* src = d.data() + at;
        for (std::int32_t x = 0; x < width; ++x) {
            switch (bpp) {
            case 1:
                dst[x] = palette[(src[x >> 3] >> (7 - (x & 7))) & 1];
                break;
            case 4:
                dst[x] = palette[(src[x >> 1] >> ((x & 1) ? 0 : 4)) & 15];
                break;
            case 8:
                dst[x] = palette[src[x]];
                break;
            case 24:
                dst[x] = (static_cast<Pixel>(src[3 * x + 2]) << 16) | (src[3 * x + 1] << 8) | src[3 * x];
                break;
            default:
                dst[x] = (static_cast<Pixel>(src[4 * x + 2]) << 16) | (src[4 * x + 1] << 8) | src[4 * x];
                break;
            }
        }
    }
    return out;
}

std::vector<std::uint8_t> WriteBMP(const TRaster& raster) {
    const std::uint32_t w = static_cast<std::uint32_t>(raster.Width());
    const std::uint32_t h = static_cast<std::uint32_t>(raster.Height());
    const std::uint32_t stride = (w * 3 + 3) & ~3u;
    const std::uint32_t imageSize = stride * h;
    std::vector<std::uint8_t> v;
    v.reserve(54 + imageSize);
    v.push_back('B');
    v.push_back('M');
    Put32(v, 54 + imageSize);
    Put32(v, 0);
    Put32(v, 54);
    Put32(v, 40);
    Put32(v, w);
    Put32(v, h);
    Put16(v, 1);
    Put16(v, 24);
    Put32(v, 0);
    Put32(v, imageSize);
    Put32(v, 2835); // 72 dpi
    Put32(v, 2835);
    Put32(v, 0);
    Put32(v, 0);
    for (std::uint32_t row = 0; row < h; ++row) {
        const Pixel* src = raster.Row(static_cast<int>(h - 1 - row));
        for (std::uint32_t x = 0; x < w; ++x) {
            v.push_back(static_cast<std::uint8_t>(src[x]));
            v.push_back(static_cast<std::uint8_t>(src[x] >> 8));
            v.push_back(static_cast<std::uint8_t>(src[x] >> 16));
        }
        for (std::uint32_t pad = w * 3; pad < stride; ++pad)
            v.push_back(0);
    }
    return v;
}

bool SaveBMPFile(const TRaster& raster, const std::string& path) {
    const std::vector<std::uint8_t> bytes = WriteBMP(raster);
    // Whole or not at all: a failed write leaves whatever file was there.
    return platform::ReplaceFileContents(
        path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

} // namespace tunefold
