#include "platform/cd_audio.h"

#include <atomic>

#include "platform/linux/linux_cd_drive.h"
#include "platform/platform_mode.h"
#include "platform/virtual/virtual_cd_drive.h"

namespace tunefold::platform {

namespace {
std::atomic<CdAudioDevice*> installedCdAudio{nullptr};
} // namespace

CdAudioDevice& CdAudio() {
    if (CdAudioDevice* installed = installedCdAudio.load()) {
        return *installed;
    }
    if (VirtualPlatformRequested()) {
        return VirtualCdDrive::Instance();
    }
    return LinuxCdDrive::Instance();
}

CdAudioDevice* SetCdAudio(CdAudioDevice* device) {
    return installedCdAudio.exchange(device);
}

} // namespace tunefold::platform
