#include "engine/framework/controls.h"

#include <algorithm>

namespace tunefold {

TMMControl::TMMControl(TComponent* owner) : TComponent(owner) {}

TMMControl::~TMMControl() {
    for (TMMControl* child : FControls)
        child->FParent = nullptr;
    FControls.clear();
    if (FParent != nullptr)
        std::erase(FParent->FControls, this);
}

void TMMControl::SetBounds(int left, int top, int width, int height) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    const bool resized = width != FWidth || height != FHeight;
    if (!resized && left == FLeft && top == FTop)
        return;
    FLeft = left;
    FTop = top;
    FWidth = width;
    FHeight = height;
    if (resized) {
        FCanvas.SetSize(width, height, FColor);
        Resize();
    }
    Invalidate();
}

void TMMControl::SetVisible(bool v) {
    if (v == FVisible)
        return;
    FVisible = v;
    Invalidate();
}

void TMMControl::SetEnabled(bool v) {
    if (v == FEnabled)
        return;
    FEnabled = v;
    Invalidate();
}

void TMMControl::SetColor(TColor v) {
    if (v == FColor)
        return;
    FColor = v;
    Invalidate();
}

void TMMControl::SetParent(TMMControl* parent) {
    if (parent == FParent)
        return;
    if (FParent != nullptr) {
        std::erase(FParent->FControls, this);
        FParent->Invalidate();
    }
    FParent = parent;
    if (parent != nullptr) {
        parent->FControls.push_back(this);
        parent->Invalidate();
    }
}

void TMMControl::Invalidate() {
    // Painting may set state that would invalidate again; the picture being drawn covers it.
    if (FPainting)
        return;
    FInvalid = true;
    ++FInvalidateCount;
    if (OnInvalidate)
        OnInvalidate();
    if (FParent != nullptr)
        FParent->Invalidate();
}

void TMMControl::Update() {
    if (!FInvalid)
        return;
    FPainting = true;
    try {
        if (FCanvas.Width() != FWidth || FCanvas.Height() != FHeight)
            FCanvas.SetSize(FWidth, FHeight, FColor);
        Paint();
        PaintChildren();
    } catch (...) {
        FPainting = false;
        throw;
    }
    FPainting = false;
    FInvalid = false;
}

const TRaster& TMMControl::Picture() {
    Update();
    return FCanvas;
}

void TMMControl::PaintChildren() {
    for (TMMControl* child : FControls) {
        if (!child->Visible())
            continue;
        FCanvas.Blit(child->Picture(), child->Left(), child->Top());
    }
}

void TMMControl::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
    if (OnMouseDown)
        OnMouseDown(this, button, shift, x, y);
}

void TMMControl::MouseMove(TShiftState shift, int x, int y) {
    if (OnMouseMove)
        OnMouseMove(this, shift, x, y);
}

void TMMControl::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
    if (OnMouseUp)
        OnMouseUp(this, button, shift, x, y);
}

void TMMControl::Click() {
    if (OnClick)
        OnClick(this);
}

// ---- bevelled bases ----

TMMBevelControl::TMMBevelControl(TComponent* owner)
    : TMMControl(owner), FBevel(std::make_unique<TMMBevel>()) {
    FBevel->SetOwnerCallback([this](TMMObject*, std::intptr_t) { BevelChanged(); });
}

TRect TMMBevelControl::BeveledRect() const {
    const int e = FBevel->BevelExtent();
    return {e, e, Width() - e, Height() - e};
}

void TMMGraphicControl::Paint() {
    const TRect inner = Bevel().PaintBevel(Canvas(), ClientRect(), true);
    if (!FNoFill)
        Canvas().FillRect(inner, Color());
}

void TMMCustomControl::Paint() {
    const TRect inner = Bevel().PaintBevel(Canvas(), ClientRect(), true);
    Canvas().FillRect(inner, Color());
}

TMMCustomPanel::TMMCustomPanel(TComponent* owner) : TMMBevelControl(owner) {}

void TMMCustomPanel::SetCaption(const std::string& v) {
    if (v == FCaption)
        return;
    FCaption = v;
    Invalidate();
}

void TMMCustomPanel::SetAlignment(TAlignment v) {
    if (v == FAlignment)
        return;
    FAlignment = v;
    Invalidate();
}

void TMMCustomPanel::SetPaintBorder(bool v) {
    if (v == FPaintBorder)
        return;
    FPaintBorder = v;
    Invalidate();
}

void TMMCustomPanel::SetFontColor(TColor v) {
    if (v == FFontColor)
        return;
    FFontColor = v;
    Invalidate();
}

void TMMCustomPanel::BevelChanged() {
    AlignControls();
    Invalidate();
}

void TMMCustomPanel::Paint() {
    if (OnPaint) {
        OnPaint(this);
        return;
    }
    const TRect inner = Bevel().PaintBevel(Canvas(), ClientRect(), FPaintBorder);
    if (OnFill)
        OnFill(this, Canvas(), inner);
    else
        Canvas().FillRect(inner, Color());
    if (FCaption.empty())
        return;
    const int w = TRaster::TextWidth(FCaption);
    int x = inner.Left;
    if (FAlignment == taCenter)
        x = inner.Left + (inner.Width() - w) / 2;
    else if (FAlignment == taRightJustify)
        x = inner.Right - w;
    const int y = inner.Top + (inner.Height() - TRaster::FontHeight) / 2;
    Canvas().TextOut(x, y, FCaption, FFontColor);
}

} // namespace tunefold
