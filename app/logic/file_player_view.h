// What the file player's faces show: the main window, its popup menu and the compact panel. The
// controller writes this state and tells its view that it changed; a window paints from it and
// holds no playback logic of its own. The compact panel shows the same buttons, clocks and counters
// as the main window, so there is one copy of each here.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tunefold {

// The transport and file buttons, each shared by the main window, the popup menu and the compact
// panel.
enum class TPlayerButton { Play, Pause, Stop, Previous, Next, Open, Playlist };
inline constexpr int kPlayerButtonCount = 7;

struct TMatrixLine {
    std::string text;    // UTF-8; the dot matrix shows what its font has
    bool scroll = false; // the text is longer than the line and moves a step every 150 ms
};

struct TClockFields {
    int first = 0;  // minutes within the hour
    int second = 0; // seconds
};

struct TLedNumber {
    int value = 0; // what the digits show (counters are cut to 99 before they get here)
    bool enabled = false;
};

struct TRecentItem {
    std::string caption; // "&3 /music/a.mp3"
    std::string path;    // what choosing the item opens
    bool visible = false;
};

struct TFilePlayerView {
    bool powerOn = false;

    TMatrixLine line1;
    TMatrixLine line2;
    TClockFields elapsed;
    TClockFields length;

    TLedNumber entry;   // "PR"
    TLedNumber entries; // "TR"
    TLedNumber bitRate;
    TLedNumber rate;
    std::string bitRateUnit = "KBit/s"; // "KBit/s" for MPEG, "Bit" for WAVE
    bool stereo = true;                 // the mode lamp: stereo or mono
    bool modeEnabled = false;

    // The lit flags of the labels (each label's Tag).
    bool playLit = false;
    bool pauseLit = false;
    bool stopLit = false;
    bool layerLit = false;
    std::string layerNumber = "I"; // "I", "II" or "III"

    bool trackEnabled = false;
    bool trackLit = false; // the track is drawn lit while a file is open
    std::int64_t trackMax = 0;
    std::int64_t trackPosition = 0;

    bool wheelEnabled = false;
    int wheelValue = 16384;
    std::uint32_t wheelColour = 128; // red (255) while the power is on, maroon (128) while off

    std::array<bool, kPlayerButtonCount> buttons{};
    bool preferencesEnabled = true;
    bool recentEnabled = false;
    std::array<TRecentItem, 9> recent{};

    // Menu check marks and the "Hide Desktop" item.
    bool showFilePlayerChecked = false;
    bool showEqualizerChecked = false;
    bool compactPanelChecked = false;
    bool hideDesktopChecked = false;
    bool hideDesktopEnabled = false;

    bool Button(TPlayerButton b) const { return buttons[static_cast<std::size_t>(b)]; }
};

// The window side of the controller: told after every change of the state, asked for the things
// only a window system has.
class TFilePlayerWindow {
public:
    virtual ~TFilePlayerWindow() = default;
    // The state changed; repaint what differs.
    virtual void ViewChanged() {}
    // Let pending window messages run, so that a text just set is painted.
    virtual void ProcessMessages() {}
    // The modal playlist editor, started from the player's list. True when it closed with OK; then
    // `list` and `listFileName` hold what it offers.
    virtual bool EditPlaylist(std::vector<std::string>& list, std::string& listFileName, std::size_t index) {
        (void)list;
        (void)listFileName;
        (void)index;
        return false;
    }
    virtual void ShowPreferences() {}
    virtual void ShowAbout() {}
    virtual void ShowHelp() {}
    // Window visibility, for the menu's show and hide rules.
    virtual void ShowMain(bool show) { (void)show; }
    virtual void ShowCompact(bool show) { (void)show; }
    virtual void ShowCover(bool show) { (void)show; }
    virtual bool MainVisible() const { return true; }
    virtual bool CompactVisible() const { return false; }
};

// What the player needs of the equalizer window. The window fills it in; until it exists, the
// player's own defaults keep the file player the chain's source.
class TEqualizerSide {
public:
    virtual ~TEqualizerSide() = default;
    virtual void SwitchPowerOn() {}
    // The "PL" source selector: the converter feeds the pre-volume again and the file player is the
    // source (the player sets its ActiveSource to 1 after this).
    virtual void SelectFilePlayer() {}
    virtual bool Visible() const { return false; }
    virtual void Show(bool show) { (void)show; }
};

} // namespace tunefold
