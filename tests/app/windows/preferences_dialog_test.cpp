// The preferences dialog as the user meets it: offscreen, on the virtual sound card, with scripted
// colour and input dialogs; its controls drive the controller and show what it says, and OK,
// Cancel and the close box end it as they should. Pictures of both pages go to build/screenshots/.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>

#include <filesystem>
#include <fstream>
#include <memory>

#include "app/logic/file_player.h"
#include "app/logic/settings.h"
#include "app/windows/preferences_dialog.h"
#include "colour_probe.h"
#include "engine/framework/pcm.h"
#include "player_windows.h"

namespace tunefold::test {
namespace {

class PreferencesDialogTest : public PlayerWindowsFixture {
protected:
    void SetUp() override {
        PlayerWindowsFixture::SetUp();
        // The windows again, on a card with two devices (the output counts them when it is made).
        main->SetCompanions(nullptr, nullptr);
        compact.reset();
        cover.reset();
        main.reset();
        platform::VirtualSoundCard::Instance().SetDevices(
            {{"Front speakers", 0x100, {}}, {"USB headset", 0x100, {}}});
        main = std::make_unique<windows::MainWindow>();
        cover = std::make_unique<windows::DesktopCover>(*main);
        compact = std::make_unique<windows::CompactPanel>(*main);
        main->SetCompanions(compact.get(), cover.get());
        colours = main->ColourSlots();
        target = std::make_unique<windows::MainWindowPreferences>(*main, colours);
        TMMWaveOut& out = Player().WaveOut();
        out.SetBufferSize(2048);
        out.SetNumBuffers(132);
        out.SetCallBackMode(cmThread);
        out.SetDeviceID(0);
        WAVEFORMATEX f{};
        MakePCMFormat(f, 16, 2, 44100);
        out.SetPWaveFormat(&f);
    }
    void TearDown() override {
        dialog.reset();
        target.reset();
        PlayerWindowsFixture::TearDown();
    }
    windows::PreferencesDialog& Open() {
        dialog = std::make_unique<windows::PreferencesDialog>(*target, folder.string());
        dialog->show();
        return *dialog;
    }
    std::int64_t Stored(std::string_view name) {
        return std::get<std::int32_t>(
            ReadSettingValue(platform::HKEY_CURRENT_USER, SettingsKeyPath, name, std::int32_t{-999}));
    }
    static QRgb ButtonColour(const QPushButton& b) {
        return controls::ColorFromRef(b.property("colourRef").toUInt()).rgb();
    }

    TColourSlots colours{};
    std::unique_ptr<windows::MainWindowPreferences> target;
    std::unique_ptr<windows::PreferencesDialog> dialog;
};

TEST_F(PreferencesDialogTest, AudioPageControlsFollowTheControllerAndApplyReachesTheOutput) {
    windows::PreferencesDialog& d = Open();
    EXPECT_EQ(d.size(), QSize(342, 434));
    EXPECT_EQ(d.windowTitle(), "Preferences");
    EXPECT_EQ(d.PageControl1->currentWidget(), d.TabSheet1) << "the colour page comes first";
    EXPECT_TRUE(d.HelpUrl().isEmpty() || d.HelpUrl().endsWith("#topic-2"));
    d.PageControl1->setCurrentWidget(d.OptAudio);
    EXPECT_EQ(d.Controller().View().helpContext, 1);
    EXPECT_TRUE(d.HelpUrl().isEmpty() || d.HelpUrl().endsWith("#topic-1"));

    ASSERT_EQ(d.PlayCombo->count(), 3);
    EXPECT_EQ(d.PlayCombo->itemText(1), "Front speakers");
    EXPECT_EQ(d.PlayCombo->itemText(2), "USB headset");
    EXPECT_EQ(d.PlayCombo->currentIndex(), 1);
    EXPECT_TRUE(d.radioThread->isChecked());
    EXPECT_FALSE(d.radioInterrupt->isEnabled());
    EXPECT_EQ(d.sliderBufferSize->value(), 132);
    EXPECT_EQ(d.spinBufferSize->value(), 132);
    EXPECT_EQ(d.labelBufferSize->text(), "264 Kb - 1.53 seconds");

    // The slider moves the spin button and the label, and the other way round.
    d.sliderBufferSize->setValue(200);
    EXPECT_EQ(d.spinBufferSize->value(), 200);
    EXPECT_EQ(d.labelBufferSize->text(), "400 Kb - 2.32 seconds");
    d.spinBufferSize->setValue(1);
    EXPECT_EQ(d.sliderBufferSize->value(), 1);
    EXPECT_EQ(d.labelBufferSize->text(), "2 Kb - 0.01 seconds");
    d.spinBufferSize->setValue(64);

    d.PlayCombo->setCurrentIndex(2);
    d.radioWindow->click();
    QTest::mouseClick(d.btnApply, Qt::LeftButton);
    TMMWaveOut& out = Player().WaveOut();
    EXPECT_EQ(out.DeviceID(), 1);
    EXPECT_EQ(out.CallBackMode(), cmWindow);
    EXPECT_EQ(out.NumBuffers(), 64);
    EXPECT_TRUE(d.isVisible());

    EXPECT_EQ(Stored("Buffers"), 64) << "Apply stores";

    // Escape is Cancel: what came after Apply is undone, what Apply did stays.
    d.spinBufferSize->setValue(80);
    QTest::keyClick(&d, Qt::Key_Escape);
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(out.DeviceID(), 1);
    EXPECT_EQ(out.CallBackMode(), cmWindow);
    EXPECT_EQ(out.NumBuffers(), 64);
    EXPECT_EQ(Stored("Buffers"), 64);
}

TEST_F(PreferencesDialogTest, ColourButtonsSchemesAndOk) {
    std::ofstream(folder / "Night.sc", std::ios::binary) << "255\r\n65280\r\n$FF0000\r\n";
    // The equalizer window's SetEqColors, as the equalizer window will hook it.
    std::vector<TColourSlots> eqPainted;
    target->eqColours = [&eqPainted](const TColourSlots& c) { eqPainted.push_back(c); };
    windows::PreferencesDialog& d = Open();
    EXPECT_EQ(d.ComboBox1->count(), 2);
    EXPECT_EQ(d.ComboBox1->itemText(0), "Standard");
    EXPECT_EQ(d.ComboBox1->currentIndex(), -1) << "no scheme is shown as chosen";
    EXPECT_FALSE(d.Button2->isEnabled());
    EXPECT_FALSE(d.RzButton[27]->isVisibleTo(&d));
    EXPECT_FALSE(d.RzButton[28]->isVisibleTo(&d));
    EXPECT_TRUE(d.RzButton[18]->isVisibleTo(&d));
    for (int i = 0; i < ColourSlotCount; ++i) {
        EXPECT_EQ(ButtonColour(*d.RzButton[static_cast<std::size_t>(i)]), SlotColour(colours, i + 1).rgb());
    }

    // Choosing a scheme repaints the windows at once.
    d.ComboBox1->setCurrentIndex(1);
    emit d.ComboBox1->activated(1);
    EXPECT_TRUE(d.Button2->isEnabled());
    EXPECT_EQ(main->ColourSlots()[0], 255u);
    EXPECT_EQ(main->ColourSlots()[2], 0xFF0000u);
    EXPECT_EQ(ButtonColour(*d.RzButton[1]), QColor(0, 255, 0).rgb());
    ASSERT_EQ(eqPainted.size(), 1u);
    EXPECT_EQ(eqPainted[0][2], 0xFF0000u) << "the equalizer window is repainted with the scheme";

    // A button edits its slot through the colour dialog.
    dialogs.QueueColor({true, 0x00336699});
    QTest::mouseClick(d.RzButton[13], Qt::LeftButton);
    EXPECT_EQ(ButtonColour(*d.RzButton[13]), controls::ColorFromRef(0x00336699).rgb());
    EXPECT_NE(main->ColourSlots()[13], 0x00336699u) << "the windows wait for Apply or OK";

    QTest::mouseClick(d.btnOk, Qt::LeftButton);
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(main->ColourSlots()[13], 0x00336699u);
    EXPECT_EQ(colours[13], 0x00336699u);
    EXPECT_EQ(Stored("Col14"), 0x00336699);
    EXPECT_EQ(eqPainted.back()[13], 0x00336699u);
    EXPECT_EQ(Stored("Col1"), 255);
    EXPECT_EQ(Stored("Buffers"), 132);
}

TEST_F(PreferencesDialogTest, SaveAsAndDeleteThroughTheButtons) {
    windows::PreferencesDialog& d = Open();
    const TColourSlots found = colours;
    dialogs.QueueInput({true, "Standard"});
    dialogs.QueueInput({true, "Mine"});
    QTest::mouseClick(d.Button1, Qt::LeftButton);
    ASSERT_EQ(dialogs.MessageBoxes().size(), 1u);
    EXPECT_EQ(dialogs.MessageBoxes()[0].text, "Standard Scheme can not be edited.");
    EXPECT_TRUE(std::filesystem::is_regular_file(folder / "Mine.sc"));
    ASSERT_EQ(d.ComboBox1->count(), 2);
    EXPECT_EQ(d.ComboBox1->itemText(1), "Mine");

    // Cancel in the input box saves nothing.
    dialogs.QueueInput({false, "Other"});
    QTest::mouseClick(d.Button1, Qt::LeftButton);
    EXPECT_FALSE(std::filesystem::exists(folder / "Other.sc"));

    d.ComboBox1->setCurrentIndex(1);
    emit d.ComboBox1->activated(1);
    dialogs.QueueColor({true, 0x000102});
    QTest::mouseClick(d.RzButton[0], Qt::LeftButton);
    QTest::mouseClick(d.Button2, Qt::LeftButton);
    EXPECT_FALSE(std::filesystem::exists(folder / "Mine.sc"));
    EXPECT_EQ(d.ComboBox1->count(), 1);
    EXPECT_EQ(d.ComboBox1->currentIndex(), -1);
    EXPECT_FALSE(d.Button2->isEnabled());
    EXPECT_EQ(main->ColourSlots(), found) << "the colours the dialog found";
    EXPECT_EQ(ButtonColour(*d.RzButton[0]), SlotColour(found, 1).rgb());
    EXPECT_EQ(d.PlayCombo->count(), 3) << "each device once after the refill";
    d.close();
    EXPECT_EQ(d.result(), QDialog::Rejected);
}

TEST_F(PreferencesDialogTest, ApplyRefusedWhilePlayingKeepsTheDialogOpen) {
    Player().WaveOut().Open();
    windows::PreferencesDialog& d = Open();
    d.PlayCombo->setCurrentIndex(2);
    QTest::mouseClick(d.btnOk, Qt::LeftButton);
    EXPECT_TRUE(d.isVisible()) << "nothing was stored, so the dialog stays";
    ASSERT_FALSE(dialogs.MessageBoxes().empty());
    EXPECT_EQ(dialogs.MessageBoxes().back().text, "Change to property while device was open");
    EXPECT_EQ(Stored("DeviceID"), -999);
    Player().WaveOut().Close();
    QTest::mouseClick(d.btnOk, Qt::LeftButton);
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(Stored("DeviceID"), 1);
}

TEST_F(PreferencesDialogTest, ScreenshotsOfBothPages) {
    std::ofstream(folder / "Night.sc", std::ios::binary) << "255\r\n";
    windows::PreferencesDialog& d = Open();
    ASSERT_TRUE(SavePng(Grab(d), "preferences_colors.png"));
    d.PageControl1->setCurrentWidget(d.OptAudio);
    ASSERT_TRUE(SavePng(Grab(d), "preferences_audio.png"));
}

} // namespace
} // namespace tunefold::test
