// The CD-audio device service: the drive's table of contents, its status and the position of the
// audio it plays, and the commands of a CD player (play a range of the disc, pause, resume, stop,
// eject, close the tray); plus digital reading of the audio sectors, for machines whose drive has
// no analog cable to the sound card.
//
// Addresses are absolute frames of the disc (75 per second, minutes:seconds:frames as the drive
// counts them, so the first track usually starts at 0:02:00 = frame 150). Nothing here waits on the
// drive: State() answers from what the backend last learnt, and commands are queued for it. The
// Linux backend (platform/linux/linux_cd_drive.h) keeps that picture fresh from a worker thread; the
// virtual drive (platform/virtual/virtual_cd_drive.h) plays a scripted disc.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tunefold::platform {

constexpr int kCdFramesPerSecond = 75;
constexpr int kCdFramesPerMinute = 60 * kCdFramesPerSecond;
// Frames before logical block 0 (the 2-second pregap of the first track).
constexpr int kCdLeadInFrames = 150;
// One audio sector: 1/75 s of 16-bit stereo at 44100 Hz.
constexpr int kCdSectorBytes = 2352;
// The track number a drive reports for the lead-out.
constexpr int kCdLeadOutTrack = 0xAA;

struct CdMsf {
    int minute = 0;
    int second = 0;
    int frame = 0;
    friend bool operator==(const CdMsf&, const CdMsf&) = default;
};

inline int MsfToFrames(const CdMsf& msf) {
    return msf.minute * kCdFramesPerMinute + msf.second * kCdFramesPerSecond + msf.frame;
}
inline CdMsf FramesToMsf(int frames) {
    if (frames < 0) {
        frames = 0;
    }
    return CdMsf{frames / kCdFramesPerMinute, (frames / kCdFramesPerSecond) % 60,
                 frames % kCdFramesPerSecond};
}

struct CdTrackEntry {
    int number = 0;     // 1 .. 99
    bool data = false;  // a data track (not audio)
    int startFrame = 0; // absolute frame of the track's start
};

struct CdToc {
    int firstTrack = 0;
    int lastTrack = 0;
    std::vector<CdTrackEntry> tracks; // in disc order
    int leadOutFrame = 0;             // absolute frame just past the last track
};

enum class CdDriveStatus {
    NoDrive,  // no drive, or it could not be opened
    NoInfo,   // the drive cannot tell
    TrayOpen, // the door is open
    NotReady, // a disc is spinning up
    NoDisc,   // door closed, no disc
    DiscOk,   // a disc is in and its table of contents is known
};

enum class CdAudioStatus { None, Playing, Paused, Completed, Error };

struct CdPosition {
    CdAudioStatus status = CdAudioStatus::None;
    int track = 0;         // the track being played (kCdLeadOutTrack past the end), 0 when unknown
    int absoluteFrame = 0; // on the disc
    int relativeFrame = 0; // within the track
};

// What the backend knows of the drive now.
struct CdDriveState {
    CdDriveStatus status = CdDriveStatus::NoDrive;
    bool tocValid = false; // `toc` holds the disc in the drive
    CdToc toc;
    CdPosition position;
    // Counts the discs seen: changes whenever a disc is inserted or the door is opened.
    std::uint64_t mediaSerial = 0;
};

// Reads audio sectors of the disc in the drive digitally.
class CdAudioReader {
public:
    virtual ~CdAudioReader() = default;
    // Reads up to `count` sectors from logical block `lba` (absolute frame - kCdLeadInFrames) into
    // `out` (count x kCdSectorBytes bytes: 16-bit little-endian stereo samples). Returns the sectors
    // read; 0 at the end of the disc; negative on a read error.
    virtual int Read(int lba, int count, std::uint8_t* out) = 0;
};

class CdAudioDevice {
public:
    virtual ~CdAudioDevice() = default;

    // Opens the drive for this process (opens are counted; every Open needs a Close). False when
    // there is no drive. An empty drive or an open door is no failure.
    virtual bool Open() = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() = 0;
    // The drive's name, for messages ("/dev/sr0", "virtual").
    virtual std::string Name() = 0;

    // What the drive reported last. Never waits for the drive.
    virtual CdDriveState State() = 0;
    // Waits up to `timeoutMs` for the backend to have asked the drive afresh after every command
    // queued so far; true when it has. For callers that need the answer to their own command.
    virtual bool Refresh(long timeoutMs) = 0;

    // Commands. False when the drive is not open (or refuses at once); they take effect shortly.
    virtual bool PlayFrames(int fromFrame, int toFrame) = 0;
    virtual bool Pause() = 0;
    virtual bool Resume() = 0;
    virtual bool Stop() = 0;
    virtual bool Eject() = 0;
    virtual bool CloseTray() = 0;

    // A digital reader of the disc in the drive; null when it cannot read (no drive, no disc).
    virtual std::unique_ptr<CdAudioReader> OpenReader() = 0;
};

// The process's CD-audio service: the installed one, else the virtual drive when the virtual
// platform is requested, else the Linux drive. Looked up at every call.
CdAudioDevice& CdAudio();
CdAudioDevice* SetCdAudio(CdAudioDevice* device);

class ScopedCdAudio {
public:
    explicit ScopedCdAudio(CdAudioDevice& device) : previous_(SetCdAudio(&device)) {}
    ~ScopedCdAudio() { SetCdAudio(previous_); }
    ScopedCdAudio(const ScopedCdAudio&) = delete;
    ScopedCdAudio& operator=(const ScopedCdAudio&) = delete;

private:
    CdAudioDevice* previous_;
};

} // namespace tunefold::platform
