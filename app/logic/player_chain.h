// The file player's chain: the file source (MPEG or WAVE, one linked at a time) -> the PCM
// converter with the player's settings -> the pre-volume -> the equalizer with the equalizer
// window's ten bands -> the wave output. The player window and tunefold-render both play through
// it; what sits behind the device (connector, displays, a recorder) is the caller's.
#pragma once

#include <array>
#include <string>

#include "app/logic/file_info.h"
#include "engine/devices/wave_out.h"
#include "engine/processing/equalizer.h"
#include "engine/processing/volume.h"
#include "engine/sources/acm_converter.h"
#include "engine/sources/cd_audio_source.h"
#include "engine/sources/mpeg_file.h"
#include "engine/sources/wave_file.h"

namespace tunefold {

struct TPlayerChainSettings {
    bool equalizer = true; // false leaves the equalizer out of the chain
    int numBuffers = 132;
    int bufferSize = 16384;
    int deviceId = -1;
};

class TPlayerChain {
public:
    explicit TPlayerChain(const TPlayerChainSettings& settings);
    TPlayerChain(const TPlayerChain&) = delete;
    TPlayerChain& operator=(const TPlayerChain&) = delete;

    // Selects `path` in the source its kind needs and links that source to the converter. False
    // (nothing linked anew) when the file is neither MPEG nor WAVE.
    bool SelectFile(const std::string& path);
    // Both sources give up their files.
    void DeselectFiles();
    // Selects audio track `track` of the disc in the drive in the CD source (read digitally) and
    // links that source to the converter. False (nothing linked anew) when there is no such track.
    bool SelectCdTrack(int track);

    // The ten band gains in dB, in the equalizer window's band order.
    void SetBandGains(const std::array<float, 10>& gains);

    TMMMPEGFile& MpegFile() { return mpeg_; }
    TMMWaveFile& WaveFile() { return wave_; }
    TMMCDAudioSource& CdSource() { return cd_; }
    TMMPCMConverter& Converter() { return converter_; }
    TMMVolume& Volume() { return volume_; }
    TMMEqualizer& Equalizer() { return eq_; }
    TMMWaveOut& WaveOut() { return out_; }
    bool HasEqualizer() const { return settings_.equalizer; }

private:
    TPlayerChainSettings settings_;
    TMMMPEGFile mpeg_;
    TMMWaveFile wave_;
    TMMCDAudioSource cd_;
    TMMPCMConverter converter_;
    TMMVolume volume_;
    TMMEqualizer eq_;
    TMMWaveOut out_;
};

} // namespace tunefold
