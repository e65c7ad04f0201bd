// tunefold-render: plays audio files and playlists through the player's chain (file source, the
// PCM converter with the player's settings, the wave output device) from the command line, renders
// them to a WAV file through the virtual sound card, or tells what a file is.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/logic/playlist_file.h"
#include "engine/devices/wave_out.h"
#include "engine/sources/acm_converter.h"
#include "engine/sources/mpeg_file.h"
#include "engine/sources/wave_file.h"
#include "engine/sources/wave_io.h"
#include "platform/dynamic_library.h"
#include "platform/linux/alsa_wave_out.h"
#include "platform/message_loop.h"
#include "platform/mmio.h"
#include "platform/platform_mode.h"
#include "platform/virtual/virtual_sound_card.h"
#include "platform/wave_device.h"
#include "tools/render/render_info.h"

#ifndef TUNEFOLD_VERSION
#define TUNEFOLD_VERSION "0.0.0"
#endif

namespace tf = tunefold;
namespace pf = tunefold::platform;

namespace {

constexpr int kExitOk = 0;
constexpr int kExitBadFile = 1;
constexpr int kExitUsage = 2;

const char* const kUsage =
    "Usage: tunefold-render [options] FILE|PLAYLIST...\n"
    "       tunefold-render --info FILE\n"
    "       tunefold-render --list-devices | --demo | --help | --version\n"
    "\n"
    "Plays MPEG audio (layers I-III) and WAVE files, and .lst/.m3u playlists, entry after entry,\n"
    "through the player's chain to a wave output device.\n"
    "\n"
    "  --progress      show elapsed and total time on one line\n"
    "  --out FILE.wav  render through the virtual sound card as fast as possible and write\n"
    "                  exactly what the device was given to FILE.wav\n"
    "  --device N      play to device N (-1 is the default device; see --list-devices)\n"
    "  --list-devices  list the wave output devices\n"
    "  --loop N        play every entry N more times (0: endlessly)\n"
    "  --info FILE     print the file's info line, length_ms=N and its tag text\n"
    "  --demo          play the demo track (rendered to a file when there is no sound device)\n"
    "  --help          this text\n"
    "  --version       the program's version\n"
    "\n"
    "Exit status: 0 success, 1 a file that is not a valid audio file (or a playback error),\n"
    "2 bad arguments.\n";

struct Options {
    bool progress = false;
    bool listDevices = false;
    bool demo = false;
    bool help = false;
    bool version = false;
    std::string out;
    std::string info;
    bool hasDevice = false;
    int device = pf::WAVE_MAPPER;
    int loop = -1;
    std::vector<std::string> files;
};

bool ParseInt(const std::string& text, int& value) {
    try {
        std::size_t used = 0;
        long v = std::stol(text, &used, 10);
        if (used != text.size() || v < -1000000 || v > 1000000) {
            return false;
        }
        value = static_cast<int>(v);
        return true;
    } catch (...) {
        return false;
    }
}

// False with a message on a bad command line.
bool Parse(int argc, char** argv, Options& o, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) {
                error = a + " needs a value";
                return false;
            }
            out = argv[++i];
            return true;
        };
        std::string v;
        if (a == "--progress") {
            o.progress = true;
        } else if (a == "--list-devices") {
            o.listDevices = true;
        } else if (a == "--demo") {
            o.demo = true;
        } else if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--version") {
            o.version = true;
        } else if (a == "--out") {
            if (!value(o.out)) {
                return false;
            }
            if (o.out.empty()) {
                error = "--out needs a file name";
                return false;
            }
        } else if (a == "--info") {
            if (!value(o.info)) {
                return false;
            }
        } else if (a == "--device") {
            if (!value(v) || !ParseInt(v, o.device) || o.device < -1) {
                error = error.empty() ? "--device needs a device number (-1 or more)" : error;
                return false;
            }
            o.hasDevice = true;
        } else if (a == "--loop") {
            if (!value(v) || !ParseInt(v, o.loop) || o.loop < 0 || o.loop > 65535) {
                error = error.empty() ? "--loop needs a count from 0 to 65535" : error;
                return false;
            }
        } else if (a == "--") {
            for (++i; i < argc; ++i) {
                o.files.emplace_back(argv[i]);
            }
        } else if (a.size() > 1 && a[0] == '-') {
            error = "unknown option " + a;
            return false;
        } else {
            o.files.push_back(a);
        }
    }
    const bool play = !o.files.empty() || o.demo;
    if (!o.help && !o.version && !o.listDevices && o.info.empty() && !play) {
        error = "nothing to play";
        return false;
    }
    if (!o.info.empty() && play) {
        error = "--info takes one file and plays nothing";
        return false;
    }
    return true;
}

std::string Clock(std::int64_t ms) {
    if (ms < 0) {
        ms = 0;
    }
    // Minutes within the hour, as the player's clocks show them.
    const std::int64_t seconds = ms / 1000;
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%02d:%02d", static_cast<int>((seconds / 60) % 60),
                  static_cast<int>(seconds % 60));
    return buffer;
}

std::string Folder(const std::string& path) {
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
}

// A playlist entry as the player resolves it: "\" separators, a leading "\" dropped, relative
// entries against the list's folder, then the program's folder.
std::string ResolveEntry(std::string entry, const std::string& listFile) {
    for (auto& c : entry) {
        if (c == '\\') {
            c = '/';
        }
    }
    if (!entry.empty() && entry[0] == '/' && !pf::mmioFileExists(entry)) {
        entry.erase(0, 1);
    }
    if (!entry.empty() && entry[0] != '/') {
        const std::string a = Folder(listFile) + "/" + entry;
        const std::string b = pf::ExecutableDirectory() + "/" + entry;
        if (pf::mmioFileExists(a)) {
            entry = a;
        }
        if (pf::mmioFileExists(b)) {
            entry = b;
        }
    }
    return entry;
}

// The entries an argument stands for: an audio file itself, else the entries of a playlist.
std::vector<std::string> Entries(const std::string& arg) {
    if (!pf::mmioFileExists(arg)) {
        return {};
    }
    if (tf::IsMpegFile(arg) || tf::IsWaveFile(arg, tf::wioFile)) {
        return {arg};
    }
    std::vector<std::string> list;
    try {
        tf::ReadPlaylist(arg, list);
    } catch (const std::exception&) {
        return {};
    }
    for (auto& e : list) {
        e = ResolveEntry(e, arg);
    }
    return list;
}

void NotValid(const std::string& path) {
    std::cerr << path << " is not a valid Audiofile\n";
}

// Behind the device with --out: every buffer the device has played goes into the WAV file, in
// order, across all entries. The virtual card's own record of what it played is let go as we go,
// so a long rendering needs no memory for it.
class RenderSink : public tf::TMMDSPComponent {
public:
    ~RenderSink() override { Finish(); }
    bool Create(const std::string& path, const tf::WAVEFORMATEX& format) {
        return tf::WaveIOCreate(record_, path, format) == tf::WIOERR_NOERROR;
    }
    bool IsCreated() const { return record_ != nullptr; }
    bool Failed() const { return failed_; }
    bool Finish() {
        if (record_ == nullptr) {
            return !failed_;
        }
        const bool ok = tf::WaveIOCloseFile(*record_) == tf::WIOERR_NOERROR;
        tf::WaveIOClose(record_);
        return ok && !failed_;
    }
    void BufferReady(tf::PWaveHdr h) override {
        if (record_ != nullptr && h->dwBytesRecorded > 0 &&
            tf::WaveIOWrite(*record_, h->lpData, static_cast<std::int32_t>(h->dwBytesRecorded)) !=
                static_cast<std::int32_t>(h->dwBytesRecorded)) {
            failed_ = true;
        }
        pf::VirtualSoundCard::Instance().ClearRecording();
        tf::TMMDSPComponent::BufferReady(h);
    }

private:
    tf::PWaveIORecord record_ = nullptr;
    bool failed_ = false;
};

// The player's chain, built once and re-linked per entry.
class Player {
public:
    Player(const Options& o) : options_(o) {
        wave_.Wave().SetTimeFormat(tf::tfMillisecond);
        converter_.BeginLoading();
        converter_.SetQuality(tf::cqHigh);
        converter_.SetAutoConvert(false);
        converter_.SetSampleRate(44100);
        converter_.SetBitLength(tf::b16Bit);
        converter_.SetMode(tf::mStereo);
        converter_.SetRequired({tf::rpBits});
        converter_.Loaded();
        out_.SetCallBackMode(tf::cmThread);
        out_.SetPriority(tf::tpHighest);
        out_.SetTimeFormat(tf::tfMillisecond);
        out_.SetNumBuffers(8);
        out_.SetBufferSize(o.out.empty() ? 16384 : 65536);
        out_.SetDeviceID(o.device);
        out_.SetInput(&converter_);
        if (!o.out.empty()) {
            out_.SetOutput(&sink_);
        }
        if (o.loop >= 0) {
            out_.SetLooping(true);
            out_.SetLoopCount(static_cast<std::uint16_t>(o.loop));
        }
    }

    // Plays one entry to its end; false when it is no audio file or playing failed.
    bool Play(const std::string& path) {
        const tf::render::FileInfo info = tf::render::DescribeFile(path);
        try {
            if (info.kind == tf::render::FileKind::Mpeg) {
                mpeg_.SetFileName(path);
                converter_.SetInput(&mpeg_);
            } else if (info.kind == tf::render::FileKind::Wave) {
                wave_.Wave().SetFileName(path);
                converter_.SetInput(&wave_);
            } else {
                NotValid(path);
                return false;
            }
            if (!CheckOutputFormat()) {
                return false;
            }
            out_.Start();
            const bool ok = WaitForEnd(info.lengthMs);
            out_.Close();
            if (options_.progress) {
                std::cout << '\n' << std::flush;
            }
            return ok;
        } catch (const std::exception& e) {
            out_.Close();
            std::cerr << path << ": " << e.what() << '\n';
            return false;
        }
    }

    const tf::WAVEFORMATEX* FirstFormat() const { return first_ ? &*first_ : nullptr; }
    RenderSink& Sink() { return sink_; }

private:
    // --out writes one WAV file: every entry must reach the device in the same format.
    bool CheckOutputFormat() {
        const tf::WAVEFORMATEX* f = converter_.PWaveFormat();
        if (f == nullptr) {
            std::cerr << "no audio format\n";
            return false;
        }
        if (!first_) {
            first_ = *f;
            if (!options_.out.empty() && !sink_.Create(options_.out, *f)) {
                std::cerr << "tunefold-render: cannot write " << options_.out << '\n';
                return false;
            }
            return true;
        }
        if (!options_.out.empty() && tf::WaveFormatsDiffer(&*first_, f)) {
            std::cerr << "--out: every entry must have the format of the first ("
                      << tf::FormatDescription(&*first_) << ")\n";
            return false;
        }
        return true;
    }

    bool WaitForEnd(std::int64_t totalMs) {
        auto& gui = pf::MessageLoop::Gui();
        auto lastShown = std::chrono::steady_clock::now() - std::chrono::seconds(1);
        auto lastMove = std::chrono::steady_clock::now();
        std::int64_t lastPos = -1;
        while (out_.State().Contains(tf::wosPlaying)) {
            gui.WaitAndProcess(50);
            const auto now = std::chrono::steady_clock::now();
            std::int64_t pos = 0;
            try {
                pos = out_.Position();
            } catch (const std::exception&) {
                pos = lastPos;
            }
            if (pos != lastPos) {
                lastPos = pos;
                lastMove = now;
            } else if (now - lastMove > std::chrono::seconds(15)) {
                // A device that no longer moves is not coming back.
                std::cerr << "playback stalled\n";
                out_.Stop();
                return false;
            }
            if (options_.progress && now - lastShown >= std::chrono::milliseconds(250)) {
                lastShown = now;
                std::cout << '\r' << Clock(pos) << " / " << Clock(totalMs) << std::flush;
            }
        }
        gui.ProcessMessages();
        if (options_.progress) {
            std::cout << '\r' << Clock(totalMs) << " / " << Clock(totalMs) << std::flush;
        }
        return true;
    }

    const Options& options_;
    tf::TMMMPEGFile mpeg_;
    tf::TMMWaveFile wave_;
    tf::TMMPCMConverter converter_;
    tf::TMMWaveOut out_;
    RenderSink sink_;
    std::optional<tf::WAVEFORMATEX> first_;
};

bool RealDeviceAvailable(int device) {
    tf::WAVEFORMATEX f{};
    tf::MakePCMFormat(f, 16, 2, 44100);
    return pf::AlsaWaveOut::Instance().Open(nullptr, device, &f, nullptr, 0, pf::WAVE_FORMAT_QUERY) ==
           tf::MMSYSERR_NOERROR;
}

std::string DemoTrack() {
    return pf::ExecutableDirectory() + "/tunefold-demo.mp3";
}

int ListDevices() {
    auto& devices = pf::WaveOut();
    const tf::UINT count = devices.GetNumDevs();
    for (int id = -1; id < static_cast<int>(count); ++id) {
        pf::WAVEOUTCAPS caps;
        if (devices.GetDevCaps(id, caps) == tf::MMSYSERR_NOERROR) {
            std::cout << id << ": " << caps.szPname << '\n';
        }
    }
    if (count == 0) {
        std::cout << "no wave output devices\n";
    }
    return kExitOk;
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    std::string error;
    if (!Parse(argc, argv, o, error)) {
        std::cerr << "tunefold-render: " << error << "\n\n" << kUsage;
        return kExitUsage;
    }
    if (o.help) {
        std::cout << kUsage;
        return kExitOk;
    }
    if (o.version) {
        std::cout << "tunefold-render " << TUNEFOLD_VERSION << '\n';
        return kExitOk;
    }
    pf::MessageLoop::Gui().BindToCurrentThread();
    if (!o.info.empty()) {
        const auto info = tunefold::render::DescribeFile(o.info);
        std::cout << info.infoLine << "\nlength_ms=" << info.lengthMs << '\n' << info.tagLine << '\n';
        if (info.kind == tunefold::render::FileKind::Unknown) {
            NotValid(o.info);
            return kExitBadFile;
        }
        return kExitOk;
    }
    if (o.listDevices) {
        return ListDevices();
    }
    if (o.demo) {
        o.files = {DemoTrack()};
        o.progress = true;
        if (o.out.empty() && !pf::VirtualPlatformRequested() && !RealDeviceAvailable(o.device)) {
            o.out = pf::ExecutableDirectory() + "/tunefold-demo.wav";
            std::cout << "No sound device: rendering the demo to " << pf::mmioFullPath(o.out)
                      << " instead.\n";
        }
    }
    if (!o.out.empty() || pf::VirtualPlatformRequested()) {
        pf::UseVirtualPlatform(true);
        auto& card = pf::VirtualSoundCard::Instance();
        card.SetClock(o.out.empty() ? pf::VirtualClock::RealTime : pf::VirtualClock::Fast);
        card.ClearRecording();
    }
    tf::SetDirectCallbacksAllowed(false);
    if (o.hasDevice) {
        const int count = static_cast<int>(pf::WaveOut().GetNumDevs());
        if (o.device >= count) {
            std::cerr << "tunefold-render: no device " << o.device << " (there are " << count << ")\n";
            return kExitUsage;
        }
    }

    int status = kExitOk;
    try {
        Player player(o);
        for (const auto& arg : o.files) {
            const auto entries = Entries(arg);
            if (entries.empty()) {
                NotValid(arg);
                status = kExitBadFile;
                continue;
            }
            for (const auto& entry : entries) {
                if (!player.Play(entry)) {
                    status = kExitBadFile;
                }
            }
        }
        if (!o.out.empty()) {
            if (!player.Sink().IsCreated()) {
                return status == kExitOk ? kExitBadFile : status;
            }
            if (!player.Sink().Finish()) {
                std::cerr << "tunefold-render: cannot write " << o.out << '\n';
                return kExitBadFile;
            }
        }
    } catch (const std::exception& e) {
        std::cerr << "tunefold-render: " << e.what() << '\n';
        return kExitBadFile;
    }
    return status;
}
