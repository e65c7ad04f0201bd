#include "engine/framework/dib_control.h"

#include <array>
#include <cstdint>

namespace tunefold {

namespace {

std::array<TColor, 256> BuildPalette() {
    std::array<TColor, 256> p{};
    const TColor standard[16] = {clBlack,  clMaroon, clGreen, clOlive,  clNavy, clPurple,  clTeal, clGray,
                                 clSilver, clRed,    clLime,  clYellow, clBlue, clFuchsia, clAqua, clWhite};
    std::size_t i = 0;
    for (TColor c : standard)
        p[i++] = c;
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b)
                p[i++] = static_cast<TColor>(r * 51) | static_cast<TColor>(g * 51) << 8 |
                         static_cast<TColor>(b * 51) << 16;
    for (int k = 0; i < p.size(); ++k)
        p[i++] = static_cast<TColor>(0x010101 * (8 + k * 10));
    return p;
}

} // namespace

TColor PaletteColor(TColor c) {
    static const std::array<TColor, 256> palette = BuildPalette();
    const int r = c & 0xFF, g = (c >> 8) & 0xFF, b = (c >> 16) & 0xFF;
    TColor best = clBlack;
    int bestDistance = 1 << 30;
    for (TColor p : palette) {
        const int dr = r - static_cast<int>(p & 0xFF), dg = g - static_cast<int>((p >> 8) & 0xFF),
                  db = b - static_cast<int>((p >> 16) & 0xFF);
        const int d = dr * dr + dg * dg + db * db;
        if (d < bestDistance) {
            bestDistance = d;
            best = p;
        }
    }
    return best;
}

TColor TMMDIBGraphicControl::CachedPaletteColor(TColor c) const {
    CacheEntry& e = FPaletteCache[(c * 2654435761u) >> 27];
    if (e.color != c) {
        e.color = c;
        e.mapped = PaletteColor(c);
    }
    return e.mapped;
}

TMMDIBGraphicControl::TMMDIBGraphicControl(TComponent* owner) : TMMGraphicControl(owner) {
    FNoFill = true;
}

void TMMDIBGraphicControl::SetBitsPerPixel(int bits) {
    if (bits != 8 && bits != 24)
        throw EMMDIBError("Bitlength not supported yet");
    if (bits == FBitsPerPixel)
        return;
    FBitsPerPixel = bits;
    BitsPerPixelChanged();
    Invalidate();
}

} // namespace tunefold
