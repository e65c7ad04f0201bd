// The wave device service: output and input devices in the shape of the platform's waveOut* and
// waveIn* calls. Handles are opaque numbers (0 = none). Notifications go to a function with the
// instance value given at open: open and close are delivered from inside Open and Close, done from
// the backend's own feeding context, one header at a time and strictly in the order written.
//
// A backend never holds one of its locks while it calls the notification function, so a handler
// may call back into the service (write the buffer again, pause, even reset).
#pragma once

#include <cstdint>
#include <string>

#include "platform/wave_types.h"

namespace tunefold::platform {

using HWAVEOUT = std::uintptr_t;
using HWAVEIN = std::uintptr_t;

// Notification messages.
constexpr UINT WOM_OPEN = 0x3BB;
constexpr UINT WOM_CLOSE = 0x3BC;
constexpr UINT WOM_DONE = 0x3BD;
constexpr UINT WIM_OPEN = 0x3BE;
constexpr UINT WIM_CLOSE = 0x3BF;
constexpr UINT WIM_DATA = 0x3C0;
// Ours, to a device opened with WAVE_LATE_WORK: a header (param1) is about to go to the sound card.
// It is sent on the thread that feeds the card, under the device's lock, once per write of the
// header and before its first byte goes out; the callback may still change the header's data in
// place (not its length) and must not call the device.
constexpr UINT WOM_LATE = 0x7B0;

// Open flags.
constexpr DWORD CALLBACK_NULL = 0x00000000;
constexpr DWORD CALLBACK_FUNCTION = 0x00030000;
constexpr DWORD WAVE_FORMAT_QUERY = 0x0001;
constexpr DWORD WAVE_MAPPED = 0x0004;
// Ours: the caller finishes its buffers late (WOM_LATE); the card keeps only a short buffer
// (about 60 ms) ahead of what is heard, so that what the caller changes is soon heard.
constexpr DWORD WAVE_LATE_WORK = 0x00100000;

// How a backend is asked to open a stream.
struct PcmOpenMode {
    bool queryOnly = false;   // only check that it would open
    bool shortBuffer = false; // keep little ahead of what is heard (WAVE_LATE_WORK)
};

// The device id that lets the system choose (the default device).
constexpr int WAVE_MAPPER = -1;
constexpr std::size_t MAXPNAMELEN = 32;
constexpr std::size_t MAXERRORLENGTH = 256;

// Capability flags: the standard formats a device takes (rate 11025, 22050 or 44100 Hz; mono or
// stereo; 8 or 16 bits).
constexpr DWORD WAVE_FORMAT_1M08 = 0x00000001;
constexpr DWORD WAVE_FORMAT_1S08 = 0x00000002;
constexpr DWORD WAVE_FORMAT_1M16 = 0x00000004;
constexpr DWORD WAVE_FORMAT_1S16 = 0x00000008;
constexpr DWORD WAVE_FORMAT_2M08 = 0x00000010;
constexpr DWORD WAVE_FORMAT_2S08 = 0x00000020;
constexpr DWORD WAVE_FORMAT_2M16 = 0x00000040;
constexpr DWORD WAVE_FORMAT_2S16 = 0x00000080;
constexpr DWORD WAVE_FORMAT_4M08 = 0x00000100;
constexpr DWORD WAVE_FORMAT_4S08 = 0x00000200;
constexpr DWORD WAVE_FORMAT_4M16 = 0x00000400;
constexpr DWORD WAVE_FORMAT_4S16 = 0x00000800;

// The flag of the standard format with these channels and bits at `rate` (11025, 22050, 44100);
// 0 when there is none.
constexpr DWORD StandardFormatFlag(DWORD rate, WORD channels, WORD bits) {
    const int step = rate == 11025 ? 0 : rate == 22050 ? 1 : rate == 44100 ? 2 : -1;
    if (step < 0 || channels < 1 || channels > 2 || (bits != 8 && bits != 16)) {
        return 0;
    }
    return DWORD{1} << (step * 4 + (bits == 16 ? 2 : 0) + (channels == 2 ? 1 : 0));
}

// Units of a position query.
constexpr UINT TIME_MS = 0x0001;
constexpr UINT TIME_SAMPLES = 0x0002;
constexpr UINT TIME_BYTES = 0x0004;

struct MMTIME {
    UINT wType = TIME_SAMPLES; // asked for on the way in, the unit answered on the way out
    DWORD value = 0;           // samples, bytes or milliseconds, by wType
};

struct WAVEOUTCAPS {
    WORD wMid = 0;
    WORD wPid = 0;
    DWORD vDriverVersion = 0; // major in the high byte, minor in the low byte
    std::string szPname;      // product name, at most MAXPNAMELEN - 1 characters
    DWORD dwFormats = 0;
    WORD wChannels = 0;
    DWORD dwSupport = 0;
};
using WAVEINCAPS = WAVEOUTCAPS;

// The notification function: handle, message, the instance value given at open, and for a done
// message the header in param1 and in param2 how many more done notifications the backend sends
// right after this one (it returns buffers in batches, as a card returns a period at a time). A
// handler that hands buffers to another thread may wake it once, when param2 is 0.
using WaveCallback = void (*)(std::uintptr_t handle, UINT msg, DWORD_PTR instance, DWORD_PTR param1,
                              DWORD_PTR param2);

// Text of a result code of this service; MMSYSERR_BADERRNUM (and the "out of range" text) for a
// code it does not know.
MMRESULT WaveGetErrorText(MMRESULT code, std::string& text);

class WaveOutDevices {
public:
    virtual ~WaveOutDevices() = default;

    virtual UINT GetNumDevs() = 0;
    virtual MMRESULT GetDevCaps(int deviceId, WAVEOUTCAPS& caps) = 0;
    // With WAVE_FORMAT_QUERY only checks the format; no handle is made and no notification sent.
    virtual MMRESULT Open(HWAVEOUT* handle, int deviceId, const WAVEFORMATEX* format, WaveCallback callback,
                          DWORD_PTR instance, DWORD flags) = 0;
    // Fails with WAVERR_STILLPLAYING while headers are queued.
    virtual MMRESULT Close(HWAVEOUT handle) = 0;
    virtual MMRESULT PrepareHeader(HWAVEOUT handle, WAVEHDR* header) = 0;
    virtual MMRESULT UnprepareHeader(HWAVEOUT handle, WAVEHDR* header) = 0;
    virtual MMRESULT Write(HWAVEOUT handle, WAVEHDR* header) = 0;
    virtual MMRESULT Pause(HWAVEOUT handle) = 0;
    virtual MMRESULT Restart(HWAVEOUT handle) = 0;
    // Returns every queued header (done flag, then notification) and sets the position to 0; a
    // paused device stays paused.
    virtual MMRESULT Reset(HWAVEOUT handle) = 0;
    virtual MMRESULT GetPosition(HWAVEOUT handle, MMTIME& time) = 0;
    virtual MMRESULT GetErrorText(MMRESULT code, std::string& text) { return WaveGetErrorText(code, text); }
};

// The input side, same shape: buffers are added, filled by the device in the order added and
// returned with WIM_DATA (done flag first, dwBytesRecorded the bytes recorded into them). Stop
// returns the buffer being filled when it holds something; Reset returns every queued buffer and
// sets the position to 0.
class WaveInDevices {
public:
    virtual ~WaveInDevices() = default;

    virtual UINT GetNumDevs() = 0;
    virtual MMRESULT GetDevCaps(int deviceId, WAVEINCAPS& caps) = 0;
    virtual MMRESULT Open(HWAVEIN* handle, int deviceId, const WAVEFORMATEX* format, WaveCallback callback,
                          DWORD_PTR instance, DWORD flags) = 0;
    virtual MMRESULT Close(HWAVEIN handle) = 0;
    virtual MMRESULT PrepareHeader(HWAVEIN handle, WAVEHDR* header) = 0;
    virtual MMRESULT UnprepareHeader(HWAVEIN handle, WAVEHDR* header) = 0;
    virtual MMRESULT AddBuffer(HWAVEIN handle, WAVEHDR* header) = 0;
    virtual MMRESULT Start(HWAVEIN handle) = 0;
    virtual MMRESULT Stop(HWAVEIN handle) = 0;
    virtual MMRESULT Reset(HWAVEIN handle) = 0;
    virtual MMRESULT GetPosition(HWAVEIN handle, MMTIME& time) = 0;
    virtual MMRESULT GetErrorText(MMRESULT code, std::string& text) { return WaveGetErrorText(code, text); }
};

// The process's wave output service: the one installed with SetWaveOut, else the virtual sound card
// when VirtualPlatformRequested(), else the ALSA backend. A component keeps the service it was made
// with.
WaveOutDevices& WaveOut();
// Installs `devices` (nullptr: back to the platform's own) and returns the one installed before.
WaveOutDevices* SetWaveOut(WaveOutDevices* devices);

// The process's wave input service, chosen the same way; device ids are the output's.
WaveInDevices& WaveIn();
WaveInDevices* SetWaveIn(WaveInDevices* devices);

class ScopedWaveIn {
public:
    explicit ScopedWaveIn(WaveInDevices& devices) : previous_(SetWaveIn(&devices)) {}
    ~ScopedWaveIn() { SetWaveIn(previous_); }
    ScopedWaveIn(const ScopedWaveIn&) = delete;
    ScopedWaveIn& operator=(const ScopedWaveIn&) = delete;

private:
    WaveInDevices* previous_;
};

class ScopedWaveOut {
public:
    explicit ScopedWaveOut(WaveOutDevices& devices) : previous_(SetWaveOut(&devices)) {}
    ~ScopedWaveOut() { SetWaveOut(previous_); }
    ScopedWaveOut(const ScopedWaveOut&) = delete;
    ScopedWaveOut& operator=(const ScopedWaveOut&) = delete;

private:
    WaveOutDevices* previous_;
};

} // namespace tunefold::platform
