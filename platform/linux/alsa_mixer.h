// The ALSA mixer backend: the simple mixer of the "default" control device (what the user hears
// through PulseAudio or PipeWire) as one device with one speaker destination, whose controls are
// the volume of "Master" (else "PCM", else "Speaker") scaled linearly to 0..65535 and its mute
// (the inverted playback switch). A watcher thread per open handle turns ALSA's change events into
// posted control changes.
#pragma once

#include <map>
#include <memory>
#include <mutex>

#include "platform/mixer.h"

namespace tunefold::platform {

class AlsaMixer : public MixerDevices {
public:
    static AlsaMixer& Instance();
    AlsaMixer();
    ~AlsaMixer() override;

    UINT GetNumDevs() override;
    MMRESULT GetDevCaps(int deviceId, MixerCaps& caps) override;
    MMRESULT Open(HMIXER* handle, int deviceId, MessageWindow* notify) override;
    MMRESULT Close(HMIXER handle) override;
    MMRESULT GetID(HMIXER handle, UINT& deviceId) override;
    MMRESULT GetLineInfo(HMIXER handle, MixerLineQuery query, MixerLineInfo& line) override;
    MMRESULT GetLineControls(HMIXER handle, DWORD lineId, std::vector<MixerControlInfo>& controls) override;
    MMRESULT GetControlByID(HMIXER handle, DWORD controlId, MixerControlInfo& control) override;
    MMRESULT GetControlValues(HMIXER handle, DWORD controlId, std::vector<std::int64_t>& values) override;
    MMRESULT SetControlValues(HMIXER handle, DWORD controlId,
                              const std::vector<std::int64_t>& values) override;

    struct Session;

private:
    std::shared_ptr<Session> Find(HMIXER handle);

    std::mutex mutex_;
    std::map<HMIXER, std::shared_ptr<Session>> sessions_;
    HMIXER nextHandle_ = 0x5D00;
};

} // namespace tunefold::platform
