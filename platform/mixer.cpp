#include "platform/mixer.h"

#include <atomic>

#include "platform/linux/alsa_mixer.h"
#include "platform/platform_mode.h"
#include "platform/virtual/virtual_mixer.h"
#include "platform/wave_device.h"

namespace tunefold::platform {

namespace {
std::atomic<MixerDevices*> installedMixer{nullptr};
} // namespace

std::string MixerDevices::ErrorText(MMRESULT code) {
    switch (code) {
    case MIXERR_INVALLINE:
        return "The mixer line is not valid.";
    case MIXERR_INVALCONTROL:
        return "The mixer control is not valid.";
    case MIXERR_INVALVALUE:
        return "The value is out of range for this mixer control.";
    default:
        break;
    }
    std::string text;
    WaveGetErrorText(code, text);
    return text;
}

MixerDevices& Mixer() {
    if (MixerDevices* installed = installedMixer.load()) {
        return *installed;
    }
    if (VirtualPlatformRequested()) {
        return VirtualMixer::Instance();
    }
    return AlsaMixer::Instance();
}

MixerDevices* SetMixer(MixerDevices* mixer) {
    return installedMixer.exchange(mixer);
}

} // namespace tunefold::platform
