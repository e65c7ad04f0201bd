// The player's windows driven as a user drives them: clicks on the real buttons and the power
// switch, keys, drops, drags and the menu, with the controller behind them on the virtual card.
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMimeData>
#include <QUrl>

#include "app/controls/blotter_panel.h"
#include "app/controls/dot_matrix.h"
#include "app/controls/face_button.h"
#include "app/controls/lit_label.h"
#include "app/controls/power_switch.h"
#include "app/controls/raster_host.h"
#include "app/controls/rotary_wheel.h"
#include "app/controls/segment_clock.h"
#include "app/controls/track_bar.h"
#include "app/windows/player_menu.h"
#include "engine/displays/leds.h"
#include "player_windows.h"
#include "qt/qt_test_support.h"

namespace tunefold::test {
namespace {

using PlayerWindows = PlayerWindowsFixture;

std::vector<controls::FaceButton*> Buttons(windows::MainWindow& m) {
    return {m.RzBmpButton1, m.RzBmpButton2, m.RzBmpButton3, m.RzBmpButton5,
            m.RzBmpButton6, m.RzBmpButton7, m.RzBmpButton8};
}
std::vector<controls::FaceButton*> Buttons(windows::CompactPanel& c) {
    return {c.RzBmpButton1, c.RzBmpButton2, c.RzBmpButton3, c.RzBmpButton5,
            c.RzBmpButton6, c.RzBmpButton7, c.RzBmpButton8};
}

TEST_F(PlayerWindows, TheFaceIsShapedAndStartsSwitchedOff) {
    EXPECT_EQ(main->size(), QSize(547, 182));
    EXPECT_EQ(main->windowTitle(), "Tunefold File Player");
    EXPECT_TRUE(main->windowFlags() & Qt::FramelessWindowHint);
    const QRegion mask = main->mask();
    EXPECT_FALSE(mask.contains(QPoint(0, 0)));
    EXPECT_TRUE(mask.contains(QPoint(273, 91)));
    for (QWidget* child : main->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!child->isWindow()) {
            EXPECT_TRUE(QRect(0, 0, 547, 182).contains(child->geometry()))
                << child->metaObject()->className();
        }
    }
    for (controls::FaceButton* b : Buttons(*main)) {
        EXPECT_FALSE(b->isEnabled()) << b->Hint().toStdString();
    }
    EXPECT_EQ(main->RzBmpButton8->Hint(), "Playlist Editor...");
    EXPECT_FALSE(main->MMWheel1->isEnabled());
    EXPECT_EQ(main->MMWheel1->Value(), 16384);
    EXPECT_FALSE(main->Menu().Open1->isEnabled());

    EXPECT_EQ(compact->size(), QSize(396, 44));
    EXPECT_EQ(compact->windowTitle(), "Compact");
    EXPECT_EQ(cover->windowTitle(), "BackgroundF");
    // Every caption and shortcut of the menu.
    windows::PlayerMenu& m = main->Menu();
    const std::vector<std::pair<QAction*, const char*>> items{
        {m.Open1, "&Open File...|Ctrl+O"},
        {m.Playlist1, "Open P&laylist...|"},
        {m.RecentFiles1, "Re&cent Files|"},
        {m.Play1, "&Play|Ctrl+P"},
        {m.Pause1, "Pa&use/Unpause|Ctrl+U"},
        {m.Stop1, "&Stop|Ctrl+S"},
        {m.Previous1, "P&revious File in the Filelist|Ctrl+R"},
        {m.Next1, "&Next File in the Filelist|Ctrl+N"},
        {m.Preferences1, "Pre&ferences...|"},
        {m.Info1, "&About...|"},
        {m.Help1, "&Help...|F1"},
        {m.CompactPanel1, "Compact Control Panel|"},
        {m.ShowEqualizer1, "Show Equalizer|"},
        {m.ShowFilePlayer1, "Show File Player|"},
        {m.ShowCdPlayer1, "Show CD Player|"},
        {m.HideDesktop1, "Hide Desktop|Ctrl+H"},
        {m.Exit1, "E&xit|Ctrl+Q"}};
    for (const auto& [action, expected] : items) {
        EXPECT_EQ((action->text() + "|" + action->shortcut().toString()).toStdString(), expected);
    }
    EXPECT_EQ(m.Menu().actions().size(), 23); // with the six separators
}

TEST_F(PlayerWindows, NextSkipsAMissingEntryAndBothFacesCountThree) {
    Copy("pcm8_mono_8000.wav", "one.wav");
    Copy("pcm8_mono_8000.wav", "three.wav");
    const std::string list = Write("three.lst", "one.wav\r\ntwo.wav\r\nthree.wav\r\n");
    Click(*main->VrSwitch1);
    ASSERT_TRUE(main->RzBmpButton7->isEnabled());
    dialogs.QueueOpen(platform::FileDialogResult{true, {list}, 1});
    Click(*main->RzBmpButton7);
    EXPECT_EQ(main->VrMatrix1->Text(), "one.wav");
    EXPECT_EQ(main->MMLEDPanel1().Value(), 1);
    EXPECT_EQ(main->MMLEDPanel2().Value(), 3);
    ASSERT_TRUE(main->RzBmpButton6->isEnabled());
    EXPECT_TRUE(compact->RzBmpButton6->isEnabled());

    Click(*main->RzBmpButton6);
    EXPECT_EQ(main->VrMatrix1->Text(), "three.wav");
    EXPECT_EQ(main->MMLEDPanel1().Value(), 3);
    EXPECT_EQ(main->MMLEDPanel2().Value(), 3);
    EXPECT_EQ(compact->MMLEDPanel1().Value(), 3);
    EXPECT_EQ(compact->MMLEDPanel2().Value(), 3);
    EXPECT_FALSE(main->RzBmpButton6->isEnabled());
    EXPECT_FALSE(compact->RzBmpButton6->isEnabled());
    EXPECT_FALSE(main->Menu().Next1->isEnabled());
    EXPECT_TRUE(main->RzBmpButton5->isEnabled());
    EXPECT_TRUE(main->Menu().Previous1->isEnabled());
    // Previous from the compact panel comes back over the missing entry.
    Click(*compact->RzBmpButton5);
    EXPECT_EQ(main->VrMatrix1->Text(), "one.wav");
    EXPECT_EQ(compact->MMLEDPanel1().Value(), 1);
    // 8 bits, 8 kHz, mono: what the LEDs and the lamp show.
    EXPECT_EQ(main->LedBitRate().Value(), 8);
    EXPECT_EQ(main->lblBitRate->Text(), "Bit");
    EXPECT_EQ(main->LedRate().Value(), 8);
    EXPECT_EQ(main->LedMode().Mode(), mMono);
    EXPECT_TRUE(main->Label10->Lit()); // STOP
    EXPECT_FALSE(main->lblLayer->Lit());
    EXPECT_TRUE(main->RzTrackBar1->isEnabled());
    EXPECT_EQ(main->RzTrackBar1->Max(), 1300);
    EXPECT_EQ(main->VrClock3->Text(), "00:01");
    EXPECT_EQ(compact->VrClock3->Text(), "00:01");
}

TEST_F(PlayerWindows, ThePowerSwitchDisablesEveryButtonAndPlayDrivesTheLabels) {
    const std::string mp3 = Copy("l3_cbr128_joint_44100.mp3", "a tune with a long name.mp3");
    Click(*main->VrSwitch1);
    EXPECT_TRUE(main->MMWheel1->isEnabled());
    EXPECT_FALSE(main->ScrollTimerRunning()) << "nothing to scroll";
    Player().OPN(mp3);
    EXPECT_TRUE(main->VrMatrix1->Scroll());
    EXPECT_TRUE(main->ScrollTimerRunning());
    EXPECT_EQ(main->VrMatrix2->Text(), "TITLE: Fixture Title ARTIST: Fixture Artist ALBUM: Fixture Album");
    EXPECT_TRUE(main->lblLayer->Lit());
    EXPECT_EQ(main->lblLayer2->Text(), "III");
    EXPECT_EQ(main->lblBitRate->Text(), "KBit/s");
    EXPECT_EQ(main->LedBitRate().Value(), 128);
    EXPECT_EQ(main->LedRate().Value(), 44);
    EXPECT_EQ(main->LedMode().Mode(), mStereo);

    Click(*main->RzBmpButton1);
    ASSERT_TRUE(Playing());
    EXPECT_TRUE(main->Label9->Lit()); // PLAY
    EXPECT_FALSE(main->Label10->Lit());
    EXPECT_FALSE(main->RzBmpButton1->isEnabled());
    EXPECT_TRUE(compact->RzBmpButton3->isEnabled());
    EXPECT_FALSE(main->Menu().Preferences1->isEnabled());
    Click(*main->RzBmpButton2);
    EXPECT_TRUE(main->Label11->Lit()); // PAUSE

    Click(*main->VrSwitch1);
    EXPECT_FALSE(Playing());
    for (controls::FaceButton* b : Buttons(*main)) {
        EXPECT_FALSE(b->isEnabled()) << b->Hint().toStdString();
    }
    for (controls::FaceButton* b : Buttons(*compact)) {
        EXPECT_FALSE(b->isEnabled()) << b->Hint().toStdString();
    }
    windows::PlayerMenu& m = main->Menu();
    for (QAction* a :
         {m.Open1, m.Playlist1, m.Play1, m.Pause1, m.Stop1, m.Previous1, m.Next1, m.RecentFiles1}) {
        EXPECT_FALSE(a->isEnabled()) << a->text().toStdString();
    }
    EXPECT_FALSE(main->MMWheel1->isEnabled());
    EXPECT_FALSE(main->RzTrackBar1->isEnabled());
    EXPECT_EQ(main->VrMatrix1->Text(), "");
    EXPECT_FALSE(main->ScrollTimerRunning());
    EXPECT_FALSE(main->MMLEDPanel1().Enabled());
    EXPECT_EQ(main->VrClock3->Text(), "00:00");
    EXPECT_EQ(compact->VrClock3->Text(), "00:00");
}

TEST_F(PlayerWindows, APressOnTheTrackBarStartsPausedAndTheDragSeeks) {
    Click(*main->VrSwitch1);
    Player().OPN(Copy("l3_cbr128_joint_44100.mp3", "seek.mp3"));
    controls::TrackBar& bar = *main->RzTrackBar1;
    ASSERT_TRUE(bar.isEnabled());
    ASSERT_GT(bar.Max(), 2000);
    ASSERT_EQ(bar.Position(), 0);
    // Loaded, at position 0: the press starts the file and holds it paused while the thumb moves.
    Press(bar, {bar.PositionAt(0), 7});
    EXPECT_TRUE(Playing());
    EXPECT_TRUE(main->Label9->Lit());
    EXPECT_TRUE(main->Label11->Lit());
    int middle = 0;
    while (bar.PositionAt(middle) < bar.Max() / 2) {
        ++middle;
    }
    Move(bar, {middle, 7});
    EXPECT_EQ(bar.Position(), bar.PositionAt(middle));
    EXPECT_EQ(Player().ElapsedMs(), bar.Position());
    EXPECT_EQ(main->VrClock2->Text(), "00:01");
    EXPECT_EQ(compact->VrClock2->Text(), "00:01");
    Release(bar, {middle, 7});
    EXPECT_TRUE(Playing());
    EXPECT_FALSE(main->Label11->Lit());
    EXPECT_EQ(Player().View().trackPosition, bar.Position());
}

TEST_F(PlayerWindows, EscapeHidesTheMainWindowAndLeavesTheCompactPanel) {
    main->show();
    compact->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(main.get()));
    EXPECT_TRUE(main->Menu().ShowFilePlayer1->isChecked());
    EXPECT_TRUE(main->Menu().CompactPanel1->isChecked());
    EXPECT_TRUE(main->Menu().HideDesktop1->isEnabled());
    QTest::keyClick(main.get(), Qt::Key_Escape);
    EXPECT_FALSE(main->isVisible());
    EXPECT_TRUE(compact->isVisible());
    EXPECT_FALSE(main->Menu().ShowFilePlayer1->isChecked());
    EXPECT_FALSE(main->Menu().HideDesktop1->isEnabled());

    // The compact panel is now the last visible window: its item does not hide it.
    main->Menu().CompactPanel1->trigger();
    EXPECT_TRUE(compact->isVisible());
    EXPECT_TRUE(main->Menu().CompactPanel1->isChecked());
    // The menu brings the main window back; then the panel can go, and its mark follows.
    main->Menu().ShowFilePlayer1->trigger();
    EXPECT_TRUE(main->isVisible());
    EXPECT_TRUE(main->Menu().ShowFilePlayer1->isChecked());
    main->Menu().CompactPanel1->trigger();
    EXPECT_FALSE(compact->isVisible());
    EXPECT_FALSE(main->Menu().CompactPanel1->isChecked());
}

QMimeData* Urls(const std::vector<std::string>& files) {
    auto* data = new QMimeData;
    QList<QUrl> urls;
    for (const std::string& f : files) {
        urls.push_back(QUrl::fromLocalFile(QString::fromStdString(f)));
    }
    data->setUrls(urls);
    return data;
}

void Drop(QWidget& target, const std::vector<std::string>& files) {
    std::unique_ptr<QMimeData> data(Urls(files));
    const QPointF at(20, 20);
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&target, &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(at, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&target, &drop);
}

TEST_F(PlayerWindows, DroppedFilesSwitchThePowerOnAndOpenTheFirst) {
    const std::string a = Copy("pcm16_stereo_44100.wav", "first.wav");
    const std::string b = Copy("pcm8_mono_8000.wav", "second.wav");
    const std::string c = Copy("l2_dual_256_32000.mp2", "third.mp2");
    Drop(*main, {a, b, c});
    EXPECT_TRUE(main->VrSwitch1->IsOn());
    EXPECT_TRUE(Player().PowerOn());
    EXPECT_EQ(main->VrMatrix1->Text(), "first.wav");
    EXPECT_EQ(main->MMLEDPanel2().Value(), 1);
    EXPECT_EQ(main->LedBitRate().Value(), 16);
    EXPECT_EQ(main->LedRate().Value(), 44);

    // On the compact panel, with the power off again, the same.
    Click(*main->VrSwitch1);
    ASSERT_FALSE(Player().PowerOn());
    Drop(*compact, {c, a});
    EXPECT_TRUE(main->VrSwitch1->IsOn());
    EXPECT_EQ(main->VrMatrix1->Text(), "third.mp2");
    EXPECT_EQ(main->LedMode().Mode(), mMono); // dual channel shows mono
    EXPECT_EQ(main->lblLayer2->Text(), "II");
    EXPECT_EQ(dialogs.AskedCount(), 0u);
}

TEST_F(PlayerWindows, TheCompactPanelDragsWithAnyButtonButNotFromAButton) {
    compact->move(200, 100);
    const QPoint start = compact->pos();
    controls::BlotterPanel& blotter = *compact->VrBlotter1;
    // On the panel, with the right button.
    Press(blotter, {380, 40}, Qt::RightButton);
    EXPECT_TRUE(compact->Dragging());
    Move(blotter, {410, 30}, Qt::RightButton);
    EXPECT_EQ(compact->pos(), start + QPoint(30, -10));
    Move(blotter, {400, 30}, Qt::RightButton); // the panel moved: the same point is 30 further now
    EXPECT_EQ(compact->pos(), start + QPoint(50, -20));
    Release(blotter, {400, 30}, Qt::RightButton);
    EXPECT_FALSE(compact->Dragging());
    Move(blotter, {300, 30}, Qt::NoButton);
    EXPECT_EQ(compact->pos(), start + QPoint(50, -20));

    // A press on a clock or a counter reaches the panel: the panel drags.
    compact->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(compact.get()));
    QWidget* clock = compact->VrClock2;
    QWidget* under = compact->childAt(clock->geometry().center());
    EXPECT_EQ(under, compact->VrBlotter1) << (under ? under->metaObject()->className() : "none");
    QWidget* counter = compact->CounterHost(0);
    EXPECT_EQ(compact->childAt(counter->geometry().center()), compact->VrBlotter1);

    // A press on a button keeps the panel where it is, whatever the button.
    const QPoint before = compact->pos();
    for (Qt::MouseButton b : {Qt::LeftButton, Qt::RightButton}) {
        Press(*compact->RzBmpButton1, {5, 5}, b);
        Move(*compact->RzBmpButton1, {40, 25}, b);
        Release(*compact->RzBmpButton1, {40, 25}, b);
        EXPECT_FALSE(compact->Dragging());
        EXPECT_EQ(compact->pos(), before);
    }
}

TEST_F(PlayerWindows, TheCompactPanelStartsAtTheTopRightOfTheMainWindowsScreen) {
    compact->move(10, 300);
    compact->PlaceAtTopRight();
    const QRect screen = main->screen()->geometry();
    EXPECT_EQ(compact->pos(), QPoint(screen.left() + screen.width() - 396, screen.top()));
}

TEST_F(PlayerWindows, TheCoverClosesOnAClickOrALaterActivationButNotOnItsFirst) {
    main->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(main.get()));
    windows::PlayerMenu& m = main->Menu();
    m.HideDesktop1->trigger();
    ASSERT_TRUE(cover->isVisible());
    EXPECT_TRUE(m.HideDesktop1->isChecked());
    EXPECT_EQ(cover->geometry(), QGuiApplication::primaryScreen()->geometry());
    // The activation that comes with the show leaves it standing and puts the player in front.
    QApplication::setActiveWindow(cover.get());
    EXPECT_TRUE(cover->isVisible());
    EXPECT_TRUE(m.HideDesktop1->isChecked());
    // Once something else was active, choosing the cover closes it.
    QApplication::setActiveWindow(main.get());
    EXPECT_TRUE(cover->Armed());
    QApplication::setActiveWindow(cover.get());
    EXPECT_FALSE(cover->isVisible());
    EXPECT_FALSE(m.HideDesktop1->isChecked());

    // Shown again, a click closes it.
    m.HideDesktop1->trigger();
    ASSERT_TRUE(cover->isVisible());
    EXPECT_FALSE(cover->Armed());
    Press(*cover, {300, 300});
    EXPECT_FALSE(cover->isVisible());
    EXPECT_FALSE(m.HideDesktop1->isChecked());
}

TEST_F(PlayerWindows, ARecentFileOpensItsPathEvenWithAnAmpersandInItsName) {
    Click(*main->VrSwitch1);
    const std::string rock = Copy("pcm8_mono_8000.wav", "rock & roll.wav");
    const std::string other = Copy("pcm16_stereo_44100.wav", "other.wav");
    Player().OPN(rock);
    Player().OPN(other);
    windows::PlayerMenu& m = main->Menu();
    EXPECT_TRUE(m.RecentFiles1->isEnabled());
    // Newest first: other, then rock & roll.
    ASSERT_TRUE(m.Recent[1]->isVisible());
    EXPECT_EQ(m.Recent[1]->data().toString().toStdString(), rock);
    EXPECT_EQ(m.Recent[1]->text().toStdString(), "&2 " + folder.string() + "/rock && roll.wav");
    EXPECT_FALSE(m.Recent[2]->isVisible());
    m.Recent[1]->trigger();
    EXPECT_EQ(main->VrMatrix1->Text(), "rock & roll.wav");
    EXPECT_EQ(dialogs.AskedCount(), 0u);
}

TEST_F(PlayerWindows, AboutAndHelpAndTheShortcutsOfTheMenu) {
    main->Menu().Info1->trigger();
    ASSERT_EQ(dialogs.MessageBoxes().size(), 1u);
    EXPECT_EQ(dialogs.MessageBoxes()[0].caption, "About Tunefold");
    EXPECT_NE(dialogs.MessageBoxes()[0].text.find("Tunefold File Player\nVersion "), std::string::npos);

    // The help's contents: the build tree's copy (the tests sit one folder down, as an installed
    // program sits in bin/), unless the program's folder has one of its own.
    EXPECT_TRUE(windows::MainWindow::HelpUrl().endsWith("/share/tunefold/Tunefold.html#contents"))
        << windows::MainWindow::HelpUrl().toStdString();
    const std::string program = std::getenv("TUNEFOLD_HOME");
    std::ofstream(program + "/Tunefold.html") << "<html></html>";
    EXPECT_EQ(windows::MainWindow::HelpUrl().toStdString(), "file://" + program + "/Tunefold.html#contents");

    // Ctrl+P plays on the compact panel as on the main window.
    const std::string wav = Copy("pcm8_mono_8000.wav", "short.wav");
    Click(*main->VrSwitch1);
    Player().OPN(wav);
    compact->show();
    compact->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(compact.get()));
    QTest::keyClick(compact.get(), Qt::Key_P, Qt::ControlModifier);
    EXPECT_TRUE(Playing());
    QTest::keyClick(compact.get(), Qt::Key_S, Qt::ControlModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !Playing(); }, 5000));
}

TEST_F(PlayerWindows, CtrlQClosesTheMainWindow) {
    main->show();
    main->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(main.get()));
    bool closing = false;
    main->OnClosing = [&] { closing = true; };
    QTest::keyClick(main.get(), Qt::Key_Q, Qt::ControlModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !main->isVisible(); }, 5000));
    EXPECT_TRUE(closing);
}

} // namespace
} // namespace tunefold::test
