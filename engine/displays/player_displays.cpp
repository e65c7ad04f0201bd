#include "engine/displays/player_displays.h"

namespace tunefold {

void UsePlayerMeterSettings(TMMLevel& m, TMMChannel channel) {
    m.SetBounds(0, 0, 143, 11);
    m.SetChannel(channel);
    m.SetSamples(250);
    m.SetPoint1(60);
    m.SetBar2Color(clYellow);
    m.SetInactive2Color(clOlive);
    m.SetNumPeaks(2);
    m.SetPeakSpeed(1);
    m.SetDecayMode(dmStepUp);
    m.SetDecay(7);
    m.SetSensitivy(-35);
    m.SetLogAmp(true);
    m.SetBitsPerPixel(24);
}

void UsePlayerSpectrumSettings(TMMSpectrum& s, TMMSpectrumKind kind) {
    s.SetBounds(0, 0, 260, 103);
    s.Bevel().SetBevelOuter(bvNone);
    s.Bevel().SetBevelInner(bvLowered);
    s.Bevel().SetInnerShadowColor(clAqua);
    s.Bevel().SetInnerLightColor(clAqua);
    s.Bevel().SetBorderSpace(1);
    s.SetFFTLength(256);
    s.SetKind(kind);
    s.SetDecayMode(dmStepUp);
    s.SetDecay(7);
    s.SetVerticalScale(20);
    s.SetFrequencyScale(2);
    s.SetPeakSpeed(1);
    s.SetGain(sg3db);
    s.SetChannel(chLeft);
    s.SetPoint1(60);
    s.SetBar2Color(clYellow);
    s.SetInactive2Color(clOlive);
    s.SetShowInfo(false);
}

bool SpectrumKindForIndex(int index, TMMSpectrumKind& kind) {
    static constexpr TMMSpectrumKind kinds[] = {skScroll, skBars, skDots, skLines, skPeaks, skVLines};
    if (index < 1 || index > 6) {
        return false;
    }
    kind = kinds[index - 1];
    return true;
}

} // namespace tunefold
