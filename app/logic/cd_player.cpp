#include "app/logic/cd_player.h"

#include <algorithm>
#include <cctype>

#include "app/logic/settings.h"
#include "platform/message_loop.h"
#include "platform/wave_device.h"

namespace tunefold {

namespace {

constexpr std::uint32_t kAqua = 0xFFFF00;
constexpr std::uint32_t kTeal = 0x808000;
constexpr std::uint32_t kRed = 0x0000FF;
constexpr std::uint32_t kMaroon = 0x000080;
constexpr std::uint32_t kGreen = 0x008000;
constexpr std::uint32_t kLime = 0x00FF00;
constexpr std::uint32_t kYellow = 0x00FFFF;
constexpr std::uint32_t kOlive = 0x008080;
constexpr std::uint32_t kBlack = 0x000000;

// The seek bar's units: minutes x 60000 + seconds x 1000 + frames.
int SeekUnits(int minute, int second, int frame) {
    return minute * 60000 + second * 1000 + frame;
}

// The drive's own reply to a tray command can take a moment; the window waits this long at most.
constexpr long kTrayWaitMs = 3000;

} // namespace

void TCdPlayerWindow::ProcessMessages() {
    platform::MessageLoop::Gui().ProcessMessages();
}

TCdRoute StoredCdRoute() {
    const SettingValue stored = ReadSettingValue(platform::HKEY_CURRENT_USER, SettingsKeyPath,
                                                 settings_value::CDAudio, std::string());
    std::string name = std::get<std::string>(stored);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (name == "digital") {
        return TCdRoute::Digital;
    }
    return name == "analog" ? TCdRoute::Analog : TCdRoute::Auto;
}

void StoreCdRoute(TCdRoute route) {
    const char* name = route == TCdRoute::Digital ? "Digital" : route == TCdRoute::Analog ? "Analog" : "Auto";
    WriteSettingValue(platform::HKEY_CURRENT_USER, SettingsKeyPath, settings_value::CDAudio,
                      std::string(name));
}

TCdPlayer::Busy::~Busy() {
    if (--cd_.busy_ == 0 && !cd_.heldDoor_.empty()) {
        cd_.RunHeldDoorEvents();
    }
}

TCdPlayer::TCdPlayer(TFilePlayer& player, TEqualizerController& equalizer, TCdPlayerWindow& window,
                     TCdRoute route, platform::CdAudioDevice* device, const std::string& database)
    : player_(player), eq_(equalizer), window_(window), media_(nullptr, device),
      deck_(media_, player.Chain()) {
    // The line input is the drive's analog cable into the sound card; a machine without an input
    // device cannot have one, and then the disc is read digitally.
    digital_ =
        route == TCdRoute::Digital || (route == TCdRoute::Auto && platform::WaveIn().GetNumDevs() == 0);
    view_.digital = digital_;

    // No drive is no failure: the window exists and its drive controls stay dark.
    media_.Open();
    view_.driveOpen = media_.DeviceID() != 0;
    info_.BeginLoading();
    info_.SetInterval(300);
    info_.SetPlayer(&media_);
    info_.SetIniFile(database);
    info_.OnTimer = [this](TObject*) { MMCDInfo1Timer(); };
    info_.OnDoorOpen = [this](TObject*) { MMCDInfo1DoorOpen(); };
    info_.OnDoorClose = [this](TObject*) { MMCDInfo1DoorClose(); };
    info_.Loaded();
    PowerOffLook();
    eq_.SetCdPlayerSide(this);
}

TCdPlayer::~TCdPlayer() {
    info_.OnTimer = nullptr;
    info_.OnDoorOpen = nullptr;
    info_.OnDoorClose = nullptr;
    info_.SetEnabled(false);
    eq_.SetCdPlayerSide(nullptr);
    if (info_.Tag() == 1) {
        if (digital_) {
            deck_.Stop();
        } else {
            media_.Stop();
        }
    }
    // The meters go with us: the connector must not keep them.
    player_.Connector().SetLevel1(&player_.Level1());
    player_.Connector().SetLevel2(&player_.Level2());
    media_.Close();
}

void TCdPlayer::ProcessMessages() {
    window_.ProcessMessages();
}

TMSF TCdPlayer::Position() {
    return digital_ ? deck_.Position() : media_.Position();
}

int TCdPlayer::CountTracks() {
    const int drive = media_.Tracks();
    bool audio = false;
    for (int t = 1; t <= drive && !audio; ++t) {
        audio = media_.TrackIsAudio(t);
    }
    if (!audio) {
        return 0; // nothing this player can play
    }
    // The database may list fewer tracks (the user's count is the one shown), never more: a stale
    // entry must not let Next run past the disc. Until the disc was read the entry is the last one's.
    const int listed = info_.NumTracks();
    if (!info_.NeedRead() && listed > 0) {
        return std::min(drive, listed);
    }
    return drive;
}

void TCdPlayer::Grid(int current, int count) {
    view_.cells.fill(false);
    if (current >= 1 && count >= 1 && count <= 25) {
        for (int n = current; n <= count; ++n) {
            view_.cells[static_cast<std::size_t>(n - 1)] = true;
        }
    }
}

void TCdPlayer::SetLength(int track) {
    // Only tracks on the disc have a length; neither track 0 nor the lead-out is asked.
    platform::CdMsf length;
    if (track >= 1 && track <= media_.Tracks()) {
        length = media_.TrackLength(track);
    }
    view_.lengthMinutes = length.minute;
    view_.lengthSeconds = length.second;
    view_.seekMax = SeekUnits(length.minute, length.second, length.frame);
}

void TCdPlayer::SetWheelValue(int value) {
    view_.wheelValue = std::clamp(value, 0, 32768);
    Changed();
}

// ---------------------------------------------------------------- keys

void TCdPlayer::RzBmpButton1Click() {
    if (trackCount_ < 1) {
        return; // no disc: nothing to play, and the window must not claim it plays
    }
    info_.SetTag(1);
    if (digital_) {
        if (player_.ActiveSource() != 2) {
            eq_.SelectDigitalCd();
        }
        deck_.Play();
    } else {
        if (player_.ActiveSource() == 2) {
            media_.Play();
        } else {
            eq_.RingBuffer().ResetQueue();
            media_.Play();
            eq_.RzBmpButton5Click();
        }
        Out().Start();
    }
    view_.playEnabled = false;
    view_.pauseEnabled = true;
    view_.stopEnabled = true;
    view_.stopColour = kMaroon;
    view_.playColour = kLime;
    Changed();
}

void TCdPlayer::RzBmpButton2Click() {
    if (digital_) {
        if (!view_.paused) {
            deck_.Pause();
        }
    } else {
        media_.Pause();
        Out().Stop();
    }
    if (!view_.paused) {
        view_.pauseColour = kYellow;
        view_.paused = true;
    } else {
        view_.pauseColour = kOlive;
        view_.paused = false;
        if (digital_) {
            deck_.Play();
        } else {
            Out().Open();
            Out().Start();
            media_.Play();
        }
    }
    Changed();
}

void TCdPlayer::RzBmpButton3Click() {
    Busy busy(*this);
    if (digital_) {
        deck_.Stop();
    } else {
        media_.Stop();
    }
    Out().Stop();
    info_.SetTag(0);
    if (!trayOpen_) {
        const TMSF first{1, 0, 0, 0};
        if (digital_) {
            deck_.SetStartPos(first);
        } else {
            media_.SetStartPos(first);
        }
    }
    ProcessMessages();
    view_.elapsedMinutes = 0;
    view_.elapsedSeconds = 0;
    view_.seekPosition = 0;
    view_.playEnabled = true;
    view_.pauseEnabled = false;
    view_.stopEnabled = false;
    view_.playColour = kGreen;
    view_.stopColour = kRed;
    view_.pauseColour = kOlive;
    view_.paused = false;
    Changed();
    ProcessMessages();
}

void TCdPlayer::ClickStop() {
    RzBmpButton3Click();
}

void TCdPlayer::RzBmpButton5Click() {
    if (digital_) {
        deck_.Previous();
    } else {
        media_.Previous();
    }
    // Stopped, no poll follows the move: the displays show where the disc now stands.
    SetInd();
}

void TCdPlayer::RzBmpButton6Click() {
    if (digital_) {
        deck_.Next();
    } else {
        media_.Next();
    }
    SetInd();
}

void TCdPlayer::RzBmpButton7Click() {
    Busy busy(*this);
    info_.SetTag(0);
    if (view_.stopEnabled) {
        RzBmpButton3Click();
        view_.playEnabled = false;
        view_.prevEnabled = false;
        view_.nextEnabled = false;
        Changed();
        ProcessMessages();
    }
    if (media_.DeviceID() != 0) {
        if (media_.Mode() == mpOpen) {
            media_.CloseDoor();
        } else {
            media_.Eject();
        }
        media_.Device()->Refresh(kTrayWaitMs);
    }
    FirstInd();
    ProcessMessages();
    FirstInd();
}

void TCdPlayer::RzBmpButton4Click() {
    window_.ShowWindow(false);
}

void TCdPlayer::MMWheel1Change(int value) {
    view_.wheelValue = value;
    if (view_.wheelEnabled && player_.ActiveSource() == 2) {
        player_.Chain().Volume().SetVolume(value);
    }
}

// ---------------------------------------------------------------- power

void TCdPlayer::PowerOffLook() {
    view_.playEnabled = false;
    view_.prevEnabled = false;
    view_.nextEnabled = false;
    view_.stopColour = kMaroon;
    view_.gridColour = kTeal;
    view_.panelCaptionColour = kTeal;
    view_.panelsEnabled = false;
    view_.trayEnabled = false;
    view_.wheelEnabled = false;
    view_.wheelColour = kMaroon;
    view_.elapsedMinutes = view_.elapsedSeconds = 0;
    view_.lengthMinutes = view_.lengthSeconds = 0;
    view_.clockHigh = kTeal;
    view_.clockLow = kBlack;
    view_.captionColour = kTeal;
    view_.scaleColours = {kTeal, kOlive, kMaroon};
    view_.seekPosition = 0;
    view_.seekEnabled = false;
    view_.seekTrackColour = kBlack;
    view_.cells.fill(false);
    view_.powerOn = false;
}

void TCdPlayer::VrSwitch1Change() {
    if (!view_.powerOn) {
        view_.panelCaptionColour = kAqua;
        view_.panelsEnabled = true;
        view_.trayEnabled = true;
        view_.wheelEnabled = true;
        view_.wheelColour = kRed;
        view_.gridColour = kAqua;
        view_.elapsedMinutes = view_.elapsedSeconds = 0;
        view_.lengthMinutes = view_.lengthSeconds = 0;
        view_.clockHigh = kAqua;
        view_.clockLow = kTeal;
        view_.captionColour = kAqua;
        view_.scaleColours = {kAqua, kYellow, kRed};
        view_.powerOn = true;
        FirstInd();
        return;
    }
    Busy busy(*this);
    if (view_.stopEnabled) {
        RzBmpButton3Click();
    }
    ProcessMessages();
    PowerOffLook();
    Changed();
}

// ---------------------------------------------------------------- the drive's events

void TCdPlayer::MMCDInfo1Timer() {
    if (info_.Tag() == 1) {
        SetInd();
    }
}

void TCdPlayer::RunHeldDoorEvents() {
    while (!heldDoor_.empty()) {
        const char event = heldDoor_.front();
        heldDoor_.erase(0, 1);
        if (event == 'o') {
            MMCDInfo1DoorOpen();
        } else {
            MMCDInfo1DoorClose();
        }
    }
}

void TCdPlayer::MMCDInfo1DoorOpen() {
    if (busy_ > 0) {
        // Inside a handler that lets messages run: its own steps come first, then this.
        heldDoor_ += 'o';
        return;
    }
    Busy busy(*this);
    trayOpen_ = true;
    if (view_.stopEnabled) {
        RzBmpButton3Click();
    }
    view_.playEnabled = false;
    view_.prevEnabled = false;
    view_.nextEnabled = false;
    view_.stopColour = kMaroon;
    Changed();
    ProcessMessages();
    FirstInd();
}

void TCdPlayer::MMCDInfo1DoorClose() {
    if (busy_ > 0) {
        heldDoor_ += 'c';
        return;
    }
    Busy busy(*this);
    trayOpen_ = false;
    FirstInd();
}

// ---------------------------------------------------------------- displays

void TCdPlayer::FirstInd() {
    if (!view_.powerOn) {
        return; // switched off, the panel stays dark; switching on refreshes it
    }
    Busy busy(*this);
    ++firstIndCount_;
    currentTrack_ = 0;
    trackCount_ = 0;
    media_.Close();
    media_.Open();
    deck_.Forget();
    view_.driveOpen = media_.DeviceID() != 0;
    ProcessMessages();
    if (!trayOpen_ && media_.DeviceID() != 0) {
        const TMSF position = Position();
        currentTrack_ = position.track;
        ProcessMessages();
        trackCount_ = media_.Tracks() > 0 ? CountTracks() : 0;
        ProcessMessages();
        // One audio track is a disc like any other.
        if (trackCount_ >= 1 && currentTrack_ >= 1 && currentTrack_ <= trackCount_) {
            SetLength(currentTrack_);
            view_.elapsedMinutes = position.minute;
            view_.elapsedSeconds = position.second;
            view_.seekEnabled = true;
            view_.seekTrackColour = kAqua;
            view_.playEnabled = true;
            view_.stopColour = kRed;
            view_.nextEnabled = currentTrack_ < trackCount_;
            view_.prevEnabled = currentTrack_ > 1;
        } else {
            trackCount_ = 0;
        }
    }
    if (trackCount_ < 1) {
        currentTrack_ = 0;
        trackCount_ = 0;
        view_.elapsedMinutes = view_.elapsedSeconds = 0;
        view_.lengthMinutes = view_.lengthSeconds = 0;
        view_.seekMax = 0;
        view_.seekPosition = 0;
        view_.seekEnabled = false;
        view_.seekTrackColour = kBlack;
        view_.playEnabled = false;
        view_.prevEnabled = false;
        view_.nextEnabled = false;
        view_.stopColour = kMaroon;
    }
    view_.currentTrack = currentTrack_;
    view_.trackCount = trackCount_;
    Grid(currentTrack_, trackCount_);
    Changed();
}

void TCdPlayer::SetInd() {
    trackCount_ = CountTracks();
    const TMSF position = Position();
    // A subchannel may name the lead-out (or nothing): that is no track of the disc.
    const int t = position.track >= 1 && position.track <= media_.Tracks() ? position.track : 0;
    if (t != currentTrack_) {
        view_.seekPosition = 0;
        view_.seekEnabled = true;
        view_.seekTrackColour = kAqua;
        Grid(t, trackCount_);
        SetLength(t);
    }
    if (!view_.paused) {
        view_.elapsedMinutes = position.minute;
        view_.elapsedSeconds = position.second;
    }
    if (!seeking_) {
        view_.seekPosition = SeekUnits(position.minute, position.second, position.frame);
    }
    currentTrack_ = t;
    view_.currentTrack = t;
    view_.trackCount = trackCount_;
    view_.nextEnabled = view_.powerOn && currentTrack_ < trackCount_;
    view_.prevEnabled = view_.powerOn && currentTrack_ > 1;
    Changed();
}

// ---------------------------------------------------------------- seek bar

void TCdPlayer::RzTrackBar1MouseDown() {
    if (!view_.seekEnabled) {
        return;
    }
    seeking_ = true;
    if (view_.seekPosition == 0) {
        RzBmpButton1Click();
    }
    if (!view_.paused) {
        RzBmpButton2Click();
    }
}

void TCdPlayer::RzTrackBar1MouseMove(int position) {
    if (!seeking_) {
        return;
    }
    view_.seekPosition = std::clamp(position, 0, view_.seekMax);
    const int p = view_.seekPosition < 1 ? 0 : view_.seekPosition;
    view_.elapsedMinutes = p / 60000;
    view_.elapsedSeconds = (p % 60000) / 1000;
    Changed();
}

void TCdPlayer::RzTrackBar1MouseUp() {
    if (!seeking_) {
        return;
    }
    seeking_ = false;
    const TMSF to{currentTrack_, view_.elapsedMinutes, view_.elapsedSeconds, 0};
    if (digital_) {
        deck_.SetStartPos(to);
    } else {
        media_.SetStartPos(to);
    }
    RzBmpButton2Click();
}

} // namespace tunefold
