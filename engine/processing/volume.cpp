#include "engine/processing/volume.h"

#include "engine/framework/pcm.h"

namespace tunefold {

TMMVolume::TMMVolume(TComponent* owner) : TMMDSPComponent(owner) {}

TMMVolume::~TMMVolume() {
    FReady = false;
}

int TMMVolume::GetVolume(int index) const {
    return index == 0 ? FVolume : FPanning;
}

void TMMVolume::SetVolume(int index, int value) {
    if (index == 0) {
        value = Clamp(value, 0, 32768);
        if (value == FVolume) {
            return;
        }
        FVolume = value;
    } else {
        value = Clamp(value, -16384, 16384);
        if (value == FPanning) {
            return;
        }
        FPanning = value;
    }
    CalcGains();
}

void TMMVolume::CalcGains() {
    // MulDivRound: the product over 16384, halves rounded away from zero.
    if (FPanning <= 0) {
        FLeftGain = FVolume;
        FRightGain = MulDivRound(16384 + FPanning, FVolume, 16384);
    } else {
        FLeftGain = MulDivRound(16384 - FPanning, FVolume, 16384);
        FRightGain = FVolume;
    }
}

void TMMVolume::SetPWaveFormat(const WAVEFORMATEX* format) {
    if (format != nullptr && !IsDesigning() && !IsValidPCMFormat(format)) {
        throw EMMVolumeError("Invalid WaveFormat");
    }
    TMMDSPComponent::SetPWaveFormat(format);
}

void TMMVolume::Opened() {
    FReady = IsValidPCMFormat(PWaveFormat());
    TMMDSPComponent::Opened();
}

void TMMVolume::Closed() {
    FReady = false;
    TMMDSPComponent::Closed();
}

void TMMVolume::Process(char* data, DWORD bytes) {
    if (!FEnabled || !FReady || data == nullptr) {
        return;
    }
    // ScaleSamples leaves the data untouched when the gains that apply are unity.
    ScaleSamples(PWaveFormat(), data, bytes, LeftGain(), RightGain());
}

void TMMVolume::BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) {
    TMMDSPComponent::BufferLoad(lpWaveHdr, MoreBuffers);
    if (lpWaveHdr != nullptr && !WorkingLate()) {
        Process(lpWaveHdr->lpData, lpWaveHdr->dwBytesRecorded);
    }
}

void TMMVolume::BufferReady(PWaveHdr lpWaveHdr) {
    if (lpWaveHdr != nullptr) {
        Process(lpWaveHdr->lpData, lpWaveHdr->dwBytesRecorded);
    }
    TMMDSPComponent::BufferReady(lpWaveHdr);
}

void TMMVolume::ProcessLate(char* data, DWORD bytes, bool /*last*/) {
    Process(data, bytes);
}

} // namespace tunefold
