// Pictures for a person to look at: every control in its main states, and the player's windows in
// theirs (the main window with its outline cut, at device pixel ratios 1 and 2), written to
// build/screenshots/.
#include <gtest/gtest.h>

#include <QAction>
#include <QBuffer>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

#include <filesystem>
#include <memory>
#include <string>

#include "app/controls/bevel_panel.h"
#include "app/controls/blotter_panel.h"
#include "app/controls/dot_matrix.h"
#include "app/controls/face_button.h"
#include "app/controls/gradient_panel.h"
#include "app/controls/lit_label.h"
#include "app/controls/power_switch.h"
#include "app/controls/raster_host.h"
#include "app/controls/rotary_wheel.h"
#include "app/controls/segment_clock.h"
#include "app/controls/track_bar.h"
#include "app/windows/main_window.h"
#include "app/windows/player_menu.h"
#include "engine/displays/leds.h"
#include "platform/atomic_file.h"
#include "player_windows.h"
#include "qt/qt_test_support.h"
#include "qt/screenshot.h"

namespace tunefold::test {
namespace {

using namespace tunefold::controls;

TEST(Screenshots, Controls) {
    BlotterPanel board;
    board.resize(560, 250);
    board.SetFaceColor(QColor(0x2a, 0x2e, 0x34));
    board.SetBevelWidth(2);

    BevelPanel glass(&board);
    glass.setGeometry(10, 10, 540, 92);
    glass.SetOuter(BevelStyle::Lowered);
    glass.SetFaceColor(QColor(0x08, 0x12, 0x10));

    auto* line1 = new DotMatrix(12, &glass);
    line1->move(8, 8);
    line1->SetText(QStringLiteral("Tunefold - Morning Sketch.mp3"));
    line1->SetScroll(true);
    for (int i = 0; i < 11; ++i) {
        line1->Step();
    }
    auto* line2 = new DotMatrix(12, &glass);
    line2->move(8, 36);
    line2->SetText(QString::fromUtf8("Ä\u263A unknown"));
    auto* noFile = new DotMatrix(12, &glass);
    noFile->move(8, 64);
    noFile->SetText(QStringLiteral("NO FILE"));
    noFile->SetDotSize(1, 1);

    auto* clock = new SegmentClock(&glass);
    clock->move(240, 8);
    clock->SetFirst(15);
    clock->SetSecond(3);
    auto* big = new SegmentClock(&glass);
    big->SetDigitSize(14, 25, 3);
    big->move(240, 36);
    big->SetFirst(88);
    big->SetSecond(88);
    big->SetHighColor(QColor(0xff, 0x9a, 0x30));
    big->SetLowColor(QColor(0x3a, 0x22, 0x0c));

    int x = 330;
    for (const char* text : {"PLAY", "PAUSE", "STOP", "LAYER", "III"}) {
        auto* l = new LitLabel(QString::fromLatin1(text), &glass);
        l->move(x, 12);
        l->SetLit(std::string(text) == "PLAY" || std::string(text) == "III");
        x += l->width() + 8;
    }
    auto* large = new LitLabel(QStringLiteral("KBit/s"), &glass);
    large->SetPixelSize(2);
    large->SetLit(true);
    large->move(330, 30);

    TMMLEDPanel panel;
    panel.SetNumDigits(3);
    panel.SetMaxValue(999);
    panel.SetValue(128);
    panel.Bevel().SetBevelOuter(bvNone);
    panel.SetColor(0x101208);
    panel.SetLEDColor(0xC8FF7D);
    panel.SetInactiveColor(0x2C331C);
    auto* host = new RasterHost(panel, &glass);
    host->move(440, 30);

    x = 14;
    const FaceButton::Symbol symbols[] = {FaceButton::Symbol::Previous, FaceButton::Symbol::Play,
                                          FaceButton::Symbol::Pause,    FaceButton::Symbol::Stop,
                                          FaceButton::Symbol::Next,     FaceButton::Symbol::Open,
                                          FaceButton::Symbol::Playlist};
    std::vector<FaceButton*> buttons;
    for (int row = 0; row < 2; ++row) {
        x = 14;
        for (FaceButton::Symbol s : symbols) {
            auto* b = new FaceButton(s, &board);
            b->setGeometry(x, 112 + row * 28, 30, 22);
            b->setEnabled(row == 0);
            buttons.push_back(b);
            x += 34;
        }
    }
    Press(*buttons[1], {10, 10}); // Play held down

    auto* off = new PowerSwitch(&board);
    off->setGeometry(270, 112, 22, 34);
    auto* on = new PowerSwitch(&board);
    on->setGeometry(300, 112, 22, 34);
    on->SetPosition(1);

    x = 340;
    for (int i = 0; i < 4; ++i) {
        auto* w = new RotaryWheel(&board);
        w->setGeometry(x, 108, 48, 48);
        w->SetRange(0, 32768);
        w->SetValue(i * 32768 / 3);
        w->SetHandleColor(i == 2 ? QColor(0xff, 0x30, 0x20) : QColor(0x7d, 0xff, 0xc8));
        w->setEnabled(i != 3);
        x += 54;
    }

    auto* t1 = new TrackBar(&board);
    t1->setGeometry(14, 176, 300, 14);
    t1->SetRange(0, 1000);
    t1->SetPosition(370);
    auto* t2 = new TrackBar(&board);
    t2->setGeometry(14, 198, 300, 14);
    t2->SetRange(0, 1000);
    t2->SetPosition(650);
    t2->setEnabled(false);

    auto* gradient = new GradientPanel(&board);
    gradient->setGeometry(330, 176, 100, 60);
    auto* horizontal = new GradientPanel(&board);
    horizontal->setGeometry(440, 176, 100, 60);
    horizontal->SetHorizontal(true);
    horizontal->SetColors(QColor(0x10, 0x30, 0x28), QColor(0x7d, 0xff, 0xc8));

    ASSERT_TRUE(SavePng(Render(board, 1.0), "controls.png"));
    ASSERT_TRUE(SavePng(Render(board, 2.0), "controls@2x.png"));
    EXPECT_TRUE(std::filesystem::is_regular_file(ScreenshotDir() / "controls.png"));
}

TEST(Screenshots, DotFont) {
    BevelPanel sheet;
    sheet.resize(32 * 18 + 12, 4 * 28 + 12);
    sheet.SetFaceColor(QColor(0x08, 0x12, 0x10));
    QString all;
    for (char32_t c = 0x20; c < 0x7F; ++c) {
        all += QChar(static_cast<char16_t>(c));
    }
    all += QString::fromUtf8("°ÄÅÉÖØÜßàáäåçèéñöøü");
    for (int row = 0; row < 4; ++row) {
        auto* line = new DotMatrix(32, &sheet);
        line->move(6, 6 + row * 28);
        line->SetText(all.mid(row * 32, 32));
    }
    ASSERT_TRUE(SavePng(Render(sheet, 2.0), "dot_font@2x.png"));
}

// The player's windows in their main states, as a person sees them on the screen.
class PlayerScreenshots : public PlayerWindowsFixture {};

TEST_F(PlayerScreenshots, MainWindowCompactPanelAndCover) {
    ASSERT_TRUE(SavePng(Render(*compact), "compact_off.png"));

    Click(*main->VrSwitch1);
    Player().Nofile();
    const QImage noFile = Shaped(*main, 1.0);
    ASSERT_TRUE(SavePng(noFile, "main_window_no_file.png"));
    ASSERT_TRUE(SavePng(Shaped(*main, 2.0), "main_window_no_file@2x.png"));
    EXPECT_EQ(qAlpha(noFile.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(noFile.pixel(273, 91)), 255);

    // The demo the build makes, under a name long enough to scroll.
    const std::string demo = std::string(TUNEFOLD_BINARY_DIR) + "/tools/tunefold-demo.mp3";
    const std::string track =
        std::filesystem::is_regular_file(demo)
            ? (std::filesystem::copy_file(demo, folder / "Morning Sketch - Tunefold.mp3"),
               (folder / "Morning Sketch - Tunefold.mp3").string())
            : Copy("l3_cbr128_joint_44100.mp3", "Morning Sketch - Tunefold.mp3");
    Player().OPN(track);
    ASSERT_TRUE(main->RzBmpButton1->isEnabled());
    ASSERT_TRUE(SavePng(Shaped(*main, 1.0), "main_window_stopped.png"));

    platform::VirtualSoundCard::Instance().SetClock(platform::VirtualClock::RealTime);
    Click(*main->RzBmpButton1);
    ASSERT_TRUE(Playing());
    // Playing for a second: the meters show the music, the title has scrolled, the clock runs.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return Player().Level1().Value() > 0 && main->VrMatrix1->Offset() >= 4 &&
                   main->VrClock2->Second() >= 1;
        },
        10000));
    ASSERT_TRUE(SavePng(Shaped(*main, 1.0), "main_window_playing.png"));
    ASSERT_TRUE(SavePng(Shaped(*main, 2.0), "main_window_playing@2x.png"));
    ASSERT_TRUE(SavePng(Render(*compact), "compact_playing.png"));

    // The cover behind the player's windows: the whole screen as the window system shows it.
    main->move(80, 300);
    main->show();
    compact->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(compact.get()));
    main->Menu().HideDesktop1->trigger();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(cover.get()));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(main.get()));
    EXPECT_TRUE(cover->isVisible());
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        return; // only a real window system (Xvfb) can show what lies on the screen
    }
    const QImage screen = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    ASSERT_FALSE(screen.isNull());
    ASSERT_TRUE(SavePng(screen.scaledToWidth(screen.width() / 2, Qt::SmoothTransformation), "cover.png"));
}

} // namespace
} // namespace tunefold::test
