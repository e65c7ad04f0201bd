#include "engine/framework/bevel.h"

namespace tunefold {

void TMMBevel::Assign(const TMMBevel& s) {
    if (&s == this)
        return;
    BeginUpdate();
    SetBevelInner(s.FBevelInner);
    SetBevelOuter(s.FBevelOuter);
    SetBevelInnerWidth(s.FBevelInnerWidth);
    SetBevelOuterWidth(s.FBevelOuterWidth);
    SetBorderStyle(s.FBorderStyle);
    SetBorderWidth(s.FBorderWidth);
    SetBorderSpace(s.FBorderSpace);
    SetBorderColor(s.FBorderColor);
    SetBorderSpaceColor(s.FBorderSpaceColor);
    SetInnerLightColor(s.FInnerLightColor);
    SetOuterLightColor(s.FOuterLightColor);
    SetInnerShadowColor(s.FInnerShadowColor);
    SetOuterShadowColor(s.FOuterShadowColor);
    EndUpdate();
}

int TMMBevel::BevelExtent() const {
    int e = FBorderWidth + FBorderSpace;
    if (FBevelOuter != bvNone)
        e += FBevelOuterWidth;
    if (FBevelInner != bvNone)
        e += FBevelInnerWidth;
    if (FBorderStyle == bsSingle)
        e += 1;
    return e;
}

void Frame3D(TRaster& canvas, TRect& r, TColor topLeft, TColor bottomRight, int width) {
    for (int i = 0; i < width; ++i) {
        // The corner pixels top-right and bottom-left belong to the bottom-right colour. A frame
        // wider than the control still shrinks the rectangle by its full width.
        if (!r.IsEmpty()) {
            if (r.Width() > 1)
                canvas.HLine(r.Left, r.Right - 2, r.Top, topLeft);
            if (r.Height() > 1)
                canvas.VLine(r.Left, r.Top, r.Bottom - 2, topLeft);
            canvas.VLine(r.Right - 1, r.Top, r.Bottom - 1, bottomRight);
            canvas.HLine(r.Left, r.Right - 1, r.Bottom - 1, bottomRight);
        }
        r = {r.Left + 1, r.Top + 1, r.Right - 1, r.Bottom - 1};
    }
}

namespace {
void Shrink(TRect& r, int by) {
    r = {r.Left + by, r.Top + by, r.Right - by, r.Bottom - by};
}
} // namespace

TRect TMMBevel::PaintBevel(TRaster& canvas, TRect r, bool paintBorder) const {
    if (FBorderStyle == bsSingle)
        Frame3D(canvas, r, clWindowFrame, clWindowFrame, 1);
    if (FBevelOuter == bvLowered)
        Frame3D(canvas, r, FOuterShadowColor, FOuterLightColor, FBevelOuterWidth);
    else if (FBevelOuter == bvRaised)
        Frame3D(canvas, r, FOuterLightColor, FOuterShadowColor, FBevelOuterWidth);
    if (paintBorder)
        Frame3D(canvas, r, FBorderColor, FBorderColor, FBorderWidth);
    else
        Shrink(r, FBorderWidth);
    if (FBevelInner == bvLowered)
        Frame3D(canvas, r, FInnerShadowColor, FInnerLightColor, FBevelInnerWidth);
    else if (FBevelInner == bvRaised)
        Frame3D(canvas, r, FInnerLightColor, FInnerShadowColor, FBevelInnerWidth);
    if (FBorderSpace > 0)
        Frame3D(canvas, r, FBorderSpaceColor, FBorderSpaceColor, FBorderSpace);
    return r;
}

} // namespace tunefold
