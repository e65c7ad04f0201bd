#include "tools/render/display_snapshot.h"

#include "engine/displays/player_displays.h"

namespace tunefold::render {
namespace {

void PlayerMeter(TMMLevel& m, TMMChannel channel) {
    UsePlayerMeterSettings(m, channel);
    m.SetBitLength(b16Bit);
    m.SetMode(mStereo);
}

void PlayerSpectrum(TMMSpectrum& s, TMMSpectrumKind kind) {
    UsePlayerSpectrumSettings(s, kind);
    s.SetMode(mStereo);
    s.SetBitLength(b16Bit);
    s.SetSampleRate(44100);
}

} // namespace

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
