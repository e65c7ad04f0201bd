// Dialogs for tests: every question is recorded, and answered from a queue the test filled
// beforehand (one queue per kind of dialog). A question with nothing queued gets the headless
// answer (the default button, or "cancelled"), so a test never blocks on a window.
#pragma once

#include <deque>

#include "platform/dialogs.h"

namespace tunefold::platform {

class ScriptedDialogs : public RecordingDialogs {
public:
    void QueueMessageBox(MsgResult answer);
    void QueueOpen(FileDialogResult answer);
    void QueueSave(FileDialogResult answer);
    void QueueColor(ColorDialogResult answer);
    void QueueInput(InputBoxResult answer);
    // Answers still queued (all kinds): a test can check that every scripted answer was used.
    std::size_t Unanswered() const;

    MsgResult MessageBox(const MessageBoxRequest& request) override;
    FileDialogResult OpenFile(const FileDialogRequest& request) override;
    FileDialogResult SaveFile(const FileDialogRequest& request) override;
    ColorDialogResult ChooseColor(const ColorDialogRequest& request) override;
    InputBoxResult InputQuery(const InputBoxRequest& request) override;
    using DialogService::MessageBox;

private:
    template <typename T>
    static bool Take(std::deque<T>& queue, T& out) {
        if (queue.empty()) {
            return false;
        }
        out = std::move(queue.front());
        queue.pop_front();
        return true;
    }
    mutable std::mutex mutex_;
    std::deque<MsgResult> boxes_;
    std::deque<FileDialogResult> opens_;
    std::deque<FileDialogResult> saves_;
    std::deque<ColorDialogResult> colors_;
    std::deque<InputBoxResult> inputs_;
};

} // namespace tunefold::platform
