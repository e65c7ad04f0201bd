#include "app/logic/file_player.h"

#include <algorithm>

#include "app/logic/file_info.h"
#include "app/logic/mpeg_tag_line.h"
#include "app/logic/play_entries.h"
#include "app/logic/recent_files.h"
#include "engine/displays/player_displays.h"
#include "engine/sources/mpeg_file.h"
#include "engine/sources/wave_io.h"
#include "platform/dialogs.h"
#include "platform/input_file.h"
#include "platform/paths.h"

namespace tunefold {

const char* const TFilePlayer::kOpenFilter =
    "All Supported Formats|*.wav;*.mp2;*.mp3;*.l2;*.l3;*.atx;*.lst;*.m3u|Wave Files (*.wav)|*.wav|"
    "MPEG Audio Files (*.mp2; *.mp3; *.l2; *.l3)|*.mp2;*.mp3;*.l2;*.l3|Antex MPEG Files (*.atx)|*.atx|"
    "Playlist Files (*.m3u)|*.m3u|Playlist Files (*.txt)|*.lst|All Files|*.*";

namespace {

constexpr std::uint32_t kRed = 255;
constexpr std::uint32_t kMaroon = 128;
constexpr std::size_t kLineLength = 12;

TPlayerChainSettings PlayerChainSettings() {
    TPlayerChainSettings s;
    s.equalizer = true;
    s.numBuffers = 132;
    s.bufferSize = 2048;
    // The system's default device (ALSA's "default": the sound server the desktop runs).
    s.deviceId = -1;
    return s;
}

int Counter(std::size_t n) {
    return static_cast<int>(std::min<std::size_t>(n, 99));
}

std::string BaseName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Upper(std::string s) {
    for (char& c : s) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return s;
}

// The length in characters the dot matrix counts: UTF-8 continuation bytes are not characters.
std::size_t Characters(const std::string& text) {
    return static_cast<std::size_t>(std::count_if(
        text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

TMatrixLine Line(const std::string& text) {
    return TMatrixLine{text, Characters(text) > kLineLength};
}

} // namespace

TSplitTime SplitMilliseconds(std::int64_t ms) {
    TSplitTime t;
    if (ms < 1) {
        return t;
    }
    const std::int64_t totalMinutes = ms / 60000;
    const std::int64_t rest = ms % 60000;
    t.hours = static_cast<int>(totalMinutes / 60);
    t.minutes = static_cast<int>(totalMinutes % 60);
    t.seconds = static_cast<int>(rest / 1000);
    t.milliseconds = static_cast<int>(rest % 1000);
    return t;
}

TFilePlayer::TFilePlayer(TFilePlayerWindow& window) : window_(window), chain_(PlayerChainSettings()) {
    TMMWaveOut& out = chain_.WaveOut();
    out.OnStart = [this](TObject*) { WaveOutStart(); };
    out.OnStop = [this](TObject*) { WaveOutStop(); };
    out.OnPause = [this](TObject*) { WaveOutPause(); };
    out.OnRestart = [this](TObject*) { WaveOutRestart(); };

    UsePlayerMeterSettings(level1_, chLeft);
    UsePlayerMeterSettings(level2_, chRight);
    connector_.SetAutoTrigger(false);
    TMMConnector::SetEnterIdle(false);
    connector_.SetLevel1(&level1_);
    connector_.SetLevel2(&level2_);
    out.SetOutput(&connector_);

    hiTimer_.BeginLoading();
    hiTimer_.SetInterval(30);
    // The tick runs on the GUI thread, posted there straight from the timer's own thread: a
    // worker thread that only hands each tick on (and waits for it) would cost two more wake-ups
    // every 30 ms for the same order of events. Ticks the GUI thread has not run yet are not
    // posted again.
    hiTimer_.SetCallBackMode(cmWindow);
    hiTimer_.SetEnabled(false);
    hiTimer_.SetOnTimer([this](TObject*) { HiTimerTimer(); });
    hiTimer_.Loaded();

    pauseTimer_.BeginLoading();
    pauseTimer_.SetInterval(2000);
    pauseTimer_.SetCallBackMode(cmWindow);
    pauseTimer_.SetEnabled(false);
    pauseTimer_.SetOnTimer([this](TObject*) { MMPauseTimerTimer(); });
    pauseTimer_.Loaded();

    // The equalizer's curve is the equalizer window's (its controller loads normal.eq0).
    chain_.Volume().SetVolume(view_.wheelValue);
}

TFilePlayer::~TFilePlayer() {
    CancelGap();
    hiTimer_.SetEnabled(false);
    chain_.WaveOut().OnStart = nullptr;
    chain_.WaveOut().OnStop = nullptr;
    chain_.WaveOut().OnPause = nullptr;
    chain_.WaveOut().OnRestart = nullptr;
    chain_.WaveOut().Close();
}

bool TFilePlayer::GapPending() const {
    return pauseTimer_.Enabled();
}

void TFilePlayer::CancelGap() {
    pauseTimer_.SetEnabled(false);
}

void TFilePlayer::StopDevice() {
    CancelGap();
    WaveOut().Stop();
}

void TFilePlayer::SetLines(const std::string& line1, const std::string& line2) {
    view_.line1 = Line(line1);
    view_.line2 = Line(line2);
}

// ---------------------------------------------------------------- power, wheel

void TFilePlayer::VrSwitch1Change(bool on) {
    if (on == view_.powerOn) {
        return;
    }
    if (on) {
        view_.wheelEnabled = true;
        view_.wheelColour = kRed;
        SetButton(TPlayerButton::Open, true);
        SetButton(TPlayerButton::Playlist, true);
        view_.powerOn = true;
        for (TLedNumber* led : {&view_.entry, &view_.entries, &view_.bitRate, &view_.rate}) {
            *led = TLedNumber{0, true};
        }
        mrud_read(view_.recent, view_.recentEnabled);
        Changed();
        return;
    }
    view_.wheelEnabled = false;
    view_.trackEnabled = false;
    view_.powerOn = false;
    if (activeSource_ == 1) {
        btnStopClick();
    }
    // A start that waits in the gap would play with the power off.
    CancelGap();
    for (TPlayerButton b :
         {TPlayerButton::Play, TPlayerButton::Pause, TPlayerButton::Stop, TPlayerButton::Previous,
          TPlayerButton::Next, TPlayerButton::Open, TPlayerButton::Playlist}) {
        SetButton(b, false);
    }
    view_.modeEnabled = false;
    fileList_.clear();
    SetLines("", "");
    view_.layerLit = false;
    view_.stopLit = false;
    view_.wheelColour = kMaroon;
    view_.entry.enabled = false;
    view_.entries.enabled = false;
    view_.bitRate.enabled = false;
    view_.rate.enabled = false;
    view_.length = TClockFields{};
    view_.recentEnabled = false;
    Changed();
}

void TFilePlayer::MMWheel1Change(int value) {
    view_.wheelValue = std::clamp(value, 0, 32768);
    if (view_.wheelEnabled && activeSource_ == 1) {
        chain_.Volume().SetVolume(view_.wheelValue);
    }
    Changed();
}

void TFilePlayer::SetPreVolume(int value) {
    view_.wheelValue = std::clamp(value, 0, 32768);
    if (activeSource_ == 1) {
        chain_.Volume().SetVolume(view_.wheelValue);
    }
    Changed();
}

// ---------------------------------------------------------------- opening

void TFilePlayer::OPN(const std::string& path) {
    // Painting "LOADING..." lets pending messages run; a drop or a hand-over among them must wait
    // for this open to finish rather than start another in the middle of it.
    if (opening_) {
        return;
    }
    opening_ = true;
    autoAdvance_ = false;
    StopDevice();
    SetLines("LOADING...", "");
    Changed();
    window_.ProcessMessages();
    if (LoadFileList(path)) {
        const std::string upper = Upper(path);
        if (upper.find(".LST") == std::string::npos && upper.find(".M3U") == std::string::npos) {
            listFileName_ = "noname.lst";
        }
    } else {
        Nofile();
        platform::MessageBoxRequest box;
        box.caption = "Audio Play";
        box.text = PrintableText(path) + " is not a valid Audiofile";
        box.icon = platform::MsgIcon::Error;
        box.buttons = platform::MsgButtons::Ok;
        platform::Dialogs().MessageBox(box);
    }
    opening_ = false;
    Changed();
}

bool TFilePlayer::LoadFileList(const std::string& path) {
    if (path.empty() || !platform::IsRegularFile(path)) {
        return false;
    }
    listIndex_ = 0;
    fileList_.clear();
    chain_.DeselectFiles();
    if (IsMpegFile(path) || IsWaveFile(path, wioFile)) {
        fileList_.push_back(path);
    } else {
        listFileName_ = path;
        // Text only: a binary, a huge file or a file named as audio is not read as a list.
        ReadPlayerList(path, fileList_);
    }
    const bool result = !fileList_.empty();
    if (!OpenFrom(0, 1)) {
        Nofile();
    }
    return result;
}

bool TFilePlayer::OpenListEntry(std::size_t index) {
    chain_.DeselectFiles();
    if (index >= fileList_.size()) {
        return false;
    }
    const std::string& raw = fileList_[index];
    // Comment lines of a list are kept as entries but never played.
    if (raw.empty() || raw[0] == '#') {
        return false;
    }
    const std::string entry = ResolvePlaylistEntry(raw, listFileName_);
    if (entry.empty() || !platform::IsRegularFile(entry)) {
        return false;
    }
    bool result = false;
    if (IsMpegFile(entry)) {
        chain_.MpegFile().SetFileName(entry);
        chain_.Converter().SetInput(&chain_.MpegFile());
        elapsedMs_ = 0;
        lastPosition_ = 0;
        ShowFileInfo();
        result = true;
    }
    if (IsWaveFile(entry, wioFile)) {
        chain_.WaveFile().Wave().SetFileName(entry);
        chain_.Converter().SetInput(&chain_.WaveFile());
        elapsedMs_ = 0;
        lastPosition_ = 0;
        ShowFileInfo();
        result = true;
    }
    return result;
}

void TFilePlayer::ShowLength(std::int64_t ms) {
    const TSplitTime t = SplitMilliseconds(ms);
    view_.trackMax = std::max<std::int64_t>(ms, 0);
    view_.length = TClockFields{t.minutes, t.seconds};
}

void TFilePlayer::ShowFileInfo() {
    TMMMPEGFile& mpeg = chain_.MpegFile();
    TMMWave& wave = chain_.WaveFile().Wave();
    if (!mpeg.Mpeg().IsEmpty()) {
        view_.trackEnabled = true;
        view_.trackLit = true;
        TMMMpegInfo info{};
        mpeg.GetInfo(info);
        // Without a tag the three fields are empty.
        SetLines(BaseName(mpeg.FileName()), MpegTagLine(info, mpeg.TextTags()));
        ShowLength(mpeg.Time());
        view_.rate.value = mpeg.PlayBackRate() / 1000;
        view_.layerLit = true;
        switch (mpeg.Layer()) {
        case 1:
            view_.layerNumber = "I";
            break;
        case 2:
            view_.layerNumber = "II";
            break;
        case 3:
            view_.layerNumber = "III";
            break;
        default:
            break;
        }
        const TSampleMode mode = mpeg.Mode();
        view_.stereo = mode == smStereo || mode == smJointStereo;
        view_.modeEnabled = true;
        view_.bitRate.value = mpeg.BitRate();
        view_.bitRateUnit = "KBit/s";
        FOpen();
        mrud_write(mpeg.FileName());
        ShowRecent();
    }
    if (!wave.IsEmpty()) {
        view_.trackEnabled = true;
        view_.trackLit = true;
        SetLines(BaseName(wave.FileName()), "");
        ShowLength(wave.Length());
        view_.rate.value = wave.SampleRate() / 1000;
        view_.layerLit = false;
        // More than two channels play as stereo.
        view_.stereo = wave.PWaveFormat() != nullptr && wave.PWaveFormat()->nChannels >= 2;
        view_.modeEnabled = true;
        view_.bitRate.value = wave.BitLength();
        view_.bitRateUnit = "Bit";
        FOpen();
        mrud_write(wave.FileName());
        ShowRecent();
    }
    if (mpeg.Mpeg().IsEmpty() && wave.IsEmpty()) {
        Nofile();
    }
    if (activeSource_ != 1) {
        SwitchToFilePlayer();
        // The device stays closed until Play opens it: an open idle device would refuse the
        // preferences' changes.
        WaveOut().Stop();
        WaveOut().Close();
    }
    Changed();
}

void TFilePlayer::ShowRecent() {
    mrud_read(view_.recent, view_.recentEnabled);
    if (!view_.powerOn) {
        view_.recentEnabled = false;
    }
}

void TFilePlayer::ShowCounters() {
    view_.entry.value = fileList_.empty() ? 0 : Counter(listIndex_ + 1);
    view_.entries.value = Counter(fileList_.size());
}

void TFilePlayer::FOpen() {
    ShowCounters();
    SetButton(TPlayerButton::Play, true);
    SetButton(TPlayerButton::Pause, false);
    SetButton(TPlayerButton::Stop, false);
    const std::size_t count = fileList_.size();
    SetButton(TPlayerButton::Previous, count >= 2 && listIndex_ > 0);
    SetButton(TPlayerButton::Next, count > 1 && listIndex_ + 1 < count);
    view_.playLit = false;
    view_.pauseLit = false;
    view_.stopLit = true;
}

void TFilePlayer::Nofile() {
    SetLines("NO FILE", "");
    view_.rate.value = 0;
    SetButton(TPlayerButton::Play, false);
    view_.trackEnabled = false;
    view_.trackLit = false;
    view_.trackMax = 0;
    view_.trackPosition = 0;
    view_.entry.value = 0;
    view_.entries.value = 0;
    view_.elapsed = TClockFields{};
    view_.length = TClockFields{};
    shownMinutes_ = 0;
    shownSeconds_ = 0;
    view_.stopLit = false;
    view_.layerLit = false;
    view_.modeEnabled = false;
    view_.bitRate.value = 0;
    SetButton(TPlayerButton::Previous, false);
    SetButton(TPlayerButton::Next, false);
    Changed();
}

// ---------------------------------------------------------------- transport

void TFilePlayer::SwitchToFilePlayer() {
    eq_->SelectFilePlayer();
    activeSource_ = 1;
}

void TFilePlayer::btnPlayClick() {
    eq_->SwitchPowerOn();
    CancelGap();
    if (activeSource_ != 1) {
        SwitchToFilePlayer();
        WaveOut().Stop();
        WaveOut().Close();
    }
    autoAdvance_ = false;
    if (fileList_.empty()) {
        autoAdvance_ = true;
        return;
    }
    if (!IsPlaying()) {
        // The entry may have vanished since it was shown: then there is nothing to start.
        if (!OpenListEntry(listIndex_)) {
            Nofile();
            return;
        }
        WaveOut().Start();
    } else if (IsPaused()) {
        WaveOut().Restart();
    } else {
        WaveOut().Stop();
        WaveOut().Start();
    }
    autoAdvance_ = true;
}

void TFilePlayer::btnPauseClick() {
    if (!IsPlaying()) {
        return;
    }
    if (IsPaused()) {
        WaveOut().Restart();
    } else {
        WaveOut().Pause();
    }
}

void TFilePlayer::btnStopClick() {
    autoAdvance_ = false;
    StopDevice();
}

bool TFilePlayer::OpenFrom(std::size_t from, int step) {
    for (std::size_t i = from;; i += static_cast<std::size_t>(step)) {
        listIndex_ = i;
        if (OpenListEntry(i)) {
            return true;
        }
        if ((step < 0 && i == 0) || (step > 0 && i + 1 >= fileList_.size())) {
            return false;
        }
    }
}

void TFilePlayer::btnPrevClick() {
    StepThroughList(-1);
}

void TFilePlayer::btnNextClick() {
    StepThroughList(1);
}

void TFilePlayer::StepThroughList(int step) {
    autoAdvance_ = false;
    const bool atEnd = step < 0 ? listIndex_ == 0 || fileList_.empty() : listIndex_ + 1 >= fileList_.size();
    if (atEnd) {
        autoAdvance_ = true;
        return;
    }
    CancelGap();
    const std::size_t remembered = listIndex_;
    const bool playing = IsPlaying();
    if (playing) {
        WaveOut().Stop();
    }
    const std::size_t from = step < 0 ? std::min(listIndex_ - 1, fileList_.size() - 1) : listIndex_ + 1;
    if (OpenFrom(from, step)) {
        if (playing) {
            WaveOut().Start();
        }
        autoAdvance_ = true;
        return;
    }
    // Nothing opens that way: the entry it came from is opened again, not started.
    listIndex_ = remembered;
    OpenListEntry(listIndex_);
}

void TFilePlayer::btnOpenClick() {
    platform::FileDialogRequest request;
    request.filter = kOpenFilter;
    request.filterIndex = 1;
    request.initialDir = platform::ProgramFolder();
    request.fileMustExist = true;
    const auto chosen = platform::Dialogs().OpenFile(request);
    if (chosen.accepted && !chosen.FileName().empty()) {
        OPN(chosen.FileName());
    }
}

void TFilePlayer::btnPlayListClick() {
    std::vector<std::string> list = fileList_;
    std::string name = listFileName_;
    if (!window_.EditPlaylist(list, name, listIndex_)) {
        return;
    }
    autoAdvance_ = false;
    const bool wasPlaying = IsPlaying();
    StopDevice();
    fileList_ = std::move(list);
    listFileName_ = name;
    if (listIndex_ + 1 > fileList_.size()) {
        listIndex_ = 0;
    }
    if (!OpenFrom(listIndex_, 1)) {
        Nofile();
        return;
    }
    if (wasPlaying) {
        btnPlayClick();
    }
}

void TFilePlayer::Click(TPlayerButton button) {
    switch (button) {
    case TPlayerButton::Play:
        btnPlayClick();
        break;
    case TPlayerButton::Pause:
        btnPauseClick();
        break;
    case TPlayerButton::Stop:
        btnStopClick();
        break;
    case TPlayerButton::Previous:
        btnPrevClick();
        break;
    case TPlayerButton::Next:
        btnNextClick();
        break;
    case TPlayerButton::Open:
        btnOpenClick();
        break;
    case TPlayerButton::Playlist:
        btnPlayListClick();
        break;
    }
}

void TFilePlayer::PreferencesClick() {
    window_.ShowPreferences();
}

void TFilePlayer::Info1Click() {
    window_.ShowAbout();
}

void TFilePlayer::Help1Click() {
    window_.ShowHelp();
}

void TFilePlayer::mrud(int index) {
    if (index < 0 || index >= 9) {
        return;
    }
    const std::string path = view_.recent[static_cast<std::size_t>(index)].path;
    if (!path.empty()) {
        OPN(path);
    }
}

void TFilePlayer::DropFiles(const std::vector<std::string>& files) {
    if (files.empty()) {
        return;
    }
    SwitchPowerOn();
    OPN(files.front());
}

// ---------------------------------------------------------------- seeking

void TFilePlayer::RzTrackBar1MouseDown() {
    if (!view_.trackEnabled) {
        return;
    }
    trackDragging_ = true;
    seeking_ = true;
    if (view_.trackPosition == 0) {
        WaveOut().Start();
        eq_->SwitchPowerOn();
    }
    WaveOut().Pause();
}

void TFilePlayer::RzTrackBar1MouseMove(std::int64_t position) {
    if (!trackDragging_) {
        return;
    }
    view_.trackPosition = std::clamp<std::int64_t>(position, 0, view_.trackMax);
    elapsedMs_ = view_.trackPosition;
    if (!chain_.MpegFile().Mpeg().IsEmpty()) {
        const std::int32_t frameTime = chain_.MpegFile().Mpeg().FrameTime();
        if (frameTime > 0) {
            chain_.MpegFile().SetPosition(static_cast<std::int32_t>(elapsedMs_ / frameTime));
        }
    }
    if (!chain_.WaveFile().Wave().IsEmpty()) {
        chain_.WaveFile().Wave().SetPosition(elapsedMs_);
    }
    ShowElapsed(elapsedMs_);
    Changed();
}

void TFilePlayer::RzTrackBar1MouseUp() {
    if (!trackDragging_) {
        return;
    }
    trackDragging_ = false;
    seekBase_ = view_.trackPosition;
    WaveOut().Flush();
    WaveOut().Restart();
    lastPosition_ = 0;
    seeking_ = false;
}

// ---------------------------------------------------------------- timers, device events

void TFilePlayer::ShowElapsed(std::int64_t ms) {
    const TSplitTime t = SplitMilliseconds(ms);
    if (t.seconds != shownSeconds_) {
        view_.elapsed.second = t.seconds;
        shownSeconds_ = t.seconds;
    }
    if (t.minutes != shownMinutes_) {
        view_.elapsed.first = t.minutes;
        shownMinutes_ = t.minutes;
    }
}

void TFilePlayer::HiTimerTimer() {
    connector_.Trigger();
    if (activeSource_ != 1) {
        return;
    }
    ++tickCount_;
    if (tickCount_ % 5 != 0) {
        return;
    }
    if (!IsPlaying() || seeking_) {
        return;
    }
    const std::int64_t pos = static_cast<std::uint32_t>(WaveOut().Position());
    view_.trackPosition = pos + seekBase_;
    elapsedMs_ += pos - lastPosition_;
    ShowElapsed(elapsedMs_);
    lastPosition_ = pos;
    Changed();
}

void TFilePlayer::MMPauseTimerTimer() {
    pauseTimer_.SetEnabled(false);
    WaveOut().Start();
}

void TFilePlayer::WaveOutStart() {
    tickCount_ = 0;
    hiTimer_.SetEnabled(true);
    if (activeSource_ != 1) {
        return;
    }
    view_.preferencesEnabled = false;
    SetButton(TPlayerButton::Play, false);
    SetButton(TPlayerButton::Pause, true);
    SetButton(TPlayerButton::Stop, true);
    view_.playLit = true;
    view_.pauseLit = false;
    view_.stopLit = false;
    Changed();
}

void TFilePlayer::WaveOutPause() {
    if (activeSource_ == 1) {
        view_.pauseLit = true;
        Changed();
    }
}

void TFilePlayer::WaveOutRestart() {
    if (activeSource_ == 1) {
        view_.pauseLit = false;
        Changed();
    }
}

void TFilePlayer::WaveOutStop() {
    hiTimer_.SetEnabled(false);
    if (activeSource_ != 1) {
        return;
    }
    WaveOut().Close();
    seeking_ = false;
    ShowElapsed(0);
    view_.trackPosition = 0;
    seekBase_ = 0;
    view_.preferencesEnabled = true;
    SetButton(TPlayerButton::Play, true);
    SetButton(TPlayerButton::Pause, false);
    SetButton(TPlayerButton::Stop, false);
    view_.playLit = false;
    view_.pauseLit = false;
    view_.stopLit = true;
    if (!autoAdvance_) {
        Changed();
        return;
    }
    if (listIndex_ + 1 < fileList_.size() && OpenFrom(listIndex_ + 1, 1)) {
        pauseTimer_.SetEnabled(true);
        Changed();
        return;
    }
    // The end of the list: the first playable entry is shown, and the player stays stopped.
    OpenFrom(0, 1);
    Changed();
}

void TFilePlayer::Close() {
    autoAdvance_ = false;
    CancelGap();
    WaveOut().Close();
}

// ---------------------------------------------------------------- window menu

void TFilePlayer::ShowFilePlayer1Click() {
    if (!view_.showFilePlayerChecked) {
        window_.ShowMain(true);
    } else if (eq_->Visible() || window_.CompactVisible()) {
        window_.ShowMain(false);
    }
}

void TFilePlayer::ShowEqualizer1Click() {
    if (!view_.showEqualizerChecked) {
        eq_->Show(true);
    } else if (window_.MainVisible() || window_.CompactVisible()) {
        eq_->Show(false);
    }
}

void TFilePlayer::CompactPanel1Click() {
    if (!view_.compactPanelChecked) {
        window_.ShowCompact(true);
    } else if (window_.MainVisible() || eq_->Visible()) {
        window_.ShowCompact(false);
    }
}

void TFilePlayer::HideDesktop1Click() {
    if (view_.hideDesktopChecked) {
        window_.ShowCover(false);
        view_.hideDesktopChecked = false;
        Changed();
        return;
    }
    view_.hideDesktopChecked = true;
    window_.ShowCover(true);
    Changed();
}

void TFilePlayer::CoverActivated() {
    if (view_.hideDesktopChecked) {
        HideDesktop1Click();
    }
}

void TFilePlayer::MainShown(bool shown) {
    view_.showFilePlayerChecked = shown;
    if (shown) {
        view_.hideDesktopEnabled = true;
    } else if (!eq_->Visible()) {
        view_.hideDesktopEnabled = false;
    }
    Changed();
}

void TFilePlayer::EqualizerShown(bool shown) {
    view_.showEqualizerChecked = shown;
    if (shown) {
        view_.hideDesktopEnabled = true;
    } else if (!window_.MainVisible()) {
        view_.hideDesktopEnabled = false;
    }
    Changed();
}

void TFilePlayer::CompactShown(bool shown) {
    view_.compactPanelChecked = shown;
    Changed();
}

void TFilePlayer::EscapePressed() {
    window_.ShowMain(false);
    eq_->Show(false);
}

} // namespace tunefold
