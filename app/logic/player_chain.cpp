#include "app/logic/player_chain.h"

#include "app/logic/eq_curve.h"

namespace tunefold {

TPlayerChain::TPlayerChain(const TPlayerChainSettings& settings) : settings_(settings) {
    wave_.Wave().SetTimeFormat(tfMillisecond);
    converter_.BeginLoading();
    converter_.SetQuality(cqHigh);
    converter_.SetAutoConvert(false);
    converter_.SetSampleRate(44100);
    converter_.SetBitLength(b16Bit);
    converter_.SetMode(mStereo);
    converter_.SetRequired({rpBits});
    converter_.Loaded();
    out_.SetCallBackMode(cmThread);
    out_.SetPriority(tpHighest);
    out_.SetTimeFormat(tfMillisecond);
    out_.SetNumBuffers(settings.numBuffers);
    out_.SetBufferSize(settings.bufferSize);
    out_.SetDeviceID(settings.deviceId);
    volume_.SetInput(&converter_);
    if (!settings.equalizer) {
        out_.SetInput(&volume_);
        return;
    }
    // The equalizer window's stage: ten bands created flat in table order; their gains are set
    // through each band's value index 2, as a drag or a loaded curve does.
    eq_.SetSampleRate(44100);
    eq_.SetFFTLength(256);
    eq_.SetWindow(fwHamming);
    eq_.SetChannel(chBoth);
    for (const TEqBand& band : EqBands) {
        eq_.Filters().AddFilter(band.F1, band.F2, 0.0f);
    }
    eq_.SetInput(&volume_);
    out_.SetInput(&eq_);
}

bool TPlayerChain::SelectFile(const std::string& path) {
    const FileKind kind = DescribeFile(path).kind;
    if (kind == FileKind::Mpeg) {
        mpeg_.SetFileName(path);
        converter_.SetInput(&mpeg_);
        return true;
    }
    if (kind == FileKind::Wave) {
        wave_.Wave().SetFileName(path);
        converter_.SetInput(&wave_);
        return true;
    }
    return false;
}

bool TPlayerChain::SelectCdTrack(int track) {
    if (!cd_.SelectTrack(track)) {
        return false;
    }
    converter_.SetInput(&cd_);
    return true;
}

void TPlayerChain::DeselectFiles() {
    mpeg_.SetFileName("");
    wave_.Wave().SetFileName("");
}

void TPlayerChain::SetBandGains(const std::array<float, 10>& gains) {
    if (!settings_.equalizer) {
        return;
    }
    for (int i = 0; i < 10; ++i) {
        eq_.Filters().Items(i)->SetValue(2, gains[static_cast<std::size_t>(i)]);
    }
}

} // namespace tunefold
