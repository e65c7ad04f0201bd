#include "platform/wave_device.h"

#include <atomic>

#include "platform/linux/alsa_wave_in.h"
#include "platform/linux/alsa_wave_out.h"
#include "platform/platform_mode.h"
#include "platform/virtual/virtual_sound_card.h"
#include "platform/virtual/virtual_wave_in.h"

namespace tunefold::platform {

MMRESULT WaveGetErrorText(MMRESULT code, std::string& text) {
    const char* found = nullptr;
    switch (code) {
    case MMSYSERR_NOERROR:
        found = "The command completed successfully.";
        break;
    case MMSYSERR_ERROR:
        found = "Unspecified error in the sound device.";
        break;
    case MMSYSERR_BADDEVICEID:
        found = "The device number is out of range.";
        break;
    case MMSYSERR_NOTENABLED:
        found = "The sound driver is not enabled.";
        break;
    case MMSYSERR_ALLOCATED:
        found = "The sound device is already in use by another program.";
        break;
    case MMSYSERR_INVALHANDLE:
        found = "The device handle is not valid.";
        break;
    case MMSYSERR_NODRIVER:
        found = "There is no sound driver installed.";
        break;
    case MMSYSERR_NOMEM:
        found = "Out of memory for the sound device.";
        break;
    case MMSYSERR_NOTSUPPORTED:
        found = "The sound device does not support this operation.";
        break;
    case MMSYSERR_INVALFLAG:
        found = "An invalid flag was passed to the sound device.";
        break;
    case MMSYSERR_INVALPARAM:
        found = "An invalid parameter was passed to the sound device.";
        break;
    case MMSYSERR_HANDLEBUSY:
        found = "The device handle is in use by another thread.";
        break;
    case WAVERR_BADFORMAT:
        found = "The sound device cannot play this format.";
        break;
    case WAVERR_STILLPLAYING:
        found = "Buffers are still queued on the sound device.";
        break;
    case WAVERR_UNPREPARED:
        found = "The buffer header was not prepared.";
        break;
    case WAVERR_SYNC:
        found = "The sound device is synchronous and cannot do this while open.";
        break;
    default:
        break;
    }
    if (found == nullptr) {
        text = "Specified error number is out of range (unknown error)";
        return MMSYSERR_BADERRNUM;
    }
    text = found;
    return MMSYSERR_NOERROR;
}

namespace {
std::atomic<WaveOutDevices*> installedWaveOut{nullptr};
std::atomic<WaveInDevices*> installedWaveIn{nullptr};
} // namespace

WaveOutDevices& WaveOut() {
    if (WaveOutDevices* installed = installedWaveOut.load()) {
        return *installed;
    }
    // Looked at on every call, not chosen once: a program that switches to the virtual platform
    // after something has already asked (a tool that decides from its options) gets the virtual card.
    if (VirtualPlatformRequested()) {
        return VirtualSoundCard::Instance();
    }
    return AlsaWaveOut::Instance();
}

WaveOutDevices* SetWaveOut(WaveOutDevices* devices) {
    return installedWaveOut.exchange(devices);
}

WaveInDevices& WaveIn() {
    if (WaveInDevices* installed = installedWaveIn.load()) {
        return *installed;
    }
    if (VirtualPlatformRequested()) {
        return VirtualSoundCard::Instance().Capture();
    }
    return AlsaWaveIn::Instance();
}

WaveInDevices* SetWaveIn(WaveInDevices* devices) {
    return installedWaveIn.exchange(devices);
}

} // namespace tunefold::platform
