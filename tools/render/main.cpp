// tunefold-render: plays audio files and playlists through the player's chain (file source, the
// PCM converter with the player's settings, volume, equalizer, the wave output device and the
// connector behind it) from the command line, renders them to a WAV file through the virtual sound
// card, takes a picture of the displays at one moment, or tells what a file is.
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/logic/eq_curve.h"
#include "app/logic/file_info.h"
#include "app/logic/play_entries.h"
#include "app/logic/player_chain.h"
#include "engine/devices/ring_buffer.h"
#include "engine/devices/wave_in.h"
#include "engine/devices/wave_out.h"
#include "engine/displays/player_displays.h"
#include "engine/sources/acm_converter.h"
#include "engine/sources/wave_io.h"
#include "platform/atomic_file.h"
#include "platform/cd_audio.h"
#include "platform/dynamic_library.h"
#include "platform/input_file.h"
#include "platform/message_loop.h"
#include "platform/mmio.h"
#include "platform/platform_mode.h"
#include "platform/virtual/virtual_sound_card.h"
#include "platform/virtual/virtual_timers.h"
#include "platform/wave_device.h"
#include "tools/render/disc_info.h"
#include "tools/render/display_snapshot.h"

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
    "       tunefold-render --line-in SECONDS [options]\n"
    "       tunefold-render --info FILE\n"
    "       tunefold-render --disc-info | --cd-track N [options]\n"
    "       tunefold-render --list-devices | --demo | --help | --version\n"
    "\n"
    "Plays MPEG audio (layers I-III) and WAVE files, and .lst/.m3u playlists, entry after entry,\n"
    "through the player's chain to a wave output device.\n"
    "\n"
    "  --progress      show elapsed and total time on one line\n"
    "  --out FILE.wav  render through the virtual sound card as fast as possible and write\n"
    "                  exactly what the device was given to FILE.wav; the file appears only when\n"
    "                  the rendering is complete (an interrupted one leaves FILE.wav as it was)\n"
    "  --device N      play to device N (-1 is the default device; see --list-devices)\n"
    "  --list-devices  list the wave output devices\n"
    "  --loop N        play every entry N more times (0: endlessly; not with --out)\n"
    "  --volume V      the pre-volume, 0 .. 32768 (16384, the default, leaves the samples as they are)\n"
    "  --balance B     -16384 .. 16384 (negative: the right channel is lowered, positive: the left)\n"
    "  --eq FILE       the band gains of the equalizer curve in FILE (*.eq, normal.eq0)\n"
    "  --bands G1,...,G10\n"
    "                  the ten equalizer band gains in dB, -20 .. 20 (default: all 0)\n"
    "  --no-eq         leave the equalizer out of the chain\n"
    "  --snapshot-ms T --snapshot FILE.bmp\n"
    "                  write a picture of the level meters and the spectrum when the played position\n"
    "                  of an entry reaches T milliseconds\n"
    "  --spectrum-kind K\n"
    "                  the spectrum's picture: 1 scroll (default), 2 bars, 3 dots, 4 lines, 5 peaks,\n"
    "                  6 vertical lines\n"
    "  --line-in SECONDS\n"
    "                  record SECONDS seconds from the default wave input (the sound server's default\n"
    "                  source) and play them through the player's line-in route: a ring of 132\n"
    "                  buffers, the pre-volume, the equalizer and the output device (or --out\n"
    "                  FILE.wav, written in real time); the output starts with about 2.3 s of\n"
    "                  silence while its queue and the ring fill; --volume, --balance, --eq,\n"
    "                  --bands, --no-eq and --device apply as for files\n"
    "  --info FILE     print the file's info line, length_ms=N and its tag text (an MPEG file's\n"
    "                  ID3v1 title, artist and album, else those of its ID3v2 tag, as UTF-8)\n"
    "  --disc-info     print the DiscID of the audio CD in the drive, its artist, title and track\n"
    "                  names from the title database (cdplayer.ini in the configuration folder),\n"
    "                  the tracks' lengths and the play order\n"
    "  --cd-track N    play track N of the audio CD in the drive, read digitally, through the chain\n"
    "                  (--out, --volume, --balance, --eq, --bands, --no-eq and --device apply as\n"
    "                  for files); with TUNEFOLD_PLATFORM=virtual the drive is the virtual one, its\n"
    "                  disc the layout file TUNEFOLD_VIRTUAL_CD names\n"
    "  --demo          play the demo track (rendered to a file when there is no sound device)\n"
    "  --help          this text\n"
    "  --version       the program's version\n"
    "\n"
    "WAVE files: PCM of 8, 16, 24 or 32 bits, 32- or 64-bit IEEE float, WAVE_FORMAT_EXTENSIBLE,\n"
    "1 to 8 channels, G.711 A-law and mu-law, IMA and Microsoft ADPCM, MPEG audio in WAVE. Wider\n"
    "samples and float become 16 bits (rounded, float beyond full scale saturated, no dither);\n"
    "more than two channels fold into stereo (front left and right at 1, centre and surrounds at\n"
    "-3 dB, the low-frequency channel left out).\n"
    "\n"
    "Playlists are text files with one entry per line (CR LF, CR or LF line ends); lines that\n"
    "start with # and entries naming no existing file are skipped.\n"
    "\n"
    "Exit status: 0 success, 1 a file that is not a valid audio file (or a playback error, or no\n"
    "sound device), 2 bad arguments (an output that is one of the inputs among them), 128+N when\n"
    "ended by signal N (SIGINT, SIGTERM).\n";

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
    int volume = 16384;
    int balance = 0;
    bool noEq = false;
    std::string eqFile;
    bool hasBands = false;
    std::array<float, 10> bands{};
    std::int64_t snapshotMs = -1;
    std::string snapshot;
    int spectrumKind = 1;
    bool hasSpectrumKind = false;
    int lineIn = 0; // seconds to record, 0: no recording
    bool discInfo = false;
    int cdTrack = 0; // the CD track to play, 0: none
    std::vector<std::string> files;
};

// Names and entries come from outside: shown with control characters escaped and cut short.
std::string Shown(const std::string& text) {
    return tf::PrintableText(text);
}

// SIGINT and SIGTERM end the playing entry at the next look and the program after it; a second
// signal ends the program at once (the handlers are reset by the first).
std::atomic<int> interruptSignal{0};

extern "C" void OnInterrupt(int signal) {
    interruptSignal.store(signal);
}

void InstallInterruptHandlers() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int Interrupted() {
    return interruptSignal.load();
}

// Ten numbers separated by commas, each within the equalizer window's -20 .. 20 dB.
bool ParseBands(const std::string& text, std::array<float, 10>& bands) {
    std::size_t start = 0;
    for (int i = 0; i < 10; ++i) {
        const std::size_t comma = text.find(',', start);
        if ((i < 9) != (comma != std::string::npos)) {
            return false;
        }
        const std::string item =
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        try {
            std::size_t used = 0;
            const double v = std::stod(item, &used);
            if (item.empty() || used != item.size() || !std::isfinite(v) || v < -20.0 || v > 20.0) {
                return false;
            }
            bands[static_cast<std::size_t>(i)] = static_cast<float>(v);
        } catch (...) {
            return false;
        }
        start = comma + 1;
    }
    return true;
}

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
        } else if (a == "--line-in") {
            if (!value(v) || !ParseInt(v, o.lineIn) || o.lineIn < 1 || o.lineIn > 86400) {
                error = error.empty() ? "--line-in needs a time in seconds from 1 to 86400" : error;
                return false;
            }
        } else if (a == "--disc-info") {
            o.discInfo = true;
        } else if (a == "--cd-track") {
            if (!value(v) || !ParseInt(v, o.cdTrack) || o.cdTrack < 1 || o.cdTrack > 99) {
                error = error.empty() ? "--cd-track needs a track number from 1 to 99" : error;
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
        } else if (a == "--volume") {
            if (!value(v) || !ParseInt(v, o.volume) || o.volume < 0 || o.volume > 32768) {
                error = error.empty() ? "--volume needs a value from 0 to 32768" : error;
                return false;
            }
        } else if (a == "--balance") {
            if (!value(v) || !ParseInt(v, o.balance) || o.balance < -16384 || o.balance > 16384) {
                error = error.empty() ? "--balance needs a value from -16384 to 16384" : error;
                return false;
            }
        } else if (a == "--eq") {
            if (!value(o.eqFile)) {
                return false;
            }
            if (o.eqFile.empty()) {
                error = "--eq needs a curve file";
                return false;
            }
        } else if (a == "--bands") {
            if (!value(v) || !ParseBands(v, o.bands)) {
                error = error.empty() ? "--bands needs ten gains in dB from -20 to 20, separated by commas"
                                      : error;
                return false;
            }
            o.hasBands = true;
        } else if (a == "--no-eq") {
            o.noEq = true;
        } else if (a == "--snapshot-ms") {
            int t = 0;
            if (!value(v) || !ParseInt(v, t) || t < 0) {
                error = error.empty() ? "--snapshot-ms needs a time in milliseconds (0 or more)" : error;
                return false;
            }
            o.snapshotMs = t;
        } else if (a == "--snapshot") {
            if (!value(o.snapshot)) {
                return false;
            }
            if (o.snapshot.empty()) {
                error = "--snapshot needs a file name";
                return false;
            }
        } else if (a == "--spectrum-kind") {
            if (!value(v) || !ParseInt(v, o.spectrumKind) || o.spectrumKind < 1 || o.spectrumKind > 6) {
                error = error.empty() ? "--spectrum-kind needs a kind from 1 to 6" : error;
                return false;
            }
            o.hasSpectrumKind = true;
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
    const bool play = !o.files.empty() || o.demo || o.lineIn > 0 || o.cdTrack > 0;
    if (o.cdTrack > 0 && (!o.files.empty() || o.demo || o.lineIn > 0 || !o.info.empty() || o.discInfo ||
                          o.loop >= 0 || !o.snapshot.empty())) {
        error =
            "--cd-track plays one track: it takes no files, --demo, --line-in, --info, --disc-info, --loop "
            "or --snapshot";
        return false;
    }
    if (o.discInfo && (play || !o.info.empty() || !o.out.empty())) {
        error = "--disc-info plays nothing: it takes no files, --out or other play options";
        return false;
    }
    if (o.lineIn > 0 &&
        (!o.files.empty() || o.demo || !o.info.empty() || o.loop >= 0 || !o.snapshot.empty())) {
        error = "--line-in records: it takes no files, --demo, --info, --loop or --snapshot";
        return false;
    }
    if (!o.help && !o.version && !o.listDevices && o.info.empty() && !o.discInfo && !play) {
        error = "nothing to play";
        return false;
    }
    if (!o.info.empty() && play) {
        error = "--info takes one file and plays nothing";
        return false;
    }
    if (o.noEq && (!o.eqFile.empty() || o.hasBands)) {
        error = "--no-eq leaves the equalizer out: it takes no --eq or --bands";
        return false;
    }
    if (!o.eqFile.empty() && o.hasBands) {
        error = "--eq and --bands both set the band gains: give one of them";
        return false;
    }
    if (!o.eqFile.empty()) {
        tf::TEqCurve curve{};
        if (!tf::ReadEqCurveFile(o.eqFile, curve)) {
            error = "--eq: " + Shown(o.eqFile) + " is not a readable equalizer curve file";
            return false;
        }
        // The equalizer window sends each band its curve point over UnitsPerDecibel.
        o.bands = tf::BandGains(curve);
    }
    if (!o.out.empty() && o.loop == 0) {
        error = "--loop 0 plays without end: it cannot be rendered with --out";
        return false;
    }
    if ((o.snapshotMs >= 0) != !o.snapshot.empty()) {
        error = "--snapshot-ms and --snapshot go together";
        return false;
    }
    if (o.hasSpectrumKind && o.snapshot.empty()) {
        error = "--spectrum-kind needs --snapshot";
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

void NotValid(const std::string& path) {
    std::cerr << Shown(path) << " is not a valid Audiofile\n";
}

// Behind the device with --out: every buffer the device has played goes into the WAV file, in
// order, across all entries. The virtual card's own record of what it played is let go as we go,
// so a long rendering needs no memory for it. The file is written under a temporary name beside the
// target and renamed over it only when the rendering is complete: an interrupted or failed rendering
// leaves the target as it was and removes the temporary file.
class RenderSink : public tf::TMMDSPComponent {
public:
    ~RenderSink() override { Discard(); }
    bool Create(const std::string& target, const tf::WAVEFORMATEX& format) {
        target_ = target;
        temp_ = pf::ReserveTemporaryFile(target);
        if (temp_.empty()) {
            return false;
        }
        if (tf::WaveIOCreate(record_, temp_, format) != tf::WIOERR_NOERROR) {
            Discard();
            return false;
        }
        return true;
    }
    bool IsCreated() const { return record_ != nullptr; }
    // Buffers the device has handed back through the chain so far.
    int Pushed() const { return pushed_.load(); }
    bool Failed() const { return failed_; }
    // Completes the file's header and puts it in place of the target. False (and the target as it
    // was) when anything failed.
    bool Commit() {
        if (record_ == nullptr) {
            return false;
        }
        const bool closed = tf::WaveIOCloseFile(*record_) == tf::WIOERR_NOERROR;
        tf::WaveIOClose(record_);
        record_ = nullptr;
        // A rendering can be made again: it is renamed into place without waiting for the disk,
        // as fast as writing the target directly was.
        if (!closed || failed_ || !pf::CommitTemporaryFile(temp_, target_, false)) {
            Discard();
            return false;
        }
        temp_.clear();
        return true;
    }
    // Drops what was written; the target is untouched.
    void Discard() {
        if (record_ != nullptr) {
            tf::WaveIOClose(record_);
            record_ = nullptr;
        }
        if (!temp_.empty()) {
            pf::RemoveFile(temp_);
            temp_.clear();
        }
    }
    void BufferReady(tf::PWaveHdr h) override {
        if (record_ != nullptr && h->dwBytesRecorded > 0 &&
            tf::WaveIOWrite(*record_, h->lpData, static_cast<std::int32_t>(h->dwBytesRecorded)) !=
                static_cast<std::int32_t>(h->dwBytesRecorded)) {
            failed_ = true;
        }
        pf::VirtualSoundCard::Instance().ClearRecording();
        tf::TMMDSPComponent::BufferReady(h);
        pushed_.fetch_add(1);
    }

private:
    tf::PWaveIORecord record_ = nullptr;
    std::string target_;
    std::string temp_;
    bool failed_ = false;
    std::atomic<int> pushed_{0};
};

// The player's chain, built once and re-linked per entry.
class Player {
public:
    // `timers` is the clock the displays run on when the snapshot is taken on the virtual card's
    // manual clock (nullptr otherwise).
    Player(const Options& o, pf::VirtualTimers* timers)
        : options_(o), chain_(ChainSettings(o)), out_(chain_.WaveOut()), timers_(timers) {
        chain_.Volume().SetVolume(o.volume);
        chain_.Volume().SetPanning(o.balance);
        chain_.SetBandGains(o.bands);
        tf::TMMDSPComponent* behindDevice = &out_;
        if (!o.snapshot.empty()) {
            tf::TMMSpectrumKind kind = tf::skScroll;
            tf::SpectrumKindForIndex(o.spectrumKind, kind);
            snap_ = std::make_unique<tf::render::DisplaySnapshot>(kind);
            out_.SetOutput(&snap_->Connector());
            behindDevice = &snap_->Connector();
        }
        if (!o.out.empty()) {
            behindDevice->SetOutput(&sink_);
        }
        if (o.loop >= 0) {
            out_.SetLooping(true);
            out_.SetLoopCount(static_cast<std::uint16_t>(o.loop));
        }
    }

    // Plays one entry to its end; false when it is no audio file or playing failed.
    bool Play(const std::string& path) {
        const tf::FileInfo info = tf::DescribeFile(path);
        try {
            if (!chain_.SelectFile(path)) {
                NotValid(path);
                return false;
            }
            if (!CheckOutputFormat()) {
                return false;
            }
            out_.Start();
            const bool ok = timers_ != nullptr ? DriveUntilEnd() : WaitForEnd(info.lengthMs);
            out_.Close();
            if (options_.progress) {
                std::cout << '\n' << std::flush;
            }
            return ok;
        } catch (const std::exception& e) {
            out_.Close();
            std::cerr << Shown(path) << ": " << e.what() << '\n';
            return false;
        }
    }

    // Plays track `track` of the audio CD in the drive, read digitally, to its end.
    bool PlayCdTrack(int track) {
        try {
            if (!chain_.SelectCdTrack(track)) {
                std::cerr << "tunefold-render: no audio track " << track << " on a disc in the drive\n";
                return false;
            }
            if (!CheckOutputFormat()) {
                return false;
            }
            out_.Start();
            const bool ok = timers_ != nullptr ? DriveUntilEnd() : WaitForEnd(chain_.CdSource().LengthMs());
            out_.Close();
            if (options_.progress) {
                std::cout << '\n' << std::flush;
            }
            if (chain_.CdSource().ReadFailed()) {
                std::cerr << "tunefold-render: the disc could not be read digitally\n";
                return false;
            }
            return ok;
        } catch (const std::exception& e) {
            out_.Close();
            std::cerr << "tunefold-render: track " << track << ": " << e.what() << '\n';
            return false;
        }
    }

    const tf::WAVEFORMATEX* FirstFormat() const { return first_ ? &*first_ : nullptr; }
    // False when a snapshot was asked for and could not be written.
    bool SnapshotOk() const { return !snapshotFailed_; }
    bool SnapshotTaken() const { return snapped_; }
    RenderSink& Sink() { return sink_; }

private:
    // --out writes one WAV file: every entry must reach the device in the same format.
    bool CheckOutputFormat() {
        const tf::WAVEFORMATEX* f = chain_.Converter().PWaveFormat();
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

    // The picture of the displays as they are now, after one more display tick.
    void TakeSnapshot() {
        snap_->Tick();
        pf::MessageLoop::Gui().ProcessMessages();
        snapped_ = true;
        if (!snap_->Save(options_.snapshot)) {
            std::cerr << "tunefold-render: cannot write " << options_.snapshot << '\n';
            snapshotFailed_ = true;
        }
    }

    bool SnapshotDue(std::int64_t positionMs) const {
        return snap_ && !snapped_ && positionMs >= options_.snapshotMs;
    }

    // Plays the entry on the virtual card's manual clock, as fast as we can move it: the card and
    // the displays' clock move together in steps that end at every 30 ms display tick, at every
    // buffer's end and at the snapshot time, so the connector sees the same timing as in the player.
    bool DriveUntilEnd() {
        auto& card = pf::VirtualSoundCard::Instance();
        auto& gui = pf::MessageLoop::Gui();
        const tf::WAVEFORMATEX* f = chain_.Converter().PWaveFormat();
        const std::uint64_t rate = f->nSamplesPerSec;
        const std::uint64_t bufferFrames =
            std::max<std::uint64_t>(static_cast<std::uint64_t>(out_.BufferSize()) / f->nBlockAlign, 1);
        const std::uint64_t snapFrame =
            (static_cast<std::uint64_t>(std::max<std::int64_t>(options_.snapshotMs, 0)) * rate + 999) / 1000;
        auto tickFrame = [rate](std::uint64_t tick) { return (tick * 30 * rate + 999) / 1000; };
        const std::int64_t startUs = timers_->PerformanceCounter();
        auto usAt = [&](std::uint64_t frame) {
            return startUs + static_cast<std::int64_t>(frame * 1000000 / rate);
        };
        // Headers an earlier entry's close gave back without a push do not count here.
        const int unpushed = card.CallCount("done") - sink_.Pushed();
        std::uint64_t played = 0;
        std::uint64_t nextTick = 1;
        auto lastMove = std::chrono::steady_clock::now();
        while (out_.State().Contains(tf::wosPlaying)) {
            if (Interrupted()) {
                out_.Stop();
                return false;
            }
            gui.ProcessMessages();
            if (snap_ && !snapped_ && played >= snapFrame) {
                TakeSnapshot();
            }
            if (card.QueuedCount() == 0) {
                // The device's thread is still loading the next buffer, or finishing the entry.
                if (std::chrono::steady_clock::now() - lastMove > std::chrono::seconds(15)) {
                    std::cerr << "playback stalled\n";
                    out_.Stop();
                    return false;
                }
                gui.WaitAndProcess(1);
                continue;
            }
            const bool displaysRun = snap_ && !snapped_;
            std::uint64_t target = (played / bufferFrames + 1) * bufferFrames;
            if (displaysRun) {
                target = std::min(target, tickFrame(nextTick));
                if (snapFrame > played) {
                    target = std::min(target, snapFrame);
                }
                // Captures made at this step's end carry its time.
                timers_->AdvanceMicroseconds(usAt(target) - timers_->PerformanceCounter());
            }
            const int doneBefore = card.CallCount("done");
            const std::uint64_t n = card.Advance(target - played);
            if (n > 0) {
                played += n;
                lastMove = std::chrono::steady_clock::now();
            }
            if (!displaysRun) {
                continue;
            }
            // A finished buffer reaches the connector on the device's thread; wait for it before the
            // clock moves on, so it is stamped with the time it finished.
            const int done = card.CallCount("done");
            if (done > doneBefore) {
                const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
                while (sink_.Pushed() + unpushed < done && out_.State().Contains(tf::wosPlaying) &&
                       std::chrono::steady_clock::now() < until) {
                    gui.WaitAndProcess(1);
                }
            }
            if (played >= tickFrame(nextTick)) {
                snap_->Tick();
                ++nextTick;
            }
        }
        gui.ProcessMessages();
        return true;
    }

    bool WaitForEnd(std::int64_t totalMs) {
        auto& gui = pf::MessageLoop::Gui();
        auto lastShown = std::chrono::steady_clock::now() - std::chrono::seconds(1);
        auto lastMove = std::chrono::steady_clock::now();
        std::int64_t lastPos = -1;
        while (out_.State().Contains(tf::wosPlaying)) {
            if (Interrupted()) {
                out_.Stop();
                return false;
            }
            // With displays attached this loop is the player's 30 ms display timer.
            gui.WaitAndProcess(snap_ ? 30 : 50);
            const auto now = std::chrono::steady_clock::now();
            std::int64_t pos = 0;
            try {
                pos = out_.Position();
            } catch (const std::exception&) {
                pos = lastPos;
            }
            if (snap_) {
                if (SnapshotDue(pos)) {
                    TakeSnapshot();
                } else if (!snapped_) {
                    snap_->Tick();
                }
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

    static tf::TPlayerChainSettings ChainSettings(const Options& o) {
        tf::TPlayerChainSettings settings;
        settings.equalizer = !o.noEq;
        settings.numBuffers = 8;
        settings.bufferSize = o.out.empty() ? 16384 : 65536;
        settings.deviceId = o.device;
        return settings;
    }

    const Options& options_;
    tf::TPlayerChain chain_;
    tf::TMMWaveOut& out_;
    RenderSink sink_;
    std::unique_ptr<tf::render::DisplaySnapshot> snap_;
    pf::VirtualTimers* timers_;
    bool snapped_ = false;
    bool snapshotFailed_ = false;
    std::optional<tf::WAVEFORMATEX> first_;
};

// Lets the first `bytes` recorded bytes through and no more: the route records an exact length.
class RecordLimit : public tf::TMMDSPComponent {
public:
    explicit RecordLimit(std::int64_t bytes) : left_(bytes) {}
    void BufferReady(tf::PWaveHdr h) override {
        const std::int64_t take = std::min<std::int64_t>(left_.load(), h->dwBytesRecorded);
        if (take <= 0) {
            done_.store(true);
            return;
        }
        left_.fetch_sub(take);
        h->dwBytesRecorded = static_cast<tf::DWORD>(take);
        tf::TMMDSPComponent::BufferReady(h);
        if (left_.load() <= 0) {
            done_.store(true);
        }
    }
    bool Done() const { return done_.load(); }
    std::int64_t Left() const { return left_.load(); }

private:
    std::atomic<std::int64_t> left_;
    std::atomic<bool> done_{false};
};

// Counts the buffers the output device has played, and hands them on.
class PlayedCount : public tf::TMMDSPComponent {
public:
    void BufferReady(tf::PWaveHdr h) override {
        tf::TMMDSPComponent::BufferReady(h);
        count_.fetch_add(1);
    }
    int Count() const { return count_.load(); }

private:
    std::atomic<int> count_{0};
};

// The player's line-in route: the wave input records into the ring, and the output device plays
// the ring through the pre-volume and the equalizer, each on its own clock. After the recording's
// last byte has left the ring, the output plays out the buffers it holds, then everything stops.
int LineIn(const Options& o, pf::WaveInDevices& capture) {
    constexpr int kBuffers = 132;
    constexpr int kBufferSize = 2048;
    tf::TPlayerChainSettings settings;
    settings.equalizer = !o.noEq;
    settings.numBuffers = kBuffers;
    settings.bufferSize = kBufferSize;
    settings.deviceId = o.device;
    tf::TPlayerChain chain(settings);
    chain.Volume().SetVolume(o.volume);
    chain.Volume().SetPanning(o.balance);
    chain.SetBandGains(o.bands);

    tf::TMMWaveIn in(nullptr, capture);
    in.SetDeviceID(pf::WAVE_MAPPER);
    in.SetCallBackMode(tf::cmThread);
    in.SetPriority(tf::tpHighest);
    in.SetNumBuffers(kBuffers);
    in.SetBufferSize(kBufferSize);
    in.SetMode(tf::mStereo);
    in.SetBitLength(tf::b16Bit);
    in.SetSampleRate(44100);
    in.SetTimeFormat(tf::tfMillisecond);
    RecordLimit limit(std::int64_t{o.lineIn} * in.PWaveFormat()->nAvgBytesPerSec);
    tf::TMMRingBuffer ring;
    ring.SetQueueMode(tf::qmDuplex);
    ring.SetNumBuffers(kBuffers);
    ring.SetBufferSize(kBufferSize);
    in.SetOutput(&limit);
    limit.SetOutput(&ring);
    chain.Volume().SetInput(&ring);
    tf::TMMWaveOut& out = chain.WaveOut();
    PlayedCount played;
    RenderSink sink;
    out.SetOutput(&played);
    if (!o.out.empty()) {
        if (!sink.Create(o.out, *in.PWaveFormat())) {
            std::cerr << "tunefold-render: cannot write " << Shown(o.out) << '\n';
            return kExitBadFile;
        }
        played.SetOutput(&sink);
    }
    auto& gui = pf::MessageLoop::Gui();
    bool ok = true;
    try {
        in.Start();
        const std::int64_t total = limit.Left();
        int playedAtEmpty = -1;
        auto lastMove = std::chrono::steady_clock::now();
        std::int64_t lastLeft = total;
        auto lastShown = lastMove - std::chrono::seconds(1);
        while (in.State() & tf::wisStarted) {
            if (Interrupted()) {
                ok = false;
                break;
            }
            gui.WaitAndProcess(20);
            const auto now = std::chrono::steady_clock::now();
            if (limit.Left() != lastLeft) {
                lastLeft = limit.Left();
                lastMove = now;
            } else if (!limit.Done() && now - lastMove > std::chrono::seconds(10)) {
                std::cerr << "tunefold-render: the wave input records nothing\n";
                ok = false;
                break;
            }
            if (o.progress && now - lastShown >= std::chrono::milliseconds(250)) {
                lastShown = now;
                const std::int64_t doneMs = (total - limit.Left()) * 1000 / in.PWaveFormat()->nAvgBytesPerSec;
                std::cout << '\r' << Clock(doneMs) << " / " << Clock(std::int64_t{o.lineIn} * 1000)
                          << std::flush;
            }
            if (limit.Done() && ring.IsEmpty() && playedAtEmpty < 0) {
                playedAtEmpty = played.Count();
            }
            if (playedAtEmpty >= 0 && played.Count() >= playedAtEmpty + kBuffers) {
                break; // what the output held when the ring ran dry has been played
            }
            if (!(out.State().Contains(tf::wosPlaying))) {
                std::cerr << "tunefold-render: the output device stopped\n";
                ok = false;
                break;
            }
        }
        in.Stop();
        in.Close();
        if (o.progress) {
            std::cout << '\n' << std::flush;
        }
    } catch (const std::exception& e) {
        in.Close();
        out.Close();
        std::cerr << "tunefold-render: " << e.what() << '\n';
        sink.Discard();
        return kExitBadFile;
    }
    if (Interrupted() != 0) {
        sink.Discard();
        std::cerr << "tunefold-render: interrupted"
                  << (o.out.empty() ? std::string() : "; " + Shown(o.out) + " was left as it was") << '\n';
        return 128 + Interrupted();
    }
    if (!ok) {
        sink.Discard();
        return kExitBadFile;
    }
    if (!o.out.empty() && !sink.Commit()) {
        std::cerr << "tunefold-render: cannot write " << Shown(o.out) << '\n';
        return kExitBadFile;
    }
    return kExitOk;
}

// Empty when the device can be opened, else why not (with ALSA's reason).
std::string DeviceProblem(int device) {
    tf::WAVEFORMATEX f{};
    tf::MakePCMFormat(f, 16, 2, 44100);
    auto& devices = pf::WaveOut();
    const tf::MMRESULT result = devices.Open(nullptr, device, &f, nullptr, 0, pf::WAVE_FORMAT_QUERY);
    if (result == tf::MMSYSERR_NOERROR || result == tf::WAVERR_BADFORMAT) {
        return {}; // there is a device; whether it plays a file's format is that file's question
    }
    std::string text;
    devices.GetErrorText(result, text);
    return text;
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

// No output may overwrite a file that is read: the inputs, every entry to be played, the curve.
bool OutputsSpareInputs(const Options& o, const std::vector<tf::TPlayItems>& items) {
    std::vector<std::string> inputs = o.files;
    for (const auto& item : items) {
        inputs.insert(inputs.end(), item.files.begin(), item.files.end());
    }
    if (!o.eqFile.empty()) {
        inputs.push_back(o.eqFile);
    }
    std::vector<std::pair<const char*, std::string>> outputs;
    if (!o.out.empty()) {
        outputs.emplace_back("--out", o.out);
    }
    if (!o.snapshot.empty()) {
        outputs.emplace_back("--snapshot", o.snapshot);
    }
    for (const auto& [option, output] : outputs) {
        for (const auto& input : inputs) {
            if (pf::SameFile(output, input)) {
                std::cerr << "tunefold-render: " << option << ' ' << Shown(output) << " is the input "
                          << Shown(input) << ": nothing was written\n";
                return false;
            }
        }
    }
    if (outputs.size() == 2 && (pf::SameFile(o.out, o.snapshot) || o.out == o.snapshot)) {
        std::cerr << "tunefold-render: --out and --snapshot name the same file " << Shown(o.out) << '\n';
        return false;
    }
    return true;
}

} // namespace

int Main(int argc, char** argv) {
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
    // The recording comes from the real input even when the output is rendered on the virtual card,
    // and so does the CD.
    pf::WaveInDevices& capture = pf::WaveIn();
    pf::CdAudioDevice& cdDrive = pf::CdAudio();
    if (o.discInfo || o.cdTrack > 0) {
        if (const std::string problem = tf::render::VirtualDiscProblem(); !problem.empty()) {
            std::cerr << "tunefold-render: " << problem << '\n';
            return kExitBadFile;
        }
    }
    if (o.discInfo) {
        return tf::render::PrintDiscInfo(std::cout, std::cerr);
    }
    if (!o.info.empty()) {
        const auto info = tf::DescribeFile(o.info);
        std::cout << info.infoLine << "\nlength_ms=" << info.lengthMs << '\n' << info.tagLine << '\n';
        if (info.kind == tf::FileKind::Unknown) {
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
        if (o.out.empty() && !pf::VirtualPlatformRequested() && !DeviceProblem(o.device).empty()) {
            o.out = pf::ExecutableDirectory() + "/tunefold-demo.wav";
            std::cout << "No sound device: rendering the demo to " << pf::mmioFullPath(o.out)
                      << " instead.\n";
        }
    }
    // A snapshot while rendering: the card's clock and the displays' clock are moved by us, in step.
    const bool driven = !o.out.empty() && !o.snapshot.empty();
    pf::VirtualTimers displayClock;
    std::optional<pf::ScopedTimers> displayTimers;
    if (driven) {
        displayTimers.emplace(displayClock);
    }
    if (!o.out.empty() || pf::VirtualPlatformRequested()) {
        pf::UseVirtualPlatform(true);
        auto& card = pf::VirtualSoundCard::Instance();
        // A recording runs in real time: so must the output it feeds.
        card.SetClock(driven                          ? pf::VirtualClock::Manual
                      : o.out.empty() || o.lineIn > 0 ? pf::VirtualClock::RealTime
                                                      : pf::VirtualClock::Fast);
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
    if (o.out.empty() && !pf::VirtualPlatformRequested()) {
        if (const std::string problem = DeviceProblem(o.device); !problem.empty()) {
            std::cerr << "tunefold-render: No sound device: " << problem << '\n';
            return kExitBadFile;
        }
    }

    if (o.lineIn > 0) {
        if (!o.out.empty() && !o.eqFile.empty() && pf::SameFile(o.out, o.eqFile)) {
            std::cerr << "tunefold-render: --out " << Shown(o.out) << " is the input " << Shown(o.eqFile)
                      << ": nothing was written\n";
            return kExitUsage;
        }
        InstallInterruptHandlers();
        return LineIn(o, capture);
    }
    if (o.cdTrack > 0) {
        pf::ScopedCdAudio drive(cdDrive);
        InstallInterruptHandlers();
        Player player(o, driven ? &displayClock : nullptr);
        const bool ok = player.PlayCdTrack(o.cdTrack);
        if (const int signal = Interrupted(); signal != 0 || !ok) {
            player.Sink().Discard();
            return signal != 0 ? 128 + signal : kExitBadFile;
        }
        if (!o.out.empty() && !player.Sink().Commit()) {
            std::cerr << "tunefold-render: cannot write " << Shown(o.out) << '\n';
            return kExitBadFile;
        }
        return kExitOk;
    }

    // Everything that will be played, known before anything is opened for writing.
    std::vector<tf::TPlayItems> items;
    items.reserve(o.files.size());
    for (const auto& arg : o.files) {
        items.push_back(tf::PlayItemsFor(arg));
    }
    if (!OutputsSpareInputs(o, items)) {
        return kExitUsage;
    }
    InstallInterruptHandlers();

    int status = kExitOk;
    Player player(o, driven ? &displayClock : nullptr);
    for (std::size_t i = 0; i < items.size() && !Interrupted(); ++i) {
        if (items[i].notValid) {
            NotValid(o.files[i]);
            status = kExitBadFile;
            continue;
        }
        if (items[i].files.empty()) {
            std::cerr << Shown(o.files[i]) << ": no entry of the playlist names an existing file\n";
            status = kExitBadFile;
            continue;
        }
        for (const auto& entry : items[i].files) {
            if (Interrupted()) {
                break;
            }
            if (!player.Play(entry)) {
                status = kExitBadFile;
            }
        }
    }
    if (const int signal = Interrupted(); signal != 0) {
        // The rendering is not complete: its temporary file goes, the target stays as it was.
        player.Sink().Discard();
        std::cerr << "tunefold-render: interrupted"
                  << (o.out.empty() ? std::string() : "; " + Shown(o.out) + " was left as it was") << '\n';
        return 128 + signal;
    }
    if (!o.snapshot.empty()) {
        if (!player.SnapshotTaken()) {
            std::cerr << "tunefold-render: nothing was played at " << o.snapshotMs
                      << " ms: no snapshot written\n";
            status = kExitBadFile;
        } else if (!player.SnapshotOk()) {
            status = kExitBadFile;
        }
    }
    if (!o.out.empty()) {
        if (!player.Sink().IsCreated()) {
            return status == kExitOk ? kExitBadFile : status;
        }
        if (!player.Sink().Commit()) {
            std::cerr << "tunefold-render: cannot write " << Shown(o.out) << '\n';
            return kExitBadFile;
        }
    }
    return status;
}

int main(int argc, char** argv) {
    // Nothing that goes wrong inside may end the program without a word.
    try {
        return Main(argc, argv);
    } catch (const std::exception& e) {
        std::cerr << "tunefold-render: " << e.what() << '\n';
    } catch (...) {
        std::cerr << "tunefold-render: unexpected error\n";
    }
    return kExitBadFile;
}
