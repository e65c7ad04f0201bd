// TMMCDPlayer: the media player of the CD player window, a non-visual component over the CD-audio
// service. It opens the device, answers the status questions of the CD information component and
// of the window (mode, media present, track types, track starts and lengths, the disc's length,
// the position in tracks-minutes-seconds-frames) and carries out play from a start position,
// pause (which resumes when paused), stop, previous and next, and the door.
//
// Every answer comes from the service's last picture of the drive, so nothing here waits on it.
#pragma once

#include <cstdint>

#include "engine/framework/dsp_component.h"
#include "platform/cd_audio.h"

namespace tunefold {

enum TMPModes { mpNotReady, mpStopped, mpPlaying, mpRecording, mpSeeking, mpPaused, mpOpen };

// A position as the window sees it: track, then minutes, seconds and frames within that track.
struct TMSF {
    int track = 0;
    int minute = 0;
    int second = 0;
    int frame = 0;
    friend bool operator==(const TMSF&, const TMSF&) = default;
};

class TMMCDPlayer : public TMMNonVisualComponent {
public:
    // `device` null: the process's CD-audio service, looked up when the device is opened.
    explicit TMMCDPlayer(TComponent* owner = nullptr, platform::CdAudioDevice* device = nullptr);
    ~TMMCDPlayer() override;

    // Opens the CD audio device; false (DeviceID 0) when there is no drive.
    bool Open();
    void Close();
    // Non-zero while the device is open.
    int DeviceID() const { return deviceId_; }

    TMPModes Mode();
    bool MediaPresent();
    // Tracks on the disc (0 without a readable disc).
    int Tracks();
    // True when track `track` (1-based) exists and holds audio.
    bool TrackIsAudio(int track);
    // The start of a track on the disc, and its length, as minutes-seconds-frames; zero for a track
    // that does not exist (0, the lead-out, past the last).
    platform::CdMsf TrackPosition(int track);
    platform::CdMsf TrackLength(int track);
    // The disc's length: from the first track's start to the lead-out.
    platform::CdMsf Length();
    // The lead-out and the first track's start, in absolute frames (0 without a disc).
    int LeadOutFrame();
    int FirstTrackFrame();
    // Where the disc plays now (or where the next play starts).
    TMSF Position();

    // The position the next Play starts from.
    void SetStartPos(const TMSF& position);
    bool HasStartPos() const { return hasStartPos_; }
    // Plays from the start position if one was set (then forgets it), else from the current one.
    bool Play();
    // Pauses when playing, resumes when paused.
    bool Pause();
    bool Stop();
    // The start of the current track, or of the previous one within its first second.
    bool Previous();
    bool Next();
    bool Eject();
    bool CloseDoor();

    platform::CdAudioDevice* Device() const { return device_; }
    // The service's picture of the drive (a stopped, empty state when not open).
    platform::CdDriveState DriveState();

private:
    // Absolute frame of a track-relative position; -1 when the track does not exist.
    int FrameOf(const platform::CdDriveState& state, const TMSF& position) const;
    // The track holding `frame` (0 for none) and the frame's offset in it.
    static TMSF PositionOf(const platform::CdDriveState& state, int frame);
    bool Seek(int frame, bool keepPlaying);

    platform::CdAudioDevice* requested_;
    platform::CdAudioDevice* device_ = nullptr;
    int deviceId_ = 0;
    bool hasStartPos_ = false;
    TMSF startPos_;
    int stoppedFrame_ = -1; // where a stopped disc stands (-1: its first track)
    std::uint64_t serial_ = 0;
};

} // namespace tunefold
