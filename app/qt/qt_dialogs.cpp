#include "app/qt/qt_dialogs.h"

#include <QApplication>
#include <QColorDialog>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>

#include <algorithm>

#include "app/controls/color_ref.h"
#include "platform/message_loop.h"

namespace tunefold::qt {

namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// Qt widgets live on the GUI thread only; anything asked elsewhere is run there and waited for.
template <typename T, typename F>
T OnGuiThread(F&& ask) {
    if (QThread::currentThread() == QCoreApplication::instance()->thread()) {
        return ask();
    }
    T result{};
    platform::MessageLoop::Gui().Synchronize([&] { result = ask(); });
    return result;
}

QMessageBox::StandardButton ToQt(platform::MsgResult r) {
    using platform::MsgResult;
    switch (r) {
    case MsgResult::Ok:
        return QMessageBox::Ok;
    case MsgResult::Cancel:
        return QMessageBox::Cancel;
    case MsgResult::Abort:
        return QMessageBox::Abort;
    case MsgResult::Retry:
        return QMessageBox::Retry;
    case MsgResult::Ignore:
        return QMessageBox::Ignore;
    case MsgResult::Yes:
        return QMessageBox::Yes;
    case MsgResult::No:
        return QMessageBox::No;
    case MsgResult::None:
        break;
    }
    return QMessageBox::NoButton;
}

QMessageBox::Icon ToQt(platform::MsgIcon icon) {
    using platform::MsgIcon;
    switch (icon) {
    case MsgIcon::Error:
        return QMessageBox::Critical;
    case MsgIcon::Question:
        return QMessageBox::Question;
    case MsgIcon::Warning:
        return QMessageBox::Warning;
    case MsgIcon::Information:
        return QMessageBox::Information;
    case MsgIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

// "Desc (*.a *.b)" -> "Desc": the part of a filter the dialog shows with its details hidden.
QString WithoutPatterns(const QString& filter) {
    const qsizetype open = filter.lastIndexOf(QLatin1Char('('));
    if (open < 0 || !filter.endsWith(QLatin1Char(')'))) {
        return filter;
    }
    return filter.left(open).trimmed();
}

} // namespace

QStringList QtNameFilters(const std::string& filter) {
    const QStringList parts = Q(filter).split(QLatin1Char('|'));
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        for (const QString& p : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            const QString trimmed = p.trimmed();
            if (!trimmed.isEmpty()) {
                patterns << trimmed;
            }
        }
        if (patterns.isEmpty()) {
            patterns << QStringLiteral("*");
        }
        out << parts[i].trimmed() + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return out;
}

platform::MsgResult QtDialogs::MessageBox(const platform::MessageBoxRequest& request) {
    return OnGuiThread<platform::MsgResult>([&] {
        QMessageBox box(ToQt(request.icon), Q(request.caption), Q(request.text), QMessageBox::NoButton,
                        QApplication::activeWindow());
        const std::vector<platform::MsgResult> answers = platform::ButtonsOf(request.buttons);
        for (platform::MsgResult a : answers) {
            box.addButton(ToQt(a));
        }
        box.setDefaultButton(ToQt(platform::DefaultAnswer(request)));
        const int chosen = box.exec();
        for (platform::MsgResult a : answers) {
            if (chosen == ToQt(a)) {
                return a;
            }
        }
        // Closed without a button (the window's close box): the platform answers Cancel where the
        // box has one, else the only button there is.
        for (platform::MsgResult a : answers) {
            if (a == platform::MsgResult::Cancel) {
                return a;
            }
        }
        return answers.size() == 1 ? answers.front() : platform::MsgResult::Cancel;
    });
}

platform::FileDialogResult QtDialogs::FileDialog(const platform::FileDialogRequest& request, bool save) {
    return OnGuiThread<platform::FileDialogResult>([&] {
        QFileDialog dialog(QApplication::activeWindow(), Q(request.title), Q(request.initialDir));
        const QStringList filters = QtNameFilters(request.filter);
        dialog.setOption(QFileDialog::HideNameFilterDetails, true);
        if (!filters.isEmpty()) {
            dialog.setNameFilters(filters);
            const qsizetype index = request.filterIndex >= 1 && request.filterIndex <= filters.size()
                                        ? request.filterIndex - 1
                                        : 0;
            dialog.selectNameFilter(filters[index]);
        }
        if (!request.defaultExt.empty()) {
            QString ext = Q(request.defaultExt);
            if (ext.startsWith(QLatin1Char('.'))) {
                ext.remove(0, 1);
            }
            dialog.setDefaultSuffix(ext);
        }
        if (!request.fileName.empty()) {
            dialog.selectFile(Q(request.fileName));
        }
        if (save) {
            dialog.setAcceptMode(QFileDialog::AcceptSave);
            dialog.setFileMode(QFileDialog::AnyFile);
            dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.overwritePrompt);
        } else {
            dialog.setAcceptMode(QFileDialog::AcceptOpen);
            if (request.allowMultiSelect) {
                dialog.setFileMode(request.fileMustExist ? QFileDialog::ExistingFiles : QFileDialog::AnyFile);
            } else {
                dialog.setFileMode(request.fileMustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
            }
        }
        platform::FileDialogResult result;
        result.filterIndex = request.filterIndex;
        if (dialog.exec() != QDialog::Accepted) {
            return result;
        }
        result.accepted = true;
        for (const QString& f : dialog.selectedFiles()) {
            result.files.push_back(f.toStdString());
            if (!request.allowMultiSelect) {
                break;
            }
        }
        // With the details hidden the dialog names the chosen filter by its description alone.
        const QString chosen = dialog.selectedNameFilter();
        for (qsizetype i = 0; i < filters.size(); ++i) {
            if (filters[i] == chosen || WithoutPatterns(filters[i]) == chosen) {
                result.filterIndex = static_cast<int>(i) + 1;
                break;
            }
        }
        return result;
    });
}

platform::FileDialogResult QtDialogs::OpenFile(const platform::FileDialogRequest& request) {
    return FileDialog(request, false);
}

platform::FileDialogResult QtDialogs::SaveFile(const platform::FileDialogRequest& request) {
    return FileDialog(request, true);
}

platform::ColorDialogResult QtDialogs::ChooseColor(const platform::ColorDialogRequest& request) {
    return OnGuiThread<platform::ColorDialogResult>([&] {
        const int count =
            std::min(static_cast<int>(request.customColors.size()), QColorDialog::customCount());
        for (int i = 0; i < count; ++i) {
            QColorDialog::setCustomColor(
                i, controls::ColorFromRef(request.customColors[static_cast<std::size_t>(i)]));
        }
        QColorDialog dialog(controls::ColorFromRef(request.color), QApplication::activeWindow());
        platform::ColorDialogResult result;
        result.color = request.color;
        if (dialog.exec() == QDialog::Accepted) {
            result.accepted = true;
            result.color = controls::RefFromColor(dialog.selectedColor());
        }
        return result;
    });
}

platform::InputBoxResult QtDialogs::InputQuery(const platform::InputBoxRequest& request) {
    return OnGuiThread<platform::InputBoxResult>([&] {
        QInputDialog dialog(QApplication::activeWindow());
        dialog.setWindowTitle(Q(request.caption));
        dialog.setLabelText(Q(request.prompt));
        dialog.setInputMode(QInputDialog::TextInput);
        dialog.setTextValue(Q(request.value));
        platform::InputBoxResult result;
        result.value = request.value;
        if (dialog.exec() == QDialog::Accepted) {
            result.accepted = true;
            result.value = dialog.textValue().toStdString();
        }
        return result;
    });
}

} // namespace tunefold::qt
