// The dialogs service on Qt: each request maps one to one onto QFileDialog, QColorDialog,
// QInputDialog or QMessageBox. Install it with platform::SetDialogs (or a ScopedDialogs) once the
// QApplication exists. A request from a worker thread is carried to the GUI thread through the
// message loop's Synchronize and waits there for the answer.
#pragma once

#include <QString>
#include <QStringList>

#include "platform/dialogs.h"

namespace tunefold::qt {

// "Desc|*.a;*.b|Desc2|*.c" -> {"Desc (*.a *.b)", "Desc2 (*.c)"}. A description that already names its
// patterns in brackets keeps its text: the dialog is told to hide the pattern part we append. A
// trailing description without patterns is dropped.
QStringList QtNameFilters(const std::string& filter);

class QtDialogs : public platform::DialogService {
public:
    platform::MsgResult MessageBox(const platform::MessageBoxRequest& request) override;
    platform::FileDialogResult OpenFile(const platform::FileDialogRequest& request) override;
    platform::FileDialogResult SaveFile(const platform::FileDialogRequest& request) override;
    platform::ColorDialogResult ChooseColor(const platform::ColorDialogRequest& request) override;
    platform::InputBoxResult InputQuery(const platform::InputBoxRequest& request) override;
    using DialogService::MessageBox;

private:
    platform::FileDialogResult FileDialog(const platform::FileDialogRequest& request, bool save);
};

} // namespace tunefold::qt
