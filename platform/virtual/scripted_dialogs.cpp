#include "platform/virtual/scripted_dialogs.h"

namespace tunefold::platform {

void ScriptedDialogs::QueueMessageBox(MsgResult answer) {
    std::lock_guard lock(mutex_);
    boxes_.push_back(answer);
}
void ScriptedDialogs::QueueOpen(FileDialogResult answer) {
    std::lock_guard lock(mutex_);
    opens_.push_back(std::move(answer));
}
void ScriptedDialogs::QueueSave(FileDialogResult answer) {
    std::lock_guard lock(mutex_);
    saves_.push_back(std::move(answer));
}
void ScriptedDialogs::QueueColor(ColorDialogResult answer) {
    std::lock_guard lock(mutex_);
    colors_.push_back(answer);
}
void ScriptedDialogs::QueueInput(InputBoxResult answer) {
    std::lock_guard lock(mutex_);
    inputs_.push_back(std::move(answer));
}

std::size_t ScriptedDialogs::Unanswered() const {
    std::lock_guard lock(mutex_);
    return boxes_.size() + opens_.size() + saves_.size() + colors_.size() + inputs_.size();
}

MsgResult ScriptedDialogs::MessageBox(const MessageBoxRequest& request) {
    Record(AskedDialog::Kind::MessageBox, request);
    std::lock_guard lock(mutex_);
    MsgResult answer;
    return Take(boxes_, answer) ? answer : DefaultAnswer(request);
}

FileDialogResult ScriptedDialogs::OpenFile(const FileDialogRequest& request) {
    Record(AskedDialog::Kind::Open, request);
    std::lock_guard lock(mutex_);
    FileDialogResult answer;
    return Take(opens_, answer) ? answer : FileDialogResult{false, {}, request.filterIndex};
}

FileDialogResult ScriptedDialogs::SaveFile(const FileDialogRequest& request) {
    Record(AskedDialog::Kind::Save, request);
    std::lock_guard lock(mutex_);
    FileDialogResult answer;
    return Take(saves_, answer) ? answer : FileDialogResult{false, {}, request.filterIndex};
}

ColorDialogResult ScriptedDialogs::ChooseColor(const ColorDialogRequest& request) {
    Record(AskedDialog::Kind::Color, request);
    std::lock_guard lock(mutex_);
    ColorDialogResult answer;
    return Take(colors_, answer) ? answer : ColorDialogResult{false, request.color};
}

InputBoxResult ScriptedDialogs::InputQuery(const InputBoxRequest& request) {
    Record(AskedDialog::Kind::Input, request);
    std::lock_guard lock(mutex_);
    InputBoxResult answer;
    return Take(inputs_, answer) ? answer : InputBoxResult{false, request.value};
}

} // namespace tunefold::platform
