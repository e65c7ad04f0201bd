// The player's line-in route on the virtual card's real-time clock: the wave input records a
// signal into the ring, the output plays it through the pre-volume and the equalizer. What the
// route costs the process per second of audio.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <ctime>

#include "app/logic/eq_curve.h"
#include "engine/devices/ring_buffer.h"
#include "engine/devices/wave_in.h"
#include "engine/devices/wave_out.h"
#include "engine/processing/equalizer.h"
#include "engine/processing/volume.h"
#include "platform/message_loop.h"
#include "platform/platform_mode.h"
#include "platform/virtual/virtual_sound_card.h"
#include "platform/virtual/virtual_wave_in.h"

namespace tunefold {
namespace {

double ProcessCpuSeconds() {
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

void Tone(std::uint64_t first, std::uint8_t* out, std::size_t n) {
    for (std::size_t k = 0; k + 1 < n; k += 2) {
        const auto sample = static_cast<std::int16_t>((((first + k) / 4) & 0xFF) * 64 - 8192);
        out[k] = static_cast<std::uint8_t>(sample & 0xFF);
        out[k + 1] = static_cast<std::uint8_t>((sample >> 8) & 0xFF);
    }
}

void BM_LineInRouteRealTime(benchmark::State& state) {
    auto& card = platform::VirtualSoundCard::Instance();
    card.ResetAll();
    card.SetRecordLimit(0);
    card.Capture().SetSignal(0, &Tone);
    card.SetClock(platform::VirtualClock::RealTime);
    const double seconds = static_cast<double>(state.range(0));
    double cpuPerSecond = 0;
    for (auto _ : state) {
        // The player's volume, equalizer and output, as its chain sets them up.
        TMMVolume volume;
        TMMEqualizer eq;
        eq.SetSampleRate(44100);
        eq.SetFFTLength(256);
        eq.SetWindow(fwHamming);
        eq.SetChannel(chBoth);
        const float gains[10] = {6, 4, 2, 0, -2, -2, 0, 2, 4, 6};
        for (std::size_t i = 0; i < EqBands.size(); ++i) {
            eq.Filters().AddFilter(EqBands[i].F1, EqBands[i].F2, gains[i]);
        }
        TMMWaveOut out;
        out.SetCallBackMode(cmThread);
        out.SetPriority(tpHighest);
        out.SetNumBuffers(132);
        out.SetBufferSize(2048);
        // Without the equalizer (range 1 = 0) the route's own cost shows.
        if (state.range(1) != 0) {
            eq.SetInput(&volume);
            out.SetInput(&eq);
        } else {
            out.SetInput(&volume);
        }
        TMMWaveIn in;
        in.SetCallBackMode(cmThread);
        in.SetNumBuffers(132);
        in.SetBufferSize(2048);
        in.SetMode(mStereo);
        in.SetBitLength(b16Bit);
        in.SetSampleRate(44100);
        TMMRingBuffer ring;
        ring.SetQueueMode(qmDuplex);
        ring.SetNumBuffers(132);
        ring.SetBufferSize(2048);
        in.SetOutput(&ring);
        volume.SetInput(&ring);
        const double cpu0 = ProcessCpuSeconds();
        in.Start();
        const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        for (auto now = std::chrono::steady_clock::now(); now < until;
             now = std::chrono::steady_clock::now()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count();
            platform::MessageLoop::Gui().WaitAndProcess(static_cast<long>(left) + 1);
        }
        const double recorded = static_cast<double>(in.RecordedBytes()) / in.PWaveFormat()->nAvgBytesPerSec;
        in.Stop();
        in.Close();
        const double cpu = ProcessCpuSeconds() - cpu0;
        cpuPerSecond = recorded > 0 ? cpu * 1000.0 / recorded : 0;
        state.counters["audio_s"] = recorded;
    }
    state.counters["cpu_ms_per_audio_s"] = cpuPerSecond;
    card.SetClock(platform::VirtualClock::Manual);
    card.ResetAll();
}
BENCHMARK(BM_LineInRouteRealTime)
    ->Args({10, 1})
    ->Args({10, 0})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace
} // namespace tunefold

int main(int argc, char** argv) {
    tunefold::platform::UseVirtualPlatform();
    tunefold::platform::MessageLoop::Gui().BindToCurrentThread();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
