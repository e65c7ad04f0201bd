#include "engine/sources/mpeg_file.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <list>
#include <memory>
#include <mutex>
#include <optional>

#include "engine/sources/wave_io.h"
#include "platform/dialogs.h"
#include "platform/dynamic_library.h"
#include "platform/mmio.h"

namespace tunefold {

namespace {

struct LoaderState {
    std::recursive_mutex lock;
    std::unique_ptr<platform::DynamicLibrary> library;
    TMpegEntryPoints entry;
    std::string libraryName = MMMPEG_LIBRARY_NAME;
};

LoaderState& Loader() {
    static LoaderState state;
    return state;
}

void ShowLoaderMessage(const std::string& text) {
    platform::Dialogs().MessageBox(text, "Error", platform::MB_OK | platform::MB_ICONERROR);
}

template <typename Fn>
void Lookup(const platform::DynamicLibrary& lib, Fn& slot, const char* name) {
    slot = reinterpret_cast<Fn>(lib.Symbol(name));
}

bool LookupAll(const platform::DynamicLibrary& lib, TMpegEntryPoints& e) {
    Lookup(lib, e.Version, "mpeg_Version");
    Lookup(lib, e.Init, "mpeg_Init");
    Lookup(lib, e.Done, "mpeg_Done");
    Lookup(lib, e.SetFileName, "mpeg_SetFileName");
    Lookup(lib, e.GetFileName, "mpeg_GetFileName");
    Lookup(lib, e.GetEmpty, "mpeg_GetEmpty");
    Lookup(lib, e.GetFileInfo, "mpeg_GetFileInfo");
    Lookup(lib, e.OpenFile, "mpeg_OpenFile");
    Lookup(lib, e.CloseFile, "mpeg_CloseFile");
    Lookup(lib, e.ResetFile, "mpeg_ResetFile");
    Lookup(lib, e.ReadDataBytes, "mpeg_ReadDataBytes");
    Lookup(lib, e.GetDone, "mpeg_GetDone");
    Lookup(lib, e.SetPosition, "mpeg_SetPosition");
    Lookup(lib, e.GetPosition, "mpeg_GetPosition");
    Lookup(lib, e.SetChannelMode, "mpeg_SetChannelMode");
    Lookup(lib, e.GetChannelMode, "mpeg_GetChannelMode");
    Lookup(lib, e.SetTrailingHeader, "mpeg_SetTrailingHeader");
    Lookup(lib, e.SetExactPosition, "mpeg_SetExactPosition");
    Lookup(lib, e.Clear, "mpeg_Clear");
    Lookup(lib, e.GetErrorText, "mpeg_GetErrorText");
    Lookup(lib, e.SetDecodeCallback, "mpeg_SetDecodeCallback");
    Lookup(lib, e.SetDecodeMode, "mpeg_SetDecodeMode");
    Lookup(lib, e.SetFileOffset, "mpeg_SetFileOffset");
    Lookup(lib, e.AbortReadData, "mpeg_AbortReadData");
    Lookup(lib, e.ScanFile, "mpeg_ScanFile");
    Lookup(lib, e.ScanFileEx, "mpeg_ScanFileEx");
    Lookup(lib, e.EncryptFile, "mpeg_EncryptFile");
    Lookup(lib, e.ReadID3Tag, "mpeg_ReadID3Tag");
    Lookup(lib, e.GetTextTag, "mpeg_GetTextTag");
    // Everything the player calls must be there; a library without them is as good as too old.
    return e.Init && e.Done && e.SetFileName && e.GetFileName && e.GetEmpty && e.GetFileInfo && e.OpenFile &&
           e.CloseFile && e.ResetFile && e.ReadDataBytes && e.GetDone && e.SetPosition && e.GetPosition &&
           e.SetChannelMode && e.GetChannelMode && e.SetTrailingHeader && e.SetExactPosition && e.Clear &&
           e.GetErrorText;
}

std::string ErrorText(std::int32_t code) {
    char buffer[256] = {0};
    const auto& e = MpegDecoder();
    if (e.GetErrorText == nullptr || e.GetErrorText(code, buffer, sizeof buffer) != 0) {
        return {};
    }
    buffer[sizeof buffer - 1] = '\0';
    return buffer;
}

std::string Upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return s;
}

// The common preconditions of the free routines.
bool MayBeMpegFile(const std::string& name) {
    if (!LoadMpegDecoder() || name.empty()) {
        return false;
    }
    const std::string upper = Upper(name);
    return platform::mmioFileExists(name) || upper.find("RESOURCE://") != std::string::npos ||
           upper.find("POINTER://") != std::string::npos;
}

// -1 when the file is not a RIFF WAVE file, else its format tag.
int WaveFormatTag(const std::string& name) {
    PWaveIORecord rec = nullptr;
    if (WaveIOOpenInfo(rec, name, platform::mmioFOURCC('W', 'A', 'V', 'E'), wioFile) != WIOERR_NOERROR) {
        return -1;
    }
    int tag = rec->Format->wFormatTag;
    WaveIOClose(rec);
    return tag;
}

struct TempDecoder {
    TMpegHandle handle = nullptr;
    TempDecoder() {
        std::int32_t code = 0;
        handle = MpegDecoder().Init(&code, nullptr, nullptr);
        if (code != 0 && handle != nullptr) {
            MpegDecoder().Done(&handle);
        }
    }
    ~TempDecoder() {
        if (handle != nullptr) {
            MpegDecoder().Done(&handle);
        }
    }
};

struct FileStamp {
    std::uintmax_t size = 0;
    std::filesystem::file_time_type written{};
    bool operator==(const FileStamp&) const = default;
};

// What the decoder said of a file.
struct Probe {
    bool isMpeg = false;
    TMMMpegInfo info{};
    TMMMpegTextTags tags;
};

// Asking the decoder about a file opens and scans it whole, and the same file is asked about several
// times in a row (its playlist entry, its info line, then playing it). The last few answers are kept,
// each with the file's size and modification time: a file that changed is asked about afresh.
class ProbeMemo {
public:
    static ProbeMemo& Instance() {
        static ProbeMemo memo;
        return memo;
    }

    std::optional<Probe> Find(const std::string& name, const FileStamp& stamp) {
        std::lock_guard lock(mutex_);
        for (auto it = entries_.begin(); it != entries_.end(); ++it) {
            if (it->name == name && it->stamp == stamp) {
                entries_.splice(entries_.begin(), entries_, it);
                return it->probe;
            }
        }
        return std::nullopt;
    }

    // `stamp` is the file's stamp from before the decoder read it, so a change made meanwhile is not
    // taken for the file that was read.
    void Keep(const std::string& name, const FileStamp& stamp, const Probe& probe) {
        std::lock_guard lock(mutex_);
        entries_.remove_if([&](const Entry& e) { return e.name == name; });
        entries_.push_front(Entry{name, stamp, probe});
        if (entries_.size() > kEntries) {
            entries_.pop_back();
        }
    }

    // Size and modification time; nothing for names that are no plain files.
    static std::optional<FileStamp> Stamp(const std::string& name) {
        std::error_code ec;
        const std::filesystem::path path(name);
        if (!std::filesystem::is_regular_file(path, ec)) {
            return std::nullopt;
        }
        FileStamp stamp;
        stamp.size = std::filesystem::file_size(path, ec);
        if (ec) {
            return std::nullopt;
        }
        stamp.written = std::filesystem::last_write_time(path, ec);
        if (ec) {
            return std::nullopt;
        }
        return stamp;
    }

private:
    static constexpr std::size_t kEntries = 16;
    struct Entry {
        std::string name;
        FileStamp stamp;
        Probe probe;
    };
    std::mutex mutex_;
    std::list<Entry> entries_;
};

Probe ProbeWithDecoder(const std::string& name) {
    const auto stamp = ProbeMemo::Stamp(name);
    if (stamp) {
        if (auto known = ProbeMemo::Instance().Find(name, *stamp)) {
            return *known;
        }
    }
    Probe probe;
    TempDecoder d;
    if (d.handle == nullptr) {
        return probe;
    }
    const auto& e = MpegDecoder();
    probe.isMpeg = e.SetFileName(d.handle, name.c_str()) == 0 && e.GetEmpty(d.handle) == 0 &&
                   e.OpenFile(d.handle) == 0 && e.CloseFile(d.handle) == 0 &&
                   e.GetFileInfo(d.handle, &probe.info) == 0;
    if (probe.isMpeg) {
        probe.tags = ReadMpegTextTags(d.handle);
    } else {
        probe.info = TMMMpegInfo{};
    }
    // A file written moments ago may be written again within the same tick of its clock, with the
    // same size: only files that have rested a while are kept.
    constexpr auto kSettled = std::chrono::seconds(2);
    if (stamp && std::filesystem::file_time_type::clock::now() - stamp->written > kSettled) {
        ProbeMemo::Instance().Keep(name, *stamp, probe);
    }
    return probe;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// loader

bool LoadMpegDecoder() {
    auto& s = Loader();
    std::lock_guard guard(s.lock);
    if (s.library) {
        return true;
    }
    std::unique_ptr<platform::DynamicLibrary> lib;
    const std::string dir = platform::ExecutableDirectory();
    if (s.libraryName.find('/') != std::string::npos) {
        lib = platform::LoadDynamicLibrary(s.libraryName);
    } else {
        if (!dir.empty()) {
            lib = platform::LoadDynamicLibrary(dir + "/" + s.libraryName);
#ifdef TUNEFOLD_PLUGIN_DIR_FROM_BIN
            // An installed program: the library's own folder below the prefix.
            if (!lib) {
                lib =
                    platform::LoadDynamicLibrary(dir + "/" TUNEFOLD_PLUGIN_DIR_FROM_BIN "/" + s.libraryName);
            }
#endif
            if (!lib) {
                lib = platform::LoadDynamicLibrary(dir + "/../lib/" + s.libraryName);
            }
        }
        if (!lib) {
            lib = platform::LoadDynamicLibrary(s.libraryName);
        }
    }
    if (!lib) {
        ShowLoaderMessage("Unable to load MMMPEG32.DLL");
        return false;
    }
    TMpegEntryPoints entry;
    bool complete = LookupAll(*lib, entry);
    if (entry.Version == nullptr || entry.Version() < 20 || !complete) {
        lib.reset();
        ShowLoaderMessage("Invalid Mpeg Decoder DLL version");
        return false;
    }
    s.entry = entry;
    s.library = std::move(lib);
    return true;
}

void SetMpegDecoderLibraryName(const std::string& name) {
    auto& s = Loader();
    std::lock_guard guard(s.lock);
    s.libraryName = name.empty() ? std::string(MMMPEG_LIBRARY_NAME) : name;
}

void UnloadMpegDecoder() {
    auto& s = Loader();
    std::lock_guard guard(s.lock);
    s.library.reset();
    s.entry = TMpegEntryPoints{};
}

const TMpegEntryPoints& MpegDecoder() {
    return Loader().entry;
}

// ---------------------------------------------------------------------------------------------
// TMMMpeg

void TMMMpeg::Raise(std::int32_t code, const std::string& suffix) {
    throw EMMMpegError(ErrorText(code) + suffix);
}

void TMMMpeg::Check(std::int32_t code) const {
    if (code != 0) {
        Raise(code);
    }
}

TMMMpeg::TMMMpeg() {
    if (!LoadMpegDecoder()) {
        throw EMMMpegError(std::string("Unable to load") + " MMMPEG32.DLL");
    }
    std::int32_t code = 0;
    handle_ = MpegDecoder().Init(&code, &TMMMpeg::NotifyThunk, this);
    if (code != 0 || handle_ == nullptr) {
        if (handle_ != nullptr) {
            MpegDecoder().Done(&handle_);
        }
        Raise(code);
    }
}

TMMMpeg::~TMMMpeg() {
    try {
        CloseFile();
    } catch (...) {
    }
    if (handle_ != nullptr) {
        MpegDecoder().Done(&handle_);
    }
}

void TMMMpeg::NotifyThunk(std::int32_t /*value*/, void* user) {
    auto* self = static_cast<TMMMpeg*>(user);
    // Nothing may unwind through the library: an error here is raised once the call returns.
    try {
        self->StreamInfoChanged();
    } catch (...) {
        self->notifyError_ = std::current_exception();
    }
}

void TMMMpeg::StreamInfoChanged() {
    if (!IsEmpty()) {
        Check(MpegDecoder().GetFileInfo(handle_, &info_));
        textTags_ = ReadMpegTextTags(handle_);
        BuildFormat();
    } else {
        std::memset(&info_, 0, sizeof info_);
        textTags_ = {};
    }
    if (OnChange) {
        OnChange(this);
    }
}

void TMMMpeg::BuildFormat() {
    const int channels = (info_.Mode == smSingleChannel || ChannelMode() != cmBoth) ? 1 : 2;
    MakePCMFormat(format_, 16, channels, static_cast<DWORD>(info_.PlaybackRate));
}

void TMMMpeg::SetFileName(const std::string& name) {
    if (open_) {
        CloseFile();
    }
    notifyError_ = nullptr;
    std::int32_t code = MpegDecoder().SetFileName(handle_, name.c_str());
    if (notifyError_) {
        auto e = notifyError_;
        notifyError_ = nullptr;
        std::rethrow_exception(e);
    }
    Check(code);
}

std::string TMMMpeg::FileName() const {
    char buffer[256] = {0};
    Check(MpegDecoder().GetFileName(handle_, buffer, sizeof buffer));
    buffer[sizeof buffer - 1] = '\0';
    return buffer;
}

void TMMMpeg::SetTrailingHeader(std::int32_t value) {
    if (value == trailingHeader_) {
        return;
    }
    trailingHeader_ = value;
    Check(MpegDecoder().SetTrailingHeader(handle_, value));
}

void TMMMpeg::SetExactposition(bool value) {
    exactPosition_ = value;
    Check(MpegDecoder().SetExactPosition(handle_, value ? 1 : 0));
}

TChannelMode TMMMpeg::ChannelMode() const {
    std::int32_t mode = 0;
    MpegDecoder().GetChannelMode(handle_, &mode);
    return static_cast<TChannelMode>(mode & 0xFF);
}

void TMMMpeg::SetChannelMode(TChannelMode value) {
    if (open_) {
        throw EMMMpegError("Change to property while device was open");
    }
    Check(MpegDecoder().SetChannelMode(handle_, static_cast<std::int32_t>(value)));
    if (!IsEmpty()) {
        const WAVEFORMATEX before = format_;
        BuildFormat();
        // The decoder delivers the new layout from now on: the chain must hear of it as it hears
        // of a new file, or it would play mono data as stereo at twice the speed.
        if (std::memcmp(&before, &format_, sizeof before) != 0 && OnChange) {
            OnChange(this);
        }
    }
}

bool TMMMpeg::IsEmpty() const {
    return MpegDecoder().GetEmpty(handle_) != 0;
}

void TMMMpeg::OpenFile() {
    if (!IsEmpty() && !open_) {
        Check(MpegDecoder().OpenFile(handle_));
        open_ = true;
    }
}

void TMMMpeg::CloseFile() {
    if (open_) {
        open_ = false;
        Check(MpegDecoder().CloseFile(handle_));
    }
}

void TMMMpeg::ResetFile() {
    if (open_) {
        Check(MpegDecoder().ResetFile(handle_));
    }
}

std::int32_t TMMMpeg::ReadData(void* buffer, std::int32_t count) {
    if (!open_) {
        return 0;
    }
    std::int32_t n = MpegDecoder().ReadDataBytes(handle_, buffer, count);
    if (n < 0) {
        Raise(-n);
    }
    return n;
}

bool TMMMpeg::IsDone() const {
    return MpegDecoder().GetDone(handle_) != 0;
}

std::int32_t TMMMpeg::Position() const {
    return MpegDecoder().GetPosition(handle_);
}

void TMMMpeg::SetPosition(std::int32_t frame) {
    const std::int32_t start = open_ ? std::max(frame - 2, 0) : std::max(frame, 0);
    std::int32_t code = MpegDecoder().SetPosition(handle_, start);
    if (code != 0) {
        Raise(code, ": " + std::to_string(frame));
    }
    if (!open_) {
        return;
    }
    // Decoding the frames before the target rebuilds the state the target frame depends on.
    std::uint8_t scratch[4608];
    const std::int32_t bytes = std::clamp(FrameBytes(), 4, static_cast<std::int32_t>(sizeof scratch));
    while (Position() < frame && !IsDone()) {
        if (ReadData(scratch, bytes) <= 0) {
            break;
        }
    }
}

std::int32_t TMMMpeg::FrameTime() const {
    return IsEmpty() ? 0 : static_cast<std::int32_t>(std::lround(info_.FrameTime));
}

std::int32_t TMMMpeg::FrameBytes() const {
    if (IsEmpty()) {
        return 0;
    }
    auto bytes = static_cast<std::int32_t>(std::lround(format_.nAvgBytesPerSec * info_.FrameTime / 1000.0));
    return bytes & ~3;
}

// ---------------------------------------------------------------------------------------------
// TMMMPEGFile

TMMMPEGFile::TMMMPEGFile(TComponent* owner) : TMMDSPComponent(owner) {
    mpeg_.OnChange = [this](TObject*) { MpegChanged(); };
}

TMMMPEGFile::~TMMMPEGFile() {
    mpeg_.OnChange = nullptr;
}

void TMMMPEGFile::MpegChanged() {
    SetPWaveFormat(mpeg_.PWaveFormat());
    if (OnChange) {
        OnChange(this);
    }
}

TMpegVersion TMMMPEGFile::Version() const {
    return mpeg_.IsEmpty() ? v1 : static_cast<TMpegVersion>(mpeg_.Info().Version);
}
std::int32_t TMMMPEGFile::Layer() const {
    return mpeg_.IsEmpty() ? 0 : mpeg_.Info().Layer;
}
TSampleMode TMMMPEGFile::Mode() const {
    return mpeg_.IsEmpty() ? smStereo : static_cast<TSampleMode>(mpeg_.Info().Mode);
}
std::int32_t TMMMPEGFile::BitRate() const {
    return mpeg_.IsEmpty() ? 0 : mpeg_.Info().BitRate;
}
std::int32_t TMMMPEGFile::SampleRate() const {
    return mpeg_.IsEmpty() ? 0 : mpeg_.Info().SampleRate;
}
std::int32_t TMMMPEGFile::PlayBackRate() const {
    return mpeg_.IsEmpty() ? 0 : mpeg_.Info().PlaybackRate;
}
std::int32_t TMMMPEGFile::Frames() const {
    return mpeg_.IsEmpty() ? 0 : mpeg_.Info().Frames;
}
std::int32_t TMMMPEGFile::Time() const {
    return mpeg_.IsEmpty() ? 0 : mpeg_.Info().Time;
}

void TMMMPEGFile::Opened() {
    TMMDSPComponent::Opened();
    if (!decoderOpen_) {
        mpeg_.OpenFile();
        decoderOpen_ = true;
        openPosition_ = mpeg_.Position();
    }
}

void TMMMPEGFile::Started() {
    TMMDSPComponent::Started();
    if (decoderOpen_ && !started_) {
        started_ = true;
        // Without a file there is nothing to position (the library would refuse).
        if (!mpeg_.IsEmpty()) {
            mpeg_.SetPosition(openPosition_);
        }
    }
}

void TMMMPEGFile::Stopped() {
    if (decoderOpen_ && started_) {
        started_ = false;
    }
    TMMDSPComponent::Stopped();
}

void TMMMPEGFile::Closed() {
    if (decoderOpen_) {
        Stopped();
        mpeg_.CloseFile();
        decoderOpen_ = false;
    }
    TMMDSPComponent::Closed();
}

void TMMMPEGFile::LoadBuffer(PWaveHdr lpWaveHdr, bool& MoreBuffers) {
    const bool hasFile = !mpeg_.IsEmpty();
    if (hasFile && started_ && enabled_) {
        std::int32_t n =
            mpeg_.ReadData(lpWaveHdr->lpData, static_cast<std::int32_t>(lpWaveHdr->dwBufferLength));
        lpWaveHdr->dwBytesRecorded = static_cast<DWORD>(std::max(n, 0));
        if (n <= 0) {
            return;
        }
        if (!mpeg_.IsDone()) {
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
            mpeg_.ResetFile();
            MoreBuffers = true;
            header->LoopRestart = -1;
        }
        return;
    }
    if (hasFile) {
        std::memset(lpWaveHdr->lpData, 0, lpWaveHdr->dwBufferLength);
        lpWaveHdr->dwBytesRecorded = lpWaveHdr->dwBufferLength;
        MoreBuffers = true;
        return;
    }
    lpWaveHdr->dwBytesRecorded = 0;
}

void TMMMPEGFile::BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) {
    try {
        LoadBuffer(lpWaveHdr, MoreBuffers);
    } catch (...) {
        bool handled = false;
        if (OnError) {
            OnError(this, handled);
        }
        if (!handled) {
            throw;
        }
        // An orderly end: the buffer's first four bytes as they stand, and no more.
        lpWaveHdr->dwBytesRecorded = std::min<DWORD>(4, lpWaveHdr->dwBufferLength);
        MoreBuffers = false;
    }
}

// ---------------------------------------------------------------------------------------------

bool IsMpegFile(const std::string& name) {
    if (!MayBeMpegFile(name)) {
        return false;
    }
    int tag = WaveFormatTag(name);
    if (tag >= 0) {
        return tag == 80 || tag == 85;
    }
    return ProbeWithDecoder(name).isMpeg;
}

TMMMpegTextTags ReadMpegTextTags(TMpegHandle handle) {
    TMMMpegTextTags tags;
    const auto& e = MpegDecoder();
    if (e.GetTextTag == nullptr || handle == nullptr) {
        return tags;
    }
    auto read = [&](std::int32_t field, std::string& out) {
        char buffer[1024];
        if (e.GetTextTag(handle, field, buffer, sizeof buffer) == 0) {
            buffer[sizeof buffer - 1] = '\0';
            out = buffer;
        }
    };
    read(MPEG_TEXT_TITLE, tags.Title);
    read(MPEG_TEXT_ARTIST, tags.Artist);
    read(MPEG_TEXT_ALBUM, tags.Album);
    return tags;
}

bool GetMpegFileInfo(const std::string& name, TMMMpegInfo& info) {
    TMMMpegTextTags unused;
    return GetMpegFileInfo(name, info, unused);
}

bool GetMpegFileInfo(const std::string& name, TMMMpegInfo& info, TMMMpegTextTags& tags) {
    if (!MayBeMpegFile(name)) {
        return false;
    }
    int tag = WaveFormatTag(name);
    if (tag >= 0 && tag != 80 && tag != 85) {
        return false;
    }
    const Probe probe = ProbeWithDecoder(name);
    if (probe.isMpeg) {
        info = probe.info;
        tags = probe.tags;
    }
    return probe.isMpeg;
}

} // namespace tunefold
