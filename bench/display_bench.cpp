// One display tick as the player runs it: a played buffer reaches the connector, the 30 ms timer
// triggers it, both level meters and the spectrum analyzer update, and the host fetches their
// pictures. Reported per spectrum kind, with the tick's cost as a share of the 30 ms period
// ("tick_share_%": 1.0 means one percent of one core).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "engine/displays/connector.h"
#include "engine/displays/level.h"
#include "engine/displays/player_displays.h"
#include "engine/displays/spectrum.h"
#include "platform/message_loop.h"

namespace tunefold {
namespace {

void BM_DisplayTick(benchmark::State& state) {
    platform::MessageLoop::Gui().BindToCurrentThread();
    WAVEFORMATEX f{};
    MakePCMFormat(f, 16, 2, 44100);
    TMMLevel left, right;
    UsePlayerMeterSettings(left, chLeft);
    UsePlayerMeterSettings(right, chRight);
    TMMSpectrum spectrum;
    UsePlayerSpectrumSettings(spectrum, static_cast<TMMSpectrumKind>(state.range(0)));
    TMMConnector connector;
    connector.SetAutoTrigger(false);
    connector.SetBufferSize(2048);
    connector.SetPWaveFormat(&f);
    connector.SetLevel1(&left);
    connector.SetLevel2(&right);
    connector.SetSpectrum1(&spectrum);
    connector.Started();
    platform::MessageLoop::Gui().ProcessMessages();

    // A few buffers of music-like sound, cycled.
    constexpr int kBuffers = 8;
    std::vector<std::vector<std::uint8_t>> blocks;
    std::vector<TMMBufferHeader*> headers;
    for (int b = 0; b < kBuffers; ++b) {
        blocks.emplace_back(BufferHeaderBytes + 2048);
        TMMBufferHeader* h = InitBufferHeader(blocks.back().data(), 2048);
        h->wh.dwBytesRecorded = 2048;
        auto* s = reinterpret_cast<std::int16_t*>(h->wh.lpData);
        for (int i = 0; i < 512; ++i) {
            const double t = (b * 512 + i) / 44100.0;
            const double v = 9000 * std::sin(2 * 3.14159265 * 220 * t) +
                             5000 * std::sin(2 * 3.14159265 * 1870 * t) +
                             2500 * std::sin(2 * 3.14159265 * 6100 * t) * std::sin(7 * t);
            s[2 * i] = static_cast<std::int16_t>(v);
            s[2 * i + 1] = static_cast<std::int16_t>(-v * 0.8);
        }
        headers.push_back(h);
    }
    int n = 0;
    for (auto _ : state) {
        connector.BufferReady(&headers[static_cast<std::size_t>(n++ % kBuffers)]->wh);
        connector.Trigger();
        benchmark::DoNotOptimize(left.Picture().Pixels().data());
        benchmark::DoNotOptimize(right.Picture().Pixels().data());
        benchmark::DoNotOptimize(spectrum.Picture().Pixels().data());
    }
    connector.Stopped();
    // Seconds per tick x 100 / 0.030 s.
    state.counters["tick_share_%"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * 0.030 / 100.0,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    static const char* names[] = {"skDots", "skLines", "skVLines", "skBars", "skPeaks", "skScroll"};
    state.SetLabel(names[state.range(0)]);
}
BENCHMARK(BM_DisplayTick)->DenseRange(skDots, skScroll)->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace tunefold

BENCHMARK_MAIN();
