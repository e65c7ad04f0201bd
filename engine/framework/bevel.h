// The frame around every display: border lines and 3-D bevels, painted from the outside in, and the
// number of pixels the frame takes on each side. A change of any value tells the owner once, which
// repaints its control.
#pragma once

#include <functional>

#include "engine/framework/observer.h"
#include "engine/framework/raster.h"

namespace tunefold {

enum TBevelCut { bvNone, bvLowered, bvRaised, bvSpace };
enum TBorderStyle { bsNone, bsSingle };

class TMMBevel : public TMMObject {
public:
    TMMBevel() = default;
    TMMBevel(const TMMBevel&) = delete;
    TMMBevel& operator=(const TMMBevel&) = delete;

    TBevelCut BevelInner() const { return FBevelInner; }
    void SetBevelInner(TBevelCut v) { Set(FBevelInner, v); }
    TBevelCut BevelOuter() const { return FBevelOuter; }
    void SetBevelOuter(TBevelCut v) { Set(FBevelOuter, v); }
    int BevelInnerWidth() const { return FBevelInnerWidth; }
    void SetBevelInnerWidth(int v) { Set(FBevelInnerWidth, v < 1 ? 1 : v); }
    int BevelOuterWidth() const { return FBevelOuterWidth; }
    void SetBevelOuterWidth(int v) { Set(FBevelOuterWidth, v < 1 ? 1 : v); }
    TBorderStyle BorderStyle() const { return FBorderStyle; }
    void SetBorderStyle(TBorderStyle v) { Set(FBorderStyle, v); }
    int BorderWidth() const { return FBorderWidth; }
    void SetBorderWidth(int v) { Set(FBorderWidth, v < 0 ? 0 : v); }
    int BorderSpace() const { return FBorderSpace; }
    void SetBorderSpace(int v) { Set(FBorderSpace, v < 0 ? 0 : v); }
    TColor BorderColor() const { return FBorderColor; }
    void SetBorderColor(TColor v) { Set(FBorderColor, v); }
    TColor BorderSpaceColor() const { return FBorderSpaceColor; }
    void SetBorderSpaceColor(TColor v) { Set(FBorderSpaceColor, v); }
    TColor InnerLightColor() const { return FInnerLightColor; }
    void SetInnerLightColor(TColor v) { Set(FInnerLightColor, v); }
    TColor OuterLightColor() const { return FOuterLightColor; }
    void SetOuterLightColor(TColor v) { Set(FOuterLightColor, v); }
    TColor InnerShadowColor() const { return FInnerShadowColor; }
    void SetInnerShadowColor(TColor v) { Set(FInnerShadowColor, v); }
    TColor OuterShadowColor() const { return FOuterShadowColor; }
    void SetOuterShadowColor(TColor v) { Set(FOuterShadowColor, v); }

    // Copies all thirteen values inside one update: the owner hears of it once.
    void Assign(const TMMBevel& source);
    std::string ClassName() const override { return "TMMBevel"; }

    // Pixels the frame takes on every side.
    int BevelExtent() const;
    // Paints the frame into `r` from the outside in and returns the rectangle inside it.
    TRect PaintBevel(TRaster& canvas, TRect r, bool paintBorder) const;

private:
    template <class T>
    void Set(T& field, T value) {
        if (field == value)
            return;
        field = value;
        Changed();
    }

    TBevelCut FBevelInner = bvNone;
    TBevelCut FBevelOuter = bvLowered;
    int FBevelInnerWidth = 1;
    int FBevelOuterWidth = 1;
    TBorderStyle FBorderStyle = bsNone;
    int FBorderWidth = 0;
    int FBorderSpace = 0;
    TColor FBorderColor = clBtnFace;
    TColor FBorderSpaceColor = clBlack;
    TColor FInnerLightColor = clBtnHighlight;
    TColor FOuterLightColor = clBtnHighlight;
    TColor FInnerShadowColor = clBtnShadow;
    TColor FOuterShadowColor = clBtnShadow;
};

// `width` nested one-pixel rectangles: top and left edges in `topLeft`, bottom and right edges in
// `bottomRight`; `r` shrinks by `width`.
void Frame3D(TRaster& canvas, TRect& r, TColor topLeft, TColor bottomRight, int width);

} // namespace tunefold
