// The program's QApplication with the default exception handler: an engine error or any other
// std::exception that escapes an event handler is shown in a message box (through the dialogs
// service, so tests see it recorded) and the program goes on with the next event.
#pragma once

#include <QApplication>
#include <QString>

#include <string>

namespace tunefold::qt {

class Application : public QApplication {
public:
    Application(int& argc, char** argv);

    // The caption of the handler's message boxes.
    const std::string& Title() const { return title_; }
    void SetTitle(const std::string& title) { title_ = title; }

    bool notify(QObject* receiver, QEvent* event) override;

    // Shows `text` as the handler does (tests and code that catches on its own call it).
    void ShowException(const std::string& text) const;
    // How many exceptions the handler has shown.
    int HandledCount() const { return handled_; }

private:
    std::string title_;
    int handled_ = 0;
};

} // namespace tunefold::qt
