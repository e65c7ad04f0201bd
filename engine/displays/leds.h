// LED readouts drawn from the embedded seven-segment strips, recoloured at run time: one digit or
// symbol (TMMLEDDigit), a panel of cascaded digits showing an integer (TMMLEDPanel), and the
// mono / stereo lamp (TMMLEDMode).
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "engine/displays/display_types.h"
#include "engine/framework/controls.h"

namespace tunefold {

enum TMMLEDSize {
    ls06x07,
    ls07x11,
    ls08x13,
    ls11x19,
    ls13x20,
    ls13x21,
    ls15x24,
    ls15x25,
    ls17x29,
    ls18x25,
    ls19x33,
    ls21x37,
    ls23x41
};
enum TMMLEDType { ltDigit, ltPeriod, ltColon, ltMinus };

// Frame size of one digit (or symbol) of the given strip size.
int LEDFrameWidth(TMMLEDSize size);
int LEDFrameHeight(TMMLEDSize size);

// Recoloured strips shared by every digit: one entry per (symbols or digits, size, DrawInactive and
// the three colours) with a use count; an entry goes when its last user releases it.
class TMMLEDStripCache {
public:
    struct Key {
        bool symbols;
        TMMLEDSize size;
        bool drawInactive;
        TColor color;
        TColor inactiveColor;
        TColor ledColor;
        bool operator==(const Key&) const = default;
    };
    // Never null: a missing resource gives a strip of blank frames in the control's colour.
    static std::shared_ptr<const TRaster> Acquire(const Key& key);
    static void Release(const Key& key);
    static int EntryCount();
    static int UseCount(const Key& key);
};

// White pixels become `led`, black `color`, silver `inactive` when drawn, else `color`.
TRaster RecolorStrip(const TRaster& strip, TColor color, TColor inactive, TColor led, bool drawInactive);

class TMMCustomLEDDigit : public TMMGraphicControl {
public:
    explicit TMMCustomLEDDigit(TComponent* owner = nullptr);
    ~TMMCustomLEDDigit() override;

    int MinValue() const { return FMinValue; }
    void SetMinValue(int v);
    int MaxValue() const { return FMaxValue; }
    void SetMaxValue(int v);
    int Value() const { return FValue; }
    void SetValue(int v);
    bool DrawInactive() const { return FDrawInactive; }
    void SetDrawInactive(bool v);
    bool ZeroBlank() const { return FZeroBlank; }
    void SetZeroBlank(bool v);
    TColor InactiveColor() const { return FInactiveColor; }
    void SetInactiveColor(TColor v);
    TColor LEDColor() const { return FLEDColor; }
    void SetLEDColor(TColor v);
    TMMLEDSize DigitSize() const { return FDigitSize; }
    void SetDigitSize(TMMLEDSize v);
    TMMLEDType DisplayType() const { return FDisplayType; }
    void SetDisplayType(TMMLEDType v);
    bool CascadeValues() const { return FCascadeValues; }
    void SetCascadeValues(bool v) { FCascadeValues = v; }
    TMMCustomLEDDigit* Connect() const { return FConnect; }
    void SetConnect(TMMCustomLEDDigit* v);
    void SetColor(TColor v) override;
    void SetEnabled(bool v) override;
    void SetBounds(int left, int top, int width, int height) override;

    // The frame the digit shows now (0 = blank).
    int FrameIndex() const;

    // Fire when the value wraps from MaxValue to MinValue (forward) or back.
    TNotifyEvent OnRollForward;
    TNotifyEvent OnRollBackward;

protected:
    void Paint() override;
    void Notification(TComponent* component, TOperation operation) override;

private:
    void FetchStrip();
    TMMLEDStripCache::Key CurrentKey() const;

    int FMinValue = 0;
    int FMaxValue = 9;
    int FValue = 0;
    bool FDrawInactive = true;
    bool FZeroBlank = false;
    TColor FInactiveColor = clGreen;
    TColor FLEDColor = clLime;
    TMMLEDSize FDigitSize = ls13x21;
    TMMLEDType FDisplayType = ltDigit;
    bool FCascadeValues = false;
    TMMCustomLEDDigit* FConnect = nullptr;
    std::shared_ptr<const TRaster> FStrip;
    TMMLEDStripCache::Key FKey{};
    bool FHasKey = false;
    bool FSizing = false;
};

class TMMLEDDigit : public TMMCustomLEDDigit {
public:
    using TMMCustomLEDDigit::TMMCustomLEDDigit;
};

class TMMLEDPanel : public TMMCustomPanel {
public:
    explicit TMMLEDPanel(TComponent* owner = nullptr);
    ~TMMLEDPanel() override;

    int NumDigits() const { return static_cast<int>(FDigits.size()); }
    void SetNumDigits(int v);
    TMMLEDSize DigitSize() const { return FDigitSize; }
    void SetDigitSize(TMMLEDSize v);
    int LEDSpace() const { return FLEDSpace; }
    void SetLEDSpace(int v);
    TColor LEDColor() const { return FLEDColor; }
    void SetLEDColor(TColor v);
    TColor InactiveColor() const { return FInactiveColor; }
    void SetInactiveColor(TColor v);
    bool DrawInactive() const { return FDrawInactive; }
    void SetDrawInactive(bool v);
    bool ZeroBlank() const { return FZeroBlank; }
    void SetZeroBlank(bool v);
    int MinValue() const { return FMinValue; }
    void SetMinValue(int v);
    int MaxValue() const { return FMaxValue; }
    void SetMaxValue(int v);
    int Value() const { return FValue; }
    void SetValue(int v);
    void SetEnabled(bool v) override;
    void SetColor(TColor v) override;
    void SetBounds(int left, int top, int width, int height) override;

    // Slot 0 holds the units.
    TMMLEDDigit& Digit(int slot) { return *FDigits.at(static_cast<std::size_t>(slot)); }

    TNotifyEvent OnChange;

protected:
    void AlignControls() override;

private:
    void RebuildDigits(int count);
    void ApplyDigits();
    void ForwardEvents(TMMLEDDigit& digit);

    std::vector<std::unique_ptr<TMMLEDDigit>> FDigits;
    TMMLEDSize FDigitSize = ls13x21;
    int FLEDSpace = 1;
    TColor FLEDColor = clLime;
    TColor FInactiveColor = clGreen;
    bool FDrawInactive = true;
    bool FZeroBlank = false;
    int FMinValue = 0;
    int FMaxValue = 100;
    int FValue = 0;
    bool FSizing = false;
};

class TMMLEDMode : public TMMGraphicControl {
public:
    explicit TMMLEDMode(TComponent* owner = nullptr);
    ~TMMLEDMode() override;

    TMMMode Mode() const { return FMode; }
    void SetMode(TMMMode v);
    TColor LEDColor() const { return FLEDColor; }
    void SetLEDColor(TColor v);
    TColor InactiveColor() const { return FInactiveColor; }
    void SetInactiveColor(TColor v);
    bool DrawInactive() const { return FDrawInactive; }
    void SetDrawInactive(bool v);
    void SetColor(TColor v) override;

    int FrameIndex() const { return (static_cast<int>(FMode) + 1) * (Enabled() ? 1 : 0); }

protected:
    void Paint() override;

private:
    void Recolor();

    TMMMode FMode = mMono;
    TColor FLEDColor = clLime;
    TColor FInactiveColor = clGreen;
    bool FDrawInactive = true;
    TRaster FStrip;
};

} // namespace tunefold
