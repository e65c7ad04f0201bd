#include "platform/linux/alsa_mixer.h"

#include <alsa/asoundlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <thread>
#include <vector>

#include "platform/message_loop.h"
#include "platform/thread_priority.h"

namespace tunefold::platform {

namespace {

constexpr const char* kCard = "default";
constexpr DWORD kVolumeId = 1;
constexpr DWORD kMuteId = 2;
constexpr DWORD kSpeakersLine = 0;
constexpr std::int64_t kScale = 65535;

snd_mixer_t* OpenMixer() {
    snd_mixer_t* mixer = nullptr;
    if (snd_mixer_open(&mixer, 0) < 0) {
        return nullptr;
    }
    if (snd_mixer_attach(mixer, kCard) < 0 || snd_mixer_selem_register(mixer, nullptr, nullptr) < 0 ||
        snd_mixer_load(mixer) < 0) {
        snd_mixer_close(mixer);
        return nullptr;
    }
    return mixer;
}

// The element a user means by "the volume": Master, else PCM, else Speaker.
snd_mixer_elem_t* SpeakerElement(snd_mixer_t* mixer) {
    for (const char* name : {"Master", "PCM", "Speaker"}) {
        snd_mixer_selem_id_t* id = nullptr;
        snd_mixer_selem_id_alloca(&id);
        snd_mixer_selem_id_set_name(id, name);
        snd_mixer_elem_t* elem = snd_mixer_find_selem(mixer, id);
        if (elem != nullptr && snd_mixer_selem_has_playback_volume(elem)) {
            return elem;
        }
    }
    return nullptr;
}

} // namespace

struct AlsaMixer::Session {
    std::mutex mutex;
    snd_mixer_t* mixer = nullptr;
    snd_mixer_elem_t* elem = nullptr;
    MessageWindow* notify = nullptr;
    HMIXER handle = 0;
    int wake = -1;
    std::thread watcher;
    long min = 0;
    long max = 0;

    int Channels() const { return snd_mixer_selem_is_playback_mono(elem) ? 1 : 2; }
    bool HasMute() const { return snd_mixer_selem_has_playback_switch(elem) != 0; }

    // Waits for ALSA's events and the wake-up; every event is a change of the volume or the mute.
    void Watch() {
        for (;;) {
            std::vector<pollfd> fds(1);
            {
                std::lock_guard lock(mutex);
                const int n = snd_mixer_poll_descriptors_count(mixer);
                fds.resize(static_cast<std::size_t>(std::max(n, 0)) + 1);
                snd_mixer_poll_descriptors(mixer, fds.data() + 1, static_cast<unsigned>(std::max(n, 0)));
            }
            fds[0] = pollfd{wake, POLLIN, 0};
            if (poll(fds.data(), fds.size(), -1) < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return;
            }
            if ((fds[0].revents & POLLIN) != 0) {
                return;
            }
            {
                std::lock_guard lock(mutex);
                snd_mixer_handle_events(mixer);
            }
            if (notify != nullptr) {
                notify->Post(MM_MIXM_CONTROL_CHANGE, handle, static_cast<LPARAM>(kVolumeId));
                notify->Post(MM_MIXM_CONTROL_CHANGE, handle, static_cast<LPARAM>(kMuteId));
            }
        }
    }
    void Stop() {
        if (wake >= 0) {
            const std::uint64_t one = 1;
            (void)!write(wake, &one, sizeof one);
        }
        if (watcher.joinable()) {
            watcher.join();
        }
        if (wake >= 0) {
            close(wake);
        }
        if (mixer != nullptr) {
            snd_mixer_close(mixer);
        }
    }
};

AlsaMixer& AlsaMixer::Instance() {
    static AlsaMixer mixer;
    return mixer;
}

AlsaMixer::AlsaMixer() = default;

AlsaMixer::~AlsaMixer() {
    std::lock_guard lock(mutex_);
    for (auto& [handle, session] : sessions_) {
        session->Stop();
    }
    sessions_.clear();
}

std::shared_ptr<AlsaMixer::Session> AlsaMixer::Find(HMIXER handle) {
    std::lock_guard lock(mutex_);
    const auto it = sessions_.find(handle);
    return it == sessions_.end() ? nullptr : it->second;
}

UINT AlsaMixer::GetNumDevs() {
    snd_mixer_t* mixer = OpenMixer();
    if (mixer == nullptr) {
        return 0;
    }
    snd_mixer_close(mixer);
    return 1;
}

MMRESULT AlsaMixer::GetDevCaps(int deviceId, MixerCaps& caps) {
    if (deviceId != 0 && deviceId != -1) {
        return MMSYSERR_BADDEVICEID;
    }
    if (GetNumDevs() == 0) {
        return MMSYSERR_NODRIVER;
    }
    caps.name = "Default mixer";
    caps.destinations = 1;
    return MMSYSERR_NOERROR;
}

MMRESULT AlsaMixer::Open(HMIXER* handle, int deviceId, MessageWindow* notify) {
    if (deviceId != 0 && deviceId != -1) {
        return MMSYSERR_BADDEVICEID;
    }
    auto session = std::make_shared<Session>();
    session->mixer = OpenMixer();
    if (session->mixer == nullptr) {
        return MMSYSERR_NODRIVER;
    }
    session->elem = SpeakerElement(session->mixer);
    if (session->elem != nullptr) {
        snd_mixer_selem_get_playback_volume_range(session->elem, &session->min, &session->max);
    }
    session->notify = notify;
    session->wake = eventfd(0, EFD_CLOEXEC);
    if (session->wake < 0) {
        session->Stop();
        return MMSYSERR_NOMEM;
    }
    std::lock_guard lock(mutex_);
    session->handle = nextHandle_++;
    *handle = session->handle;
    session->watcher = std::thread([s = session.get()] {
        NameCurrentThread("tf-mixer");
        s->Watch();
    });
    sessions_[session->handle] = std::move(session);
    return MMSYSERR_NOERROR;
}

MMRESULT AlsaMixer::Close(HMIXER handle) {
    std::shared_ptr<Session> session;
    {
        std::lock_guard lock(mutex_);
        const auto it = sessions_.find(handle);
        if (it == sessions_.end()) {
            return MMSYSERR_INVALHANDLE;
        }
        session = std::move(it->second);
        sessions_.erase(it);
    }
    session->Stop();
    return MMSYSERR_NOERROR;
}

MMRESULT AlsaMixer::GetID(HMIXER handle, UINT& deviceId) {
    if (!Find(handle)) {
        return MMSYSERR_INVALHANDLE;
    }
    deviceId = 0;
    return MMSYSERR_NOERROR;
}

MMRESULT AlsaMixer::GetLineInfo(HMIXER handle, MixerLineQuery query, MixerLineInfo& line) {
    const auto s = Find(handle);
    if (!s) {
        return MMSYSERR_INVALHANDLE;
    }
    const bool match =
        (query == MixerLineQuery::ByLineId && line.lineId == kSpeakersLine) ||
        (query == MixerLineQuery::ByComponentType && line.componentType == mixer_line::DstSpeakers) ||
        (query == MixerLineQuery::ByDestination && line.destination == 0) ||
        (query == MixerLineQuery::ByTargetType && line.targetType == mixer_line::TargetWaveOut);
    if (!match) {
        return MIXERR_INVALLINE;
    }
    std::lock_guard lock(s->mutex);
    MixerLineInfo info;
    info.lineId = kSpeakersLine;
    info.flags = mixer_line::FlagActive;
    info.componentType = mixer_line::DstSpeakers;
    info.targetType = mixer_line::TargetWaveOut;
    info.targetDeviceId = line.targetDeviceId;
    if (s->elem != nullptr) {
        info.channels = static_cast<DWORD>(s->Channels());
        info.controls = s->HasMute() ? 2 : 1;
        info.name = snd_mixer_selem_get_name(s->elem);
        info.shortName = info.name.substr(0, 15);
    } else {
        info.channels = 2;
        info.name = "Speakers";
        info.shortName = "Speakers";
    }
    line = info;
    return MMSYSERR_NOERROR;
}

MMRESULT AlsaMixer::GetLineControls(HMIXER handle, DWORD lineId, std::vector<MixerControlInfo>& controls) {
    const auto s = Find(handle);
    if (!s) {
        return MMSYSERR_INVALHANDLE;
    }
    if (lineId != kSpeakersLine) {
        return MIXERR_INVALLINE;
    }
    controls.clear();
    for (DWORD id : {kVolumeId, kMuteId}) {
        MixerControlInfo info;
        if (GetControlByID(handle, id, info) == MMSYSERR_NOERROR) {
            controls.push_back(info);
        }
    }
    return MMSYSERR_NOERROR;
}

MMRESULT AlsaMixer::GetControlByID(HMIXER handle, DWORD controlId, MixerControlInfo& control) {
    const auto s = Find(handle);
    if (!s) {
        return MMSYSERR_INVALHANDLE;
    }
    std::lock_guard lock(s->mutex);
    if (s->elem == nullptr || (controlId == kMuteId && !s->HasMute()) ||
        (controlId != kVolumeId && controlId != kMuteId)) {
        return MIXERR_INVALCONTROL;
    }
    MixerControlInfo info;
    info.controlId = controlId;
    info.lineId = kSpeakersLine;
    if (controlId == kVolumeId) {
        info.controlType = mixer_control::Volume;
        info.flags = s->Channels() == 1 ? mixer_control::FlagUniform : 0;
        info.shortName = "Volume";
        info.name = std::string(snd_mixer_selem_get_name(s->elem)) + " Volume";
        info.maximum = kScale;
        info.steps = static_cast<DWORD>(kScale);
    } else {
        info.controlType = mixer_control::Mute;
        info.flags = mixer_control::FlagUniform;
        info.shortName = "Mute";
        info.name = std::string(snd_mixer_selem_get_name(s->elem)) + " Mute";
        info.maximum = 1;
    }
    control = info;
    return MMSYSERR_NOERROR;
}

MMRESULT AlsaMixer::GetControlValues(HMIXER handle, DWORD controlId, std::vector<std::int64_t>& values) {
    const auto s = Find(handle);
    if (!s) {
        return MMSYSERR_INVALHANDLE;
    }
    std::lock_guard lock(s->mutex);
    if (s->elem == nullptr) {
        return MIXERR_INVALCONTROL;
    }
    const snd_mixer_selem_channel_id_t channels[] = {SND_MIXER_SCHN_FRONT_LEFT, SND_MIXER_SCHN_FRONT_RIGHT};
    values.clear();
    if (controlId == kVolumeId) {
        const long range = s->max - s->min;
        for (int c = 0; c < s->Channels(); ++c) {
            long raw = 0;
            if (snd_mixer_selem_get_playback_volume(s->elem, channels[c], &raw) < 0) {
                return MMSYSERR_ERROR;
            }
            values.push_back(range <= 0 ? 0
                                        : std::llround(static_cast<double>(raw - s->min) * kScale / range));
        }
        return MMSYSERR_NOERROR;
    }
    if (controlId == kMuteId && s->HasMute()) {
        int on = 1;
        if (snd_mixer_selem_get_playback_switch(s->elem, channels[0], &on) < 0) {
            return MMSYSERR_ERROR;
        }
        values.push_back(on != 0 ? 0 : 1);
        return MMSYSERR_NOERROR;
    }
    return MIXERR_INVALCONTROL;
}

MMRESULT AlsaMixer::SetControlValues(HMIXER handle, DWORD controlId,
                                     const std::vector<std::int64_t>& values) {
    const auto s = Find(handle);
    if (!s) {
        return MMSYSERR_INVALHANDLE;
    }
    std::lock_guard lock(s->mutex);
    if (s->elem == nullptr) {
        return MIXERR_INVALCONTROL;
    }
    const snd_mixer_selem_channel_id_t channels[] = {SND_MIXER_SCHN_FRONT_LEFT, SND_MIXER_SCHN_FRONT_RIGHT};
    if (controlId == kVolumeId) {
        if (values.size() != static_cast<std::size_t>(s->Channels())) {
            return MMSYSERR_INVALPARAM;
        }
        const long range = s->max - s->min;
        for (std::size_t c = 0; c < values.size(); ++c) {
            if (values[c] < 0 || values[c] > kScale) {
                return MIXERR_INVALVALUE;
            }
            const long raw = s->min + std::lround(static_cast<double>(values[c]) * range / kScale);
            if (snd_mixer_selem_set_playback_volume(s->elem, channels[c], raw) < 0) {
                return MMSYSERR_ERROR;
            }
        }
        return MMSYSERR_NOERROR;
    }
    if (controlId == kMuteId && s->HasMute()) {
        if (values.size() != 1 || values[0] < 0 || values[0] > 1) {
            return MIXERR_INVALVALUE;
        }
        return snd_mixer_selem_set_playback_switch_all(s->elem, values[0] != 0 ? 0 : 1) < 0
                   ? MMSYSERR_ERROR
                   : MMSYSERR_NOERROR;
    }
    return MIXERR_INVALCONTROL;
}

} // namespace tunefold::platform
