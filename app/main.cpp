// The composition root of the Qt program: the application with its default handler, the message
// loop driven from Qt's event loop, the Qt dialogs, then the windows. For now the one window is the
// file player's face; the controller and the other windows join here.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/qt/application.h"
#include "app/qt/message_pump.h"
#include "app/qt/qt_dialogs.h"
#include "app/windows/main_window.h"
#include "platform/dialogs.h"

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

} // namespace

int main(int argc, char** argv) {
    if (!ChoosePlatform()) {
        return 3;
    }
    tunefold::qt::Application app(argc, argv);
    app.SetTitle("Audio Play");
    QCoreApplication::setApplicationName(QStringLiteral("tunefold"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TUNEFOLD_VERSION));

    tunefold::qt::MessagePump pump;
    tunefold::qt::QtDialogs dialogs;
    tunefold::platform::ScopedDialogs installDialogs(dialogs);

    tunefold::windows::MainWindow mainWindow;
    mainWindow.show();
    return QApplication::exec();
}
