// The player's windows with the equalizer window made after them, as the program makes it, from a
// program folder of the test's own that holds skin0.bmp (unless the test removes it first).
#pragma once

#include <memory>
#include <string>

#include "app/logic/program_folder.h"
#include "app/windows/equalizer_window.h"
#include "platform/virtual/virtual_mixer.h"
#include "player_windows.h"

namespace tunefold::test {

class EqualizerWindowsFixture : public PlayerWindowsFixture {
protected:
    void TearDown() override {
        if (eqWindow) {
            Player().btnStopClick();
            platform::MessageLoop::Gui().ProcessMessages();
        }
        eqWindow.reset();
        PlayerWindowsFixture::TearDown();
    }
    void CreateEqualizer(bool withSkin = true) {
        platform::VirtualMixer::Instance().ResetAll();
        if (withSkin) {
            ASSERT_TRUE(SeedProgramFolder(folder.string()));
        }
        eqWindow = std::make_unique<windows::EqualizerWindow>(*main, folder.string());
    }
    TEqualizerController& Eq() { return eqWindow->Controller(); }
    float Gain(int band) { return Player().Chain().Equalizer().Filters().Items(band)->Gain(); }
    // A curve file of 120 equal values.
    static std::string FlatCurve(double value) {
        std::string text;
        for (int i = 0; i < 120; ++i) {
            text += FormatEqValue(value) + "\r\n";
        }
        return text;
    }
    // Where band point `band` (0 .. 9) is drawn on the chart.
    QPoint BandPixel(int band) {
        return eqWindow->Chart1->ToPixel(eqWindow->Chart1->Points()[static_cast<std::size_t>(band)])
            .toPoint();
    }

    std::unique_ptr<windows::EqualizerWindow> eqWindow;
};

} // namespace tunefold::test
