#include "platform/virtual/virtual_sound_card.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "platform/input_file.h"
#include "platform/virtual/virtual_wave_in.h"

namespace tunefold::platform {

VirtualWaveIn& VirtualSoundCard::Capture() {
    return *capture_;
}

namespace {

// What a program on the virtual platform hears at its line input: the raw bytes of the file that
// TUNEFOLD_VIRTUAL_LINE_IN names (in the format the input is opened with), then silence. Without
// one, or with one that is no readable regular file of at most 64 MiB, the input records silence.
void RecordTheNamedFile(VirtualWaveIn& capture) {
    constexpr std::size_t kMaxSignalBytes = std::size_t{64} << 20;
    const char* file = std::getenv("TUNEFOLD_VIRTUAL_LINE_IN");
    std::string bytes;
    if (file == nullptr || *file == '\0' ||
        ReadRegularFile(file, kMaxSignalBytes, bytes) != InputFileError::None) {
        return;
    }
    capture.SetSignal(0, VirtualSignalFromBytes(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), 16));
}

} // namespace

VirtualSoundCard& VirtualSoundCard::Instance() {
    static VirtualSoundCard& card = []() -> VirtualSoundCard& {
        static VirtualSoundCard made;
        RecordTheNamedFile(made.Capture());
        return made;
    }();
    return card;
}

void VirtualSoundCard::SetDevices(std::vector<VirtualWaveDeviceConfig> devices) {
    std::lock_guard lock(mutex_);
    devices_ = std::move(devices);
}

void VirtualSoundCard::SetClock(VirtualClock clock) {
    clock_.store(clock);
    front_->WakeAll();
    capture_->WakeAll();
}

VirtualClock VirtualSoundCard::Clock() const {
    return clock_.load();
}

void VirtualSoundCard::SetFaults(const VirtualWaveFaults& faults) {
    std::lock_guard lock(mutex_);
    faults_ = faults;
}

VirtualWaveFaults VirtualSoundCard::Faults() const {
    std::lock_guard lock(mutex_);
    return faults_;
}

void VirtualSoundCard::ResetAll() {
    SetClock(VirtualClock::Manual);
    front_->ForgetAll();
    capture_->ResetAll();
    std::lock_guard lock(mutex_);
    devices_.assign(1, VirtualWaveDeviceConfig{});
    faults_ = VirtualWaveFaults{};
    sessions_.clear();
    played_.clear();
    playedBytes_ = 0;
    playedLengths_.clear();
    calls_.Clear();
    wavPath_.clear();
    recordLimit_ = std::size_t{256} << 20;
    lastFlags_ = 0;
    lastDevice_ = -1;
}

void VirtualSoundCard::SetRecordLimit(std::size_t bytes) {
    std::lock_guard lock(mutex_);
    recordLimit_ = bytes;
}

void VirtualSoundCard::RecordToFile(const std::string& path) {
    std::lock_guard lock(mutex_);
    wavPath_ = path;
}

std::vector<std::uint8_t> VirtualSoundCard::Played() const {
    std::lock_guard lock(mutex_);
    std::vector<std::uint8_t> all;
    all.reserve(playedBytes_);
    for (const auto& block : played_) {
        all.insert(all.end(), block.begin(), block.end());
    }
    return all;
}

void VirtualSoundCard::RecordLocked(const std::uint8_t* data, std::size_t bytes) {
    constexpr std::size_t kBlock = std::size_t{1} << 18;
    playedBytes_ += bytes;
    while (bytes > 0) {
        if (played_.empty() || played_.back().size() == played_.back().capacity()) {
            played_.emplace_back().reserve(kBlock);
        }
        auto& block = played_.back();
        const std::size_t n = std::min(bytes, block.capacity() - block.size());
        block.insert(block.end(), data, data + n);
        data += n;
        bytes -= n;
    }
}

std::vector<DWORD> VirtualSoundCard::PlayedHeaderLengths() const {
    std::lock_guard lock(mutex_);
    return playedLengths_;
}

void VirtualSoundCard::ClearRecording() {
    std::lock_guard lock(mutex_);
    played_.clear();
    playedBytes_ = 0;
    playedLengths_.clear();
}

int VirtualSoundCard::OpenCount() const {
    return static_cast<int>(front_->Handles().size());
}

int VirtualSoundCard::QueuedCount() const {
    return front_->QueuedCount();
}

bool VirtualSoundCard::IsPaused() const {
    return front_->FirstIsPaused();
}

DWORD VirtualSoundCard::LastOpenFlags() const {
    std::lock_guard lock(mutex_);
    return lastFlags_;
}

int VirtualSoundCard::LastOpenDevice() const {
    std::lock_guard lock(mutex_);
    return lastDevice_;
}

int VirtualSoundCard::CallCount(const std::string& call) const {
    std::lock_guard lock(mutex_);
    return calls_.Get(call);
}

} // namespace tunefold::platform
