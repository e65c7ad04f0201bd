// The dialogs and message boxes of the window system: open and save file dialogs, the colour
// dialog, the input box and message boxes. The program installs its Qt backend; tests install a
// ScriptedDialogs (platform/virtual/scripted_dialogs.h); without either, the headless default
// answers every question with its default (and writes message boxes to stderr), so nothing ever
// blocks on a window nobody can see.
//
// Requests and answers are plain values, so a Qt backend can map them one to one onto
// QFileDialog, QColorDialog, QInputDialog and QMessageBox.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/wave_types.h"

namespace tunefold::platform {

// Message box flags, as the platform's MessageBox takes them.
constexpr UINT MB_OK = 0x0000;
constexpr UINT MB_OKCANCEL = 0x0001;
constexpr UINT MB_ABORTRETRYIGNORE = 0x0002;
constexpr UINT MB_YESNOCANCEL = 0x0003;
constexpr UINT MB_YESNO = 0x0004;
constexpr UINT MB_RETRYCANCEL = 0x0005;
constexpr UINT MB_ICONHAND = 0x0010; // also "stop" and "error"
constexpr UINT MB_ICONSTOP = MB_ICONHAND;
constexpr UINT MB_ICONERROR = MB_ICONHAND;
constexpr UINT MB_ICONQUESTION = 0x0020;
constexpr UINT MB_ICONEXCLAMATION = 0x0030; // also "warning"
constexpr UINT MB_ICONWARNING = MB_ICONEXCLAMATION;
constexpr UINT MB_ICONASTERISK = 0x0040; // also "information"
constexpr UINT MB_ICONINFORMATION = MB_ICONASTERISK;
constexpr UINT MB_DEFBUTTON1 = 0x0000;
constexpr UINT MB_DEFBUTTON2 = 0x0100;
constexpr UINT MB_DEFBUTTON3 = 0x0200;

enum class MsgButtons { Ok, OkCancel, AbortRetryIgnore, YesNoCancel, YesNo, RetryCancel };
enum class MsgIcon { None, Error, Question, Warning, Information };
// The button that closed a message box; the values are the platform's IDOK .. IDNO.
enum class MsgResult { None = 0, Ok = 1, Cancel = 2, Abort = 3, Retry = 4, Ignore = 5, Yes = 6, No = 7 };

struct MessageBoxRequest {
    std::string caption;
    std::string text;
    MsgIcon icon = MsgIcon::None;
    MsgButtons buttons = MsgButtons::Ok;
    int defaultButton = 0; // index into the buttons, 0 = the first
};

// The buttons of a set, in the order they are shown.
std::vector<MsgResult> ButtonsOf(MsgButtons buttons);
// The answer of the default button (the first one when the index is out of range).
MsgResult DefaultAnswer(const MessageBoxRequest& request);
// Splits MB_* flags into buttons, icon and default button.
MessageBoxRequest MessageBoxFromFlags(const std::string& text, const std::string& caption, UINT flags);

struct FileDialogRequest {
    std::string title;
    std::string initialDir;
    std::string fileName;
    // "Description|*.ext1;*.ext2|Description|*.ext" pairs, as the window framework's dialogs take them.
    std::string filter;
    int filterIndex = 1; // 1-based, as the framework counts
    std::string defaultExt;
    bool allowMultiSelect = false;
    bool fileMustExist = false;   // open dialogs
    bool overwritePrompt = false; // save dialogs
};
struct FileDialogResult {
    bool accepted = false;
    std::vector<std::string> files; // one name unless allowMultiSelect
    int filterIndex = 1;
    std::string FileName() const { return files.empty() ? std::string() : files.front(); }
};

// Colours are the platform's 0x00BBGGRR values.
using ColorRef = std::uint32_t;
struct ColorDialogRequest {
    ColorRef color = 0;
    std::vector<ColorRef> customColors; // up to 16
};
struct ColorDialogResult {
    bool accepted = false;
    ColorRef color = 0;
};

struct InputBoxRequest {
    std::string caption;
    std::string prompt;
    std::string value; // the text the edit line starts with
};
struct InputBoxResult {
    bool accepted = false;
    std::string value;
};

class DialogService {
public:
    virtual ~DialogService() = default;
    virtual MsgResult MessageBox(const MessageBoxRequest& request) = 0;
    virtual FileDialogResult OpenFile(const FileDialogRequest& request) = 0;
    virtual FileDialogResult SaveFile(const FileDialogRequest& request) = 0;
    virtual ColorDialogResult ChooseColor(const ColorDialogRequest& request) = 0;
    virtual InputBoxResult InputQuery(const InputBoxRequest& request) = 0;

    // The platform's MessageBox(text, caption, flags) shape.
    MsgResult MessageBox(const std::string& text, const std::string& caption, UINT flags);
    // The framework's InputBox: the entered text, or the starting text when cancelled.
    std::string InputBox(const std::string& caption, const std::string& prompt, const std::string& value);
};

// What a recording backend was asked, in order.
using DialogRequest =
    std::variant<MessageBoxRequest, FileDialogRequest /*open*/, ColorDialogRequest, InputBoxRequest>;
struct AskedDialog {
    enum class Kind { MessageBox, Open, Save, Color, Input } kind;
    DialogRequest request;
};

// Keeps every request. Thread-safe, since message boxes may be asked from any thread.
class RecordingDialogs : public DialogService {
public:
    std::vector<AskedDialog> Asked() const;
    std::vector<MessageBoxRequest> MessageBoxes() const;
    std::size_t AskedCount() const;
    void ClearRecord();

protected:
    void Record(AskedDialog::Kind kind, DialogRequest request);

private:
    mutable std::mutex recordMutex_;
    std::vector<AskedDialog> asked_;
};

// Used when no GUI is installed: records, answers with the default button (cancel for the other
// dialogs) and writes each message box to stderr.
class HeadlessDialogs : public RecordingDialogs {
public:
    explicit HeadlessDialogs(bool writeToStderr = true) : writeToStderr_(writeToStderr) {}
    MsgResult MessageBox(const MessageBoxRequest& request) override;
    FileDialogResult OpenFile(const FileDialogRequest& request) override;
    FileDialogResult SaveFile(const FileDialogRequest& request) override;
    ColorDialogResult ChooseColor(const ColorDialogRequest& request) override;
    InputBoxResult InputQuery(const InputBoxRequest& request) override;
    using DialogService::MessageBox;

private:
    bool writeToStderr_;
};

// The backend in force: the installed one, else the headless default.
DialogService& Dialogs();
// Installs `service` (nullptr: the headless default) and returns the one installed before; the
// caller keeps ownership.
DialogService* SetDialogs(DialogService* service);

class ScopedDialogs {
public:
    explicit ScopedDialogs(DialogService& service) : previous_(SetDialogs(&service)) {}
    ~ScopedDialogs() { SetDialogs(previous_); }
    ScopedDialogs(const ScopedDialogs&) = delete;
    ScopedDialogs& operator=(const ScopedDialogs&) = delete;

private:
    DialogService* previous_;
};

} // namespace tunefold::platform
