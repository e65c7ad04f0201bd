// The file player's controller: turns the user's actions (buttons, menu, track bar, wheel, power
// switch, dropped files, recent files, the playlist editor) into operations on the player's chain
// and keeps the view in step with what plays. It owns the list being played, the current entry,
// the advance from one entry to the next, the seek logic and the time displays.
//
// Everything here runs on the GUI thread: the handlers, the device's events (the device reports the
// end of a stream as a stop on the GUI thread) and both timers (the display tick is handed to the
// GUI thread by its timer thread; the gap timer posts to the GUI thread's queue).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/logic/file_player_view.h"
#include "app/logic/player_chain.h"
#include "engine/displays/connector.h"
#include "engine/displays/level.h"
#include "engine/framework/hi_timer.h"

namespace tunefold {

class TFilePlayer {
public:
    explicit TFilePlayer(TFilePlayerWindow& window);
    ~TFilePlayer();
    TFilePlayer(const TFilePlayer&) = delete;
    TFilePlayer& operator=(const TFilePlayer&) = delete;

    const TFilePlayerView& View() const { return view_; }
    void SetEqualizerSide(TEqualizerSide* side) { eq_ = side != nullptr ? side : &defaultEq_; }
    // At the start: the compact panel exists and mirrors the counters from now on.
    void SetCompactReady(bool ready) { compactReady_ = ready; }

    // ---- opening ----
    void OPN(const std::string& path);
    bool LoadFileList(const std::string& path);
    bool OpenListEntry(std::size_t index);
    void ShowFileInfo();
    void FOpen();
    void Nofile();

    // ---- transport and the other handlers ----
    void btnPlayClick();
    void btnPauseClick();
    void btnStopClick();
    void btnPrevClick();
    void btnNextClick();
    // The open dialog; `OPN` with what it returns.
    void btnOpenClick();
    void btnPlayListClick();
    // The handler of a transport or file button (the same on every face that shows it).
    void Click(TPlayerButton button);
    void PreferencesClick();
    void Info1Click();
    void Help1Click();
    // The power switch moved to `on`.
    void VrSwitch1Change(bool on);
    void SwitchPowerOn() {
        if (!PowerOn()) {
            VrSwitch1Change(true);
        }
    }
    void MMWheel1Change(int value);
    void RzTrackBar1MouseDown();
    void RzTrackBar1MouseMove(std::int64_t position);
    void RzTrackBar1MouseUp();
    // A recent-files item was chosen (0..8).
    void mrud(int index);
    // Files dropped on the main window or the compact panel: the power goes on and the first opens.
    void DropFiles(const std::vector<std::string>& files);

    // ---- window menu ----
    void ShowFilePlayer1Click();
    void ShowEqualizer1Click();
    void CompactPanel1Click();
    void HideDesktop1Click();
    // The desktop cover was activated (clicked).
    void CoverActivated();
    // The windows report their visibility here, so the menu's marks follow them.
    void MainShown(bool shown);
    void CompactShown(bool shown);
    void EqualizerShown(bool shown);
    // Escape on the main window: hides it and the equalizer window.
    void EscapePressed();

    // ---- timers and device events ----
    void HiTimerTimer();
    void MMPauseTimerTimer();
    void WaveOutStart();
    void WaveOutStop();
    void WaveOutPause();
    void WaveOutRestart();
    // The main window closes: no advance, device closed. Settings are the caller's.
    void Close();

    // ---- state ----
    bool PowerOn() const { return view_.powerOn; }
    bool AutoAdvance() const { return autoAdvance_; }
    void SetAutoAdvance(bool on) { autoAdvance_ = on; }
    int ActiveSource() const { return activeSource_; }
    void SetActiveSource(int source) { activeSource_ = source; }
    const std::vector<std::string>& FileList() const { return fileList_; }
    const std::string& ListFileName() const { return listFileName_; }
    std::size_t ListIndex() const { return listIndex_; }
    std::int64_t ElapsedMs() const { return elapsedMs_; }
    bool GapPending() const;
    int PreVolume() const { return view_.wheelValue; }
    void SetPreVolume(int value);

    TPlayerChain& Chain() { return chain_; }
    TMMWaveOut& WaveOut() { return chain_.WaveOut(); }
    TMMConnector& Connector() { return connector_; }
    TMMLevel& Level1() { return level1_; }
    TMMLevel& Level2() { return level2_; }
    TMMHiTimer& HiTimer() { return hiTimer_; }
    TMMHiTimer& PauseTimer() { return pauseTimer_; }

    // The open dialog's filter.
    static const char* const kOpenFilter;

private:
    void Changed() { window_.ViewChanged(); }
    void SetButton(TPlayerButton b, bool enabled) { view_.buttons[static_cast<std::size_t>(b)] = enabled; }
    void SetLines(const std::string& line1, const std::string& line2);
    void ShowLength(std::int64_t ms);
    void ShowElapsed(std::int64_t ms);
    void ShowCounters();
    void ShowRecent();
    void CancelGap();
    // The device's Stop with the gap's start cancelled: every way the user stops or moves on
    // cancels a start that is still waiting.
    void StopDevice();
    // Previous (-1) and Next (1).
    void StepThroughList(int step);
    // The search every move through the list makes: from `from` stepping by `step` (±1), the
    // first entry that opens becomes ListIndex; false when none does (ListIndex is then the last
    // one tried).
    bool OpenFrom(std::size_t from, int step);
    void SwitchToFilePlayer();
    bool IsPlaying() { return WaveOut().State().Contains(wosPlaying); }
    bool IsPaused() { return WaveOut().State().Contains(wosPaused); }

    TFilePlayerWindow& window_;
    TEqualizerSide defaultEq_;
    TEqualizerSide* eq_ = &defaultEq_;
    TFilePlayerView view_;

    TPlayerChain chain_;
    TMMConnector connector_;
    TMMLevel level1_;
    TMMLevel level2_;
    TMMHiTimer hiTimer_;
    TMMHiTimer pauseTimer_;

    std::vector<std::string> fileList_;
    std::string listFileName_ = "noname.lst";
    std::size_t listIndex_ = 0;
    bool autoAdvance_ = false;
    int activeSource_ = 1;
    std::int64_t elapsedMs_ = 0;
    std::int64_t lastPosition_ = 0;
    std::int64_t seekBase_ = 0;
    std::int64_t tickCount_ = 0;
    bool seeking_ = false;
    bool trackDragging_ = false;
    int shownMinutes_ = -1;
    int shownSeconds_ = -1;
    bool compactReady_ = false;
    bool opening_ = false; // OPN is running; letting messages run must not start another
};

// Milliseconds as the clocks show them: minutes within the hour, seconds. Times below 1 ms are 0.
struct TSplitTime {
    int hours = 0;
    int minutes = 0;
    int seconds = 0;
    int milliseconds = 0;
};
TSplitTime SplitMilliseconds(std::int64_t ms);

} // namespace tunefold
