// A graphic control that draws into an off-screen bitmap of its own and copies it to its picture.
// The bitmap's colour depth is 8 bits per pixel (colours snap to a fixed 256-colour palette) or 24
// (colours kept exactly); the pixels themselves always live in a 32-bit raster.
#pragma once

#include <array>

#include "engine/framework/controls.h"
#include "engine/framework/errors.h"

namespace tunefold {

TUNEFOLD_ERROR_CLASS(EMMDIBError, EMMError);

// The colour an 8-bit bitmap stores for `c`: the nearest of the 16 standard colours, a 6 x 6 x 6
// colour cube and a ramp of greys.
TColor PaletteColor(TColor c);

class TMMDIBGraphicControl : public TMMGraphicControl {
public:
    explicit TMMDIBGraphicControl(TComponent* owner = nullptr);

    int BitsPerPixel() const { return FBitsPerPixel; }
    // 8 or 24; anything else raises EMMDIBError "Bitlength not supported yet".
    void SetBitsPerPixel(int bits);

    // The colour the bitmap really holds for `c` at the current depth.
    TColor DIBColor(TColor c) const { return FBitsPerPixel == 8 ? CachedPaletteColor(c) : c; }

protected:
    // Rebuild pictures that depend on the depth; the control repaints afterwards.
    virtual void BitsPerPixelChanged() {}

private:
    // Drawing asks for the same few colours thousands of times per picture; the palette search
    // runs once per colour.
    TColor CachedPaletteColor(TColor c) const;
    struct CacheEntry {
        TColor color = 0xFFFFFFFFu; // no colour has this value: the entry is empty
        TColor mapped = 0;
    };
    mutable std::array<CacheEntry, 32> FPaletteCache{};
    int FBitsPerPixel = 8;
};

} // namespace tunefold
