// A CD drive for tests and for trying the CD player without one: a scripted disc (track starts,
// data or audio tracks, lead-out), a door, media changes, a play clock on the timer service's
// millisecond clock (so a test that installs VirtualTimers moves it), injectable faults, and a
// digital reader that delivers a generated signal (a sine per track, 110 Hz x the track number).
//
// Under TUNEFOLD_PLATFORM=virtual the process's drive loads its disc from the file named by
// TUNEFOLD_VIRTUAL_CD (see ParseVirtualDiscLayout for the format); without one it holds a
// four-track audio disc.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/cd_audio.h"

namespace tunefold::platform {

struct VirtualDisc {
    std::vector<CdTrackEntry> tracks; // numbered from 1 in order
    int leadOutFrame = 0;
};

// What the layout file said: the disc (none: the drive is empty), and whether the door is open.
struct VirtualDiscLayout {
    std::optional<VirtualDisc> disc;
    bool doorOpen = false;
    bool noDrive = false;
};

// The layout file, one statement per line ("#" starts a comment, blank lines are skipped):
//   track M:SS:FF [audio|data]   a track starting at that address (audio when not said), in order
//   leadout M:SS:FF              the end of the last track (required when there are tracks)
//   length M:SS:FF               instead of leadout: the last track's length
//   nodisc                       the drive is empty
//   door open|closed             the door's state at start (closed when not said)
//   nodrive                      no drive at all (no tracks needed)
// Addresses must grow from track to track and stay below 100:00:00; at most 99 tracks. False with
// a message naming the line on anything else.
bool ParseVirtualDiscLayout(std::string_view text, VirtualDiscLayout& layout, std::string& error);
// Reads the layout file (a regular file of at most 64 KiB).
bool LoadVirtualDiscLayout(const std::string& path, VirtualDiscLayout& layout, std::string& error);

// A disc with audio tracks starting at the given addresses and the lead-out after them.
VirtualDisc MakeVirtualDisc(const std::vector<CdMsf>& starts, CdMsf leadOut);

struct VirtualCdFaults {
    bool failOpen = false;   // Open finds no drive
    bool failPlay = false;   // play commands are refused
    bool failReader = false; // OpenReader gives no reader
    bool readErrors = false; // the reader's Read fails
    int spinUpQueries = 0;   // after the door closes on a disc, this many State() calls say NotReady
};

class VirtualCdDrive : public CdAudioDevice {
public:
    VirtualCdDrive();
    // The process's drive (loaded from TUNEFOLD_VIRTUAL_CD on first use).
    static VirtualCdDrive& Instance();

    // ---- the script ----
    void ApplyLayout(const VirtualDiscLayout& layout);
    // Puts a disc into the drive (none: takes it out); a media change.
    void InsertDisc(std::optional<VirtualDisc> disc);
    // The door as a person moves it.
    void OpenDoor();
    void CloseDoor();
    void SetNoDrive(bool noDrive);
    void SetFaults(const VirtualCdFaults& faults);
    int OpenCount();
    // The generated sample of `channel` (0 left, 1 right) at absolute sample index `sample`
    // (44100 per second from frame 0) of a track.
    static std::int16_t SignalSample(int track, std::int64_t sample, int channel);

    // ---- CdAudioDevice ----
    bool Open() override;
    void Close() override;
    bool IsOpen() override;
    std::string Name() override { return "virtual"; }
    CdDriveState State() override;
    bool Refresh(long timeoutMs) override;
    bool PlayFrames(int fromFrame, int toFrame) override;
    bool Pause() override;
    bool Resume() override;
    bool Stop() override;
    bool Eject() override;
    bool CloseTray() override;
    std::unique_ptr<CdAudioReader> OpenReader() override;

    // For the reader: the track holding logical block `lba`, 0 for none (or a data track: -1).
    int TrackAt(int lba);
    bool ReadErrors();
    int LeadOutLba();

private:
    enum class Play { Stopped, Playing, Paused, Completed };
    // The play clock's frame now; ends the play at its end frame. Called with the lock held.
    int CurrentFrameLocked();
    void DoorOpenedLocked();
    void DoorClosedLocked();

    std::mutex mutex_;
    std::optional<VirtualDisc> disc_;
    bool doorOpen_ = false;
    bool noDrive_ = false;
    int spinUpLeft_ = 0;
    VirtualCdFaults faults_;
    int opens_ = 0;
    std::uint64_t mediaSerial_ = 1;
    Play play_ = Play::Stopped;
    int fromFrame_ = 0; // where the running play started (or where a pause holds)
    int toFrame_ = 0;
    std::uint32_t startedMs_ = 0;
    int lastFrame_ = 0;
};

} // namespace tunefold::platform
