#include "platform/virtual/virtual_wave_in.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <utility>

namespace tunefold::platform {

using Clock = std::chrono::steady_clock;

VirtualSignal VirtualSignalFromBytes(std::vector<std::uint8_t> bytes, WORD bitsPerSample) {
    const std::uint8_t silence = bitsPerSample == 8 ? 0x80 : 0;
    auto data = std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes));
    return [data, silence](std::uint64_t first, std::uint8_t* out, std::size_t n) {
        const std::size_t size = data->size();
        const std::size_t from = first < size ? static_cast<std::size_t>(first) : size;
        const std::size_t copied = std::min(n, size - from);
        std::memcpy(out, data->data() + from, copied);
        std::memset(out + copied, silence, n - copied);
    };
}

// One open input: the frames the clock has brought and no buffer has taken yet.
class VirtualWaveIn::Source : public PcmSource {
public:
    Source(VirtualWaveIn& owner, const WAVEFORMATEX& format, VirtualSignal signal, std::uint64_t holdLimit)
        : owner_(owner), format_(format), signal_(std::move(signal)),
          block_(std::max<DWORD>(format.nBlockAlign, 1)), holdLimit_(holdLimit), lost_(owner.lost_) {}

    void Start() override {
        Drop();
        started_ = true;
        anchored_ = false;
        Update();
    }
    void Stop() override {
        Update();
        started_ = false;
    }
    std::uint64_t Read(char* data, std::uint64_t bytes) override {
        Update();
        std::uint64_t frames = bytes / block_;
        if (owner_.card_.Clock() != VirtualClock::Fast || !started_) {
            frames = std::min(frames, held_);
        }
        if (frames == 0) {
            return 0;
        }
        const std::uint64_t n = frames * block_;
        if (signal_) {
            signal_(next_, reinterpret_cast<std::uint8_t*>(data), static_cast<std::size_t>(n));
        } else {
            std::memset(data, format_.wBitsPerSample == 8 ? 0x80 : 0, static_cast<std::size_t>(n));
        }
        next_ += n;
        held_ -= std::min(held_, frames);
        return n;
    }
    std::uint64_t Available() override {
        Update();
        return held_;
    }
    void Drop() override {
        // The dropped frames were recorded, and are gone: the signal moves past them.
        next_ += held_ * block_;
        held_ = 0;
    }
    std::chrono::microseconds UntilAvailable(std::uint64_t frames, std::uint64_t room) override {
        switch (owner_.card_.Clock()) {
        case VirtualClock::Manual:
            return Never;
        case VirtualClock::Fast:
            return std::chrono::microseconds(0);
        case VirtualClock::RealTime:
            break;
        }
        if (!started_) {
            return Never;
        }
        Update();
        const std::uint64_t missing = frames > held_ ? frames - held_ : 0;
        const std::uint64_t rate = std::max<DWORD>(format_.nSamplesPerSec, 1);
        // With plenty of buffers queued they come back in batches, as a card with a deep queue
        // interrupts once per period: up to 200 ms at a time, never more than an eighth of the
        // room, so the buffers never run out.
        const std::uint64_t dueUs = missing * 1000000u / rate + 1;
        const std::uint64_t batchUs = std::min<std::uint64_t>(200000, room * 1000000u / rate / 8);
        return std::chrono::microseconds(std::max(dueUs, batchUs));
    }
    void Close() override {}

    // The manual clock: the frames arrive, then what no buffer took beyond the limit is lost.
    void Advance(std::uint64_t frames) {
        if (started_) {
            held_ += frames;
        }
    }
    void Trim() {
        if (held_ > holdLimit_) {
            const std::uint64_t lost = held_ - holdLimit_;
            next_ += lost * block_;
            held_ = holdLimit_;
            lost_->fetch_add(lost);
        }
    }

private:
    void Arrive(std::uint64_t frames) {
        held_ += frames;
        if (held_ > holdLimit_) {
            // An overrun: the oldest frames are lost, as a card's input buffer loses them.
            const std::uint64_t lost = held_ - holdLimit_;
            next_ += lost * block_;
            held_ = holdLimit_;
            lost_->fetch_add(lost);
        }
    }
    // The real-time clock brings the frames of the time since capture started.
    void Update() {
        if (!started_ || owner_.card_.Clock() != VirtualClock::RealTime) {
            return;
        }
        const auto now = Clock::now();
        if (!anchored_) {
            anchored_ = true;
            anchor_ = now;
            sinceAnchor_ = 0;
            return;
        }
        const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(now - anchor_);
        const std::uint64_t owed =
            static_cast<std::uint64_t>(elapsed.count()) * format_.nSamplesPerSec / 1000000u;
        if (owed > sinceAnchor_) {
            Arrive(owed - sinceAnchor_);
            sinceAnchor_ = owed;
        }
    }

    VirtualWaveIn& owner_;
    WAVEFORMATEX format_;
    VirtualSignal signal_;
    DWORD block_;
    std::uint64_t holdLimit_;
    std::shared_ptr<std::atomic<std::uint64_t>> lost_;
    bool started_ = false;
    std::uint64_t held_ = 0; // frames captured, not read
    std::uint64_t next_ = 0; // byte of the signal the next frame starts at
    bool anchored_ = false;
    Clock::time_point anchor_;
    std::uint64_t sinceAnchor_ = 0;
};

class VirtualWaveIn::Capture : public PcmCapture {
public:
    explicit Capture(VirtualWaveIn& owner) : owner_(owner) {}
    UINT Count() override { return owner_.GetNumDevs(); }
    MMRESULT Caps(int deviceId, WAVEINCAPS& caps) override { return owner_.GetDevCaps(deviceId, caps); }
    MMRESULT Open(int deviceId, const WAVEFORMATEX& format, PcmOpenMode mode,
                  std::unique_ptr<PcmSource>& source) override {
        if (!mode.queryOnly) {
            VirtualSignal signal;
            std::uint64_t holdLimit = 0;
            {
                std::lock_guard lock(owner_.mutex_);
                auto it = owner_.signals_.find(deviceId);
                if (it != owner_.signals_.end()) {
                    signal = it->second;
                }
                holdLimit = owner_.holdLimit_;
            }
            source = std::make_unique<Source>(owner_, format, std::move(signal), holdLimit);
        }
        return MMSYSERR_NOERROR;
    }

private:
    VirtualWaveIn& owner_;
};

VirtualWaveIn::VirtualWaveIn(VirtualSoundCard& card)
    : card_(card), lost_(std::make_shared<std::atomic<std::uint64_t>>(0)),
      capture_(std::make_unique<Capture>(*this)), front_(std::make_unique<WaveInFront>(*capture_, 0x5000)) {}

VirtualWaveIn::~VirtualWaveIn() {
    front_.reset();
}

void VirtualWaveIn::SetSignal(int deviceId, VirtualSignal signal) {
    std::lock_guard lock(mutex_);
    signals_[std::max(deviceId, 0)] = std::move(signal);
}

void VirtualWaveIn::SetFaults(const VirtualWaveInFaults& faults) {
    std::lock_guard lock(mutex_);
    faults_ = faults;
}

VirtualWaveInFaults VirtualWaveIn::Faults() const {
    std::lock_guard lock(mutex_);
    return faults_;
}

void VirtualWaveIn::SetHoldLimit(std::uint64_t frames) {
    std::lock_guard lock(mutex_);
    holdLimit_ = std::max<std::uint64_t>(frames, 1);
}

void VirtualWaveIn::ResetAll() {
    front_->ForgetAll();
    std::lock_guard lock(mutex_);
    faults_ = VirtualWaveInFaults{};
    signals_.clear();
    calls_.Clear();
    sessions_.clear();
    holdLimit_ = std::uint64_t{1} << 20;
    lost_->store(0);
}

int VirtualWaveIn::OpenCount() {
    return static_cast<int>(front_->Handles().size());
}

int VirtualWaveIn::QueuedCount() {
    return front_->QueuedCount();
}

int VirtualWaveIn::CallCount(const std::string& call) const {
    std::lock_guard lock(mutex_);
    return calls_.Get(call);
}

std::uint64_t VirtualWaveIn::LostFrames() const {
    return lost_->load();
}

void VirtualWaveIn::Advance(std::uint64_t frames) {
    for (HWAVEIN handle : front_->Handles()) {
        front_->Service(handle,
                        [frames](PcmSource& source) { static_cast<Source&>(source).Advance(frames); });
        front_->Service(handle, [](PcmSource& source) { static_cast<Source&>(source).Trim(); });
    }
}

void VirtualWaveIn::WakeAll() {
    front_->WakeAll();
}

MMRESULT VirtualWaveIn::Admit(HWAVEIN handle, VirtualFault VirtualWaveInFaults::*fault, const char* call) {
    if (!front_->IsOpen(handle)) {
        return MMSYSERR_INVALHANDLE;
    }
    std::lock_guard lock(mutex_);
    MMRESULT code = MMSYSERR_NOERROR;
    calls_.Fails(faults_.*fault, call, code);
    return code;
}

void VirtualWaveIn::Notified(std::uintptr_t handle, UINT msg, DWORD_PTR instance, DWORD_PTR param1,
                             DWORD_PTR param2) {
    auto* session = reinterpret_cast<Session*>(instance);
    VirtualWaveIn& owner = *session->owner;
    {
        std::lock_guard lock(owner.mutex_);
        if ((msg == WIM_OPEN && owner.faults_.noOpenNotify) ||
            (msg == WIM_CLOSE && owner.faults_.noCloseNotify) ||
            (msg == WIM_DATA && owner.faults_.noDataNotify)) {
            return;
        }
        if (msg == WIM_DATA && session->callback != nullptr) {
            owner.calls_.Count("data");
        }
    }
    if (session->callback != nullptr) {
        session->callback(handle, msg, session->instance, param1, param2);
    }
}

UINT VirtualWaveIn::GetNumDevs() {
    return card_.GetNumDevs();
}

MMRESULT VirtualWaveIn::GetDevCaps(int deviceId, WAVEINCAPS& caps) {
    {
        std::lock_guard lock(mutex_);
        MMRESULT code = MMSYSERR_NOERROR;
        if (calls_.Fails(faults_.devCaps, "devcaps", code)) {
            return code;
        }
    }
    return card_.Caps(deviceId, caps);
}

MMRESULT VirtualWaveIn::Open(HWAVEIN* handle, int deviceId, const WAVEFORMATEX* format, WaveCallback callback,
                             DWORD_PTR instance, DWORD flags) {
    const bool query = (flags & WAVE_FORMAT_QUERY) != 0;
    {
        std::lock_guard lock(mutex_);
        MMRESULT code = MMSYSERR_NOERROR;
        if (calls_.Fails(query ? faults_.query : faults_.open, query ? "query" : "open", code)) {
            return code;
        }
    }
    const MMRESULT usable = card_.Usable(deviceId, format);
    if (usable != MMSYSERR_NOERROR || query) {
        return usable;
    }
    if (handle == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    auto session = std::make_unique<Session>(Session{this, callback, instance});
    HWAVEIN opened = 0;
    const MMRESULT result =
        front_->Open(&opened, std::max(deviceId, 0), format, &Notified,
                     reinterpret_cast<DWORD_PTR>(session.get()), flags & ~WAVE_FORMAT_QUERY);
    if (result == MMSYSERR_NOERROR) {
        std::lock_guard lock(mutex_);
        sessions_[opened] = std::move(session);
        *handle = opened;
    }
    return result;
}

MMRESULT VirtualWaveIn::Close(HWAVEIN handle) {
    MMRESULT code = Admit(handle, &VirtualWaveInFaults::close, "close");
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

MMRESULT VirtualWaveIn::PrepareHeader(HWAVEIN handle, WAVEHDR* header) {
    {
        std::lock_guard lock(mutex_);
        calls_.Count("prepare");
    }
    return front_->PrepareHeader(handle, header);
}

MMRESULT VirtualWaveIn::UnprepareHeader(HWAVEIN handle, WAVEHDR* header) {
    {
        std::lock_guard lock(mutex_);
        calls_.Count("unprepare");
    }
    return front_->UnprepareHeader(handle, header);
}

MMRESULT VirtualWaveIn::AddBuffer(HWAVEIN handle, WAVEHDR* header) {
    const MMRESULT code = Admit(handle, &VirtualWaveInFaults::add, "add");
    return code != MMSYSERR_NOERROR ? code : front_->AddBuffer(handle, header);
}

MMRESULT VirtualWaveIn::Start(HWAVEIN handle) {
    const MMRESULT code = Admit(handle, &VirtualWaveInFaults::start, "start");
    return code != MMSYSERR_NOERROR ? code : front_->Start(handle);
}

MMRESULT VirtualWaveIn::Stop(HWAVEIN handle) {
    const MMRESULT code = Admit(handle, &VirtualWaveInFaults::stop, "stop");
    return code != MMSYSERR_NOERROR ? code : front_->Stop(handle);
}

MMRESULT VirtualWaveIn::Reset(HWAVEIN handle) {
    const MMRESULT code = Admit(handle, &VirtualWaveInFaults::reset, "reset");
    return code != MMSYSERR_NOERROR ? code : front_->Reset(handle);
}

MMRESULT VirtualWaveIn::GetPosition(HWAVEIN handle, MMTIME& time) {
    MMRESULT code = Admit(handle, &VirtualWaveInFaults::position, "position");
    if (code != MMSYSERR_NOERROR) {
        return code;
    }
    std::uint64_t frames = 0;
    WORD block = 0;
    code = front_->Recorded(handle, frames, block);
    if (code != MMSYSERR_NOERROR) {
        return code;
    }
    std::lock_guard lock(mutex_);
    VirtualPosition(frames, block, faults_.wrapAt, faults_.positionInBytesOnly, time);
    return MMSYSERR_NOERROR;
}

} // namespace tunefold::platform
