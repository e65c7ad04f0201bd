#include "platform/virtual/virtual_cd_drive.h"

#include <cmath>
#include <cstdlib>
#include <numbers>

#include "platform/input_file.h"
#include "platform/mm_timer.h"

namespace tunefold::platform {

namespace {

constexpr int kMaxFrame = 100 * kCdFramesPerMinute; // 100:00:00
constexpr std::size_t kMaxLayoutBytes = 64 * 1024;

std::string_view Trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
        s.remove_suffix(1);
    }
    return s;
}

std::vector<std::string_view> Words(std::string_view s) {
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) {
            ++i;
        }
        const std::size_t start = i;
        while (i < s.size() && s[i] != ' ' && s[i] != '\t') {
            ++i;
        }
        if (i > start) {
            words.push_back(s.substr(start, i - start));
        }
    }
    return words;
}

// "M:SS:FF" with seconds below 60 and frames below 75.
bool ParseMsf(std::string_view text, int& frames) {
    int parts[3] = {0, 0, 0};
    int part = 0;
    int digits = 0;
    for (const char c : text) {
        if (c == ':') {
            if (digits == 0 || ++part > 2) {
                return false;
            }
            digits = 0;
            continue;
        }
        if (c < '0' || c > '9' || ++digits > 3) {
            return false;
        }
        parts[part] = parts[part] * 10 + (c - '0');
    }
    if (part != 2 || digits == 0 || parts[1] >= 60 || parts[2] >= kCdFramesPerSecond) {
        return false;
    }
    frames = MsfToFrames(CdMsf{parts[0], parts[1], parts[2]});
    return frames < kMaxFrame;
}

} // namespace

bool ParseVirtualDiscLayout(std::string_view text, VirtualDiscLayout& layout, std::string& error) {
    VirtualDiscLayout result;
    VirtualDisc disc;
    bool noDisc = false;
    int leadOut = -1;
    int length = -1;
    int lineNumber = 0;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        const std::size_t end = text.find('\n', pos);
        std::string_view line =
            text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
        pos = end == std::string_view::npos ? text.size() + 1 : end + 1;
        ++lineNumber;
        if (const std::size_t hash = line.find('#'); hash != std::string_view::npos) {
            line = line.substr(0, hash);
        }
        line = Trimmed(line);
        if (line.empty()) {
            continue;
        }
        const std::vector<std::string_view> w = Words(line);
        const auto fail = [&](const std::string& why) {
            error = "line " + std::to_string(lineNumber) + ": " + why;
            return false;
        };
        if (w[0] == "track") {
            int start = 0;
            if (w.size() < 2 || w.size() > 3 || !ParseMsf(w[1], start)) {
                return fail("expected: track M:SS:FF [audio|data]");
            }
            bool data = false;
            if (w.size() == 3) {
                if (w[2] != "audio" && w[2] != "data") {
                    return fail("a track is audio or data");
                }
                data = w[2] == "data";
            }
            if (disc.tracks.size() >= 99) {
                return fail("a disc has at most 99 tracks");
            }
            if (!disc.tracks.empty() && start <= disc.tracks.back().startFrame) {
                return fail("a track must start after the one before it");
            }
            disc.tracks.push_back(CdTrackEntry{static_cast<int>(disc.tracks.size()) + 1, data, start});
        } else if (w[0] == "leadout" || w[0] == "length") {
            int frames = 0;
            if (w.size() != 2 || !ParseMsf(w[1], frames)) {
                return fail("expected: " + std::string(w[0]) + " M:SS:FF");
            }
            (w[0] == "leadout" ? leadOut : length) = frames;
        } else if (w[0] == "nodisc" && w.size() == 1) {
            noDisc = true;
        } else if (w[0] == "nodrive" && w.size() == 1) {
            result.noDrive = true;
        } else if (w[0] == "door" && w.size() == 2 && (w[1] == "open" || w[1] == "closed")) {
            result.doorOpen = w[1] == "open";
        } else {
            return fail("unknown statement \"" + std::string(w[0]) + "\"");
        }
    }
    if (noDisc || (result.noDrive && disc.tracks.empty())) {
        if (!disc.tracks.empty()) {
            error = "nodisc and tracks contradict each other";
            return false;
        }
    } else {
        if (disc.tracks.empty()) {
            error = "no tracks (say nodisc for an empty drive)";
            return false;
        }
        if ((leadOut >= 0) == (length >= 0)) {
            error = "give either leadout or length";
            return false;
        }
        const int last = disc.tracks.back().startFrame;
        disc.leadOutFrame = leadOut >= 0 ? leadOut : last + length;
        if (disc.leadOutFrame <= last || disc.leadOutFrame > kMaxFrame) {
            error = "the lead-out must lie after the last track's start, below 100:00:00";
            return false;
        }
        result.disc = std::move(disc);
    }
    layout = std::move(result);
    return true;
}

bool LoadVirtualDiscLayout(const std::string& path, VirtualDiscLayout& layout, std::string& error) {
    std::string bytes;
    if (ReadRegularFile(path, kMaxLayoutBytes, bytes) != InputFileError::None) {
        error = "cannot read the disc layout (a regular file of at most 64 KiB)";
        return false;
    }
    return ParseVirtualDiscLayout(bytes, layout, error);
}

VirtualDisc MakeVirtualDisc(const std::vector<CdMsf>& starts, CdMsf leadOut) {
    VirtualDisc disc;
    for (const CdMsf& s : starts) {
        disc.tracks.push_back(CdTrackEntry{static_cast<int>(disc.tracks.size()) + 1, false, MsfToFrames(s)});
    }
    disc.leadOutFrame = MsfToFrames(leadOut);
    return disc;
}

// ---- the drive ----

VirtualCdDrive::VirtualCdDrive() = default;

VirtualCdDrive& VirtualCdDrive::Instance() {
    static VirtualCdDrive* drive = [] {
        auto* d = new VirtualCdDrive; // lives for the process: timers and windows may ask late
        VirtualDiscLayout layout;
        std::string error;
        const char* file = std::getenv("TUNEFOLD_VIRTUAL_CD");
        if (file != nullptr && *file != '\0' && LoadVirtualDiscLayout(file, layout, error)) {
            d->ApplyLayout(layout);
        } else {
            layout.disc = MakeVirtualDisc({{0, 2, 0}, {4, 12, 40}, {7, 30, 0}, {11, 5, 20}}, {15, 0, 0});
            d->ApplyLayout(layout);
        }
        return d;
    }();
    return *drive;
}

void VirtualCdDrive::ApplyLayout(const VirtualDiscLayout& layout) {
    std::lock_guard lock(mutex_);
    noDrive_ = layout.noDrive;
    disc_ = layout.disc;
    doorOpen_ = layout.doorOpen;
    spinUpLeft_ = 0;
    play_ = Play::Stopped;
    ++mediaSerial_;
}

void VirtualCdDrive::InsertDisc(std::optional<VirtualDisc> disc) {
    std::lock_guard lock(mutex_);
    disc_ = std::move(disc);
    play_ = Play::Stopped;
    spinUpLeft_ = disc_ && !doorOpen_ ? faults_.spinUpQueries : 0;
    ++mediaSerial_;
}

void VirtualCdDrive::OpenDoor() {
    std::lock_guard lock(mutex_);
    DoorOpenedLocked();
}

void VirtualCdDrive::CloseDoor() {
    std::lock_guard lock(mutex_);
    DoorClosedLocked();
}

void VirtualCdDrive::DoorOpenedLocked() {
    if (doorOpen_) {
        return;
    }
    doorOpen_ = true;
    play_ = Play::Stopped;
    ++mediaSerial_;
}

void VirtualCdDrive::DoorClosedLocked() {
    if (!doorOpen_) {
        return;
    }
    doorOpen_ = false;
    spinUpLeft_ = disc_ ? faults_.spinUpQueries : 0;
    ++mediaSerial_;
}

void VirtualCdDrive::SetNoDrive(bool noDrive) {
    std::lock_guard lock(mutex_);
    noDrive_ = noDrive;
}

void VirtualCdDrive::SetFaults(const VirtualCdFaults& faults) {
    std::lock_guard lock(mutex_);
    faults_ = faults;
}

int VirtualCdDrive::OpenCount() {
    std::lock_guard lock(mutex_);
    return opens_;
}

std::int16_t VirtualCdDrive::SignalSample(int track, std::int64_t sample, int channel) {
    // The right channel a fifth above the left, so a swapped pair shows.
    const double hz = 110.0 * track * (channel == 0 ? 1.0 : 1.5);
    const double phase = 2.0 * std::numbers::pi * hz * static_cast<double>(sample % (44100 * 4)) / 44100.0;
    return static_cast<std::int16_t>(std::lround(8000.0 * std::sin(phase)));
}

bool VirtualCdDrive::Open() {
    std::lock_guard lock(mutex_);
    if (noDrive_ || faults_.failOpen) {
        return false;
    }
    ++opens_;
    return true;
}

void VirtualCdDrive::Close() {
    std::lock_guard lock(mutex_);
    if (opens_ > 0) {
        --opens_;
    }
}

bool VirtualCdDrive::IsOpen() {
    std::lock_guard lock(mutex_);
    return opens_ > 0 && !noDrive_;
}

int VirtualCdDrive::CurrentFrameLocked() {
    if (play_ == Play::Playing) {
        const std::uint32_t elapsedMs = Timers().timeGetTime() - startedMs_;
        const std::int64_t frame =
            fromFrame_ + static_cast<std::int64_t>(elapsedMs) * kCdFramesPerSecond / 1000;
        if (frame >= toFrame_) {
            play_ = Play::Completed;
            lastFrame_ = toFrame_;
        } else {
            lastFrame_ = static_cast<int>(frame);
        }
    } else if (play_ == Play::Paused) {
        lastFrame_ = fromFrame_;
    }
    return lastFrame_;
}

CdDriveState VirtualCdDrive::State() {
    std::lock_guard lock(mutex_);
    CdDriveState s;
    s.mediaSerial = mediaSerial_;
    if (noDrive_ || opens_ == 0) {
        s.status = CdDriveStatus::NoDrive;
        return s;
    }
    if (doorOpen_) {
        s.status = CdDriveStatus::TrayOpen;
        return s;
    }
    if (!disc_) {
        s.status = CdDriveStatus::NoDisc;
        return s;
    }
    if (spinUpLeft_ > 0) {
        --spinUpLeft_;
        s.status = CdDriveStatus::NotReady;
        return s;
    }
    s.status = CdDriveStatus::DiscOk;
    s.tocValid = true;
    s.toc.firstTrack = 1;
    s.toc.lastTrack = static_cast<int>(disc_->tracks.size());
    s.toc.tracks = disc_->tracks;
    s.toc.leadOutFrame = disc_->leadOutFrame;
    const int frame = CurrentFrameLocked();
    switch (play_) {
    case Play::Stopped:
        s.position.status = CdAudioStatus::None;
        break;
    case Play::Playing:
        s.position.status = CdAudioStatus::Playing;
        break;
    case Play::Paused:
        s.position.status = CdAudioStatus::Paused;
        break;
    case Play::Completed:
        s.position.status = CdAudioStatus::Completed;
        break;
    }
    s.position.absoluteFrame = frame;
    s.position.track = 0;
    for (const CdTrackEntry& t : disc_->tracks) {
        if (frame >= t.startFrame) {
            s.position.track = t.number;
            s.position.relativeFrame = frame - t.startFrame;
        }
    }
    if (frame >= disc_->leadOutFrame) {
        s.position.track = kCdLeadOutTrack;
        s.position.relativeFrame = frame - disc_->leadOutFrame;
    }
    return s;
}

bool VirtualCdDrive::Refresh(long /*timeoutMs*/) {
    return true; // every answer is computed when asked
}

bool VirtualCdDrive::PlayFrames(int fromFrame, int toFrame) {
    std::lock_guard lock(mutex_);
    if (opens_ == 0 || noDrive_ || doorOpen_ || !disc_ || faults_.failPlay) {
        return false;
    }
    if (fromFrame < disc_->tracks.front().startFrame || toFrame > disc_->leadOutFrame ||
        fromFrame >= toFrame) {
        return false;
    }
    play_ = Play::Playing;
    fromFrame_ = fromFrame;
    toFrame_ = toFrame;
    startedMs_ = Timers().timeGetTime();
    lastFrame_ = fromFrame;
    return true;
}

bool VirtualCdDrive::Pause() {
    std::lock_guard lock(mutex_);
    if (opens_ == 0 || play_ != Play::Playing) {
        return false;
    }
    const int frame = CurrentFrameLocked();
    if (play_ != Play::Playing) {
        return false; // it ended just now
    }
    play_ = Play::Paused;
    fromFrame_ = frame;
    return true;
}

bool VirtualCdDrive::Resume() {
    std::lock_guard lock(mutex_);
    if (opens_ == 0 || play_ != Play::Paused) {
        return false;
    }
    play_ = Play::Playing;
    startedMs_ = Timers().timeGetTime();
    return true;
}

bool VirtualCdDrive::Stop() {
    std::lock_guard lock(mutex_);
    if (opens_ == 0) {
        return false;
    }
    CurrentFrameLocked();
    play_ = Play::Stopped;
    return true;
}

bool VirtualCdDrive::Eject() {
    std::lock_guard lock(mutex_);
    if (opens_ == 0 || noDrive_) {
        return false;
    }
    DoorOpenedLocked();
    return true;
}

bool VirtualCdDrive::CloseTray() {
    std::lock_guard lock(mutex_);
    if (opens_ == 0 || noDrive_) {
        return false;
    }
    DoorClosedLocked();
    return true;
}

int VirtualCdDrive::TrackAt(int lba) {
    std::lock_guard lock(mutex_);
    if (!disc_ || doorOpen_ || noDrive_) {
        return 0;
    }
    const int frame = lba + kCdLeadInFrames;
    if (frame >= disc_->leadOutFrame) {
        return 0;
    }
    int track = 0;
    for (const CdTrackEntry& t : disc_->tracks) {
        if (frame >= t.startFrame) {
            track = t.data ? -1 : t.number;
        }
    }
    return track;
}

bool VirtualCdDrive::ReadErrors() {
    std::lock_guard lock(mutex_);
    return faults_.readErrors;
}

int VirtualCdDrive::LeadOutLba() {
    std::lock_guard lock(mutex_);
    return disc_ ? disc_->leadOutFrame - kCdLeadInFrames : 0;
}

namespace {

class VirtualCdReader : public CdAudioReader {
public:
    explicit VirtualCdReader(VirtualCdDrive& drive) : drive_(drive) {}
    int Read(int lba, int count, std::uint8_t* out) override {
        if (drive_.ReadErrors() || lba < 0 || count < 0) {
            return -1;
        }
        int done = 0;
        for (; done < count; ++done) {
            const int track = drive_.TrackAt(lba + done);
            if (track == 0) {
                break; // past the lead-out (or the disc went)
            }
            std::uint8_t* sector = out + static_cast<std::ptrdiff_t>(done) * kCdSectorBytes;
            const std::int64_t first = static_cast<std::int64_t>(lba + done) * (kCdSectorBytes / 4);
            for (int i = 0; i < kCdSectorBytes / 4; ++i) {
                for (int ch = 0; ch < 2; ++ch) {
                    // A data track reads as silence here (a player never asks for it).
                    const std::int16_t v = track < 0 ? 0 : VirtualCdDrive::SignalSample(track, first + i, ch);
                    const auto u = static_cast<std::uint16_t>(v);
                    sector[i * 4 + ch * 2] = static_cast<std::uint8_t>(u & 0xFF);
                    sector[i * 4 + ch * 2 + 1] = static_cast<std::uint8_t>(u >> 8);
                }
            }
        }
        return done;
    }

private:
    VirtualCdDrive& drive_;
};

} // namespace

std::unique_ptr<CdAudioReader> VirtualCdDrive::OpenReader() {
    {
        std::lock_guard lock(mutex_);
        if (opens_ == 0 || noDrive_ || doorOpen_ || !disc_ || faults_.failReader) {
            return nullptr;
        }
    }
    return std::make_unique<VirtualCdReader>(*this);
}

} // namespace tunefold::platform
