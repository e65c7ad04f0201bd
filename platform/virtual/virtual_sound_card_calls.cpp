// The card's face as the process's wave output: every call counted and open to an injected fault,
// the notifications a misbehaving driver leaves out, then the front's own call.
#include <algorithm>
#include <utility>

#include "platform/virtual/virtual_sound_card.h"

namespace tunefold::platform {

namespace {
// The device whose Reset is returning headers on this thread: those were not played to their end.
thread_local HWAVEOUT resettingOnThisThread = 0;
} // namespace

MMRESULT VirtualSoundCard::Admit(HWAVEOUT handle, VirtualFault VirtualWaveFaults::*fault, const char* call) {
    if (!front_->IsOpen(handle)) {
        return MMSYSERR_INVALHANDLE;
    }
    std::lock_guard lock(mutex_);
    MMRESULT code = MMSYSERR_NOERROR;
    calls_.Fails(faults_.*fault, call, code);
    return code;
}

void VirtualSoundCard::Notified(std::uintptr_t handle, UINT msg, DWORD_PTR instance, DWORD_PTR param1,
                                DWORD_PTR param2) {
    auto* session = reinterpret_cast<Session*>(instance);
    VirtualSoundCard& card = *session->card;
    {
        std::lock_guard lock(card.mutex_);
        if ((msg == WOM_OPEN && card.faults_.noOpenNotify) ||
            (msg == WOM_CLOSE && card.faults_.noCloseNotify)) {
            return;
        }
        if (msg == WOM_DONE) {
            if (resettingOnThisThread != handle) {
                card.playedLengths_.push_back(reinterpret_cast<const WAVEHDR*>(param1)->dwBufferLength);
            }
            if (session->callback != nullptr) {
                card.calls_.Count("done");
            }
        }
    }
    if (session->callback != nullptr) {
        session->callback(handle, msg, session->instance, param1, param2);
    }
}

UINT VirtualSoundCard::GetNumDevs() {
    std::lock_guard lock(mutex_);
    return static_cast<UINT>(devices_.size());
}

MMRESULT VirtualSoundCard::GetDevCaps(int deviceId, WAVEOUTCAPS& caps) {
    {
        std::lock_guard lock(mutex_);
        MMRESULT code = MMSYSERR_NOERROR;
        if (calls_.Fails(faults_.devCaps, "devcaps", code)) {
            return code;
        }
    }
    return Caps(deviceId, caps);
}

MMRESULT VirtualSoundCard::Open(HWAVEOUT* handle, int deviceId, const WAVEFORMATEX* format,
                                WaveCallback callback, DWORD_PTR instance, DWORD flags) {
    int index = 0;
    {
        std::lock_guard lock(mutex_);
        MMRESULT code = MMSYSERR_NOERROR;
        const bool query = (flags & WAVE_FORMAT_QUERY) != 0;
        if (calls_.Fails(query ? faults_.query : faults_.open, query ? "query" : "open", code)) {
            return code;
        }
        if (devices_.empty() || deviceId < WAVE_MAPPER || deviceId >= static_cast<int>(devices_.size())) {
            return MMSYSERR_BADDEVICEID;
        }
        index = std::max(deviceId, 0);
        if (!Plays(index, format)) {
            return WAVERR_BADFORMAT;
        }
        if (query) {
            return MMSYSERR_NOERROR;
        }
        if (handle == nullptr) {
            return MMSYSERR_INVALPARAM;
        }
        lastFlags_ = flags;
        lastDevice_ = index;
    }
    auto session = std::make_unique<Session>(Session{this, callback, instance});
    HWAVEOUT opened = 0;
    const MMRESULT result =
        front_->Open(&opened, index, format, &Notified, reinterpret_cast<DWORD_PTR>(session.get()),
                     flags & ~WAVE_FORMAT_QUERY);
    if (result == MMSYSERR_NOERROR) {
        std::lock_guard lock(mutex_);
        sessions_[opened] = std::move(session);
        *handle = opened;
    }
    return result;
}

MMRESULT VirtualSoundCard::Close(HWAVEOUT handle) {
    MMRESULT code = Admit(handle, &VirtualWaveFaults::close, "close");
    if (code != MMSYSERR_NOERROR) {
        return code;
    }
    code = front_->Close(handle);
    if (code == MMSYSERR_NOERROR) {
        std::lock_guard lock(mutex_);
        sessions_.erase(handle);
    }
    return code;
}

MMRESULT VirtualSoundCard::PrepareHeader(HWAVEOUT handle, WAVEHDR* header) {
    {
        std::lock_guard lock(mutex_);
        calls_.Count("prepare");
    }
    return front_->PrepareHeader(handle, header);
}

MMRESULT VirtualSoundCard::UnprepareHeader(HWAVEOUT handle, WAVEHDR* header) {
    {
        std::lock_guard lock(mutex_);
        calls_.Count("unprepare");
    }
    return front_->UnprepareHeader(handle, header);
}

MMRESULT VirtualSoundCard::Write(HWAVEOUT handle, WAVEHDR* header) {
    MMRESULT code = Admit(handle, &VirtualWaveFaults::write, "write");
    if (code != MMSYSERR_NOERROR) {
        return code;
    }
    {
        // Counted first: the header may come back from the device's thread before Write returns.
        std::lock_guard lock(mutex_);
        calls_.Count("written");
    }
    code = front_->Write(handle, header);
    if (code != MMSYSERR_NOERROR) {
        std::lock_guard lock(mutex_);
        calls_.Count("written", -1);
    }
    return code;
}

MMRESULT VirtualSoundCard::Pause(HWAVEOUT handle) {
    const MMRESULT code = Admit(handle, &VirtualWaveFaults::pause, "pause");
    return code != MMSYSERR_NOERROR ? code : front_->Pause(handle);
}

MMRESULT VirtualSoundCard::Restart(HWAVEOUT handle) {
    const MMRESULT code = Admit(handle, &VirtualWaveFaults::restart, "restart");
    return code != MMSYSERR_NOERROR ? code : front_->Restart(handle);
}

MMRESULT VirtualSoundCard::Reset(HWAVEOUT handle) {
    const MMRESULT code = Admit(handle, &VirtualWaveFaults::reset, "reset");
    if (code != MMSYSERR_NOERROR) {
        return code;
    }
    const HWAVEOUT outer = std::exchange(resettingOnThisThread, handle);
    const MMRESULT result = front_->Reset(handle);
    resettingOnThisThread = outer;
    return result;
}

MMRESULT VirtualSoundCard::GetPosition(HWAVEOUT handle, MMTIME& time) {
    MMRESULT code = Admit(handle, &VirtualWaveFaults::position, "position");
    if (code != MMSYSERR_NOERROR) {
        return code;
    }
    std::uint64_t played = 0;
    WORD block = 0;
    code = front_->Heard(handle, played, block);
    if (code != MMSYSERR_NOERROR) {
        return code;
    }
    std::lock_guard lock(mutex_);
    VirtualPosition(played, block, faults_.wrapAt, faults_.positionInBytesOnly, time);
    return MMSYSERR_NOERROR;
}

} // namespace tunefold::platform
