// The CD player window's controller: the media player on the drive, the disc watcher polling it
// every 300 ms, the keys (Play, Pause, Stop, previous, next, the tray), the door events, the
// displays refreshed after every change of disc or door (FirstInd) and while playing (SetInd), the
// seek bar, the power switch and the volume wheel. The sound reaches the chain either through the
// equalizer window's line-in route (the drive plays into the sound card's input) or, for drives
// without an analog cable, read digitally into the player's chain; the window behaves the same.
//
// Everything runs on the GUI thread. Handlers that let pending messages run may meet a door event
// of the watcher: it is held until the handler is done, so no display refresh runs in the middle.
#pragma once

#include <memory>
#include <string>

#include "app/logic/cd_digital_deck.h"
#include "app/logic/cd_player_view.h"
#include "app/logic/equalizer_controller.h"
#include "app/logic/file_player.h"
#include "cdinfo/cd_info.h"
#include "cdinfo/cd_media_player.h"
#include "engine/displays/level.h"

namespace tunefold {

// How the disc is heard: through the line input when the machine has one (Auto), or always one way.
enum class TCdRoute { Auto, Analog, Digital };

// The route the user chose to keep (the settings value CDAudio), Auto when there is none; and
// keeping a choice (Auto is written as "Auto", which reads as no choice).
TCdRoute StoredCdRoute();
void StoreCdRoute(TCdRoute route);

// The window side: told when the state changed, asked to let pending messages run.
class TCdPlayerWindow {
public:
    virtual ~TCdPlayerWindow() = default;
    virtual void ViewChanged() {}
    // Runs what waits in the GUI thread's queue (the window also paints).
    virtual void ProcessMessages();
    virtual void ShowWindow(bool show) { (void)show; }
};

class TCdPlayer : public TCdPlayerSide {
public:
    // `device` null: the process's CD-audio service. `database` is the title database's name.
    TCdPlayer(TFilePlayer& player, TEqualizerController& equalizer, TCdPlayerWindow& window,
              TCdRoute route = TCdRoute::Auto, platform::CdAudioDevice* device = nullptr,
              const std::string& database = "C:\\WINDOWS\\cdplayer.ini");
    ~TCdPlayer() override;
    TCdPlayer(const TCdPlayer&) = delete;
    TCdPlayer& operator=(const TCdPlayer&) = delete;

    const TCdPlayerView& View() const { return view_; }
    TMMCDPlayer& MediaPlayer1() { return media_; }
    TMMCDInfo& MMCDInfo1() { return info_; }
    bool Digital() const { return digital_; }
    bool TrayOpen() const { return trayOpen_; }
    bool Seeking() const { return seeking_; }
    // Display refreshes (FirstInd) so far.
    int FirstIndCount() const { return firstIndCount_; }
    // The wheel's value as the settings load it (no volume change until it is moved).
    void SetWheelValue(int value);
    // Where the disc stands on the route in use.
    TMSF Position();

    // ---- handlers ----
    void RzBmpButton1Click(); // Play
    void RzBmpButton2Click(); // Pause (toggle)
    void RzBmpButton3Click(); // Stop
    void RzBmpButton5Click(); // previous track
    void RzBmpButton6Click(); // next track
    void RzBmpButton7Click(); // "Open...": the tray
    void RzBmpButton4Click(); // hide
    void MMWheel1Change(int value);
    void VrSwitch1Change();
    void RzTrackBar1MouseDown();
    void RzTrackBar1MouseMove(int position);
    void RzTrackBar1MouseUp();
    void MMCDInfo1Timer();
    void MMCDInfo1DoorOpen();
    void MMCDInfo1DoorClose();
    void FirstInd();
    void SetInd();

    // ---- TCdPlayerSide (the equalizer window's view of us) ----
    void ClickStop() override;
    TMMLevel* Level1() override { return &level1_; }
    TMMLevel* Level2() override { return &level2_; }
    int WheelValue() const override { return view_.wheelValue; }

private:
    void Changed() { window_.ViewChanged(); }
    void ProcessMessages();
    void Grid(int current, int count);
    void PowerOffLook();
    void SetLength(int track);
    // The tracks the disc has, bounded by the database's count where it gives one.
    int CountTracks();
    // Door events met while a handler let messages run wait here, then run in order.
    void RunHeldDoorEvents();
    TMMWaveOut& Out() { return player_.WaveOut(); }

    // Marks a handler that lets messages run; the outermost one runs the held door events.
    class Busy {
    public:
        explicit Busy(TCdPlayer& cd) : cd_(cd) { ++cd_.busy_; }
        ~Busy();
        Busy(const Busy&) = delete;
        Busy& operator=(const Busy&) = delete;

    private:
        TCdPlayer& cd_;
    };

    TFilePlayer& player_;
    TEqualizerController& eq_;
    TCdPlayerWindow& window_;
    TCdPlayerView view_;
    TMMCDPlayer media_;
    TMMCDInfo info_;
    TMMLevel level1_;
    TMMLevel level2_;
    TCdDigitalDeck deck_;
    bool digital_ = false;

    int currentTrack_ = 0;
    int trackCount_ = 0;
    bool seeking_ = false;
    bool trayOpen_ = false;
    int busy_ = 0;
    // Held door events: 1 open, 2 close, in the order they came (at most the last two matter).
    std::string heldDoor_;
    int firstIndCount_ = 0;
};

} // namespace tunefold
