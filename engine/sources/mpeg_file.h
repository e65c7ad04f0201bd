// MPEG audio files through the decoder library loaded at run time: the loader, TMMMpeg (one decoder
// instance, the stream information and the PCM format it delivers), the source stage TMMMPEGFile,
// and the free routines IsMpegFile and GetMpegFileInfo.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "engine/framework/dsp_component.h"
#include "engine/framework/errors.h"
#include "platform/mpeg/mmmpeg.h"

namespace tunefold {

TUNEFOLD_ERROR_CLASS(EMMMpegError, EMMError);

enum TMpegVersion { v2LSF, v1 };
enum TSampleMode { smStereo, smJointStereo, smDualChannel, smSingleChannel };
enum TChannelMode { cmLeft, cmRight, cmBoth, cmDownMix };

// Loads the decoder library once (next to the program, then the library folder next to it, then the
// system's library folders) and looks its entry points up. On failure it shows "Unable to load
// MMMPEG32.DLL" or "Invalid Mpeg Decoder DLL version" and returns false; the next call tries again.
bool LoadMpegDecoder();
// Tests: the file name the loader looks for, and forgetting a loaded library (no instance may live).
void SetMpegDecoderLibraryName(const std::string& name);
void UnloadMpegDecoder();

// The decoder library's entry points, as the loader found them.
struct TMpegEntryPoints {
    decltype(&::mpeg_Version) Version = nullptr;
    decltype(&::mpeg_Init) Init = nullptr;
    decltype(&::mpeg_Done) Done = nullptr;
    decltype(&::mpeg_SetFileName) SetFileName = nullptr;
    decltype(&::mpeg_GetFileName) GetFileName = nullptr;
    decltype(&::mpeg_GetEmpty) GetEmpty = nullptr;
    decltype(&::mpeg_GetFileInfo) GetFileInfo = nullptr;
    decltype(&::mpeg_OpenFile) OpenFile = nullptr;
    decltype(&::mpeg_CloseFile) CloseFile = nullptr;
    decltype(&::mpeg_ResetFile) ResetFile = nullptr;
    decltype(&::mpeg_ReadDataBytes) ReadDataBytes = nullptr;
    decltype(&::mpeg_GetDone) GetDone = nullptr;
    decltype(&::mpeg_SetPosition) SetPosition = nullptr;
    decltype(&::mpeg_GetPosition) GetPosition = nullptr;
    decltype(&::mpeg_SetChannelMode) SetChannelMode = nullptr;
    decltype(&::mpeg_GetChannelMode) GetChannelMode = nullptr;
    decltype(&::mpeg_SetTrailingHeader) SetTrailingHeader = nullptr;
    decltype(&::mpeg_SetExactPosition) SetExactPosition = nullptr;
    decltype(&::mpeg_Clear) Clear = nullptr;
    decltype(&::mpeg_GetErrorText) GetErrorText = nullptr;
    decltype(&::mpeg_SetDecodeCallback) SetDecodeCallback = nullptr;
    decltype(&::mpeg_SetDecodeMode) SetDecodeMode = nullptr;
    decltype(&::mpeg_SetFileOffset) SetFileOffset = nullptr;
    decltype(&::mpeg_AbortReadData) AbortReadData = nullptr;
    decltype(&::mpeg_ScanFile) ScanFile = nullptr;
    decltype(&::mpeg_ScanFileEx) ScanFileEx = nullptr;
    decltype(&::mpeg_EncryptFile) EncryptFile = nullptr;
    decltype(&::mpeg_ReadID3Tag) ReadID3Tag = nullptr;
    decltype(&::mpeg_GetTextTag) GetTextTag = nullptr; // absent from older libraries
};

// The text fields of a file's ID3v2 tag, UTF-8 (empty where the file has none).
struct TMMMpegTextTags {
    std::string Title;
    std::string Artist;
    std::string Album;
    bool operator==(const TMMMpegTextTags&) const = default;
};
// The loaded entry points (valid after LoadMpegDecoder returned true).
const TMpegEntryPoints& MpegDecoder();

class TMMMpeg : public TObject {
public:
    TMMMpeg();
    ~TMMMpeg() override;
    TMMMpeg(const TMMMpeg&) = delete;
    TMMMpeg& operator=(const TMMMpeg&) = delete;

    void SetFileName(const std::string& name);
    std::string FileName() const;
    std::int32_t TrailingHeader() const { return trailingHeader_; }
    void SetTrailingHeader(std::int32_t value);
    bool Exactposition() const { return exactPosition_; }
    void SetExactposition(bool value);
    TChannelMode ChannelMode() const;
    void SetChannelMode(TChannelMode value);

    bool IsEmpty() const;
    void OpenFile();
    void CloseFile();
    void ResetFile();
    bool IsOpen() const { return open_; }
    std::int32_t ReadData(void* buffer, std::int32_t count);
    bool IsDone() const;
    std::int32_t Position() const;
    void SetPosition(std::int32_t frame);
    std::int32_t FrameTime() const;
    std::int32_t FrameBytes() const;

    const TMMMpegInfo& Info() const { return info_; }
    const TMMMpegTextTags& TextTags() const { return textTags_; }
    // The PCM format decoded data comes in; none while there is no file.
    const WAVEFORMATEX* PWaveFormat() const { return IsEmpty() ? nullptr : &format_; }
    TMpegHandle Handle() const { return handle_; }

    TNotifyEvent OnChange;

private:
    static void NotifyThunk(std::int32_t value, void* user);
    void StreamInfoChanged();
    void BuildFormat();
    [[noreturn]] static void Raise(std::int32_t code, const std::string& suffix = {});
    void Check(std::int32_t code) const;

    TMpegHandle handle_ = nullptr;
    std::int32_t trailingHeader_ = 0;
    bool exactPosition_ = false;
    TMMMpegInfo info_{};
    TMMMpegTextTags textTags_;
    WAVEFORMATEX format_{};
    bool open_ = false;
    std::exception_ptr notifyError_;
};

class TMMMPEGFile : public TMMDSPComponent {
public:
    explicit TMMMPEGFile(TComponent* owner = nullptr);
    ~TMMMPEGFile() override;

    TMMMpeg& Mpeg() { return mpeg_; }
    TNotifyEvent OnChange;
    TMMErrorEvent OnError;

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool value) { enabled_ = value; }
    std::string FileName() const { return mpeg_.FileName(); }
    void SetFileName(const std::string& name) { mpeg_.SetFileName(name); }
    std::int32_t TrailingHeader() const { return mpeg_.TrailingHeader(); }
    void SetTrailingHeader(std::int32_t value) { mpeg_.SetTrailingHeader(value); }
    TMpegVersion Version() const;
    std::int32_t Layer() const;
    TSampleMode Mode() const;
    std::int32_t BitRate() const;
    std::int32_t SampleRate() const;
    std::int32_t PlayBackRate() const;
    std::int32_t Frames() const;
    std::int32_t Time() const;
    TChannelMode ChannelMode() const { return mpeg_.ChannelMode(); }
    void SetChannelMode(TChannelMode value) { mpeg_.SetChannelMode(value); }
    bool Exactposition() const { return mpeg_.Exactposition(); }
    void SetExactposition(bool value) { mpeg_.SetExactposition(value); }
    std::int32_t Position() const { return mpeg_.Position(); }
    void SetPosition(std::int32_t frame) { mpeg_.SetPosition(frame); }

    void GetInfo(TMMMpegInfo& info) const { info = mpeg_.Info(); }
    const TMMMpegTextTags& TextTags() const { return mpeg_.TextTags(); }

    bool PublishesInput() const override { return false; }
    void Opened() override;
    void Started() override;
    void Stopped() override;
    void Closed() override;
    void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) override;

private:
    void MpegChanged();
    void LoadBuffer(PWaveHdr lpWaveHdr, bool& MoreBuffers);

    TMMMpeg mpeg_;
    bool enabled_ = true;
    bool decoderOpen_ = false;
    bool started_ = false;
    std::int32_t openPosition_ = 0;
};

bool IsMpegFile(const std::string& name);
bool GetMpegFileInfo(const std::string& name, TMMMpegInfo& info);
// The same, with the text fields of the file's ID3v2 tag.
bool GetMpegFileInfo(const std::string& name, TMMMpegInfo& info, TMMMpegTextTags& tags);
// Reads the text fields of the file `handle` has selected (all empty without the entry point).
TMMMpegTextTags ReadMpegTextTags(TMpegHandle handle);

} // namespace tunefold
