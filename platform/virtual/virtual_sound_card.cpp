#include "platform/virtual/virtual_sound_card.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "platform/wave_header.h"

namespace tunefold::platform {

using Clock = std::chrono::steady_clock;

struct VirtualSoundCard::Device {
    HWAVEOUT handle = 0;
    int index = 0;
    WAVEFORMATEX format{};
    WaveCallback callback = nullptr;
    DWORD_PTR instance = 0;
    std::deque<WAVEHDR*> queue;
    std::uint64_t queuedBytes = 0; // the queue's buffer lengths, summed
    DWORD headOffset = 0;          // bytes of the head header already played
    std::uint64_t played = 0;      // frames since open or the last reset
    bool paused = false;
    bool closed = false;
    std::vector<std::uint8_t> recorded; // this session, for the WAV file
    // Real-time clock: frames owed since `anchor`.
    bool anchored = false;
    Clock::time_point anchor;
    std::uint64_t consumed = 0; // frames played ever (never reset), against the anchor
    std::uint64_t anchorFrames = 0;
    // Done notifications are sent under this lock, in the order the headers finished, whichever
    // thread finished them (the clock, Advance, Reset).
    std::recursive_mutex deliver;
};

VirtualSoundCard::VirtualSoundCard() {
    devices_.emplace_back();
}

VirtualSoundCard::~VirtualSoundCard() {
    StopClockThread();
    {
        std::lock_guard lock(mutex_);
        lateQuit_ = true;
    }
    lateWake_.notify_all();
    if (lateThread_.joinable()) {
        lateThread_.join();
    }
}

VirtualSoundCard& VirtualSoundCard::Instance() {
    static VirtualSoundCard card;
    return card;
}

void VirtualSoundCard::SetDevices(std::vector<VirtualWaveDeviceConfig> devices) {
    std::lock_guard lock(mutex_);
    devices_ = std::move(devices);
}

void VirtualSoundCard::SetClock(VirtualClock clock) {
    StopClockThread();
    {
        std::lock_guard lock(mutex_);
        clock_ = clock;
    }
    if (clock != VirtualClock::Manual) {
        StartClockThread();
    }
}

VirtualClock VirtualSoundCard::Clock() const {
    std::lock_guard lock(mutex_);
    return clock_;
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
    std::lock_guard lock(mutex_);
    devices_.assign(1, VirtualWaveDeviceConfig{});
    faults_ = VirtualWaveFaults{};
    open_.clear();
    played_.clear();
    playedBytes_ = 0;
    playedLengths_.clear();
    calls_.clear();
    lateFlags_.clear();
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
    std::lock_guard lock(mutex_);
    return static_cast<int>(open_.size());
}

int VirtualSoundCard::QueuedCount() const {
    std::lock_guard lock(mutex_);
    std::size_t n = 0;
    for (const auto& [handle, device] : open_) {
        n += device->queue.size();
    }
    return static_cast<int>(n);
}

bool VirtualSoundCard::IsPaused() const {
    std::lock_guard lock(mutex_);
    return !open_.empty() && open_.begin()->second->paused;
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
    auto it = calls_.find(call);
    return it == calls_.end() ? 0 : it->second;
}

// ---- helpers ----

VirtualSoundCard::DeviceRef VirtualSoundCard::Find(HWAVEOUT handle) {
    auto it = open_.find(handle);
    return it == open_.end() ? nullptr : it->second;
}

bool VirtualSoundCard::Fails(VirtualFault& fault, const char* call, MMRESULT& code) {
    int n = calls_[call]++;
    if (fault.code != MMSYSERR_NOERROR && n >= fault.after) {
        code = fault.code;
        return true;
    }
    return false;
}

bool VirtualSoundCard::Plays(int device, const WAVEFORMATEX* format) const {
    if (format == nullptr || format->wFormatTag != WAVE_FORMAT_PCM || format->nChannels == 0 ||
        format->nSamplesPerSec == 0 || format->nBlockAlign == 0 ||
        format->nBlockAlign != format->nChannels * ((format->wBitsPerSample + 7) / 8)) {
        return false;
    }
    const auto& formats = devices_[static_cast<std::size_t>(device)].formats;
    if (formats.empty()) {
        return format->wBitsPerSample == 8 || format->wBitsPerSample == 16 || format->wBitsPerSample == 24 ||
               format->wBitsPerSample == 32;
    }
    return std::any_of(formats.begin(), formats.end(), [format](const VirtualWaveFormat& f) {
        return f.channels == format->nChannels && f.rate == format->nSamplesPerSec &&
               f.bits == format->wBitsPerSample;
    });
}

void VirtualSoundCard::FinishLocked(Device& device, WAVEHDR* header, std::vector<WAVEHDR*>& done) {
    device.queue.pop_front();
    device.queuedBytes -= std::min<std::uint64_t>(device.queuedBytes, header->dwBufferLength);
    device.headOffset = 0;
    playedLengths_.push_back(header->dwBufferLength);
    ChangeHeaderFlags(*header, WHDR_INQUEUE, 0);
    if (!faults_.noDoneFlag) {
        if (faults_.lateDoneFlagMs > 0) {
            lateFlags_.push_back({Clock::now() + std::chrono::milliseconds(faults_.lateDoneFlagMs), header});
            if (!lateThread_.joinable()) {
                lateThread_ = std::thread([this] { LateFlagLoop(); });
            }
            lateWake_.notify_all();
        } else {
            MarkHeaderDone(*header);
        }
    }
    done.push_back(header);
}

std::uint64_t VirtualSoundCard::PlayLocked(Device& device, std::uint64_t frames,
                                           std::vector<WAVEHDR*>& done) {
    const DWORD block = device.format.nBlockAlign;
    std::uint64_t total = 0;
    while (!device.paused && !device.closed && !device.queue.empty()) {
        WAVEHDR* header = device.queue.front();
        DWORD left =
            header->dwBufferLength > device.headOffset ? header->dwBufferLength - device.headOffset : 0;
        if (left == 0) {
            FinishLocked(device, header, done);
            continue;
        }
        if (total >= frames) {
            break;
        }
        std::uint64_t leftFrames = (left + block - 1) / block;
        std::uint64_t take = std::min(leftFrames, frames - total);
        DWORD bytes = static_cast<DWORD>(std::min<std::uint64_t>(take * block, left));
        const auto* data = reinterpret_cast<const std::uint8_t*>(header->lpData) + device.headOffset;
        if (playedBytes_ + bytes <= recordLimit_) {
            RecordLocked(data, bytes);
        }
        if (!wavPath_.empty()) {
            device.recorded.insert(device.recorded.end(), data, data + bytes);
        }
        device.headOffset += bytes;
        device.played += take;
        device.consumed += take;
        total += take;
    }
    return total;
}

void VirtualSoundCard::Deliver(const DeviceRef& device, const std::vector<WAVEHDR*>& done) {
    if (device->callback == nullptr || done.empty()) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        calls_["done"] += static_cast<int>(done.size());
    }
    for (std::size_t i = 0; i < done.size(); ++i) {
        device->callback(device->handle, WOM_DONE, device->instance, reinterpret_cast<DWORD_PTR>(done[i]),
                         static_cast<DWORD_PTR>(done.size() - 1 - i));
    }
}

std::uint64_t VirtualSoundCard::Advance(std::uint64_t frames) {
    std::vector<DeviceRef> devices;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [handle, device] : open_) {
            devices.push_back(device);
        }
    }
    std::uint64_t most = 0;
    for (const auto& device : devices) {
        std::lock_guard deliver(device->deliver);
        std::vector<WAVEHDR*> done;
        {
            std::lock_guard lock(mutex_);
            most = std::max(most, PlayLocked(*device, frames, done));
        }
        Deliver(device, done);
    }
    return most;
}

std::uint64_t VirtualSoundCard::AdvanceAll(std::uint64_t maxFrames) {
    std::uint64_t total = 0;
    while (total < maxFrames) {
        std::uint64_t n = Advance(std::min<std::uint64_t>(maxFrames - total, 1u << 16));
        if (n == 0 && QueuedCount() == 0) {
            break;
        }
        if (n == 0) {
            break; // paused or only empty headers left
        }
        total += n;
    }
    return total;
}

void VirtualSoundCard::StartClockThread() {
    std::lock_guard lock(mutex_);
    clockQuit_ = false;
    clockThread_ = std::thread([this] { ClockLoop(); });
}

void VirtualSoundCard::StopClockThread() {
    {
        std::lock_guard lock(mutex_);
        clockQuit_ = true;
    }
    wake_.notify_all();
    if (clockThread_.joinable() && clockThread_.get_id() != std::this_thread::get_id()) {
        clockThread_.join();
    }
}

void VirtualSoundCard::ClockLoop() {
    std::unique_lock lock(mutex_);
    while (!clockQuit_) {
        std::vector<DeviceRef> devices;
        for (const auto& [handle, device] : open_) {
            devices.push_back(device);
        }
        const bool fast = clock_ == VirtualClock::Fast;
        lock.unlock();
        bool playedAny = false;
        for (const auto& device : devices) {
            std::lock_guard deliver(device->deliver);
            std::vector<WAVEHDR*> done;
            {
                std::lock_guard inner(mutex_);
                std::uint64_t frames = UINT64_MAX;
                if (!fast) {
                    if (device->paused || device->queue.empty()) {
                        device->anchored = false;
                        continue;
                    }
                    auto now = Clock::now();
                    if (!device->anchored) {
                        device->anchored = true;
                        device->anchor = now;
                        device->anchorFrames = device->consumed;
                    }
                    auto elapsed =
                        std::chrono::duration_cast<std::chrono::microseconds>(now - device->anchor);
                    std::uint64_t due = static_cast<std::uint64_t>(elapsed.count()) *
                                        device->format.nSamplesPerSec / 1000000u;
                    std::uint64_t owed = device->anchorFrames + due;
                    frames = owed > device->consumed ? owed - device->consumed : 0;
                }
                playedAny = PlayLocked(*device, frames, done) > 0 || playedAny;
                if (!fast && device->queue.empty()) {
                    device->anchored = false; // an underrun owes nothing
                }
            }
            Deliver(device, done);
        }
        lock.lock();
        if (clockQuit_) {
            break;
        }
        if (!(fast && playedAny)) {
            // Real time: sleep until the first head buffer is due to end (a write, restart or
            // close wakes the clock earlier). Nothing is owed before then.
            constexpr std::uint64_t kPeriodUs = 200000;
            auto next = Clock::now() + std::chrono::microseconds(kPeriodUs);
            if (!fast) {
                for (const auto& [handle, device] : open_) {
                    if (device->paused || device->queue.empty() || !device->anchored) {
                        continue;
                    }
                    const WAVEHDR* head = device->queue.front();
                    const DWORD block = device->format.nBlockAlign;
                    const DWORD left = head->dwBufferLength > device->headOffset
                                           ? head->dwBufferLength - device->headOffset
                                           : 0;
                    const std::uint64_t endFrame =
                        device->consumed + (left + block - 1) / block - device->anchorFrames;
                    auto due = device->anchor + std::chrono::microseconds(
                                                    endFrame * 1000000u / device->format.nSamplesPerSec + 1);
                    // With plenty queued ahead, buffers are returned in batches, as a card with a
                    // deep queue interrupts once per period: up to 200 ms (several buffers) at a
                    // time, never more than an eighth of what is queued, so nothing runs dry.
                    const auto aheadUs = device->queuedBytes * 1000000u / device->format.nAvgBytesPerSec;
                    due = std::max(due, Clock::now() + std::chrono::microseconds(
                                                           std::min<std::uint64_t>(kPeriodUs, aheadUs / 8)));
                    next = std::min(next, due);
                }
            }
            wake_.wait_until(lock, next);
        }
    }
}

void VirtualSoundCard::LateFlagLoop() {
    std::unique_lock lock(mutex_);
    while (!lateQuit_) {
        if (lateFlags_.empty()) {
            lateWake_.wait(lock);
            continue;
        }
        auto due = lateFlags_.front().due;
        if (Clock::now() < due) {
            lateWake_.wait_until(lock, due);
            continue;
        }
        MarkHeaderDone(*lateFlags_.front().header);
        lateFlags_.pop_front();
    }
}

void VirtualSoundCard::WriteWavFile(const Device& device) {
    std::FILE* file = std::fopen(wavPath_.c_str(), "wb");
    if (file == nullptr) {
        return;
    }
    auto put32 = [file](std::uint32_t v) {
        std::uint8_t b[4] = {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16),
                             std::uint8_t(v >> 24)};
        std::fwrite(b, 1, 4, file);
    };
    const auto size = static_cast<std::uint32_t>(device.recorded.size());
    std::fwrite("RIFF", 1, 4, file);
    put32(4 + 8 + 16 + 8 + size + (size & 1));
    std::fwrite("WAVEfmt ", 1, 8, file);
    put32(16);
    std::fwrite(&device.format, 1, 16, file); // the record's first 16 bytes are the fmt chunk
    std::fwrite("data", 1, 4, file);
    put32(size);
    std::fwrite(device.recorded.data(), 1, device.recorded.size(), file);
    if (size & 1) {
        std::fputc(0, file);
    }
    std::fclose(file);
}

// ---- WaveOutDevices ----

UINT VirtualSoundCard::GetNumDevs() {
    std::lock_guard lock(mutex_);
    return static_cast<UINT>(devices_.size());
}

MMRESULT VirtualSoundCard::GetDevCaps(int deviceId, WAVEOUTCAPS& caps) {
    std::lock_guard lock(mutex_);
    MMRESULT code = MMSYSERR_NOERROR;
    if (Fails(faults_.devCaps, "devcaps", code)) {
        return code;
    }
    if (devices_.empty() || deviceId < WAVE_MAPPER || deviceId >= static_cast<int>(devices_.size())) {
        return MMSYSERR_BADDEVICEID;
    }
    const auto& config = devices_[static_cast<std::size_t>(std::max(deviceId, 0))];
    caps = WAVEOUTCAPS{};
    caps.szPname = config.name.substr(0, MAXPNAMELEN - 1);
    caps.vDriverVersion = config.driverVersion;
    caps.wChannels = 2;
    return MMSYSERR_NOERROR;
}

MMRESULT VirtualSoundCard::Open(HWAVEOUT* handle, int deviceId, const WAVEFORMATEX* format,
                                WaveCallback callback, DWORD_PTR instance, DWORD flags) {
    DeviceRef device;
    {
        std::lock_guard lock(mutex_);
        MMRESULT code = MMSYSERR_NOERROR;
        const bool query = (flags & WAVE_FORMAT_QUERY) != 0;
        if (Fails(query ? faults_.query : faults_.open, query ? "query" : "open", code)) {
            return code;
        }
        if (devices_.empty() || deviceId < WAVE_MAPPER || deviceId >= static_cast<int>(devices_.size())) {
            return MMSYSERR_BADDEVICEID;
        }
        const int index = std::max(deviceId, 0);
        if (!Plays(index, format)) {
            return WAVERR_BADFORMAT;
        }
        if (query) {
            return MMSYSERR_NOERROR;
        }
        if (handle == nullptr) {
            return MMSYSERR_INVALPARAM;
        }
        device = std::make_shared<Device>();
        device->handle = nextHandle_++;
        device->index = index;
        std::memcpy(&device->format, format, sizeof(WAVEFORMATEX));
        device->format.cbSize = 0;
        device->callback = callback;
        device->instance = instance;
        open_[device->handle] = device;
        lastFlags_ = flags;
        lastDevice_ = index;
        *handle = device->handle;
        if (faults_.noOpenNotify) {
            return MMSYSERR_NOERROR;
        }
    }
    if (callback != nullptr) {
        callback(device->handle, WOM_OPEN, instance, 0, 0);
    }
    return MMSYSERR_NOERROR;
}

MMRESULT VirtualSoundCard::Close(HWAVEOUT handle) {
    DeviceRef device;
    bool notify = true;
    {
        std::lock_guard lock(mutex_);
        device = Find(handle);
        if (device == nullptr) {
            return MMSYSERR_INVALHANDLE;
        }
        MMRESULT code = MMSYSERR_NOERROR;
        if (Fails(faults_.close, "close", code)) {
            return code;
        }
        if (!device->queue.empty()) {
            return WAVERR_STILLPLAYING;
        }
        device->closed = true;
        open_.erase(handle);
        if (!wavPath_.empty()) {
            WriteWavFile(*device);
        }
        notify = !faults_.noCloseNotify;
    }
    if (notify && device->callback != nullptr) {
        std::lock_guard deliver(device->deliver);
        device->callback(handle, WOM_CLOSE, device->instance, 0, 0);
    }
    return MMSYSERR_NOERROR;
}

MMRESULT VirtualSoundCard::PrepareHeader(HWAVEOUT handle, WAVEHDR* header) {
    std::lock_guard lock(mutex_);
    calls_["prepare"]++;
    if (Find(handle) == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    if (header == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    ChangeHeaderFlags(*header, 0, WHDR_PREPARED);
    return MMSYSERR_NOERROR;
}

MMRESULT VirtualSoundCard::UnprepareHeader(HWAVEOUT handle, WAVEHDR* header) {
    std::lock_guard lock(mutex_);
    calls_["unprepare"]++;
    if (Find(handle) == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    if (header == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    if (HeaderHas(*header, WHDR_INQUEUE)) {
        return WAVERR_STILLPLAYING;
    }
    // The header's memory may go away after this: no late flag may touch it any more.
    std::erase_if(lateFlags_, [header](const LateFlag& f) { return f.header == header; });
    ChangeHeaderFlags(*header, WHDR_PREPARED, 0);
    return MMSYSERR_NOERROR;
}

MMRESULT VirtualSoundCard::Write(HWAVEOUT handle, WAVEHDR* header) {
    bool wasEmpty = false;
    {
        std::lock_guard lock(mutex_);
        auto device = Find(handle);
        if (device == nullptr) {
            return MMSYSERR_INVALHANDLE;
        }
        MMRESULT code = MMSYSERR_NOERROR;
        if (Fails(faults_.write, "write", code)) {
            return code;
        }
        if (header == nullptr) {
            return MMSYSERR_INVALPARAM;
        }
        if (!HeaderHas(*header, WHDR_PREPARED)) {
            return WAVERR_UNPREPARED;
        }
        if (HeaderHas(*header, WHDR_INQUEUE)) {
            return WAVERR_STILLPLAYING;
        }
        std::erase_if(lateFlags_, [header](const LateFlag& f) { return f.header == header; });
        ChangeHeaderFlags(*header, WHDR_DONE, WHDR_INQUEUE);
        wasEmpty = device->queue.empty();
        device->queue.push_back(header);
        device->queuedBytes += header->dwBufferLength;
        calls_["written"]++;
    }
    // Behind other buffers the new one changes nothing the clock waits for.
    if (wasEmpty) {
        wake_.notify_all();
    }
    return MMSYSERR_NOERROR;
}

MMRESULT VirtualSoundCard::Pause(HWAVEOUT handle) {
    std::lock_guard lock(mutex_);
    auto device = Find(handle);
    if (device == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    MMRESULT code = MMSYSERR_NOERROR;
    if (Fails(faults_.pause, "pause", code)) {
        return code;
    }
    device->paused = true;
    return MMSYSERR_NOERROR;
}

MMRESULT VirtualSoundCard::Restart(HWAVEOUT handle) {
    {
        std::lock_guard lock(mutex_);
        auto device = Find(handle);
        if (device == nullptr) {
            return MMSYSERR_INVALHANDLE;
        }
        MMRESULT code = MMSYSERR_NOERROR;
        if (Fails(faults_.restart, "restart", code)) {
            return code;
        }
        device->paused = false;
    }
    wake_.notify_all();
    return MMSYSERR_NOERROR;
}

MMRESULT VirtualSoundCard::Reset(HWAVEOUT handle) {
    DeviceRef device;
    {
        std::lock_guard lock(mutex_);
        device = Find(handle);
        if (device == nullptr) {
            return MMSYSERR_INVALHANDLE;
        }
        MMRESULT code = MMSYSERR_NOERROR;
        if (Fails(faults_.reset, "reset", code)) {
            return code;
        }
    }
    std::lock_guard deliver(device->deliver);
    std::vector<WAVEHDR*> done;
    {
        std::lock_guard lock(mutex_);
        for (WAVEHDR* header : device->queue) {
            MarkHeaderDone(*header);
            done.push_back(header);
        }
        device->queue.clear();
        device->queuedBytes = 0;
        device->headOffset = 0;
        device->played = 0;
        device->anchored = false;
    }
    Deliver(device, done);
    return MMSYSERR_NOERROR;
}

MMRESULT VirtualSoundCard::GetPosition(HWAVEOUT handle, MMTIME& time) {
    std::lock_guard lock(mutex_);
    auto device = Find(handle);
    if (device == nullptr) {
        return MMSYSERR_INVALHANDLE;
    }
    MMRESULT code = MMSYSERR_NOERROR;
    if (Fails(faults_.position, "position", code)) {
        return code;
    }
    const std::uint64_t wrap = faults_.wrapAt != 0 ? faults_.wrapAt : (std::uint64_t{1} << 32);
    std::uint64_t played = device->played;
    if (clock_ == VirtualClock::RealTime && device->anchored && !device->paused && !device->queue.empty()) {
        // The clock plays whole buffers when they are due; in between, the frames owed so far
        // of the head buffer are being heard.
        const WAVEHDR* head = device->queue.front();
        const DWORD block = device->format.nBlockAlign;
        const DWORD left =
            head->dwBufferLength > device->headOffset ? head->dwBufferLength - device->headOffset : 0;
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - device->anchor);
        const std::uint64_t owed = device->anchorFrames + static_cast<std::uint64_t>(elapsed.count()) *
                                                              device->format.nSamplesPerSec / 1000000u;
        if (owed > device->consumed) {
            played += std::min<std::uint64_t>(owed - device->consumed, left / block);
        }
    }
    if (time.wType == TIME_SAMPLES && !faults_.positionInBytesOnly) {
        time.value = static_cast<DWORD>(played % wrap);
    } else {
        time.wType = TIME_BYTES;
        time.value = static_cast<DWORD>((played * device->format.nBlockAlign) % wrap);
    }
    return MMSYSERR_NOERROR;
}

} // namespace tunefold::platform
