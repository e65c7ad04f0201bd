// The player's three windows as the program builds them (main window, desktop cover, compact
// panel), on the virtual sound card and the scripted dialogs, with a fresh settings store and a
// folder of their own for the files a test plays. The message pump runs the engine's GUI-thread
// work between Qt's events, as in the program.
#pragma once

#include <gtest/gtest.h>

#include <QTest>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "app/logic/file_player.h"
#include "app/qt/message_pump.h"
#include "app/windows/compact_panel.h"
#include "app/windows/desktop_cover.h"
#include "app/windows/main_window.h"
#include "platform/dialogs.h"
#include "platform/registry.h"
#include "platform/virtual/scripted_dialogs.h"
#include "platform/virtual/virtual_registry.h"
#include "platform/virtual/virtual_sound_card.h"

namespace tunefold::test {

class PlayerWindowsFixture : public ::testing::Test {
protected:
    void SetUp() override {
        platform::VirtualSoundCard::Instance().ResetAll();
        platform::InstallRegistryStore(std::make_shared<platform::VirtualRegistryStore>());
        static int serial = 0;
        folder = std::filesystem::path(std::getenv("HOME")) / ("windows-" + std::to_string(++serial));
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        main = std::make_unique<windows::MainWindow>();
        cover = std::make_unique<windows::DesktopCover>(*main);
        compact = std::make_unique<windows::CompactPanel>(*main);
        main->SetCompanions(compact.get(), cover.get());
    }
    void TearDown() override {
        if (main) {
            Player().btnStopClick();
            platform::MessageLoop::Gui().ProcessMessages();
            main->SetCompanions(nullptr, nullptr);
        }
        compact.reset();
        cover.reset();
        main.reset();
        platform::VirtualSoundCard::Instance().ResetAll();
        platform::InstallRegistryStore(nullptr);
    }

    TFilePlayer& Player() { return main->Player(); }
    static std::string Fixture(const std::string& name) {
        return std::string(TUNEFOLD_FIXTURE_DIR) + "/" + name;
    }
    std::string Copy(const std::string& fixture, const std::string& name) {
        std::filesystem::copy_file(Fixture(fixture), folder / name,
                                   std::filesystem::copy_options::overwrite_existing);
        return (folder / name).string();
    }
    std::string Write(const std::string& name, const std::string& text) {
        std::ofstream(folder / name, std::ios::binary) << text;
        return (folder / name).string();
    }
    // A left click in the middle of a control, as the mouse makes it.
    static void Click(QWidget& w) {
        const QPoint centre = w.rect().center();
        QTest::mousePress(&w, Qt::LeftButton, Qt::NoModifier, centre);
        QTest::mouseRelease(&w, Qt::LeftButton, Qt::NoModifier, centre);
    }
    bool Playing() { return Player().WaveOut().State().Contains(wosPlaying); }

    qt::MessagePump pump;
    platform::ScriptedDialogs dialogs;
    platform::ScopedDialogs scopedDialogs{dialogs};
    std::filesystem::path folder;
    std::unique_ptr<windows::MainWindow> main;
    std::unique_ptr<windows::DesktopCover> cover;
    std::unique_ptr<windows::CompactPanel> compact;
};

} // namespace tunefold::test
