#include "platform/dialogs.h"

#include <atomic>
#include <cstdio>

namespace tunefold::platform {

std::vector<MsgResult> ButtonsOf(MsgButtons buttons) {
    switch (buttons) {
    case MsgButtons::Ok:
        return {MsgResult::Ok};
    case MsgButtons::OkCancel:
        return {MsgResult::Ok, MsgResult::Cancel};
    case MsgButtons::AbortRetryIgnore:
        return {MsgResult::Abort, MsgResult::Retry, MsgResult::Ignore};
    case MsgButtons::YesNoCancel:
        return {MsgResult::Yes, MsgResult::No, MsgResult::Cancel};
    case MsgButtons::YesNo:
        return {MsgResult::Yes, MsgResult::No};
    case MsgButtons::RetryCancel:
        return {MsgResult::Retry, MsgResult::Cancel};
    }
    return {MsgResult::Ok};
}

MsgResult DefaultAnswer(const MessageBoxRequest& request) {
    const std::vector<MsgResult> buttons = ButtonsOf(request.buttons);
    if (request.defaultButton < 0 || static_cast<std::size_t>(request.defaultButton) >= buttons.size()) {
        return buttons.front();
    }
    return buttons[static_cast<std::size_t>(request.defaultButton)];
}

MessageBoxRequest MessageBoxFromFlags(const std::string& text, const std::string& caption, UINT flags) {
    MessageBoxRequest r;
    r.text = text;
    r.caption = caption;
    switch (flags & 0x000F) {
    case MB_OKCANCEL:
        r.buttons = MsgButtons::OkCancel;
        break;
    case MB_ABORTRETRYIGNORE:
        r.buttons = MsgButtons::AbortRetryIgnore;
        break;
    case MB_YESNOCANCEL:
        r.buttons = MsgButtons::YesNoCancel;
        break;
    case MB_YESNO:
        r.buttons = MsgButtons::YesNo;
        break;
    case MB_RETRYCANCEL:
        r.buttons = MsgButtons::RetryCancel;
        break;
    default:
        r.buttons = MsgButtons::Ok;
        break;
    }
    switch (flags & 0x00F0) {
    case MB_ICONHAND:
        r.icon = MsgIcon::Error;
        break;
    case MB_ICONQUESTION:
        r.icon = MsgIcon::Question;
        break;
    case MB_ICONEXCLAMATION:
        r.icon = MsgIcon::Warning;
        break;
    case MB_ICONASTERISK:
        r.icon = MsgIcon::Information;
        break;
    default:
        r.icon = MsgIcon::None;
        break;
    }
    r.defaultButton = static_cast<int>((flags & 0x0F00) >> 8);
    return r;
}

MsgResult DialogService::MessageBox(const std::string& text, const std::string& caption, UINT flags) {
    return MessageBox(MessageBoxFromFlags(text, caption, flags));
}

std::string DialogService::InputBox(const std::string& caption, const std::string& prompt,
                                    const std::string& value) {
    InputBoxResult r = InputQuery(InputBoxRequest{caption, prompt, value});
    return r.accepted ? r.value : value;
}

// ---- RecordingDialogs ----

std::vector<AskedDialog> RecordingDialogs::Asked() const {
    std::lock_guard lock(recordMutex_);
    return asked_;
}

std::vector<MessageBoxRequest> RecordingDialogs::MessageBoxes() const {
    std::lock_guard lock(recordMutex_);
    std::vector<MessageBoxRequest> boxes;
    for (const AskedDialog& a : asked_) {
        if (a.kind == AskedDialog::Kind::MessageBox) {
            boxes.push_back(std::get<MessageBoxRequest>(a.request));
        }
    }
    return boxes;
}

std::size_t RecordingDialogs::AskedCount() const {
    std::lock_guard lock(recordMutex_);
    return asked_.size();
}

void RecordingDialogs::ClearRecord() {
    std::lock_guard lock(recordMutex_);
    asked_.clear();
}

void RecordingDialogs::Record(AskedDialog::Kind kind, DialogRequest request) {
    std::lock_guard lock(recordMutex_);
    asked_.push_back(AskedDialog{kind, std::move(request)});
}

// ---- HeadlessDialogs ----

MsgResult HeadlessDialogs::MessageBox(const MessageBoxRequest& request) {
    Record(AskedDialog::Kind::MessageBox, request);
    if (writeToStderr_) {
        std::fprintf(stderr, "[%s] %s\n", request.caption.c_str(), request.text.c_str());
    }
    return DefaultAnswer(request);
}

FileDialogResult HeadlessDialogs::OpenFile(const FileDialogRequest& request) {
    Record(AskedDialog::Kind::Open, request);
    return FileDialogResult{false, {}, request.filterIndex};
}

FileDialogResult HeadlessDialogs::SaveFile(const FileDialogRequest& request) {
    Record(AskedDialog::Kind::Save, request);
    return FileDialogResult{false, {}, request.filterIndex};
}

ColorDialogResult HeadlessDialogs::ChooseColor(const ColorDialogRequest& request) {
    Record(AskedDialog::Kind::Color, request);
    return ColorDialogResult{false, request.color};
}

InputBoxResult HeadlessDialogs::InputQuery(const InputBoxRequest& request) {
    Record(AskedDialog::Kind::Input, request);
    return InputBoxResult{false, request.value};
}

// ---- the accessor ----

namespace {
std::atomic<DialogService*> installed{nullptr};
}

DialogService& Dialogs() {
    DialogService* service = installed.load();
    if (service != nullptr) {
        return *service;
    }
    static HeadlessDialogs headless;
    return headless;
}

DialogService* SetDialogs(DialogService* service) {
    return installed.exchange(service);
}

} // namespace tunefold::platform
