#include "cdinfo/cd_media_player.h"

#include <atomic>

namespace tunefold {

namespace {
std::atomic<int> nextDeviceId{1};
} // namespace

TMMCDPlayer::TMMCDPlayer(TComponent* owner, platform::CdAudioDevice* device)
    : TMMNonVisualComponent(owner), requested_(device) {}

TMMCDPlayer::~TMMCDPlayer() {
    Destroying();
    Close();
}

bool TMMCDPlayer::Open() {
    if (deviceId_ != 0) {
        return true;
    }
    platform::CdAudioDevice& device = requested_ != nullptr ? *requested_ : platform::CdAudio();
    if (!device.Open()) {
        return false;
    }
    device_ = &device;
    deviceId_ = nextDeviceId.fetch_add(1);
    hasStartPos_ = false;
    stoppedFrame_ = -1;
    serial_ = device.State().mediaSerial;
    return true;
}

void TMMCDPlayer::Close() {
    if (deviceId_ == 0) {
        return;
    }
    device_->Close();
    device_ = nullptr;
    deviceId_ = 0;
}

platform::CdDriveState TMMCDPlayer::DriveState() {
    if (deviceId_ == 0) {
        return {};
    }
    platform::CdDriveState state = device_->State();
    if (state.mediaSerial != serial_) {
        // Another disc (or the door moved): a remembered place on the old one means nothing.
        serial_ = state.mediaSerial;
        stoppedFrame_ = -1;
        hasStartPos_ = false;
    }
    return state;
}

TMPModes TMMCDPlayer::Mode() {
    const platform::CdDriveState s = DriveState();
    switch (s.status) {
    case platform::CdDriveStatus::TrayOpen:
        return mpOpen;
    case platform::CdDriveStatus::DiscOk:
        break;
    default:
        return mpNotReady;
    }
    switch (s.position.status) {
    case platform::CdAudioStatus::Playing:
        return mpPlaying;
    case platform::CdAudioStatus::Paused:
        return mpPaused;
    default:
        return mpStopped;
    }
}

bool TMMCDPlayer::MediaPresent() {
    const platform::CdDriveState s = DriveState();
    return s.status == platform::CdDriveStatus::DiscOk && s.tocValid;
}

int TMMCDPlayer::Tracks() {
    const platform::CdDriveState s = DriveState();
    return s.tocValid ? static_cast<int>(s.toc.tracks.size()) : 0;
}

bool TMMCDPlayer::TrackIsAudio(int track) {
    const platform::CdDriveState s = DriveState();
    if (!s.tocValid || track < 1 || track > static_cast<int>(s.toc.tracks.size())) {
        return false;
    }
    return !s.toc.tracks[static_cast<std::size_t>(track - 1)].data;
}

platform::CdMsf TMMCDPlayer::TrackPosition(int track) {
    const platform::CdDriveState s = DriveState();
    if (!s.tocValid || track < 1 || track > static_cast<int>(s.toc.tracks.size())) {
        return {};
    }
    return platform::FramesToMsf(s.toc.tracks[static_cast<std::size_t>(track - 1)].startFrame);
}

platform::CdMsf TMMCDPlayer::TrackLength(int track) {
    const platform::CdDriveState s = DriveState();
    const int count = s.tocValid ? static_cast<int>(s.toc.tracks.size()) : 0;
    if (track < 1 || track > count) {
        return {};
    }
    const int start = s.toc.tracks[static_cast<std::size_t>(track - 1)].startFrame;
    const int end =
        track < count ? s.toc.tracks[static_cast<std::size_t>(track)].startFrame : s.toc.leadOutFrame;
    return platform::FramesToMsf(end - start);
}

platform::CdMsf TMMCDPlayer::Length() {
    return platform::FramesToMsf(LeadOutFrame() - FirstTrackFrame());
}

int TMMCDPlayer::LeadOutFrame() {
    const platform::CdDriveState s = DriveState();
    return s.tocValid && !s.toc.tracks.empty() ? s.toc.leadOutFrame : 0;
}

int TMMCDPlayer::FirstTrackFrame() {
    const platform::CdDriveState s = DriveState();
    return s.tocValid && !s.toc.tracks.empty() ? s.toc.tracks.front().startFrame : 0;
}

TMSF TMMCDPlayer::PositionOf(const platform::CdDriveState& state, int frame) {
    TMSF p;
    int offset = 0;
    for (const platform::CdTrackEntry& t : state.toc.tracks) {
        if (frame >= t.startFrame) {
            p.track = t.number;
            offset = frame - t.startFrame;
        }
    }
    if (frame >= state.toc.leadOutFrame && !state.toc.tracks.empty()) {
        // Played to the end: the end of the last track.
        offset = state.toc.leadOutFrame - state.toc.tracks.back().startFrame;
    }
    const platform::CdMsf msf = platform::FramesToMsf(offset);
    p.minute = msf.minute;
    p.second = msf.second;
    p.frame = msf.frame;
    return p;
}

TMSF TMMCDPlayer::Position() {
    const platform::CdDriveState s = DriveState();
    if (!s.tocValid || s.toc.tracks.empty()) {
        return {};
    }
    const platform::CdAudioStatus st = s.position.status;
    if (st == platform::CdAudioStatus::Playing || st == platform::CdAudioStatus::Paused) {
        return PositionOf(s, s.position.absoluteFrame);
    }
    if (st == platform::CdAudioStatus::Completed) {
        return PositionOf(s, s.toc.leadOutFrame);
    }
    return PositionOf(s, stoppedFrame_ >= 0 ? stoppedFrame_ : s.toc.tracks.front().startFrame);
}

int TMMCDPlayer::FrameOf(const platform::CdDriveState& state, const TMSF& position) const {
    if (!state.tocValid || position.track < 1 || position.track > static_cast<int>(state.toc.tracks.size())) {
        return -1;
    }
    const int start = state.toc.tracks[static_cast<std::size_t>(position.track - 1)].startFrame;
    const int frame =
        start + platform::MsfToFrames(platform::CdMsf{position.minute, position.second, position.frame});
    return frame < state.toc.leadOutFrame ? frame : state.toc.leadOutFrame - 1;
}

void TMMCDPlayer::SetStartPos(const TMSF& position) {
    startPos_ = position;
    hasStartPos_ = true;
}

bool TMMCDPlayer::Play() {
    const platform::CdDriveState s = DriveState();
    if (!s.tocValid || s.toc.tracks.empty()) {
        return false;
    }
    int from = -1;
    if (hasStartPos_) {
        from = FrameOf(s, startPos_);
        hasStartPos_ = false;
    }
    if (from < 0) {
        if (s.position.status == platform::CdAudioStatus::Paused) {
            return device_->Resume();
        }
        if (s.position.status == platform::CdAudioStatus::Playing) {
            return true;
        }
        from = stoppedFrame_ >= 0 ? stoppedFrame_ : s.toc.tracks.front().startFrame;
    }
    return device_->PlayFrames(from, s.toc.leadOutFrame);
}

bool TMMCDPlayer::Pause() {
    const platform::CdDriveState s = DriveState();
    if (s.position.status == platform::CdAudioStatus::Paused) {
        return device_->Resume();
    }
    if (s.position.status == platform::CdAudioStatus::Playing) {
        return device_->Pause();
    }
    return false;
}

bool TMMCDPlayer::Stop() {
    if (deviceId_ == 0) {
        return false;
    }
    const platform::CdDriveState s = DriveState();
    const platform::CdAudioStatus st = s.position.status;
    if (st == platform::CdAudioStatus::Playing || st == platform::CdAudioStatus::Paused) {
        stoppedFrame_ = s.position.absoluteFrame;
    }
    return device_->Stop();
}

bool TMMCDPlayer::Seek(int frame, bool keepPlaying) {
    const platform::CdDriveState s = DriveState();
    if (keepPlaying) {
        return device_->PlayFrames(frame, s.toc.leadOutFrame);
    }
    stoppedFrame_ = frame;
    if (s.position.status == platform::CdAudioStatus::Paused) {
        device_->Stop();
    }
    return true;
}

bool TMMCDPlayer::Previous() {
    const platform::CdDriveState s = DriveState();
    if (!s.tocValid || s.toc.tracks.empty()) {
        return false;
    }
    const TMSF here = Position();
    const int track = here.track < 1 ? 1 : here.track;
    const bool inFirstSecond = here.minute == 0 && here.second == 0;
    const int target = inFirstSecond && track > 1 ? track - 1 : track;
    return Seek(s.toc.tracks[static_cast<std::size_t>(target - 1)].startFrame,
                s.position.status == platform::CdAudioStatus::Playing);
}

bool TMMCDPlayer::Next() {
    const platform::CdDriveState s = DriveState();
    if (!s.tocValid || s.toc.tracks.empty()) {
        return false;
    }
    const int track = Position().track;
    if (track >= static_cast<int>(s.toc.tracks.size())) {
        return false;
    }
    return Seek(s.toc.tracks[static_cast<std::size_t>(track)].startFrame,
                s.position.status == platform::CdAudioStatus::Playing);
}

bool TMMCDPlayer::Eject() {
    return deviceId_ != 0 && device_->Eject();
}

bool TMMCDPlayer::CloseDoor() {
    return deviceId_ != 0 && device_->CloseTray();
}

} // namespace tunefold
