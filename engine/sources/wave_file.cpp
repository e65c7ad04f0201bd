#include "engine/sources/wave_file.h"

#include <algorithm>
#include <cstring>

#include "engine/framework/threads.h"

namespace tunefold {

namespace {
constexpr platform::FOURCC kWave = platform::mmioFOURCC('W', 'A', 'V', 'E');
}

// ---------------------------------------------------------------------------------------------
// TMMWave

TMMWave::TMMWave() = default;

TMMWave::~TMMWave() {
    if (record_ != nullptr) {
        WaveIOClose(record_);
    }
}

void TMMWave::Assign(const TMMWave& source) {
    if (&source == this) {
        return;
    }
    ++changeLock_;
    try {
        fileMustExist_ = source.fileMustExist_;
        timeFormat_ = source.timeFormat_;
        ioBufferSize_ = source.ioBufferSize_;
        if (source.record_ != nullptr && source.record_->OpenMode != wioFile) {
            SetMemoryWave(source.record_->Memory.data, source.record_->Memory.size);
        } else {
            SetFileName(source.fileName_);
        }
    } catch (...) {
        --changeLock_;
        throw;
    }
    --changeLock_;
    if (changeLock_ == 0 && changePending_) {
        Changed();
    }
}

int TMMWave::AddObserver(std::function<void()> callback) {
    observers_.push_back({nextObserver_, std::move(callback)});
    return nextObserver_++;
}

void TMMWave::RemoveObserver(int id) {
    observers_.erase(
        std::remove_if(observers_.begin(), observers_.end(), [id](const Observer& o) { return o.id == id; }),
        observers_.end());
}

void TMMWave::Changed() {
    if (changeLock_ > 0) {
        changePending_ = true;
        return;
    }
    changePending_ = false;
    // The last observer added hears first.
    auto copy = observers_;
    for (auto it = copy.rbegin(); it != copy.rend(); ++it) {
        if (it->callback) {
            it->callback();
        }
    }
}

void TMMWave::TakeRecord(PWaveIORecord record) {
    if (record_ != nullptr) {
        WaveIOClose(record_);
    }
    record_ = record;
    opened_ = false;
    position_ = record_ != nullptr ? record_->Position : 0;
    bytesLeft_ = record_ != nullptr ? record_->BytesLeft : 0;
    totalBytes_ = 0;
}

void TMMWave::SetFileName(const std::string& value) {
    const std::string name = platform::mmioFullPath(value);
    if (name == fileName_ && record_ != nullptr && record_->OpenMode == wioFile &&
        platform::mmioFileSize(name) == record_->FileSize) {
        return;
    }
    if (name.empty()) {
        TakeRecord(nullptr);
        fileName_.clear();
        Changed();
        return;
    }
    const bool exists = WaveFileExists(name);
    if (exists) {
        PWaveIORecord rec = nullptr;
        if (WaveIOOpenInfo(rec, name, kWave, wioFile) == WIOERR_NOERROR) {
            TakeRecord(rec);
            fileName_ = name;
            Changed();
            return;
        }
    }
    if (exists || fileMustExist_) {
        // A missing or unopenable file is a read error; one that opens but does not parse is not
        // a WAVE file. The previous file stays.
        bool readable = false;
        if (exists) {
            platform::HMMIO h = platform::mmioOpenFile(name, platform::MMIO_READ);
            readable = h != nullptr;
            if (h != nullptr) {
                platform::mmioClose(h);
            }
        }
        throw EMMWaveError(readable ? "Invalid wave file..." : "Error reading wave file");
    }
    TakeRecord(nullptr);
    fileName_ = name;
    Changed();
}

void TMMWave::SetMemoryWave(const void* data, long size) {
    TMMWaveMemory memory{data, size};
    PWaveIORecord rec = nullptr;
    if (WaveIOOpenInfo(rec, std::string(), kWave, wioMemory, &memory) != WIOERR_NOERROR) {
        throw EMMWaveError("Invalid wave file...");
    }
    TakeRecord(rec);
    fileName_.clear();
    Changed();
}

WORD TMMWave::BitLength() const {
    return PWaveFormat() != nullptr ? PWaveFormat()->wBitsPerSample : 0;
}

TMMMode TMMWave::Mode() const {
    return PWaveFormat() != nullptr && PWaveFormat()->nChannels == 2 ? mStereo : mMono;
}

WORD TMMWave::FormatTag() const {
    return PWaveFormat() != nullptr ? PWaveFormat()->wFormatTag : 0;
}

std::string TMMWave::FormatString() const {
    return FormatTagName(PWaveFormat());
}

std::int32_t TMMWave::SampleRate() const {
    return PWaveFormat() != nullptr ? static_cast<std::int32_t>(PWaveFormat()->nSamplesPerSec) : 11025;
}

std::int64_t TMMWave::FileSize() const {
    return record_ != nullptr ? record_->FileSize : 0;
}

std::int64_t TMMWave::DataSize() const {
    return record_ != nullptr && record_->Format ? FromSamples(record_->TotalSamples) : 0;
}

std::int64_t TMMWave::ToSamples(std::int64_t value) const {
    const WAVEFORMATEX& f = *record_->Format;
    switch (timeFormat_) {
    case tfMillisecond:
        return WaveMsToSamples(f, value);
    case tfByte:
        return WaveBytesToSamples(f, value);
    case tfSample:
        break;
    }
    return value;
}

std::int64_t TMMWave::FromSamples(std::int64_t samples) const {
    const WAVEFORMATEX& f = *record_->Format;
    switch (timeFormat_) {
    case tfMillisecond:
        return WaveSamplesToMs(f, samples);
    case tfByte:
        return WaveSamplesToBytes(f, samples);
    case tfSample:
        break;
    }
    return samples;
}

void TMMWave::OpenFile() {
    if (record_ == nullptr) {
        return;
    }
    if (WaveIOReopen(*record_) != WIOERR_NOERROR) {
        throw EMMWaveError("Unable to open wave file");
    }
    if (WaveIOSetBuffer(*record_, ioBufferSize_) != WIOERR_NOERROR) {
        WaveIOCloseFile(*record_);
        throw EMMWaveError("Unable to setup file IO buffer");
    }
    opened_ = true;
    SetPosition(Position());
}

void TMMWave::CloseFile() {
    if (record_ != nullptr) {
        const bool written = record_->Writing;
        WaveIOCloseFile(*record_);
        if (written) {
            // The finished file reads back like any other.
            PWaveIORecord rec = nullptr;
            if (WaveIOOpenInfo(rec, fileName_, kWave, wioFile) == WIOERR_NOERROR) {
                WaveIOClose(record_);
                record_ = rec;
            }
        }
    }
    opened_ = false;
    position_ = 0;
    bytesLeft_ = 0;
}

std::int64_t TMMWave::Position() const {
    if (record_ == nullptr || !record_->Format) {
        return -1;
    }
    return FromSamples(position_);
}

void TMMWave::SetPosition(std::int64_t value) {
    if (record_ == nullptr || !record_->Format) {
        return;
    }
    std::int64_t sample = ToSamples(value);
    position_ = sample;
    if (!opened_ || record_->Writing) {
        return;
    }
    const WAVEFORMATEX& f = *record_->Format;
    sample = std::clamp<std::int64_t>(sample, 0, record_->TotalSamples);
    position_ = sample;
    totalBytes_ = std::min(WaveSamplesToBytes(f, record_->TotalSamples), record_->DataSize);
    bytesLeft_ = std::max<std::int64_t>(0, totalBytes_ - WaveSamplesToBytes(f, sample));
    if (WaveIOSeek(*record_, sample) != WIOERR_NOERROR && WaveIOSeek(*record_, sample) != WIOERR_NOERROR) {
        throw EMMWaveError("Error seeking file position");
    }
}

std::int64_t TMMWave::Length() const {
    return record_ != nullptr && record_->Format ? FromSamples(record_->TotalSamples) : 0;
}

std::int32_t TMMWave::ReadData(void* buffer, std::int32_t count) {
    if (record_ == nullptr || !record_->Format || bytesLeft_ <= 0 || !opened_) {
        return -1;
    }
    const auto want = static_cast<std::int32_t>(std::min<std::int64_t>(std::max(count, 0), bytesLeft_));
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::int32_t done = 0;
    while (done < want) {
        std::int32_t n = WaveIORead(record_, out + done, want - done);
        if (n < 1) {
            break;
        }
        done += n;
    }
    if (done == 0 && want > 0) {
        // One last tiny buffer of silence instead of an empty one: the chain ends in order.
        const std::int32_t n = std::min<std::int32_t>(4, count);
        std::memset(buffer, 0, static_cast<std::size_t>(n));
        bytesLeft_ = 0;
        position_ = record_->TotalSamples;
        return n;
    }
    bytesLeft_ -= done;
    position_ = WaveBytesToSamples(*record_->Format, totalBytes_ - bytesLeft_);
    return done;
}

void TMMWave::CreateFile(const WAVEFORMATEX& format) {
    if (IsMemoryWave()) {
        throw EMMWaveError("Can't write to MemoryWave");
    }
    PWaveIORecord rec = nullptr;
    if (fileName_.empty() || WaveIOCreate(rec, fileName_, format) != WIOERR_NOERROR) {
        throw EMMWaveError("Unable to create wave file");
    }
    if (record_ != nullptr) {
        WaveIOClose(record_);
    }
    record_ = rec;
    opened_ = true;
    position_ = 0;
    bytesLeft_ = 0;
}

std::int32_t TMMWave::WriteData(const void* buffer, std::int32_t count) {
    if (IsMemoryWave()) {
        throw EMMWaveError("Can't write to MemoryWave");
    }
    if (!IsWriting()) {
        return -1;
    }
    return WaveIOWrite(*record_, buffer, count);
}

// ---------------------------------------------------------------------------------------------
// TMMCustomWaveFile

TMMCustomWaveFile::TMMCustomWaveFile(TComponent* owner) : TMMDSPComponent(owner) {
    observer_ = wave_.AddObserver([this] { WaveChanged(); });
}

TMMCustomWaveFile::~TMMCustomWaveFile() {
    wave_.RemoveObserver(observer_);
    if (wave_.IsOpened()) {
        try {
            wave_.CloseFile();
        } catch (...) {
        }
    }
}

void TMMCustomWaveFile::WaveChanged() {
    struct Finally {
        TMMCustomWaveFile* self;
        ~Finally() {
            if (self->OnChanged) {
                self->OnChanged(self);
            }
        }
    } finally{this};
    if (OnChange) {
        OnChange(this);
    }
    if (wave_.FileMustExist() || wave_.PWaveFormat() != nullptr) {
        SetPWaveFormat(wave_.PWaveFormat());
    }
}

void TMMCustomWaveFile::SetPWaveFormat(const WAVEFORMATEX* format) {
    TMMDSPComponent::SetPWaveFormat(format);
    const WAVEFORMATEX* f = PWaveFormat();
    silence_ = (f != nullptr && f->wFormatTag == WAVE_FORMAT_PCM && f->wBitsPerSample == 8) ? 128 : 0;
}

void TMMCustomWaveFile::Opened() {
    TMMDSPComponent::Opened();
    if (SinkMode()) {
        if (fileOpened_) {
            return;
        }
        const WAVEFORMATEX* f = FInput->PWaveFormat();
        if (f != nullptr) {
            SetPWaveFormat(f);
        }
        const std::string& name = wave_.FileName();
        if (PWaveFormat() != nullptr && !name.empty() &&
            (overwriteExisting_ || !platform::mmioFileExists(name) || platform::mmioFileSize(name) == 0)) {
            wave_.CreateFile(*PWaveFormat());
            fileOpened_ = true;
        }
    } else if (!fileOpened_ && !wave_.IsEmpty()) {
        wave_.OpenFile();
        openPosition_ = wave_.Position();
        fileOpened_ = true;
    }
    if (fileOpened_ && OnOpen) {
        RunInGUIThread(OnOpen, this);
    }
}

void TMMCustomWaveFile::Started() {
    TMMDSPComponent::Started();
    if (started_ || !fileOpened_) {
        return;
    }
    started_ = true;
    if (!SinkMode()) {
        wave_.SetPosition(openPosition_);
    }
}

void TMMCustomWaveFile::Stopped() {
    if (fileOpened_ && started_) {
        started_ = false;
    }
    TMMDSPComponent::Stopped();
}

void TMMCustomWaveFile::Closed() {
    if (fileOpened_) {
        Stopped();
        if (wave_.IsWriting() && wave_.BytesWritten() == 0) {
            // A written file always holds at least one tiny buffer.
            const std::uint8_t zeros[4] = {0, 0, 0, 0};
            wave_.WriteData(zeros, 4);
        }
        wave_.CloseFile();
        fileOpened_ = false;
        if (OnClose) {
            RunInGUIThread(OnClose, this);
        }
    }
    TMMDSPComponent::Closed();
}

void TMMCustomWaveFile::Reset() {
    TMMDSPComponent::Reset();
    if (started_ && fileOpened_) {
        wave_.ResetFile();
    }
}

void TMMCustomWaveFile::AppendToFile(PWaveHdr lpWaveHdr) {
    if (!fileOpened_ || !wave_.IsWriting() || lpWaveHdr->dwBytesRecorded == 0) {
        return;
    }
    const std::int64_t need =
        static_cast<std::int64_t>(wave_.IOBufferSize()) + lpWaveHdr->dwBytesRecorded + 10240;
    const std::int64_t free = platform::mmioDiskFree(wave_.FileName());
    bool ok = free < 0 || free >= need;
    if (ok) {
        ok = wave_.WriteData(lpWaveHdr->lpData, static_cast<std::int32_t>(lpWaveHdr->dwBytesRecorded)) ==
             static_cast<std::int32_t>(lpWaveHdr->dwBytesRecorded);
    }
    if (!ok) {
        // A full disk or a failed write ends the recording; what was written stays a valid file.
        wave_.CloseFile();
        fileOpened_ = false;
    }
}

void TMMCustomWaveFile::BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) {
    if (SinkMode()) {
        TMMDSPComponent::BufferLoad(lpWaveHdr, MoreBuffers);
        AppendToFile(lpWaveHdr);
        return;
    }
    if (wave_.IsEmpty()) {
        lpWaveHdr->dwBytesRecorded = 0;
        return;
    }
    if (!started_ || !enabled_) {
        std::memset(lpWaveHdr->lpData, silence_, lpWaveHdr->dwBufferLength);
        lpWaveHdr->dwBytesRecorded = lpWaveHdr->dwBufferLength;
        MoreBuffers = true;
        return;
    }
    std::int32_t n = wave_.ReadData(lpWaveHdr->lpData, static_cast<std::int32_t>(lpWaveHdr->dwBufferLength));
    lpWaveHdr->dwBytesRecorded = static_cast<DWORD>(std::max(n, 0));
    if (n <= 0) {
        return;
    }
    if (wave_.BytesLeft() > 0) {
        MoreBuffers = true;
        return;
    }
    TMMBufferHeader* header = AsBufferHeader(lpWaveHdr);
    if (header->LoopEnabled != 0) {
        if (header->LoopCount > 0) {
            --header->LoopsLeft;
        }
        if (header->LoopCount != 0 && header->LoopsLeft < 0) {
            return;
        }
        wave_.SetPosition(0);
        wave_.ResetFile();
        if (OnLooping) {
            OnLooping(this);
        }
        MoreBuffers = true;
        header->LoopRestart = -1;
    }
}

void TMMCustomWaveFile::BufferReady(PWaveHdr lpWaveHdr) {
    if (SinkMode()) {
        AppendToFile(lpWaveHdr);
    }
    TMMDSPComponent::BufferReady(lpWaveHdr);
}

} // namespace tunefold
