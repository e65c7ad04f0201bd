#include "cdinfo/cd_info.h"

#include <cstdio>

#include "platform/message_loop.h"
#include "platform/paths.h"

namespace tunefold {

namespace {

constexpr std::size_t kMaxNameChars = 100;

// At most `chars` characters of a UTF-8 text (a character is never cut in two).
std::string CutCharacters(const std::string& text, std::size_t chars) {
    std::size_t seen = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && seen++ == chars) {
            return text.substr(0, i);
        }
    }
    return text;
}

std::string TrackName(int number) {
    return std::string(CDInfoString(kStrTrack)) + " " + std::to_string(number);
}

bool StartsWithFolded(const std::string& text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           SameTextIgnoringCase(std::string_view(text).substr(0, prefix.size()), prefix);
}

// A decimal number with an optional sign, nothing else.
bool ParseDecimal(std::string_view text, long long& value) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i >= text.size()) {
        return false;
    }
    long long n = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        n = n * 10 + (text[i] - '0');
        if (n > 0x7FFFFFFF) {
            return false;
        }
    }
    value = negative ? -n : n;
    return true;
}

} // namespace

const char* CDInfoString(int id) {
    switch (id) {
    case kStrNoDisc:
        return "No Disc";
    case kStrNewArtist:
        return "New Artist";
    case kStrNewTitle:
        return "New Title";
    case kStrTrack:
        return "Track";
    default:
        return "";
    }
}

std::string ResolveCDDatabasePath(const std::string& name) {
    std::string path = name;
    for (char& c : path) {
        if (c == '\\') {
            c = '/';
        }
    }
    const std::size_t slash = path.rfind('/');
    const std::string file = slash == std::string::npos ? path : path.substr(slash + 1);
    if (file.empty() || file == "." || file == "..") {
        return {};
    }
    // A bare name, the old system folder, or any other drive-letter path: the file of that name in
    // the configuration folder (which stands for the system folder here).
    const bool driveLetter = path.size() >= 3 && path[1] == ':' && path[2] == '/';
    if (slash == std::string::npos || StartsWithFolded(path, "C:/WINDOWS/") || driveLetter) {
        return platform::JoinPath(platform::ConfigFolder(), file);
    }
    return path;
}

std::string ComputeDiscIDOf(const std::vector<platform::CdMsf>& trackStarts, int discLengthFrames) {
    std::uint64_t sum = 0;
    for (const platform::CdMsf& s : trackStarts) {
        sum += static_cast<std::uint64_t>(s.minute) * 65536 + static_cast<std::uint64_t>(s.second) * 256 +
               static_cast<std::uint64_t>(s.frame);
    }
    if (trackStarts.size() < 3 && discLengthFrames > 0) {
        sum += static_cast<std::uint64_t>(discLengthFrames);
    }
    char text[24];
    std::snprintf(text, sizeof text, "%llX", static_cast<unsigned long long>(sum));
    return text;
}

TMMCDInfo::TMMCDInfo(TComponent* owner)
    : TMMNonVisualComponent(owner), discId_(CDInfoString(kStrNoDisc)), artist_(CDInfoString(kStrNewArtist)),
      title_(CDInfoString(kStrNewTitle)) {
    SetIniFile("cdplayer.ini");
    RestartTimer();
}

TMMCDInfo::~TMMCDInfo() {
    Destroying();
    StopTimer();
    if (player_ != nullptr) {
        player_->RemoveFreeNotification(this);
    }
}

void TMMCDInfo::Notification(TComponent* component, TOperation operation) {
    TMMNonVisualComponent::Notification(component, operation);
    if (operation == TOperation::opRemove && component == player_) {
        player_ = nullptr;
    }
}

void TMMCDInfo::SetPlayer(TMMCDPlayer* player) {
    if (player == player_) {
        return;
    }
    if (player_ != nullptr) {
        player_->RemoveFreeNotification(this);
    }
    player_ = player;
    if (player_ != nullptr) {
        player_->FreeNotification(this);
    }
}

void TMMCDInfo::SetInterval(int ms) {
    if (ms == interval_) {
        return;
    }
    interval_ = ms;
    RestartTimer();
}

void TMMCDInfo::SetEnabled(bool on) {
    if (on == enabled_) {
        return;
    }
    enabled_ = on;
    RestartTimer();
}

void TMMCDInfo::Loaded() {
    TMMNonVisualComponent::Loaded();
    RestartTimer();
}

void TMMCDInfo::StopTimer() {
    if (timerId_ != 0) {
        // Returns only after a running callback is done, so the window it posts to is still there.
        timerService_->timeKillEvent(timerId_);
        timerId_ = 0;
    }
    window_.reset(); // drops a tick still queued
    tickPending_.reset();
}

void TMMCDInfo::RestartTimer() {
    StopTimer();
    if (!enabled_ || interval_ <= 0 || IsLoading() || IsDestroying()) {
        return;
    }
    window_ = std::make_unique<platform::MessageWindow>([this](UINT msg, WPARAM, LPARAM) -> LRESULT {
        if (msg == MM_CDINFO_POLL) {
            if (tickPending_) {
                tickPending_->store(false);
            }
            Poll();
        }
        return 0;
    });
    tickPending_ = std::make_shared<std::atomic<bool>>(false);
    timerService_ = &platform::Timers();
    // A tick waits in the queue at most once: a GUI thread that is busy does not pile them up.
    timerId_ = timerService_->timeSetEvent(
        static_cast<UINT>(interval_), 0,
        [window = window_.get(), pending = tickPending_](platform::MMTimerId) {
            if (!pending->exchange(true)) {
                window->Post(MM_CDINFO_POLL);
            }
        },
        platform::TIME_PERIODIC);
}

void TMMCDInfo::SetIniFile(const std::string& name) {
    const std::string path = ResolveCDDatabasePath(name);
    if (path.empty() || (ini_ && path == iniPath_)) {
        return;
    }
    iniFile_ = name;
    iniPath_ = path;
    ini_.reset();
    ini_ = std::make_unique<TBigIniFile>(path);
    SetDefaults();
}

void TMMCDInfo::SetNumPlay(std::uint8_t count) {
    if (count == playOrder_.size()) {
        return;
    }
    playOrder_.assign(count, 0);
}

std::optional<int> TMMCDInfo::PlayTrack(int i) const {
    if (i < 0 || i >= static_cast<int>(playOrder_.size())) {
        return std::nullopt;
    }
    const int track = playOrder_[static_cast<std::size_t>(i)];
    if (track >= static_cast<int>(tracks_.size()) || track >= numTracks_ ||
        (discTracks_ >= 0 && track >= discTracks_)) {
        return std::nullopt;
    }
    return track;
}

bool TMMCDInfo::DiscReady() {
    return player_ != nullptr && player_->MediaPresent() && player_->TrackIsAudio(1);
}

void TMMCDInfo::Poll() {
    // A handler below that lets pending messages run may meet the next tick: that one is skipped,
    // so the door events of one change are raised once and in order.
    if (polling_) {
        return;
    }
    struct Guard {
        bool& flag;
        explicit Guard(bool& f) : flag(f) { flag = true; }
        ~Guard() { flag = false; }
    } guard(polling_);
    if (player_ != nullptr && player_->DeviceID() != 0) {
        // Another disc without the door seen open (changed between two polls): read it as well.
        if (player_->DriveState().mediaSerial != readSerial_) {
            needRead_ = true;
        }
        const bool open = player_->Mode() == mpOpen;
        if (open && !doorIsOpen_) {
            doorIsOpen_ = true;
            needRead_ = true;
            if (OnDoorOpen) {
                OnDoorOpen(this);
            }
        } else if (!open && doorIsOpen_) {
            doorIsOpen_ = false;
            if (OnDoorClose) {
                OnDoorClose(this);
            }
        }
        if (player_ != nullptr && needRead_) {
            if (DiscReady()) {
                readSerial_ = player_->DriveState().mediaSerial;
                ComputeDiscID();
                ReadDiscInfo();
                needRead_ = false;
                if (OnReady) {
                    OnReady(this);
                }
            } else {
                discId_ = CDInfoString(kStrNoDisc);
            }
        }
    }
    if (OnTimer) {
        OnTimer(this);
    }
}

void TMMCDInfo::ComputeDiscID() {
    std::vector<platform::CdMsf> starts;
    const int count = player_->Tracks();
    for (int t = 1; t <= count; ++t) {
        starts.push_back(player_->TrackPosition(t));
    }
    discId_ = ComputeDiscIDOf(starts, platform::MsfToFrames(player_->Length()));
}

void TMMCDInfo::SetDefaults() {
    entryType_ = 1;
    artist_ = CDInfoString(kStrNewArtist);
    title_ = CDInfoString(kStrNewTitle);
    tracks_.clear();
    if (player_ != nullptr && player_->DeviceID() != 0) {
        discTracks_ = player_->Tracks();
        numTracks_ = static_cast<std::uint8_t>(discTracks_ & 0xFF);
        SetNumPlay(numTracks_);
        for (int n = 1; n <= numTracks_; ++n) {
            tracks_.push_back(TrackName(n));
        }
        for (std::size_t i = 0; i < playOrder_.size(); ++i) {
            playOrder_[i] = static_cast<std::uint8_t>(i);
        }
        return;
    }
    discTracks_ = -1;
    numTracks_ = 0;
    SetNumPlay(0);
}

void TMMCDInfo::ReadDiscInfo() {
    SetDefaults();
    TBigIniFile& db = *ini_;
    const std::string& section = discId_;
    if (db.ReadInteger(section, "EntryType", 1) != 1) {
        return;
    }
    artist_ = CutCharacters(db.ReadString(section, "artist", artist_), kMaxNameChars);
    title_ = CutCharacters(db.ReadString(section, "title", title_), kMaxNameChars);
    numTracks_ = static_cast<std::uint8_t>(db.ReadInteger(section, "numtracks", numTracks_) & 0xFF);
    for (int i = 0; i < numTracks_; ++i) {
        const auto index = static_cast<std::size_t>(i);
        const std::string def = index < tracks_.size() ? tracks_[index] : TrackName(i + 1);
        std::string name = db.ReadString(section, std::to_string(i), def);
        if (index < tracks_.size()) {
            tracks_[index] = std::move(name);
        } else {
            tracks_.push_back(std::move(name));
        }
    }
    const auto numPlay = static_cast<std::uint8_t>(db.ReadInteger(section, "numplay", NumPlay()) & 0xFF);
    const bool changed = numPlay != NumPlay();
    SetNumPlay(numPlay);
    std::string order = db.ReadString(section, "order", "");
    if (order.empty()) {
        if (changed) {
            // A new length with no order: the tracks in disc order, not a list of zeros.
            for (std::size_t i = 0; i < playOrder_.size(); ++i) {
                playOrder_[i] = static_cast<std::uint8_t>(i);
            }
        }
        return;
    }
    order += ' ';
    for (std::size_t i = 0; i < playOrder_.size(); ++i) {
        const std::size_t space = order.find(' ');
        long long n = 0;
        // An entry that is no number takes its own position, and stays for every later entry to
        // meet, so each of those takes its own position too.
        if (space != std::string::npos && ParseDecimal(std::string_view(order).substr(0, space), n)) {
            order.erase(0, space + 1);
            // An entry beyond the track count is its position; one equal to it stays (as written).
            playOrder_[i] =
                n < 0 || n > numTracks_ ? static_cast<std::uint8_t>(i) : static_cast<std::uint8_t>(n);
        } else {
            playOrder_[i] = static_cast<std::uint8_t>(i);
        }
    }
}

} // namespace tunefold
