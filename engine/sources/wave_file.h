// TMMWave (a parsed WAVE file with positions in the unit of its TimeFormat and sequential reading)
// and the stage TMMCustomWaveFile / TMMWaveFile, which feeds a chain from a TMMWave (source mode)
// or writes what passes through it into a new WAVE file (sink mode).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/framework/dsp_component.h"
#include "engine/framework/errors.h"
#include "engine/framework/mm_types.h"
#include "engine/sources/wave_io.h"

namespace tunefold {

TUNEFOLD_ERROR_CLASS(EMMWaveError, EMMError);

using TMMWaveProgress =
    std::function<void(TObject* sender, std::int32_t curByte, std::int32_t numBytes, bool& cancel)>;

class TMMWave : public TObject {
public:
    TMMWave();
    ~TMMWave() override;
    TMMWave(const TMMWave&) = delete;
    TMMWave& operator=(const TMMWave&) = delete;

    // Copies file name and settings of another wave; observers hear of it once.
    void Assign(const TMMWave& source);

    // ---- published properties ----
    const std::string& FileName() const { return fileName_; }
    void SetFileName(const std::string& name);
    bool FileMustExist() const { return fileMustExist_; }
    void SetFileMustExist(bool value) { fileMustExist_ = value; }
    TMMTimeFormats TimeFormat() const { return timeFormat_; }
    void SetTimeFormat(TMMTimeFormats value) { timeFormat_ = value; }
    int IOBufferSize() const { return ioBufferSize_; }
    void SetIOBufferSize(int value) { ioBufferSize_ = value < 8192 ? 8192 : value; }
    WORD BitLength() const;
    TMMMode Mode() const;
    WORD FormatTag() const;
    std::string FormatString() const;
    std::int32_t SampleRate() const;
    // Sizes and positions are 64-bit: a WAVE file holds up to 4 GiB of data.
    std::int64_t FileSize() const;
    std::int64_t DataSize() const;
    TMMWaveProgress OnProgress;

    // Parses a WAVE image in memory (the bytes stay the caller's); observers are told.
    void SetMemoryWave(const void* data, long size);
    bool IsMemoryWave() const { return record_ != nullptr && record_->OpenMode != wioFile; }

    // ---- operations ----
    void OpenFile();
    void CloseFile();
    void ResetFile() {}
    std::int64_t Position() const;
    void SetPosition(std::int64_t value);
    std::int64_t Length() const;
    std::int64_t BytesLeft() const { return bytesLeft_; }
    bool IsEmpty() const { return DataSize() == 0; }
    std::int32_t ReadData(void* buffer, std::int32_t count);
    bool IsOpened() const { return opened_; }

    // The format of the file, none without one.
    const WAVEFORMATEX* PWaveFormat() const { return record_ != nullptr ? record_->Format.get() : nullptr; }
    const TMMWaveIORecord* Record() const { return record_; }

    // Writing (the sink mode of the stage): creates the named file for `format`, appends data;
    // CloseFile finishes it.
    void CreateFile(const WAVEFORMATEX& format);
    std::int32_t WriteData(const void* buffer, std::int32_t count);
    bool IsWriting() const { return record_ != nullptr && record_->Writing; }
    std::int64_t BytesWritten() const { return IsWriting() ? record_->BytesWritten : 0; }

    // Change notification: called after the file of the wave changed.
    int AddObserver(std::function<void()> callback);
    void RemoveObserver(int id);

private:
    std::int64_t ToSamples(std::int64_t value) const;
    std::int64_t FromSamples(std::int64_t samples) const;
    void TakeRecord(PWaveIORecord record);
    void Changed();

    PWaveIORecord record_ = nullptr;
    std::string fileName_;
    bool fileMustExist_ = true;
    TMMTimeFormats timeFormat_ = tfSample;
    int ioBufferSize_ = 32768;
    bool opened_ = false;
    std::int64_t position_ = 0; // sample frames
    std::int64_t bytesLeft_ = 0;
    std::int64_t totalBytes_ = 0;
    int changeLock_ = 0;
    bool changePending_ = false;
    struct Observer {
        int id;
        std::function<void()> callback;
    };
    std::vector<Observer> observers_;
    int nextObserver_ = 1;
};

class TMMCustomWaveFile : public TMMDSPComponent {
public:
    explicit TMMCustomWaveFile(TComponent* owner = nullptr);
    ~TMMCustomWaveFile() override;

    TMMWave& Wave() { return wave_; }
    const TMMWave& Wave() const { return wave_; }
    void SetWave(const TMMWave& value) { wave_.Assign(value); }
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool value) { enabled_ = value; }
    bool OverwriteExisting() const { return overwriteExisting_; }
    void SetOverwriteExisting(bool value) { overwriteExisting_ = value; }
    std::uint8_t SilenceByte() const { return silence_; }

    TNotifyEvent OnOpen;
    TNotifyEvent OnClose;
    TNotifyEvent OnChange;
    TNotifyEvent OnChanged;
    TNotifyEvent OnLooping;

    void SetPWaveFormat(const WAVEFORMATEX* format) override;
    void Opened() override;
    void Started() override;
    void Stopped() override;
    void Closed() override;
    void Reset() override;
    void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) override;
    void BufferReady(PWaveHdr lpWaveHdr) override;

private:
    bool SinkMode() const { return FInput != nullptr; }
    void WaveChanged();
    void AppendToFile(PWaveHdr lpWaveHdr);

    TMMWave wave_;
    int observer_ = 0;
    std::uint8_t silence_ = 0;
    bool enabled_ = true;
    bool overwriteExisting_ = true;
    std::int64_t openPosition_ = 0;
    bool fileOpened_ = false;
    bool started_ = false;
};

class TMMWaveFile : public TMMCustomWaveFile {
public:
    using TMMCustomWaveFile::TMMCustomWaveFile;
};

} // namespace tunefold
