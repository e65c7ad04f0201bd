// The wave output with the player's settings on the virtual card's real-time clock: what playing
// costs the process per second of audio, and how long a Stop takes to reach OnStop.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <ctime>

#include "engine/devices/wave_out.h"
#include "platform/message_loop.h"
#include "platform/platform_mode.h"
#include "platform/virtual/virtual_sound_card.h"

namespace tunefold {
namespace {

// An endless source of a cheap, non-silent pattern.
class ToneSource : public TMMDSPComponent {
public:
    explicit ToneSource(const WAVEFORMATEX& format) { SetPWaveFormat(&format); }
    bool PublishesInput() const override { return false; }
    void BufferLoad(PWaveHdr h, bool& more) override {
        auto* out = reinterpret_cast<std::int16_t*>(h->lpData);
        const std::size_t n = h->dwBufferLength / 2;
        for (std::size_t i = 0; i < n; ++i) {
            out[i] = static_cast<std::int16_t>((phase_++ & 0xFF) * 64 - 8192);
        }
        h->dwBytesRecorded = h->dwBufferLength;
        more = true;
    }

private:
    std::uint32_t phase_ = 0;
};

struct Player {
    WAVEFORMATEX format{};
    std::unique_ptr<ToneSource> source;
    TMMWaveOut wo;
    std::atomic<bool> stopped{false};
    Player() {
        MakePCMFormat(format, 16, 2, 44100);
        source = std::make_unique<ToneSource>(format);
        wo.SetNumBuffers(132);
        wo.SetBufferSize(2048);
        wo.SetCallBackMode(cmThread);
        wo.SetPriority(tpHighest);
        wo.SetTimeFormat(tfMillisecond);
        wo.SetInput(source.get());
        wo.OnStop = [this](TObject*) { stopped.store(true); };
    }
};

double ProcessCpuSeconds() {
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

void BM_PlayerSettingsRealTime(benchmark::State& state) {
    auto& card = platform::VirtualSoundCard::Instance();
    card.ResetAll();
    // What a test double keeps of the audio is no cost of playing it: nothing is recorded here.
    card.SetRecordLimit(0);
    card.SetClock(platform::VirtualClock::RealTime);
    const double seconds = static_cast<double>(state.range(0));
    double cpuPerSecond = 0;
    for (auto _ : state) {
        Player player;
        const double cpu0 = ProcessCpuSeconds();
        player.wo.Start();
        const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        // The GUI thread idles as the program's would, woken only by messages.
        for (auto now = std::chrono::steady_clock::now(); now < until;
             now = std::chrono::steady_clock::now()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count();
            platform::MessageLoop::Gui().WaitAndProcess(static_cast<long>(left) + 1);
        }
        const std::int64_t playedMs = player.wo.Position();
        player.wo.Stop();
        player.wo.Close();
        const double cpu = ProcessCpuSeconds() - cpu0;
        cpuPerSecond = cpu * 1000.0 / (static_cast<double>(playedMs) / 1000.0);
        state.counters["audio_s"] = static_cast<double>(playedMs) / 1000.0;
    }
    state.counters["cpu_ms_per_audio_s"] = cpuPerSecond;
    card.ClearRecording();
    card.SetClock(platform::VirtualClock::Manual);
}
BENCHMARK(BM_PlayerSettingsRealTime)->Arg(20)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_StopToOnStop(benchmark::State& state) {
    auto& card = platform::VirtualSoundCard::Instance();
    card.ResetAll();
    card.SetClock(platform::VirtualClock::RealTime);
    auto& gui = platform::MessageLoop::Gui();
    Player player;
    for (auto _ : state) {
        state.PauseTiming();
        player.stopped.store(false);
        player.wo.Start();
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
        gui.ProcessUntil([&] { return std::chrono::steady_clock::now() >= until; }, 1000);
        state.ResumeTiming();
        player.wo.Stop();
        gui.ProcessUntil([&] { return player.stopped.load(); }, 5000);
    }
    player.wo.Close();
    card.ClearRecording();
    card.SetClock(platform::VirtualClock::Manual);
}
BENCHMARK(BM_StopToOnStop)->Iterations(20)->Unit(benchmark::kMicrosecond)->UseRealTime();

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
