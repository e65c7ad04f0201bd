// What happens between the start of the process and the running message loop, and again at exit,
// without windows: the hand-over of a second start to the running instance, the single-instance
// mutex of the main window's creation, and the main window's settings handlers (load on show, save
// on close, the `WH` rules, the hand-over message). The main window implements TMainSettingsTarget
// and calls these from its handlers.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/logic/colour_scheme.h"
#include "engine/devices/wave_out.h"
#include "platform/single_instance.h"

namespace tunefold {

// ---- the start sequence ----

// The command-line argument made absolute against `workingFolder` (the running instance has a
// working folder of its own); an empty argument stays empty.
std::string AbsoluteArgument(std::string_view argument, std::string_view workingFolder);
// The process's working folder ("" when it cannot be told).
std::string CurrentWorkingFolder();

// What a hand-over message carries: the path to open (empty: none), so that two quick second
// starts each hand over their own file. A message that carries none falls back to `Param`.
std::string HandOverPayload(std::string_view path);
bool HandedOverPath(std::string_view payload, std::string& path);

enum class TStartDecision { StartNormally, ExitProcess };

// Steps 2 and 3 of the start: when `WH` names a window, writes `Param` := `absoluteArgument`
// (empty when the process has no argument) and posts WM_USER with the path to that window. Exit
// (code 0, no window made) when the post arrived; start normally when there is no `WH`, it is not a
// number, it is 0, or nobody listens on it (the last instance ended without closing).
TStartDecision HandOverToRunningInstance(std::string_view absoluteArgument);

// ---- the main window's creation: the mutex ----

inline constexpr std::string_view InstanceMutexName = "Tunefold";

// How the losing instance waits between hand-over attempts. Tests give a clock of their own.
struct THandOverClock {
    std::function<std::chrono::steady_clock::time_point()> now;
    std::function<void(std::chrono::milliseconds)> wait;
    static THandOverClock Real();
};

inline constexpr std::chrono::milliseconds HandOverRetryLimit{2000};
inline constexpr std::chrono::milliseconds HandOverRetryInterval{100};

struct TMutexStep {
    enum class Decision { Continue, ExitProcess } decision = Decision::Continue;
    // Held for the process's life by the winner (null for a loser, and when none could be made).
    std::unique_ptr<platform::NamedMutex> mutex;
    // For a loser: whether its file reached the running instance.
    bool handedOver = false;
};

// FormCreate's step 2. The winner continues, holding the mutex. A loser (another instance holds the
// mutex but `WH` did not name it at the start, typically because that instance has not shown its
// window yet) writes nothing to the settings store, tries the hand-over with its path in the message
// until `WH` names a live window or `limit` has passed, and then must end with exit code 0 without
// running any close handler.
TMutexStep FormCreateMutexStep(std::string_view absoluteArgument,
                               const THandOverClock& clock = THandOverClock::Real(),
                               std::chrono::milliseconds limit = HandOverRetryLimit);

// ---- the main window's settings ----

// What the settings handlers read and apply on the main window.
struct TMainSettingsTarget {
    virtual ~TMainSettingsTarget() = default;
    virtual TMMWaveOut& WaveOut() = 0;
    // The file player's pre-volume wheel.
    virtual int PreVolume() const = 0;
    virtual void SetPreVolume(int value) = 0;
    // The CD player window's volume wheel (saved as `CD_Volume`).
    virtual int CDWheelVolume() const = 0;
    virtual TColourSlots& Colours() = 0;
    // The main window's handle, as `WH` names it.
    virtual platform::WindowHandle WindowHandle() const = 0;
    // The window's present position.
    virtual void WindowPosition(int& left, int& top) const = 0;
    // AutoAdvance := false, so the stop at close does not start the next file.
    virtual void StopAutoAdvance() = 0;
};

struct TWorkArea {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

// The main window's settings fields and handlers.
class TMainSettings {
public:
    explicit TMainSettings(std::string programFolder);

    // `WH` := this window; `CDVolume` := 16384; then, under one guard (an exception while reading
    // or applying a value ends loading silently, the values before it stay): `Scheme`; on the first
    // run the Standard colours and the file-type claims and nothing else; otherwise every stored
    // value in order, each with the present value as its default.
    void LoadSettings(TMainSettingsTarget& target);
    // Every value, `Scheme` "Y" last, in one update of the store. False when it could not be written.
    bool SaveSettings(TMainSettingsTarget& target);
    // The close handler: `WH` := "0" if it still names this window, AutoAdvance off, the wave output
    // closed, the settings saved.
    void FormClose(TMainSettingsTarget& target);

    // The hand-over in the running instance (WM_USER): nothing (no value) when the settings key does
    // not open; otherwise the path to open (empty: none), after which the window shows itself and the
    // equalizer window, switches both powers on and comes to the front.
    static std::optional<std::string> WMMypost(const platform::WindowMessage& message);

    // True on the first show only: loading the settings and opening the command-line file happen
    // once, so showing the window again never stops playback or replaces the user's file.
    bool TakeFirstShow();

    // Where the window goes on its first show: the stored position, or the bottom-left corner of
    // the work area when either stored coordinate is 0.
    static void PlaceMainWindow(const TWorkArea& area, int windowHeight, std::int16_t storedLeft,
                                std::int16_t storedTop, int& left, int& top);

    const std::string& SchemeMark() const { return schemeMark_; }
    std::int16_t StoredLeft() const { return storedLeft_; }
    std::int16_t StoredTop() const { return storedTop_; }
    std::int32_t CDVolume() const { return cdVolume_; }

    // The first run's file-type claim (tests replace it).
    std::function<bool()> claimFileTypes;

private:
    void LoadStoredValues(TMainSettingsTarget& target);

    std::string programFolder_;
    std::string schemeMark_;
    std::int16_t storedLeft_ = 0;
    std::int16_t storedTop_ = 0;
    std::int32_t cdVolume_ = 0;
    bool shown_ = false;
};

// `WH` := "0" when it parses to `own` (a later instance's handle is never wiped); a `WH` that does
// not parse is left as it is.
void ReleaseWindowHandle(platform::WindowHandle own);

} // namespace tunefold
