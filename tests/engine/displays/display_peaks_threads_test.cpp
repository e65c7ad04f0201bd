// Peaks fall on the shared display timer's own thread while the GUI thread keeps updating and
// drawing the displays: the two meet only in the peak state.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

#include "engine/displays/level.h"
#include "engine/displays/spectrum.h"
#include "engine/framework/display_timer.h"
#include "platform/mm_timer.h"

namespace tunefold {
namespace {

TEST(DisplayPeaksThreads, PeaksFallOnTheTimerThreadWhileTheGuiDraws) {
    platform::ScopedTimers use(platform::RealTimerService());
    TMMLevel meter;
    meter.SetPeakDelay(1);
    meter.SetPeakSpeed(1);
    TMMSpectrum spectrum;
    spectrum.SetPeakDelay(1);
    spectrum.SetPeakSpeed(1);
    spectrum.SetFFTLength(64);
    spectrum.SetBitLength(b16Bit);
    ASSERT_TRUE(meter.PeakTimerAdded());
    ASSERT_TRUE(spectrum.PeakTimerAdded());

    std::vector<std::int16_t> loud(64), quiet(64, 0);
    for (int i = 0; i < 64; ++i)
        loud[static_cast<std::size_t>(i)] =
            static_cast<std::int16_t>(20000 * std::sin(2 * 3.14159265 * 4 * i / 64));
    std::vector<std::uint8_t> loud8(64, 250), quiet8(64, 128);
    meter.SetSamples(64);
    meter.ShowData(loud8.data());
    spectrum.ShowData(loud.data());
    const int meterPeak = meter.PeakSpot();
    const int spectrumPeak = spectrum.BarPeak(4);
    ASSERT_GT(meterPeak, 3);
    ASSERT_GT(spectrumPeak, 3);

    // Keep drawing silence until both peaks have fallen by three (bounded by a deadline).
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline &&
           (meter.PeakSpot() > meterPeak - 3 || spectrum.BarPeak(4) > spectrumPeak - 3)) {
        meter.ShowData(quiet8.data());
        spectrum.ShowData(quiet.data());
        (void)meter.Picture();
        (void)spectrum.Picture();
    }
    EXPECT_LE(meter.PeakSpot(), meterPeak - 3);
    EXPECT_LE(spectrum.BarPeak(4), spectrumPeak - 3);
}

// Waits, within a generous bound, until `done` holds.
bool Eventually(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// The timer rests once the peak is gone, on its own thread; a peak set on the GUI thread at any
// moment, also while the tick is deciding to rest, still falls.
TEST(DisplayPeaksThreads, AMeterRestsWhenItsPeakIsGoneAndEveryNewPeakFallsAgain) {
    platform::ScopedTimers use(platform::RealTimerService());
    TMMLevel meter;
    meter.SetPeakDelay(1);
    meter.SetPeakSpeed(0); // the peak goes when its hold of three ticks ends
    meter.SetSamples(64);
    std::vector<std::uint8_t> loud8(64, 250);
    for (int round = 0; round < 40; ++round) {
        meter.ShowData(loud8.data());
        ASSERT_GT(meter.PeakSpot(), 0);
        ASSERT_TRUE(Eventually([&] { return meter.PeakSpot() == 0; }))
            << "a peak left standing, round " << round;
        if (round % 2 == 1) {
            // Every other round the next peak comes only when the timer has stopped.
            ASSERT_TRUE(Eventually([] { return !DisplayTimerRunning(); })) << round;
        }
    }
    EXPECT_TRUE(Eventually([] { return !DisplayTimerRunning(); }));
}

} // namespace
} // namespace tunefold
