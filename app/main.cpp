// The composition root of the Qt program: the application with its default handler, the platform
// services (the Qt dialogs), the message loop driven from Qt's event loop, then the windows in the
// order the player creates them: the main window (shown), the desktop cover, the compact panel.
//
//   tunefold [FILE]         opens FILE once the main window is first shown (the power goes on)
//   tunefold --play FILE    also starts playing it
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/logic/file_player.h"
#include "app/qt/application.h"
#include "app/qt/message_pump.h"
#include "app/qt/qt_dialogs.h"
#include "app/windows/compact_panel.h"
#include "app/windows/desktop_cover.h"
#include "app/windows/main_window.h"
#include "platform/services.h"

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
};

StartArguments ParseArguments(const QStringList& args) {
    StartArguments start;
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--play")) {
            start.play = true;
        } else if (start.file.empty()) {
            start.file = args[i].toStdString();
        }
    }
    return start;
}

} // namespace

int main(int argc, char** argv) {
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

    const StartArguments start = ParseArguments(QCoreApplication::arguments());

    tunefold::windows::MainWindow mainWindow;
    mainWindow.show();

    tunefold::windows::DesktopCover cover(mainWindow);
    tunefold::windows::CompactPanel compact(mainWindow);
    mainWindow.SetCompanions(&compact, &cover);

    // The main window's first show runs once the event loop turns, after the other windows exist.
    tunefold::TFilePlayer& player = mainWindow.Player();
    mainWindow.OnFirstShow = [&player, &compact, start] {
        // The start's settings (LoadSettings, which also places the main window) are read here.
        compact.PlaceAtTopRight(); // on the screen that holds the main window, whatever it was before
        if (start.file.empty()) {
            return;
        }
        player.SwitchPowerOn();
        player.OPN(start.file);
        if (start.play) {
            player.btnPlayClick();
        }
    };
    mainWindow.OnClosing = [] {
        // The settings (SaveSettings) are written here, then the program ends.
        QCoreApplication::quit();
    };
    compact.show();
    const int status = QApplication::exec();
    mainWindow.SetCompanions(nullptr, nullptr);
    return status;
}
