#include "tools/render/display_snapshot.h"

namespace tunefold::render {
namespace {

void PlayerMeter(TMMLevel& m, TMMChannel channel) {
    m.SetBounds(0, 0, 143, 11);
    m.SetChannel(channel);
    m.SetBitLength(b16Bit);
    m.SetMode(mStereo);
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
    // The main window switches its meters to 24 bits per pixel at start.
    m.SetBitsPerPixel(24);
}

void PlayerSpectrum(TMMSpectrum& s, TMMSpectrumKind kind) {
    s.SetBounds(0, 0, 260, 103);
    // A lowered inner line in aqua and one pixel of border space: a 256 x 99 drawing area.
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
    s.SetMode(mStereo);
    s.SetBitLength(b16Bit);
    s.SetSampleRate(44100);
    s.SetPoint1(60);
    s.SetBar2Color(clYellow);
    s.SetInactive2Color(clOlive);
    s.SetShowInfo(false);
}

} // namespace

bool SpectrumKindForIndex(int index, TMMSpectrumKind& kind) {
    static constexpr TMMSpectrumKind kinds[] = {skScroll, skBars, skDots, skLines, skPeaks, skVLines};
    if (index < 1 || index > 6) {
        return false;
    }
    kind = kinds[index - 1];
    return true;
}

DisplaySnapshot::DisplaySnapshot(TMMSpectrumKind kind) {
    PlayerMeter(left_, chLeft);
    PlayerMeter(right_, chRight);
    PlayerSpectrum(spectrum_, kind);
    // The player triggers from its display timer; nothing runs on its own.
    connector_.SetAutoTrigger(false);
    TMMConnector::SetEnterIdle(false);
    connector_.SetLevel1(&left_);
    connector_.SetLevel2(&right_);
    connector_.SetSpectrum1(&spectrum_);
}

TRaster DisplaySnapshot::Compose() {
    TRaster picture(kWidth, kHeight, clBlack);
    picture.Blit(left_.Picture(), kMeterLeft, kLeftMeterTop);
    picture.Blit(right_.Picture(), kMeterLeft, kRightMeterTop);
    picture.Blit(spectrum_.Picture(), 0, kSpectrumTop);
    return picture;
}

} // namespace tunefold::render
