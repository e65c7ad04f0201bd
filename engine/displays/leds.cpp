#include "engine/displays/leds.h"

#include <cstdlib>
#include <mutex>
#include <string>

#include "engine/framework/resources.h"

namespace tunefold {

namespace {

struct SizeInfo {
    const char* name;
    int w, h;
};
constexpr SizeInfo kSizes[13] = {{"06X07", 4, 7},   {"07X11", 5, 9},   {"08X13", 7, 13},  {"11X19", 9, 19},
                                 {"13X20", 11, 20}, {"13X21", 11, 21}, {"15X24", 13, 24}, {"15X25", 13, 25},
                                 {"17X29", 15, 29}, {"18X25", 15, 23}, {"19X33", 17, 33}, {"21X37", 19, 37},
                                 {"23X41", 21, 41}};

const SizeInfo& Info(TMMLEDSize s) {
    const int i = static_cast<int>(s);
    return kSizes[i >= 0 && i < 13 ? i : 5];
}

struct CacheEntry {
    TMMLEDStripCache::Key key;
    std::shared_ptr<const TRaster> strip;
    int uses;
};

// The process-wide cache and its guard.
std::mutex& CacheMutex() {
    static std::mutex m;
    return m;
}
std::vector<CacheEntry>& Cache() {
    static std::vector<CacheEntry> entries;
    return entries;
}

} // namespace

int LEDFrameWidth(TMMLEDSize size) {
    return Info(size).w;
}
int LEDFrameHeight(TMMLEDSize size) {
    return Info(size).h;
}

TRaster RecolorStrip(const TRaster& strip, TColor color, TColor inactive, TColor led, bool drawInactive) {
    TRaster out(strip.Width(), strip.Height(), color);
    const Pixel lit = ColorToPixel(led);
    const Pixel unlit = ColorToPixel(drawInactive ? inactive : color);
    const Pixel back = ColorToPixel(color);
    for (int y = 0; y < strip.Height(); ++y) {
        const Pixel* src = strip.Row(y);
        Pixel* dst = out.Row(y);
        for (int x = 0; x < strip.Width(); ++x) {
            const Pixel p = src[x];
            dst[x] = p == 0xFFFFFF ? lit : (p == 0xC0C0C0 ? unlit : back);
        }
    }
    return out;
}

std::shared_ptr<const TRaster> TMMLEDStripCache::Acquire(const Key& key) {
    std::lock_guard lock(CacheMutex());
    for (CacheEntry& e : Cache())
        if (e.key == key) {
            ++e.uses;
            return e.strip;
        }
    const SizeInfo& info = Info(key.size);
    const std::string name = std::string(key.symbols ? "LCDS_" : "LCD_") + info.name;
    const int frames = key.symbols ? 4 : 11;
    auto source = LoadBitmapResource(name);
    std::shared_ptr<const TRaster> strip;
    if (source && source->Width() == frames * info.w && source->Height() == info.h)
        strip = std::make_shared<const TRaster>(
            RecolorStrip(*source, key.color, key.inactiveColor, key.ledColor, key.drawInactive));
    else
        strip = std::make_shared<const TRaster>(frames * info.w, info.h, key.color);
    Cache().push_back({key, strip, 1});
    return strip;
}

void TMMLEDStripCache::Release(const Key& key) {
    std::lock_guard lock(CacheMutex());
    auto& entries = Cache();
    for (auto it = entries.begin(); it != entries.end(); ++it)
        if (it->key == key) {
            if (--it->uses <= 0)
                entries.erase(it);
            break;
        }
    if (entries.empty())
        std::vector<CacheEntry>().swap(entries); // the cache goes with the last digit
}

int TMMLEDStripCache::EntryCount() {
    std::lock_guard lock(CacheMutex());
    return static_cast<int>(Cache().size());
}

int TMMLEDStripCache::UseCount(const Key& key) {
    std::lock_guard lock(CacheMutex());
    for (const CacheEntry& e : Cache())
        if (e.key == key)
            return e.uses;
    return 0;
}

// ---- digit ----

TMMCustomLEDDigit::TMMCustomLEDDigit(TComponent* owner) : TMMGraphicControl(owner) {
    Bevel().SetBevelOuter(bvNone);
    TMMControl::SetColor(clBlack);
    FNoFill = true;
    FetchStrip();
}

TMMCustomLEDDigit::~TMMCustomLEDDigit() {
    if (FHasKey)
        TMMLEDStripCache::Release(FKey);
}

TMMLEDStripCache::Key TMMCustomLEDDigit::CurrentKey() const {
    return {FDisplayType != ltDigit, FDigitSize, FDrawInactive, Color(), FInactiveColor, FLEDColor};
}

void TMMCustomLEDDigit::FetchStrip() {
    const TMMLEDStripCache::Key key = CurrentKey();
    if (FHasKey && key == FKey)
        return;
    auto strip = TMMLEDStripCache::Acquire(key);
    if (FHasKey)
        TMMLEDStripCache::Release(FKey);
    FStrip = std::move(strip);
    FKey = key;
    FHasKey = true;
    FSizing = true;
    TMMGraphicControl::SetBounds(Left(), Top(), LEDFrameWidth(FDigitSize), LEDFrameHeight(FDigitSize));
    FSizing = false;
    Invalidate();
}

void TMMCustomLEDDigit::SetBounds(int left, int top, int width, int height) {
    // The size always follows the strip: only the position can be chosen.
    if (!FSizing) {
        width = LEDFrameWidth(FDigitSize);
        height = LEDFrameHeight(FDigitSize);
    }
    TMMGraphicControl::SetBounds(left, top, width, height);
}

void TMMCustomLEDDigit::SetMinValue(int v) {
    if (v < 0 || v > 9 || v == FMinValue)
        return;
    FMinValue = v;
    if (FMaxValue < v)
        FMaxValue = v;
    if (FValue < v) {
        FValue = v;
        Invalidate();
    }
}

void TMMCustomLEDDigit::SetMaxValue(int v) {
    if (v < 0 || v > 9 || v == FMaxValue)
        return;
    FMaxValue = v;
    if (FMinValue > v)
        FMinValue = v;
    if (FValue > v) {
        FValue = v;
        Invalidate();
    }
}

void TMMCustomLEDDigit::SetValue(int v) {
    if (FCascadeValues && FConnect != nullptr)
        FConnect->SetValue(v / 10);
    const int digit = v % 10;
    if (digit == FValue || digit < FMinValue || digit > FMaxValue)
        return;
    const int old = FValue;
    FValue = digit;
    Invalidate();
    if (old == FMaxValue && digit == FMinValue && OnRollForward)
        OnRollForward(this);
    else if (old == FMinValue && digit == FMaxValue && OnRollBackward)
        OnRollBackward(this);
}

void TMMCustomLEDDigit::SetDrawInactive(bool v) {
    if (v == FDrawInactive)
        return;
    FDrawInactive = v;
    FetchStrip();
}

void TMMCustomLEDDigit::SetZeroBlank(bool v) {
    if (v == FZeroBlank)
        return;
    FZeroBlank = v;
    Invalidate();
}

void TMMCustomLEDDigit::SetInactiveColor(TColor v) {
    if (v == FInactiveColor)
        return;
    FInactiveColor = v;
    FetchStrip();
}

void TMMCustomLEDDigit::SetLEDColor(TColor v) {
    if (v == FLEDColor)
        return;
    FLEDColor = v;
    FetchStrip();
}

void TMMCustomLEDDigit::SetColor(TColor v) {
    if (v == Color())
        return;
    TMMGraphicControl::SetColor(v);
    FetchStrip();
}

void TMMCustomLEDDigit::SetDigitSize(TMMLEDSize v) {
    if (v == FDigitSize || v < ls06x07 || v > ls23x41)
        return;
    FDigitSize = v;
    FetchStrip();
}

void TMMCustomLEDDigit::SetDisplayType(TMMLEDType v) {
    if (v == FDisplayType)
        return;
    FDisplayType = v;
    FetchStrip();
    Invalidate();
}

void TMMCustomLEDDigit::SetConnect(TMMCustomLEDDigit* v) {
    if (v == this || v == FConnect)
        return;
    if (FConnect != nullptr)
        RemoveFreeNotification(FConnect);
    FConnect = v;
    if (v != nullptr)
        FreeNotification(v);
}

void TMMCustomLEDDigit::Notification(TComponent* component, TOperation operation) {
    TMMGraphicControl::Notification(component, operation);
    if (operation == TOperation::opRemove && component == FConnect)
        FConnect = nullptr;
}

void TMMCustomLEDDigit::SetEnabled(bool v) {
    TMMGraphicControl::SetEnabled(v);
}

int TMMCustomLEDDigit::FrameIndex() const {
    if (!Enabled())
        return 0;
    if (FDisplayType == ltDigit)
        return FZeroBlank && FValue == 0 ? 0 : FValue + 1;
    return static_cast<int>(FDisplayType);
}

void TMMCustomLEDDigit::Paint() {
    const int w = LEDFrameWidth(FDigitSize);
    Canvas().Clear(Color());
    Canvas().Blit(*FStrip, {FrameIndex() * w, 0, (FrameIndex() + 1) * w, LEDFrameHeight(FDigitSize)}, 0, 0);
}

// ---- panel ----

TMMLEDPanel::TMMLEDPanel(TComponent* owner) : TMMCustomPanel(owner) {
    TMMControl::SetColor(clBlack);
    RebuildDigits(2);
}

TMMLEDPanel::~TMMLEDPanel() {
    for (auto& d : FDigits)
        d->SetParent(nullptr);
}

void TMMLEDPanel::ForwardEvents(TMMLEDDigit& digit) {
    // Clicks and mouse events on a digit are the panel's own, in panel coordinates.
    digit.OnClick = [this](TObject*) { Click(); };
    digit.OnMouseDown = [this, &digit](TObject*, TMouseButton b, TShiftState s, int x, int y) {
        MouseDown(b, s, x + digit.Left(), y + digit.Top());
    };
    digit.OnMouseMove = [this, &digit](TObject*, TShiftState s, int x, int y) {
        MouseMove(s, x + digit.Left(), y + digit.Top());
    };
    digit.OnMouseUp = [this, &digit](TObject*, TMouseButton b, TShiftState s, int x, int y) {
        MouseUp(b, s, x + digit.Left(), y + digit.Top());
    };
}

void TMMLEDPanel::RebuildDigits(int count) {
    for (auto& d : FDigits)
        d->SetParent(nullptr);
    FDigits.clear();
    for (int i = 0; i < count; ++i) {
        auto d = std::make_unique<TMMLEDDigit>();
        d->SetDigitSize(FDigitSize);
        d->SetColor(Color());
        d->SetLEDColor(FLEDColor);
        d->SetInactiveColor(FInactiveColor);
        d->SetDrawInactive(FDrawInactive);
        d->SetEnabled(Enabled());
        d->SetCascadeValues(true);
        ForwardEvents(*d);
        d->SetParent(this);
        FDigits.push_back(std::move(d));
    }
    for (int i = 0; i + 1 < count; ++i)
        FDigits[static_cast<std::size_t>(i)]->SetConnect(FDigits[static_cast<std::size_t>(i) + 1].get());
    ApplyDigits();
    AlignControls();
}

void TMMLEDPanel::AlignControls() {
    if (FDigits.empty())
        return;
    const int e = Bevel().BevelExtent();
    const int dw = LEDFrameWidth(FDigitSize), dh = LEDFrameHeight(FDigitSize);
    const int n = NumDigits();
    FSizing = true;
    TMMCustomPanel::SetBounds(Left(), Top(), 2 * e + n * (dw + FLEDSpace) - FLEDSpace, 2 * e + dh);
    FSizing = false;
    // Slot n - 1 stands at the left.
    for (int slot = 0; slot < n; ++slot)
        FDigits[static_cast<std::size_t>(slot)]->SetBounds(e + (n - 1 - slot) * (dw + FLEDSpace), e, dw, dh);
    Invalidate();
}

void TMMLEDPanel::SetBounds(int left, int top, int width, int height) {
    TMMCustomPanel::SetBounds(left, top, width, height);
    if (!FSizing)
        AlignControls();
}

void TMMLEDPanel::ApplyDigits() {
    const int n = NumDigits();
    const long long magnitude = std::llabs(static_cast<long long>(FValue));
    // Blanking: the units always show; going up, a slot stays visible while its power of ten is
    // below the value and it is not the leftmost; from the first that fails on, zeros blank.
    bool visible = true;
    long long p = 10;
    for (int slot = 0; slot < n; ++slot) {
        if (slot > 0) {
            if (!(p < magnitude && slot < n - 1))
                visible = false;
            if (p < 1000000000000LL)
                p *= 10;
        }
        FDigits[static_cast<std::size_t>(slot)]->SetZeroBlank(FZeroBlank && !visible);
    }
    FDigits[0]->SetValue(static_cast<int>(magnitude));
    for (int slot = 0; slot < n; ++slot)
        FDigits[static_cast<std::size_t>(slot)]->SetDisplayType(slot == n - 1 && FValue < 0 ? ltMinus
                                                                                            : ltDigit);
}

void TMMLEDPanel::SetNumDigits(int v) {
    if (v < 1 || v > 9 || v == NumDigits())
        return;
    RebuildDigits(v);
}

void TMMLEDPanel::SetDigitSize(TMMLEDSize v) {
    if (v == FDigitSize || v < ls06x07 || v > ls23x41)
        return;
    FDigitSize = v;
    for (auto& d : FDigits)
        d->SetDigitSize(v);
    AlignControls();
}

void TMMLEDPanel::SetLEDSpace(int v) {
    v = v < 1 ? 1 : v;
    if (v == FLEDSpace)
        return;
    FLEDSpace = v;
    AlignControls();
}

void TMMLEDPanel::SetLEDColor(TColor v) {
    if (v == FLEDColor)
        return;
    FLEDColor = v;
    for (auto& d : FDigits)
        d->SetLEDColor(v);
}

void TMMLEDPanel::SetInactiveColor(TColor v) {
    if (v == FInactiveColor)
        return;
    FInactiveColor = v;
    for (auto& d : FDigits)
        d->SetInactiveColor(v);
}

void TMMLEDPanel::SetDrawInactive(bool v) {
    if (v == FDrawInactive)
        return;
    FDrawInactive = v;
    for (auto& d : FDigits)
        d->SetDrawInactive(v);
}

void TMMLEDPanel::SetZeroBlank(bool v) {
    if (v == FZeroBlank)
        return;
    FZeroBlank = v;
    ApplyDigits();
}

void TMMLEDPanel::SetMinValue(int v) {
    if (v == FMinValue)
        return;
    FMinValue = v;
    if (FMaxValue < v)
        FMaxValue = v;
    if (FValue < v)
        SetValue(v);
}

void TMMLEDPanel::SetMaxValue(int v) {
    if (v == FMaxValue)
        return;
    FMaxValue = v;
    if (FMinValue > v)
        FMinValue = v;
    if (FValue > v)
        SetValue(v);
}

void TMMLEDPanel::SetValue(int v) {
    v = v < FMinValue ? FMinValue : (v > FMaxValue ? FMaxValue : v);
    if (v == FValue)
        return;
    FValue = v;
    ApplyDigits();
    if (OnChange)
        OnChange(this);
}

void TMMLEDPanel::SetEnabled(bool v) {
    TMMCustomPanel::SetEnabled(v);
    for (auto& d : FDigits)
        d->SetEnabled(v);
}

void TMMLEDPanel::SetColor(TColor v) {
    TMMCustomPanel::SetColor(v);
    for (auto& d : FDigits)
        d->SetColor(v);
}

// ---- mode lamp ----

TMMLEDMode::TMMLEDMode(TComponent* owner) : TMMGraphicControl(owner) {
    Bevel().SetBevelOuter(bvNone);
    TMMControl::SetColor(clBlack);
    FNoFill = true;
    SetBounds(0, 0, 27, 11);
    Recolor();
}

TMMLEDMode::~TMMLEDMode() = default;

void TMMLEDMode::Recolor() {
    auto source = LoadBitmapResource("LCD_MODE");
    if (source && source->Width() == 4 * 27 && source->Height() == 11)
        FStrip = RecolorStrip(*source, Color(), FInactiveColor, FLEDColor, FDrawInactive);
    else
        FStrip = TRaster(4 * 27, 11, Color());
    Invalidate();
}

void TMMLEDMode::SetMode(TMMMode v) {
    if (v == FMode || v < mMono || v > mQuadro)
        return;
    FMode = v;
    Invalidate();
}

void TMMLEDMode::SetLEDColor(TColor v) {
    if (v == FLEDColor)
        return;
    FLEDColor = v;
    Recolor();
}

void TMMLEDMode::SetInactiveColor(TColor v) {
    if (v == FInactiveColor)
        return;
    FInactiveColor = v;
    Recolor();
}

void TMMLEDMode::SetDrawInactive(bool v) {
    if (v == FDrawInactive)
        return;
    FDrawInactive = v;
    Recolor();
}

void TMMLEDMode::SetColor(TColor v) {
    if (v == Color())
        return;
    TMMGraphicControl::SetColor(v);
    Recolor();
}

void TMMLEDMode::Paint() {
    const int f = FrameIndex();
    Canvas().StretchBlit(FStrip, {f * 27, 0, (f + 1) * 27, 11}, ClientRect());
}

} // namespace tunefold
