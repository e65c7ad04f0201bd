// The Qt dialogs: the filter syntax, and real Qt dialogs answered by the test on the GUI thread
// (each is closed by a timer the test sets first, so nothing waits for a person).
#include <gtest/gtest.h>

#include <QApplication>
#include <QColorDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "app/qt/message_pump.h"
#include "app/qt/qt_dialogs.h"
#include "platform/message_loop.h"

namespace tunefold::qt {
namespace {

TEST(QtNameFilters, TurnsFrameworkFiltersIntoQtFilters) {
    const QStringList f = QtNameFilters(
        "All Supported Formats|*.wav;*.mp2;*.mp3;*.l2;*.l3;*.atx;*.lst;*.m3u|Wave Files (*.wav)|*.wav|"
        "MPEG Audio Files (*.mp2; *.mp3; *.l2; *.l3)|*.mp2;*.mp3;*.l2;*.l3|Antex MPEG Files (*.atx)|*.atx|"
        "Playlist Files (*.m3u)|*.m3u|Playlist Files (*.txt)|*.lst|All Files|*.*");
    ASSERT_EQ(f.size(), 7);
    EXPECT_EQ(f[0], "All Supported Formats (*.wav *.mp2 *.mp3 *.l2 *.l3 *.atx *.lst *.m3u)");
    // The description keeps its own words; the patterns that count come last.
    EXPECT_EQ(f[1], "Wave Files (*.wav) (*.wav)");
    EXPECT_EQ(f[2], "MPEG Audio Files (*.mp2; *.mp3; *.l2; *.l3) (*.mp2 *.mp3 *.l2 *.l3)");
    EXPECT_EQ(f[5], "Playlist Files (*.txt) (*.lst)");
    EXPECT_EQ(f[6], "All Files (*.*)");
    EXPECT_EQ(QtNameFilters("Curves|*.eq|Dangling").size(), 1);
    EXPECT_TRUE(QtNameFilters("").isEmpty());
    EXPECT_EQ(QtNameFilters("Anything| ; ")[0], "Anything (*)");
}

// Runs `answer` on the modal dialog once it is up; closes whatever is modal if none ever matches.
void AnswerModal(std::function<bool(QWidget*)> answer) {
    auto* timer = new QTimer(QApplication::instance());
    timer->setInterval(10);
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, tries, answer = std::move(answer)] {
        QWidget* modal = QApplication::activeModalWidget();
        const bool done = modal != nullptr && answer(modal);
        if (!done && ++*tries > 2000 && modal != nullptr) {
            modal->close();
        }
        if (done || *tries > 2000) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start();
}

TEST(QtDialogs, MessageBoxShowsTheRequestAndReturnsTheButtonPressed) {
    QtDialogs dialogs;
    QString seenText, seenTitle;
    bool defaultWasNo = false;
    AnswerModal([&](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (box == nullptr) {
            return false;
        }
        seenText = box->text();
        seenTitle = box->windowTitle();
        defaultWasNo = box->defaultButton() == box->button(QMessageBox::No);
        box->button(QMessageBox::No)->click();
        return true;
    });
    const platform::MsgResult r =
        dialogs.MessageBox("Standard Scheme can not be edited.", "Tunefold",
                           platform::MB_YESNOCANCEL | platform::MB_ICONQUESTION | platform::MB_DEFBUTTON2);
    EXPECT_EQ(r, platform::MsgResult::No);
    EXPECT_EQ(seenText, "Standard Scheme can not be edited.");
    EXPECT_EQ(seenTitle, "Tunefold");
    EXPECT_TRUE(defaultWasNo);
}

TEST(QtDialogs, InputBoxReturnsTheEditedTextOrTheStartingTextWhenCancelled) {
    QtDialogs dialogs;
    AnswerModal([](QWidget* w) {
        auto* input = qobject_cast<QInputDialog*>(w);
        if (input == nullptr) {
            return false;
        }
        input->setTextValue(QStringLiteral("Evening"));
        input->accept();
        return true;
    });
    EXPECT_EQ(dialogs.InputBox("New Scheme", "Name of the scheme:", "Untitled"), "Evening");
    AnswerModal([](QWidget* w) {
        auto* input = qobject_cast<QInputDialog*>(w);
        if (input == nullptr) {
            return false;
        }
        input->setTextValue(QStringLiteral("thrown away"));
        input->reject();
        return true;
    });
    EXPECT_EQ(dialogs.InputBox("New Scheme", "Name of the scheme:", "Untitled"), "Untitled");
}

TEST(QtDialogs, OpenDialogStartsAtTheRequestedFilterAndReportsTheOneChosen) {
    const QString folder = QDir::homePath() + QStringLiteral("/open-dialog");
    QDir().mkpath(folder);
    QFile song(folder + QStringLiteral("/song.mp3"));
    ASSERT_TRUE(song.open(QIODevice::WriteOnly));
    song.close();

    QtDialogs dialogs;
    QStringList shownFilters;
    QString startFilter;
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    AnswerModal([&](QWidget* w) {
        auto* dialog = qobject_cast<QFileDialog*>(w);
        if (dialog == nullptr) {
            return false;
        }
        shownFilters = dialog->nameFilters();
        startFilter = dialog->selectedNameFilter();
        mode = dialog->fileMode();
        dialog->selectNameFilter(shownFilters[2]);
        dialog->selectFile(song.fileName());
        static_cast<QDialog*>(dialog)->accept(); // what its Open button does
        return true;
    });
    platform::FileDialogRequest request;
    request.title = "Open";
    request.initialDir = folder.toStdString();
    request.filter = "Wave Files (*.wav)|*.wav|MPEG Audio Files|*.mp2;*.mp3|All Files|*.*";
    request.filterIndex = 2;
    request.fileMustExist = true;
    const platform::FileDialogResult r = dialogs.OpenFile(request);
    EXPECT_EQ(startFilter, "MPEG Audio Files"); // the second filter, by its description
    EXPECT_EQ(mode, QFileDialog::ExistingFile);
    ASSERT_TRUE(r.accepted);
    EXPECT_EQ(r.FileName(), song.fileName().toStdString());
    EXPECT_EQ(r.filterIndex, 3);
}

TEST(QtDialogs, ColourDialogSpeaksTheRedInTheLowByte) {
    QtDialogs dialogs;
    QColor started;
    AnswerModal([&](QWidget* w) {
        auto* dialog = qobject_cast<QColorDialog*>(w);
        if (dialog == nullptr) {
            return false;
        }
        started = dialog->currentColor();
        dialog->setCurrentColor(QColor(0x11, 0x22, 0x33));
        dialog->accept();
        return true;
    });
    platform::ColorDialogRequest request;
    request.color = 0x0000FF; // red
    request.customColors = {0xFF0000};
    const platform::ColorDialogResult r = dialogs.ChooseColor(request);
    EXPECT_EQ(started, QColor(Qt::red));
    EXPECT_EQ(QColorDialog::customColor(0), QColor(Qt::blue));
    ASSERT_TRUE(r.accepted);
    EXPECT_EQ(r.color, 0x332211u);
}

TEST(QtDialogs, AQuestionFromAWorkerThreadIsAskedOnTheGuiThread) {
    MessagePump pump;
    QtDialogs dialogs;
    std::atomic<bool> answered{false};
    platform::MsgResult result = platform::MsgResult::None;
    bool boxOnGuiThread = false;
    AnswerModal([&](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (box == nullptr) {
            return false;
        }
        boxOnGuiThread = box->thread() == QApplication::instance()->thread();
        box->button(QMessageBox::Retry)->click();
        return true;
    });
    std::thread worker([&] {
        result = dialogs.MessageBox("WaveOutWrite:", "Tunefold", platform::MB_RETRYCANCEL);
        answered = true;
    });
    const bool done = QTest::qWaitFor([&] { return answered.load(); }, 10000);
    if (!done) {
        platform::MessageLoop::Gui().ProcessUntil([&] { return answered.load(); }, 10000);
    }
    worker.join();
    EXPECT_TRUE(done);
    EXPECT_EQ(result, platform::MsgResult::Retry);
    EXPECT_TRUE(boxOnGuiThread);
}

} // namespace
} // namespace tunefold::qt
