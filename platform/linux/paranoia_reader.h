// Digital reading of an audio CD through libcdio-paranoia, which re-reads and stitches sectors
// until neighbouring reads agree (drives return jittered or damaged audio without saying so).
#pragma once

#include <memory>
#include <string>

#include "platform/cd_audio.h"

namespace tunefold::platform {

// A reader of the audio disc in the drive at `devicePath`; null when the drive holds no audio disc
// (or cannot be opened for reading).
std::unique_ptr<CdAudioReader> OpenParanoiaReader(const std::string& devicePath);

} // namespace tunefold::platform
