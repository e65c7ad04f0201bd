// The bases of the engine's visual components. A control has bounds, colour, visibility and its own
// picture (a raster of its size) that it paints into when it was invalidated; the program's host
// widget shows that picture and repaints only when told through OnInvalidate. Each base owns a
// bevel: the inner drawing area is the control shrunk by the bevel's extent on every side, and any
// change of the bevel invalidates the control once.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/framework/bevel.h"
#include "engine/framework/component.h"
#include "engine/framework/raster.h"

namespace tunefold {

enum TMouseButton { mbLeft, mbRight, mbMiddle };
using TShiftState = unsigned;
using TMouseEvent =
    std::function<void(TObject* sender, TMouseButton button, TShiftState shift, int x, int y)>;
using TMouseMoveEvent = std::function<void(TObject* sender, TShiftState shift, int x, int y)>;

class TMMControl : public TComponent {
public:
    explicit TMMControl(TComponent* owner = nullptr);
    ~TMMControl() override;

    int Left() const { return FLeft; }
    int Top() const { return FTop; }
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    void SetLeft(int v) { SetBounds(v, FTop, FWidth, FHeight); }
    void SetTop(int v) { SetBounds(FLeft, v, FWidth, FHeight); }
    void SetWidth(int v) { SetBounds(FLeft, FTop, v, FHeight); }
    void SetHeight(int v) { SetBounds(FLeft, FTop, FWidth, v); }
    virtual void SetBounds(int left, int top, int width, int height);
    TRect ClientRect() const { return {0, 0, FWidth, FHeight}; }

    bool Visible() const { return FVisible; }
    void SetVisible(bool v);
    bool Enabled() const { return FEnabled; }
    virtual void SetEnabled(bool v);
    TColor Color() const { return FColor; }
    virtual void SetColor(TColor v);

    // Panels hold children: a child paints into its own picture and the panel composes them.
    TMMControl* Parent() const { return FParent; }
    void SetParent(TMMControl* parent);
    const std::vector<TMMControl*>& Controls() const { return FControls; }

    // Marks the picture stale and tells the host (and the parent, which shows this picture too).
    void Invalidate();
    bool IsInvalid() const { return FInvalid; }
    // Paints now if stale.
    void Update();
    // The up-to-date picture.
    const TRaster& Picture();
    // How often the control was invalidated (hosts and tests use it to see repaints).
    int InvalidateCount() const { return FInvalidateCount; }
    std::function<void()> OnInvalidate;

    // Input from the host, in control coordinates.
    virtual void MouseDown(TMouseButton button, TShiftState shift, int x, int y);
    virtual void MouseMove(TShiftState shift, int x, int y);
    virtual void MouseUp(TMouseButton button, TShiftState shift, int x, int y);
    virtual void Click();
    TNotifyEvent OnClick;
    TMouseEvent OnMouseDown;
    TMouseMoveEvent OnMouseMove;
    TMouseEvent OnMouseUp;

protected:
    // Draws the whole control into Canvas().
    virtual void Paint() = 0;
    // After a change of width or height.
    virtual void Resize() {}

public:
    // The picture being painted (paint events draw here).
    TRaster& Canvas() { return FCanvas; }

private:
    void PaintChildren();

    int FLeft = 0;
    int FTop = 0;
    int FWidth = 0;
    int FHeight = 0;
    bool FVisible = true;
    bool FEnabled = true;
    TColor FColor = clBtnFace;
    TMMControl* FParent = nullptr;
    std::vector<TMMControl*> FControls;
    TRaster FCanvas;
    bool FInvalid = true;
    bool FPainting = false;
    int FInvalidateCount = 0;
};

// What the three bases share: the bevel, its inner area, and the repaint on its change.
class TMMBevelControl : public TMMControl {
public:
    explicit TMMBevelControl(TComponent* owner = nullptr);

    TMMBevel& Bevel() { return *FBevel; }
    const TMMBevel& Bevel() const { return *FBevel; }
    // Assigning the property copies the values.
    void SetBevel(const TMMBevel& value) { FBevel->Assign(value); }
    // The client rectangle shrunk by the bevel's extent on every side.
    TRect BeveledRect() const;

protected:
    // Answer to a bevel change; the panel realigns its children first.
    virtual void BevelChanged() { Invalidate(); }

private:
    std::unique_ptr<TMMBevel> FBevel;
};

// A window-less control: bevel, then the inner area in the control's colour.
class TMMGraphicControl : public TMMBevelControl {
public:
    explicit TMMGraphicControl(TComponent* owner = nullptr) : TMMBevelControl(owner) {}

protected:
    void Paint() override;
    // A descendant that covers the whole inner area itself turns the fill off.
    bool FNoFill = false;
};

// A windowed control: paints the same way.
class TMMCustomControl : public TMMBevelControl {
public:
    explicit TMMCustomControl(TComponent* owner = nullptr) : TMMBevelControl(owner) {}

protected:
    void Paint() override;
};

enum TAlignment { taLeftJustify, taRightJustify, taCenter };
using TMMFillEvent = std::function<void(TObject* sender, TRaster& canvas, const TRect& rect)>;

// A panel that holds other controls.
class TMMCustomPanel : public TMMBevelControl {
public:
    explicit TMMCustomPanel(TComponent* owner = nullptr);

    const std::string& Caption() const { return FCaption; }
    void SetCaption(const std::string& v);
    TAlignment Alignment() const { return FAlignment; }
    void SetAlignment(TAlignment v);
    bool PaintBorder() const { return FPaintBorder; }
    void SetPaintBorder(bool v);
    TColor FontColor() const { return FFontColor; }
    void SetFontColor(TColor v);

    // Where the children are aligned: the client rectangle shrunk by the bevel's extent.
    TRect AlignRect() const { return BeveledRect(); }

    // Assigned: the panel leaves all its painting to it.
    TNotifyEvent OnPaint;
    // Assigned: fills the inner rectangle instead of the panel's colour.
    TMMFillEvent OnFill;

protected:
    void Paint() override;
    void BevelChanged() override;
    void Resize() override { AlignControls(); }
    // Lays out the children inside AlignRect (nothing by default).
    virtual void AlignControls() {}

private:
    std::string FCaption;
    TAlignment FAlignment = taCenter;
    bool FPaintBorder = true;
    TColor FFontColor = clBlack;
};

} // namespace tunefold
