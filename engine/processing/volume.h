// A pass-through stage that scales PCM samples in place by a volume and a left/right balance.
#pragma once

#include <atomic>
#include <cstdint>

#include "engine/framework/dsp_component.h"
#include "engine/framework/errors.h"

namespace tunefold {

TUNEFOLD_ERROR_CLASS(EMMVolumeError, EMMError);

class TMMVolume : public TMMDSPComponent {
public:
    explicit TMMVolume(TComponent* owner = nullptr);
    ~TMMVolume() override;

    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool value) { FEnabled = value; }
    // 0 .. 32768 in units of 1/16384 (16384 = unity); values outside are clamped.
    int Volume() const { return GetVolume(0); }
    void SetVolume(int value) { SetVolume(0, value); }
    // -16384 .. 16384: negative values attenuate the right channel, positive ones the left.
    int Panning() const { return GetVolume(1); }
    void SetPanning(int value) { SetVolume(1, value); }

    // The shared indexed setter: index 0 is Volume, index 1 Panning.
    int GetVolume(int index) const;
    void SetVolume(int index, int value);

    // The gains applied to the left (and mono) and the right samples, Q14.
    std::int32_t LeftGain() const { return FLeftGain.load(std::memory_order_relaxed); }
    std::int32_t RightGain() const { return FRightGain.load(std::memory_order_relaxed); }
    bool Ready() const { return FReady.load(); }

    void SetPWaveFormat(const WAVEFORMATEX* format) override;
    void Opened() override;
    void Closed() override;
    void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) override;
    void BufferReady(PWaveHdr lpWaveHdr) override;
    bool CanWorkLate() const override { return true; }
    void ProcessLate(char* data, DWORD bytes, bool last) override;

private:
    void CalcGains();
    void Process(char* data, DWORD bytes);

    std::atomic<bool> FEnabled{true};
    int FVolume = 16384;
    int FPanning = 0;
    // Written by the setters on the GUI thread, read once per buffer on the thread that drives the
    // chain: a change lands at the next buffer.
    std::atomic<std::int32_t> FLeftGain{16384};
    std::atomic<std::int32_t> FRightGain{16384};
    std::atomic<bool> FReady{false}; // read by a late thread too
};

} // namespace tunefold
