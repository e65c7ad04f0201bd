#include "app/qt/application.h"

#include <exception>
#include <type_traits>

#include "engine/framework/errors.h"
#include "platform/dialogs.h"

namespace tunefold::qt {

// Engine errors carry the user's text in what(); one catch serves them and the library's own.
static_assert(std::is_base_of_v<std::exception, EMMError>);

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {}

bool Application::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        ++handled_;
        ShowException(e.what());
    }
    // Anything that is no exception of ours goes on to terminate: we cannot tell what it means.
    return false;
}

void Application::ShowException(const std::string& text) const {
    // The message box runs a nested event loop; an exception from an event handled there lands in
    // this handler again and shows a box of its own, as the platform's handler does.
    platform::Dialogs().MessageBox(text, title_, platform::MB_OK | platform::MB_ICONSTOP);
}

} // namespace tunefold::qt
