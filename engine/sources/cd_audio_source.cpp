#include "engine/sources/cd_audio_source.h"

#include <algorithm>
#include <cstring>

#include "engine/framework/pcm.h"

namespace tunefold {

namespace {
constexpr std::int64_t kBytesPerSecond = 44100 * 4;
} // namespace

TMMCDAudioSource::TMMCDAudioSource(TComponent* owner, platform::CdAudioDevice* device)
    : TMMDSPComponent(owner), requested_(device),
      cache_(static_cast<std::size_t>(kReadSectors) * platform::kCdSectorBytes) {
    WAVEFORMATEX f{};
    MakePCMFormat(f, 16, 2, 44100);
    SetPWaveFormat(&f);
}

TMMCDAudioSource::~TMMCDAudioSource() {
    Destroying();
    {
        std::lock_guard lock(mutex_);
        reader_.reset();
    }
    Deselect();
}

platform::CdAudioDevice& TMMCDAudioSource::Device() {
    return requested_ != nullptr ? *requested_ : platform::CdAudio();
}

bool TMMCDAudioSource::SelectTrack(int track, long waitMs) {
    Deselect();
    platform::CdAudioDevice& device = Device();
    if (!device.Open()) {
        return false;
    }
    platform::CdDriveState state = device.State();
    if (!state.tocValid && state.status != platform::CdDriveStatus::TrayOpen &&
        state.status != platform::CdDriveStatus::NoDisc && device.Refresh(waitMs)) {
        state = device.State();
    }
    const auto& tracks = state.toc.tracks;
    const auto it = std::find_if(tracks.begin(), tracks.end(),
                                 [track](const platform::CdTrackEntry& t) { return t.number == track; });
    if (!state.tocValid || it == tracks.end() || it->data) {
        device.Close();
        return false;
    }
    const auto next = std::next(it);
    // A data track after the last audio one starts after a gap of its own; its start still ends
    // this track, which is what the disc's table says.
    const int end = next == tracks.end() ? state.toc.leadOutFrame : next->startFrame;
    device_ = &device;
    track_ = track;
    startFrame_ = it->startFrame;
    endFrame_ = end;
    std::lock_guard lock(mutex_);
    end_ = static_cast<std::int64_t>(endFrame_ - startFrame_) * platform::kCdSectorBytes;
    position_ = 0;
    return endFrame_ > startFrame_;
}

bool TMMCDAudioSource::SelectFrom(int fromFrame, long waitMs) {
    Deselect();
    platform::CdAudioDevice& device = Device();
    if (!device.Open()) {
        return false;
    }
    platform::CdDriveState state = device.State();
    if (!state.tocValid && state.status != platform::CdDriveStatus::TrayOpen &&
        state.status != platform::CdDriveStatus::NoDisc && device.Refresh(waitMs)) {
        state = device.State();
    }
    device.Close();
    const auto& tracks = state.toc.tracks;
    int track = 0;
    for (const platform::CdTrackEntry& t : tracks) {
        if (fromFrame >= t.startFrame) {
            track = t.number;
        }
    }
    if (!state.tocValid || track == 0 || !SelectTrack(track, waitMs)) {
        return false;
    }
    // On through the audio tracks that follow, as a drive plays a disc; a data track ends it.
    auto it = std::find_if(tracks.begin(), tracks.end(),
                           [track](const platform::CdTrackEntry& t) { return t.number == track; });
    int end = endFrame_;
    for (++it; it != tracks.end() && !it->data; ++it) {
        const auto next = std::next(it);
        end = next == tracks.end() ? state.toc.leadOutFrame : next->startFrame;
    }
    endFrame_ = end;
    return SelectFrames(fromFrame, end);
}

bool TMMCDAudioSource::SelectFrames(int fromFrame, int toFrame) {
    if (device_ == nullptr || fromFrame >= toFrame || fromFrame < startFrame_ || toFrame > endFrame_) {
        return false;
    }
    startFrame_ = fromFrame;
    endFrame_ = toFrame;
    std::lock_guard lock(mutex_);
    end_ = static_cast<std::int64_t>(endFrame_ - startFrame_) * platform::kCdSectorBytes;
    position_ = 0;
    cacheCount_ = 0;
    return true;
}

void TMMCDAudioSource::Deselect() {
    {
        std::lock_guard lock(mutex_);
        reader_.reset();
        end_ = 0;
        position_ = 0;
        cacheCount_ = 0;
    }
    if (device_ != nullptr) {
        device_->Close();
        device_ = nullptr;
    }
    track_ = 0;
    startFrame_ = 0;
    endFrame_ = 0;
}

std::int64_t TMMCDAudioSource::LengthMs() const {
    return static_cast<std::int64_t>(endFrame_ - startFrame_) * 1000 / platform::kCdFramesPerSecond;
}

std::int64_t TMMCDAudioSource::PositionMs() const {
    return position_.load() * 1000 / kBytesPerSecond;
}

void TMMCDAudioSource::Opened() {
    TMMDSPComponent::Opened();
    std::lock_guard lock(mutex_);
    cacheCount_ = 0;
    readFailed_ = false;
}

void TMMCDAudioSource::Started() {
    TMMDSPComponent::Started();
    std::lock_guard lock(mutex_);
    if (!started_) {
        started_ = true;
        readerTried_ = false;
        position_ = 0;
    }
}

void TMMCDAudioSource::Stopped() {
    {
        std::lock_guard lock(mutex_);
        started_ = false;
        reader_.reset();
        cacheCount_ = 0;
    }
    TMMDSPComponent::Stopped();
}

void TMMCDAudioSource::Reset() {
    TMMDSPComponent::Reset();
    std::lock_guard lock(mutex_);
    position_ = 0;
}

void TMMCDAudioSource::Closed() {
    {
        std::lock_guard lock(mutex_);
        reader_.reset();
        started_ = false;
        cacheCount_ = 0;
    }
    TMMDSPComponent::Closed();
}

// On the output device's thread.
void TMMCDAudioSource::BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) {
    std::unique_lock lock(mutex_);
    lpWaveHdr->dwBytesRecorded = 0;
    if (end_ == 0 || device_ == nullptr) {
        return;
    }
    if (!started_) {
        std::memset(lpWaveHdr->lpData, 0, lpWaveHdr->dwBufferLength);
        lpWaveHdr->dwBytesRecorded = lpWaveHdr->dwBufferLength;
        MoreBuffers = true;
        return;
    }
    if (reader_ == nullptr && !readerTried_) {
        readerTried_ = true;
        lock.unlock();
        std::unique_ptr<platform::CdAudioReader> reader = device_->OpenReader();
        lock.lock();
        reader_ = std::move(reader);
        readFailed_ = reader_ == nullptr;
    }
    if (reader_ == nullptr) {
        return;
    }
    std::int64_t position = position_.load();
    // Whole sample frames only, so the channels never swap places.
    const std::int64_t want = lpWaveHdr->dwBufferLength & ~DWORD{3};
    std::int64_t filled = 0;
    const int firstLba = startFrame_ - platform::kCdLeadInFrames;
    auto* out = reinterpret_cast<std::uint8_t*>(lpWaveHdr->lpData);
    while (filled < want && position < end_) {
        const int lba = firstLba + static_cast<int>(position / platform::kCdSectorBytes);
        const std::int64_t offset = position % platform::kCdSectorBytes;
        if (lba < cacheLba_ || lba >= cacheLba_ + cacheCount_) {
            const auto sectorsLeft =
                static_cast<int>((end_ - position + platform::kCdSectorBytes - 1) / platform::kCdSectorBytes);
            const int got = reader_->Read(lba, std::min(kReadSectors, sectorsLeft), cache_.data());
            if (got <= 0) {
                // The disc cannot give more: the stream ends here, as at the end of a file.
                readFailed_ = got < 0;
                end_ = position;
                break;
            }
            cacheLba_ = lba;
            cacheCount_ = got;
        }
        const std::int64_t cached =
            static_cast<std::int64_t>(cacheLba_ + cacheCount_ - lba) * platform::kCdSectorBytes - offset;
        const std::int64_t n = std::min({want - filled, cached, end_ - position});
        std::memcpy(out + filled,
                    cache_.data() + static_cast<std::size_t>(lba - cacheLba_) * platform::kCdSectorBytes +
                        offset,
                    static_cast<std::size_t>(n));
        filled += n;
        position += n;
        position_ = position;
    }
    lpWaveHdr->dwBytesRecorded = static_cast<DWORD>(filled);
    MoreBuffers = position < end_;
}

} // namespace tunefold
