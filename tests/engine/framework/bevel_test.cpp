#include "engine/framework/bevel.h"
#include "engine/framework/controls.h"

#include <gtest/gtest.h>

namespace tunefold {
namespace {

class Plain : public TMMGraphicControl {
public:
    using TMMGraphicControl::TMMGraphicControl;
};

TEST(Bevel, FreshBevelIsOneLoweredLine) {
    TMMBevel b;
    EXPECT_EQ(b.BevelExtent(), 1);
    TRaster r(6, 4, clRed);
    const TRect inner = b.PaintBevel(r, {0, 0, 6, 4}, true);
    EXPECT_EQ(inner, (TRect{1, 1, 5, 3}));
    // Shadow on top and left, highlight on bottom and right; the two far corners take the highlight.
    EXPECT_EQ(r.GetPixel(0, 0), clBtnShadow);
    EXPECT_EQ(r.GetPixel(4, 0), clBtnShadow);
    EXPECT_EQ(r.GetPixel(0, 2), clBtnShadow);
    EXPECT_EQ(r.GetPixel(5, 0), clBtnHighlight);
    EXPECT_EQ(r.GetPixel(0, 3), clBtnHighlight);
    EXPECT_EQ(r.GetPixel(5, 3), clBtnHighlight);
    EXPECT_EQ(r.GetPixel(2, 1), clRed); // inside untouched
}

TEST(Bevel, LayersArePaintedFromTheOutsideIn) {
    TMMBevel b;
    b.SetBorderStyle(bsSingle);
    b.SetBevelOuter(bvRaised);
    b.SetBevelOuterWidth(2);
    b.SetBorderWidth(1);
    b.SetBorderColor(clBlue);
    b.SetBevelInner(bvLowered);
    b.SetInnerShadowColor(clMaroon);
    b.SetInnerLightColor(clYellow);
    b.SetBorderSpace(2);
    b.SetBorderSpaceColor(clLime);
    EXPECT_EQ(b.BevelExtent(), 1 + 2 + 1 + 1 + 2);
    TRaster r(20, 20, clRed);
    const TRect inner = b.PaintBevel(r, {0, 0, 20, 20}, true);
    EXPECT_EQ(inner, (TRect{7, 7, 13, 13}));
    const TColor topRow[8] = {clWindowFrame, clBtnHighlight, clBtnHighlight, clBlue,
                              clMaroon,      clLime,         clLime,         clRed};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(r.GetPixel(10, i), topRow[i]) << i;
    const TColor bottomRow[8] = {clWindowFrame, clBtnShadow, clBtnShadow, clBlue,
                                 clYellow,      clLime,      clLime,      clRed};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(r.GetPixel(10, 19 - i), bottomRow[i]) << i;

    // Without painting the border its width is only skipped.
    TRaster r2(20, 20, clRed);
    EXPECT_EQ(b.PaintBevel(r2, {0, 0, 20, 20}, false), inner);
    EXPECT_EQ(r2.GetPixel(10, 3), clRed);

    // bvSpace counts its width but neither draws nor shrinks.
    TMMBevel s;
    s.SetBevelOuter(bvSpace);
    s.SetBevelOuterWidth(3);
    EXPECT_EQ(s.BevelExtent(), 3);
    TRaster r3(10, 10, clRed);
    EXPECT_EQ(s.PaintBevel(r3, {0, 0, 10, 10}, true), (TRect{0, 0, 10, 10}));
    EXPECT_EQ(r3.GetPixel(0, 0), clRed);
}

TEST(Bevel, RaisedWidthTwoWithSpaceThreeGivesTheInnerArea) {
    Plain c;
    c.SetBounds(0, 0, 100, 50);
    c.Bevel().SetBevelOuter(bvRaised);
    c.Bevel().SetBevelOuterWidth(2);
    c.Bevel().SetBorderSpace(3);
    EXPECT_EQ(c.Bevel().BevelExtent(), 5);
    EXPECT_EQ(c.BeveledRect(), (TRect{5, 5, 95, 45}));
    c.SetColor(clNavy);
    const TRaster& p = c.Picture();
    EXPECT_EQ(p.GetPixel(5, 5), clNavy);
    EXPECT_EQ(p.GetPixel(4, 4), clBlack); // border space colour
    EXPECT_EQ(p.GetPixel(0, 0), clBtnHighlight);
    EXPECT_EQ(p.GetPixel(99, 49), clBtnShadow);
}

TEST(Bevel, EveryChangeRepaintsTheOwnerOnce) {
    Plain c;
    c.SetBounds(0, 0, 10, 10);
    (void)c.Picture();
    int n = c.InvalidateCount();
    c.Bevel().SetBevelInner(bvRaised);
    EXPECT_EQ(c.InvalidateCount(), n + 1);
    EXPECT_TRUE(c.IsInvalid());
    c.Bevel().SetBevelInner(bvRaised); // unchanged: nothing
    EXPECT_EQ(c.InvalidateCount(), n + 1);
    c.Bevel().SetOuterShadowColor(clRed);
    EXPECT_EQ(c.InvalidateCount(), n + 2);

    TMMBevel other;
    other.SetBevelOuter(bvRaised);
    other.SetBorderWidth(3);
    other.SetBorderColor(clLime);
    other.SetInnerLightColor(clMaroon);
    n = c.InvalidateCount();
    c.SetBevel(other);
    EXPECT_EQ(c.InvalidateCount(), n + 1);
    EXPECT_EQ(c.Bevel().BorderWidth(), 3);
    EXPECT_EQ(c.Bevel().BevelInner(), bvNone);
    EXPECT_EQ(c.Bevel().InnerLightColor(), clMaroon);
    c.SetBevel(other); // an assignment is one update, even of the same values
    EXPECT_EQ(c.InvalidateCount(), n + 2);
}

class Kids : public TMMCustomPanel {
public:
    using TMMCustomPanel::TMMCustomPanel;
    int aligned = 0;

protected:
    void AlignControls() override { ++aligned; }
};

TEST(Bevel, PanelRealignsPaintsCaptionAndHonoursItsEvents) {
    Kids p;
    p.SetBounds(0, 0, 30, 11);
    p.SetColor(clBlack);
    p.SetFontColor(clWhite);
    const int before = p.aligned;
    p.Bevel().SetBorderWidth(2);
    EXPECT_EQ(p.aligned, before + 1);
    EXPECT_EQ(p.AlignRect(), (TRect{3, 3, 27, 8}));

    p.SetCaption("1");
    const TRaster& pic = p.Picture();
    int lit = 0;
    for (int y = 0; y < 11; ++y)
        for (int x = 0; x < 30; ++x)
            lit += pic.GetPixel(x, y) == clWhite;
    EXPECT_GT(lit, 0);

    int fills = 0;
    p.OnFill = [&](TObject*, TRaster& canvas, const TRect& r) {
        ++fills;
        canvas.FillRect(r, clGreen);
    };
    p.Invalidate();
    EXPECT_EQ(p.Picture().GetPixel(4, 4), clGreen);
    EXPECT_EQ(fills, 1);

    bool painted = false;
    p.OnPaint = [&](TObject*) { painted = true; };
    p.SetColor(clRed);
    (void)p.Picture();
    EXPECT_TRUE(painted);
    EXPECT_EQ(fills, 1); // all painting left to OnPaint

    // A child shows inside the panel's picture and its changes reach the panel.
    p.OnPaint = nullptr;
    p.OnFill = nullptr;
    Plain child;
    child.Bevel().SetBevelOuter(bvNone);
    child.SetColor(clYellow);
    child.SetBounds(10, 4, 2, 2);
    child.SetParent(&p);
    EXPECT_EQ(p.Picture().GetPixel(11, 5), clYellow);
    const int n = p.InvalidateCount();
    child.SetColor(clFuchsia);
    EXPECT_EQ(p.InvalidateCount(), n + 1);
    EXPECT_EQ(p.Picture().GetPixel(11, 5), clFuchsia);
}

} // namespace
} // namespace tunefold
