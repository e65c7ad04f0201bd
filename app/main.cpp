// The composition root of the Qt program: the application with its default handler, the platform
// services (the Qt dialogs), the message loop driven from Qt's event loop, then the windows in the
// order the player creates them: the main window (shown), the desktop cover, the compact panel, the
// equalizer window (shown above the main window once that has its place).
//
//   tunefold [FILE]         opens FILE once the main window is first shown (the power goes on)
//   tunefold --play FILE    also starts playing it
//   tunefold --cd-player    also shows the CD player window
//   --cd-digital, --cd-analog, --cd-auto
//                           choose, and keep for later starts, how the CD player hears a disc: read
//                           digitally, through the drive's cable into the line input, or (the
//                           default) through the line input when the machine has one
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "app/logic/equalizer_controller.h"
#include "app/logic/file_player.h"
#include "app/logic/mpris_adapter.h"
#include "app/logic/program_folder.h"
#include "app/logic/startup.h"
#include "app/qt/application.h"
#include "app/qt/message_pump.h"
#include "app/qt/mpris_service.h"
#include "app/qt/qt_dialogs.h"
#include "app/windows/cd_player_window.h"
#include "app/windows/compact_panel.h"
#include "app/windows/desktop_cover.h"
#include "app/windows/equalizer_window.h"
#include "app/windows/main_window.h"
#include "app/windows/preferences_dialog.h"
#include "platform/paths.h"
#include "platform/platform_mode.h"
#include "platform/services.h"
#include "platform/virtual/virtual_sound_card.h"

#include <QGuiApplication>
#include <QScreen>

namespace {

bool Set(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr && *v != '\0';
}

// Qt aborts when it finds no display; we would rather say so and end with a status of our own.
// Wayland is reached through XWayland: the shaped, self-moving windows need X11's window model.
bool ChoosePlatform() {
    if (Set("QT_QPA_PLATFORM")) {
        return true;
    }
    if (Set("WAYLAND_DISPLAY") && !Set("DISPLAY")) {
        std::fprintf(stderr, "No display: this Wayland session has no XWayland (DISPLAY is not set); "
                             "set QT_QPA_PLATFORM to run anyway\n");
        return false;
    }
    if (Set("WAYLAND_DISPLAY")) {
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        return true;
    }
    if (!Set("DISPLAY")) {
        std::fprintf(stderr,
                     "No display: neither DISPLAY nor WAYLAND_DISPLAY is set (QT_QPA_PLATFORM=offscreen "
                     "runs without one)\n");
        return false;
    }
    return true;
}

struct StartArguments {
    std::string file;
    bool play = false;
    bool cdPlayer = false;
    std::optional<tunefold::TCdRoute> cdRoute; // chosen on this command line
};

bool IsOption(const char* arg) {
    for (const char* option : {"--play", "--cd-player", "--cd-digital", "--cd-analog", "--cd-auto"}) {
        if (std::strcmp(arg, option) == 0) {
            return true;
        }
    }
    return false;
}

StartArguments ParseArguments(const QStringList& args) {
    StartArguments start;
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--play")) {
            start.play = true;
        } else if (args[i] == QLatin1String("--cd-player")) {
            start.cdPlayer = true;
        } else if (args[i] == QLatin1String("--cd-digital")) {
            start.cdRoute = tunefold::TCdRoute::Digital;
        } else if (args[i] == QLatin1String("--cd-analog")) {
            start.cdRoute = tunefold::TCdRoute::Analog;
        } else if (args[i] == QLatin1String("--cd-auto")) {
            start.cdRoute = tunefold::TCdRoute::Auto;
        } else if (start.file.empty()) {
            start.file = args[i].toStdString();
        }
    }
    return start;
}

// What the settings handlers read and apply: the file player's chain and wheel, the colours, the
// main window's handle and place.
class SettingsTarget : public tunefold::TMainSettingsTarget {
public:
    SettingsTarget(tunefold::windows::MainWindow& window, tunefold::platform::WindowHandle handle)
        : window_(window), handle_(handle), slots_(window.ColourSlots()) {}
    tunefold::TMMWaveOut& WaveOut() override { return window_.Player().WaveOut(); }
    int PreVolume() const override { return window_.Player().PreVolume(); }
    void SetPreVolume(int value) override { window_.Player().SetPreVolume(value); }
    int CDWheelVolume() const override {
        return cd_ != nullptr ? cd_->Controller().View().wheelValue : 16384;
    }
    tunefold::TColourSlots& Colours() override { return slots_; }
    tunefold::platform::WindowHandle WindowHandle() const override { return handle_; }
    void WindowPosition(int& left, int& top) const override {
        left = window_.x();
        top = window_.y();
    }
    void StopAutoAdvance() override { window_.Player().SetAutoAdvance(false); }
    // The loaded colours onto the windows (SetColors, SetEqColors).
    void ApplyColours() {
        window_.SetColourSlots(slots_);
        if (equalizer_ != nullptr) {
            equalizer_->SetEqColors(slots_);
        }
    }
    void SetEqualizer(tunefold::windows::EqualizerWindow* equalizer) { equalizer_ = equalizer; }
    void SetCdPlayer(tunefold::windows::CdPlayerWindow* cd) { cd_ = cd; }

private:
    tunefold::windows::MainWindow& window_;
    tunefold::platform::WindowHandle handle_;
    tunefold::TColourSlots slots_;
    tunefold::windows::EqualizerWindow* equalizer_ = nullptr;
    tunefold::windows::CdPlayerWindow* cd_ = nullptr;
};

tunefold::TWorkArea WorkArea(const QWidget& window) {
    const QScreen* screen = window.screen() != nullptr ? window.screen() : QGuiApplication::primaryScreen();
    const QRect area = screen != nullptr ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    return {area.left(), area.top(), area.right() + 1, area.bottom() + 1};
}

} // namespace

int main(int argc, char** argv) {
    // A second start hands its file to the running player and ends, with or without a display.
    std::string startFile;
    for (int i = 1; i < argc; ++i) {
        if (!IsOption(argv[i])) {
            startFile = tunefold::AbsoluteArgument(argv[i], tunefold::CurrentWorkingFolder());
            break;
        }
    }
    if (tunefold::HandOverToRunningInstance(startFile) == tunefold::TStartDecision::ExitProcess) {
        return 0;
    }
    tunefold::TMutexStep mutex = tunefold::FormCreateMutexStep(startFile);
    if (mutex.decision == tunefold::TMutexStep::Decision::ExitProcess) {
        return 0; // another instance is starting: it has the file, nothing of ours is written
    }

    if (!ChoosePlatform()) {
        return 3;
    }
    tunefold::qt::Application app(argc, argv);
    app.SetTitle("Audio Play");
    QCoreApplication::setApplicationName(QStringLiteral("tunefold"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TUNEFOLD_VERSION));
    // The player ends when its main window closes, not when the last window is hidden.
    QApplication::setQuitOnLastWindowClosed(false);

    tunefold::qt::QtDialogs dialogs;
    tunefold::platform::ServiceSet services;
    services.dialogs = &dialogs;
    tunefold::platform::ScopedServices installed(services);
    tunefold::qt::MessagePump pump;
    // On the virtual platform the sound card plays in real time, as a real one would (its own
    // default is to wait for a test to move its clock, which would hold playback still forever).
    if (tunefold::platform::VirtualPlatformRequested()) {
        tunefold::platform::VirtualSoundCard::Instance().SetClock(tunefold::platform::VirtualClock::RealTime);
    }

    StartArguments start = ParseArguments(QCoreApplication::arguments());
    start.file = startFile;
    const std::string programFolder = tunefold::platform::ProgramFolder();
    tunefold::SeedProgramFolder(programFolder);

    tunefold::windows::MainWindow mainWindow;
    mainWindow.show();

    tunefold::windows::DesktopCover cover(mainWindow);
    tunefold::windows::CompactPanel compact(mainWindow);
    mainWindow.SetCompanions(&compact, &cover);

    tunefold::TFilePlayer& player = mainWindow.Player();
    // The equalizer window: its stage and curve (normal.eq0, written back at the end), shown above
    // the main window once that has its place.
    tunefold::windows::EqualizerWindow equalizerWindow(mainWindow, programFolder);
    tunefold::TEqualizerController& equalizer = equalizerWindow.Controller();
    // The CD player window: hidden, its drive watched from now on; the menu and --cd-player show it.
    if (start.cdRoute) {
        tunefold::StoreCdRoute(*start.cdRoute);
    }
    tunefold::windows::CdPlayerWindow cdWindow(mainWindow, equalizerWindow, programFolder,
                                               start.cdRoute.value_or(tunefold::StoredCdRoute()));

    // The main window's handle for later starts: their files arrive here, on the GUI thread.
    auto endpoint =
        tunefold::platform::SingleInstance().Listen([&](const tunefold::platform::WindowMessage& m) {
            if (m.msg != tunefold::platform::WM_USER) {
                return;
            }
            const std::optional<std::string> path = tunefold::TMainSettings::WMMypost(m);
            if (!path) {
                return;
            }
            if (!path->empty()) {
                player.SwitchPowerOn();
                player.OPN(*path);
            }
            mainWindow.show();
            player.SwitchPowerOn();
            equalizer.SwitchPowerOn();
            mainWindow.raise();
            mainWindow.activateWindow();
        });
    SettingsTarget target(mainWindow, endpoint ? endpoint->Handle() : 0);
    target.SetEqualizer(&equalizerWindow);
    target.SetCdPlayer(&cdWindow);
    tunefold::TMainSettings settings(programFolder);

    // The main window's first show runs once the event loop turns, after the other windows exist.
    mainWindow.OnFirstShow = [&] {
        if (!settings.TakeFirstShow()) {
            return;
        }
        settings.LoadSettings(target);
        target.ApplyColours();
        int left = mainWindow.x();
        int top = mainWindow.y();
        tunefold::TMainSettings::PlaceMainWindow(WorkArea(mainWindow), mainWindow.height(),
                                                 settings.StoredLeft(), settings.StoredTop(), left, top);
        mainWindow.move(left, top);
        compact.PlaceAtTopRight(); // on the screen that holds the main window, whatever it was before
        equalizerWindow.show();
        cdWindow.Controller().SetWheelValue(settings.CDVolume());
        if (start.cdPlayer) {
            cdWindow.ShowWindow(true);
        }
        if (start.file.empty()) {
            return;
        }
        player.SwitchPowerOn();
        player.OPN(start.file);
        if (start.play) {
            player.btnPlayClick();
        }
    };
    // The preferences dialog works on the slots the settings load and store, and on the recording
    // path of the equalizer.
    tunefold::windows::MainWindowPreferences preferences(mainWindow, target.Colours());
    preferences.waveIn = &equalizer.WaveIn();
    preferences.ringBuffer = &equalizer.RingBuffer();
    preferences.eqColours = [&equalizerWindow](const tunefold::TColourSlots& colours) {
        equalizerWindow.SetEqColors(colours);
    };
    mainWindow.OnPreferences = [&] {
        tunefold::windows::PreferencesDialog dialog(preferences, programFolder);
        dialog.exec();
    };
    mainWindow.OnClosing = [&] {
        settings.FormClose(target);
        QCoreApplication::quit();
    };
    // Media keys and desktop widgets reach the player through the session bus, as its buttons do.
    tunefold::TMprisAdapter mpris(player);
    mpris.OnRaise = [&] {
        mainWindow.show();
        mainWindow.raise();
        mainWindow.activateWindow();
    };
    mpris.OnQuit = [&] { mainWindow.close(); };
    tunefold::qt::MprisService mprisService(mpris);
    mainWindow.OnViewChanged = [&mprisService] { mprisService.PlayerChanged(); };
    compact.show();
    const int status = QApplication::exec();
    mainWindow.SetCompanions(nullptr, nullptr);
    mainWindow.OnViewChanged = nullptr; // the bus object goes first
    return status;
}
