#include "engine/devices/wave_in.h"

#include <gtest/gtest.h>

#include "engine/devices/ring_buffer_fixture.h"
#include "engine/devices/wave_out_fixture.h"
#include "platform/virtual/scripted_dialogs.h"
#include "platform/virtual/virtual_wave_in.h"

namespace tunefold {
namespace {

using test::Card;
using test::PumpUntil;

platform::VirtualWaveIn& Inputs() {
    return Card().Capture();
}

// The byte at offset i of the recorded signal.
std::uint8_t SignalByte(std::uint64_t i) {
    return static_cast<std::uint8_t>((i * 13 + i / 509 + 1) & 0xFF);
}

void Signal(std::uint64_t first, std::uint8_t* out, std::size_t n) {
    for (std::size_t k = 0; k < n; ++k) {
        out[k] = SignalByte(first + k);
    }
}

std::string Caught(const std::function<void()>& f) {
    try {
        f();
    } catch (const EMMWaveInError& e) {
        return e.what();
    }
    return "(nothing)";
}

class WaveInTest : public ::testing::Test {
protected:
    void SetUp() override {
        Card().ResetAll();
        SetDirectCallbacksAllowed(true);
        saved = WaveOutUserInterface();
        WaveOutUserInterface().showException = [this](const std::exception& e) { shown.push_back(e.what()); };
        Inputs().SetSignal(0, &Signal);
    }
    void TearDown() override {
        wi.reset();
        WaveOutUserInterface() = saved;
        SetDirectCallbacksAllowed(false);
        Card().ResetAll();
    }
    TMMWaveIn& Make(TMMCBMode mode = cmCallback, int buffers = 4, int size = 1024) {
        wi = std::make_unique<TMMWaveIn>();
        wi->SetCallBackMode(mode);
        wi->SetNumBuffers(buffers);
        wi->SetBufferSize(size);
        wi->SetMode(mStereo);
        wi->SetBitLength(b16Bit);
        wi->SetSampleRate(44100);
        wi->SetOutput(&sink);
        wi->OnError = [this](TObject*) { ++errors; };
        wi->OnStop = [this](TObject*) { ++stops; };
        wi->OnStart = [this](TObject*) { ++starts; };
        wi->OnOpen = [this](TObject*) { ++opens; };
        wi->OnClose = [this](TObject*) { ++closes; };
        return *wi;
    }
    WaveOutUi saved;
    std::vector<std::string> shown;
    test::CollectingSink sink;
    std::unique_ptr<TMMWaveIn> wi;
    int errors = 0, stops = 0, starts = 0, opens = 0, closes = 0;
};

TEST_F(WaveInTest, PropertiesDefaultsClampsAndTheFormatTheyMake) {
    TMMWaveIn w;
    EXPECT_EQ(w.BufferSize(), 2048);
    EXPECT_EQ(w.NumBuffers(), 10);
    EXPECT_EQ(w.DeviceID(), 0);
    EXPECT_EQ(w.CallBackMode(), cmWindow);
    EXPECT_EQ(w.Mode(), mMono);
    EXPECT_EQ(w.BitLength(), b8Bit);
    EXPECT_EQ(w.SampleRate(), 11025);
    EXPECT_EQ(w.TimeFormat(), tfByte);
    EXPECT_EQ(w.MaxRecordTime(), -1);
    EXPECT_EQ(w.Priority(), tpHigher);
    EXPECT_EQ(w.ProductName(), "Tunefold Virtual Sound Card");
    ASSERT_NE(w.PWaveFormat(), nullptr);
    EXPECT_EQ(w.PWaveFormat()->nChannels, 1);
    EXPECT_EQ(w.PWaveFormat()->wBitsPerSample, 8);
    EXPECT_EQ(w.PWaveFormat()->nSamplesPerSec, 11025u);

    w.SetBufferSize(10);
    EXPECT_EQ(w.BufferSize(), 32);
    w.SetNumBuffers(1);
    EXPECT_EQ(w.NumBuffers(), 10);
    w.SetNumBuffers(600);
    EXPECT_EQ(w.NumBuffers(), 500);
    w.SetSampleRate(4000);
    EXPECT_EQ(w.SampleRate(), 8000);
    w.SetSampleRate(200000);
    EXPECT_EQ(w.SampleRate(), 100000);
    w.SetMode(mStereo);
    w.SetBitLength(b16Bit);
    EXPECT_EQ(w.PWaveFormat()->nBlockAlign, 4);
    EXPECT_EQ(w.PWaveFormat()->nAvgBytesPerSec, 400000u);

    // A format from outside sets the properties it can.
    WAVEFORMATEX f = test::Pcm(8, 1, 22050);
    w.SetPWaveFormat(&f);
    EXPECT_EQ(w.Mode(), mMono);
    EXPECT_EQ(w.BitLength(), b8Bit);
    EXPECT_EQ(w.SampleRate(), 22050);

    w.SetDeviceID(1);
    EXPECT_EQ(w.DeviceID(), -2);
    EXPECT_EQ(w.ProductName(), "No wave audio recording device found");
    EXPECT_EQ(Caught([&] { w.Open(); }), "Invalid DeviceID");
    w.SetDeviceID(-1);
    EXPECT_EQ(w.DeviceID(), -1);

    platform::ScriptedDialogs dialogs;
    platform::ScopedDialogs scoped(dialogs);
    SetDirectCallbacksAllowed(false);
    w.SetCallBackMode(cmCallback);
    EXPECT_EQ(w.CallBackMode(), cmWindow);
    ASSERT_EQ(dialogs.MessageBoxes().size(), 1u);
    EXPECT_EQ(dialogs.MessageBoxes()[0].caption, "TMMWaveIn");
    EXPECT_EQ(
        dialogs.MessageBoxes()[0].text,
        "\"CallBacks\" are called at interrupt time !\n\rThis is currently only supported under Windows 95");
}

TEST_F(WaveInTest, ChangesWhileOpenAreRefused) {
    TMMWaveIn& w = Make();
    w.Open();
    const std::string refused = "Change to property while device was open";
    EXPECT_EQ(Caught([&] { w.SetDeviceID(0); }), refused);
    EXPECT_EQ(Caught([&] { w.SetCallBackMode(cmThread); }), refused);
    EXPECT_EQ(Caught([&] { w.SetNumBuffers(5); }), refused);
    EXPECT_EQ(Caught([&] { w.SetBufferSize(512); }), refused);
    EXPECT_EQ(Caught([&] { w.SetMode(mMono); }), refused);
    EXPECT_EQ(Caught([&] { w.SetBitLength(b8Bit); }), refused);
    EXPECT_EQ(Caught([&] { w.SetSampleRate(22050); }), refused);
    // Values that change nothing are no change.
    w.SetNumBuffers(1);
    w.SetBufferSize(1024);
    w.SetSampleRate(44100);
    w.SetMode(mStereo);
    EXPECT_EQ(w.State(), wisOpened);
}

class WaveInModes : public WaveInTest, public ::testing::WithParamInterface<TMMCBMode> {};

TEST_P(WaveInModes, RecordsTheSignalInOrderAndPushesEveryBufferOnce) {
    TMMWaveIn& w = Make(GetParam(), 4, 1024);
    w.Start();
    EXPECT_EQ(starts, 1);
    EXPECT_EQ(w.State(), wisOpened | wisStarted);
    EXPECT_EQ(w.QueuedBuffers(), 4);
    for (int i = 0; i < 40; ++i) {
        Card().Advance(128); // half a buffer at a time
        ASSERT_TRUE(PumpUntil(
            [&] { return sink.Bytes() >= std::size_t(i + 1) / 2 * 1024 && w.CompletionsIdle(); }, 5000));
    }
    ASSERT_TRUE(PumpUntil([&] { return sink.Bytes() == 20 * 1024; }));
    std::vector<std::uint8_t> expected(20 * 1024);
    Signal(0, expected.data(), expected.size());
    EXPECT_EQ(sink.data, expected);
    EXPECT_EQ(w.RecordedBytes(), 20 * 1024);
    w.Stop();
    EXPECT_EQ(stops, 1);
    EXPECT_EQ(w.State(), wisOpened);
    w.Close();
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(w.State(), wisClosed);
    EXPECT_EQ(Inputs().OpenCount(), 0);
    EXPECT_EQ(errors, 0);
}

TEST_P(WaveInModes, ALimitInMillisecondsDeliversExactlyItsBytesThenStopsOnce) {
    TMMWaveIn& w = Make(GetParam(), 10, 2048);
    w.SetTimeFormat(tfMillisecond);
    w.SetMaxRecordTime(1000);
    w.Start();
    EXPECT_EQ(w.MaxRecordBytes(), 176400);
    // 176400 is not a multiple of the buffer: the buffer that crosses it is cut.
    for (int i = 0; i < 200 && stops == 0; ++i) {
        Card().Advance(512);
        PumpUntil([&] { return stops > 0 || w.CompletionsIdle(); }, 2000);
    }
    ASSERT_TRUE(PumpUntil([&] { return stops > 0; }));
    Card().Advance(4096); // nothing more is recorded or handed on
    PumpUntil([&] { return w.CompletionsIdle(); }, 500);
    EXPECT_EQ(sink.Bytes(), 176400u);
    std::vector<std::uint8_t> expected(176400);
    Signal(0, expected.data(), expected.size());
    EXPECT_EQ(sink.data, expected);
    EXPECT_EQ(stops, 1);
    EXPECT_EQ(w.State(), wisOpened);
}

TEST_F(WaveInTest, StopHandsOnWhatWasRecordedUpToIt) {
    TMMWaveIn& w = Make(cmCallback, 4, 1024);
    w.Start();
    Card().Advance(256 + 100); // one full buffer, 400 bytes in the next
    ASSERT_TRUE(PumpUntil([&] { return sink.Bytes() == 1024; }));
    w.Stop();
    EXPECT_EQ(sink.sizes, (std::vector<DWORD>{1024, 400})) << "the partial buffer comes once";
    std::vector<std::uint8_t> expected(1424);
    Signal(0, expected.data(), expected.size());
    EXPECT_EQ(sink.data, expected);
    EXPECT_EQ(w.QueuedBuffers(), 0);
    EXPECT_EQ(Inputs().QueuedCount(), 0);

    // Stop then Start records again, every buffer queued anew.
    w.Start();
    EXPECT_EQ(w.QueuedBuffers(), 4);
    EXPECT_EQ(w.RecordedBytes(), 0);
    w.Close();
    EXPECT_EQ(stops, 2);
}

TEST_F(WaveInTest, OpenFailuresCloseTheDeviceAndSayWhy) {
    platform::VirtualWaveInFaults faults;
    TMMWaveIn& w = Make();

    Card().SetDevices({{"Narrow", 0x0100, {{1, 11025, 8}}}});
    w.SetDeviceID(0);
    EXPECT_EQ(Caught([&] { w.Open(); }), "WaveInOpen:\n\rThe actual device can't record this format");
    Card().SetDevices({{"Odd rates only", 0x0100, {{2, 32000, 16}}}});
    w.SetSampleRate(32000);
    // The device takes 32000 Hz, but lists no 44100 Hz stereo 16-bit format for that rate range.
    EXPECT_EQ(Caught([&] { w.Open(); }), "WaveInOpen:\n\rThe actual device can't record this format");
    Card().SetDevices({{}});
    w.SetSampleRate(44100);

    faults.open = {MMSYSERR_ALLOCATED, 0};
    Inputs().SetFaults(faults);
    EXPECT_EQ(Caught([&] { w.Open(); }),
              "WaveInOpen:\n\rThe sound device is already in use by another program.");
    EXPECT_EQ(w.State(), wisClosed);

    faults = {};
    faults.noOpenNotify = true;
    Inputs().SetFaults(faults);
    EXPECT_EQ(Caught([&] { w.Open(); }), "WaveInOpen:\n\rUnable to open device");
    EXPECT_EQ(w.State(), wisClosed);
    EXPECT_EQ(Inputs().OpenCount(), 0) << "the device was closed again";

    faults = {};
    faults.add = {MMSYSERR_NOMEM, 2};
    Inputs().SetFaults(faults);
    EXPECT_EQ(Caught([&] { w.Start(); }), "WaveInAddBuffer:\n\rOut of memory for the sound device.");
    EXPECT_EQ(w.State(), wisClosed);
    EXPECT_EQ(Inputs().OpenCount(), 0);

    faults = {};
    faults.start = {MMSYSERR_ERROR, 0};
    Inputs().SetFaults(faults);
    EXPECT_EQ(Caught([&] { w.Start(); }), "WaveInStart:\n\rUnspecified error in the sound device.");
    EXPECT_EQ(Inputs().OpenCount(), 0);

    faults = {};
    faults.stop = {MMSYSERR_ERROR, 0};
    Inputs().SetFaults(faults);
    w.Start();
    EXPECT_EQ(Caught([&] { w.Pause(); }), "WaveInPause:\n\rUnspecified error in the sound device.");
    EXPECT_EQ(w.State(), wisClosed);

    faults = {};
    faults.noCloseNotify = true;
    Inputs().SetFaults(faults);
    errors = 0;
    w.Open();
    w.Close(); // lets nothing out, reports through OnError
    EXPECT_EQ(w.State(), wisClosed);
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(Inputs().OpenCount(), 0);

    Card().SetDevices({});
    TMMWaveIn none;
    EXPECT_EQ(Caught([&] { none.Open(); }), "No wave audio recording device found");
    EXPECT_EQ(none.ProductName(), "No wave audio recording device found");
}

TEST_F(WaveInTest, TransportFailuresNameTheirCallAndCloseTheDevice) {
    TMMWaveIn& w = Make(cmCallback, 4, 256);
    struct Case {
        const char* text;
        std::function<void(platform::VirtualWaveInFaults&)> fault;
        std::function<void()> act;
    };
    const std::vector<Case> cases = {
        {"WaveInRestart:\n\rUnspecified error in the sound device.",
         [](auto& f) {
             f.start = {MMSYSERR_ERROR, 1};
         },
         [&] {
             w.Start();
             w.Pause();
             w.Restart();
         }},
        {"WaveInStop:\n\rUnspecified error in the sound device.",
         [](auto& f) {
             f.stop = {MMSYSERR_ERROR, 0};
         },
         [&] {
             w.Start();
             w.Stop();
         }},
        {"WaveInReset:\n\rUnspecified error in the sound device.",
         [](auto& f) {
             f.reset = {MMSYSERR_ERROR, 0};
         },
         [&] {
             w.Start();
             w.Stop();
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        platform::VirtualWaveInFaults faults;
        c.fault(faults);
        Inputs().SetFaults(faults);
        EXPECT_EQ(Caught(c.act), c.text);
        if (std::string(c.text).rfind("WaveInReset", 0) == 0) {
            // A device that cannot be reset keeps its buffers: it cannot be closed until it can.
            EXPECT_EQ(w.State(), wisOpened);
            Inputs().SetFaults({});
            w.Close();
        }
        EXPECT_EQ(w.State(), wisClosed);
        EXPECT_EQ(Inputs().OpenCount(), 0);
        EXPECT_EQ(Inputs().QueuedCount(), 0);
        Inputs().SetFaults({});
    }
    w.SetPWaveFormat(nullptr);
    EXPECT_EQ(Caught([&] { w.Open(); }), "Invalid wave format");
}

TEST_F(WaveInTest, PauseHoldsTheRecordingAndRestartGoesOn) {
    TMMWaveIn& w = Make(cmCallback, 4, 1024);
    int pauses = 0, restarts = 0;
    w.OnPause = [&](TObject*) { ++pauses; };
    w.OnRestart = [&](TObject*) { ++restarts; };
    w.Restart(); // not paused: nothing
    EXPECT_EQ(restarts, 0);
    w.Start();
    w.Pause();
    w.Pause(); // already paused: nothing
    EXPECT_EQ(pauses, 1);
    EXPECT_EQ(w.State(), wisOpened | wisStarted | wisPaused);
    Card().Advance(1024);
    PumpUntil([&] { return w.CompletionsIdle(); }, 200);
    const std::size_t held = sink.Bytes();
    w.Restart();
    EXPECT_EQ(restarts, 1);
    EXPECT_EQ(w.State(), wisOpened | wisStarted);
    Card().Advance(256);
    ASSERT_TRUE(PumpUntil([&] { return sink.Bytes() > held; }));
    std::vector<std::uint8_t> expected(sink.Bytes());
    Signal(0, expected.data(), expected.size());
    EXPECT_EQ(sink.data, expected) << "nothing of the signal is lost or doubled around the pause";
    w.Close();
}

TEST_F(WaveInTest, DuplexNeedsBothDirectionsAndAValidDevice) {
    Card().SetDevices({{"One", 0x100, {}}, {"Two", 0x100, {}}});
    EXPECT_FALSE(DuplexCapable(7));
    EXPECT_FALSE(DuplexCapable(-2));
    EXPECT_EQ(Card().CallCount("open"), 0);
    EXPECT_EQ(Inputs().CallCount("open"), 0) << "an invalid number opens nothing";
    EXPECT_TRUE(DuplexCapable(1));
    EXPECT_TRUE(DuplexCapable(-1));
    EXPECT_EQ(Card().OpenCount(), 0);
    EXPECT_EQ(Inputs().OpenCount(), 0) << "both are closed again";
    platform::VirtualWaveFaults outFaults;
    outFaults.open = {MMSYSERR_ALLOCATED, 0};
    Card().SetFaults(outFaults);
    EXPECT_FALSE(DuplexCapable(0));
    EXPECT_EQ(Inputs().OpenCount(), 0) << "the input opened first is closed when the output fails";
    WAVEFORMATEX odd = test::Pcm(16, 2, 44100);
    odd.wFormatTag = 2;
    Card().SetFaults({});
    EXPECT_FALSE(DuplexCapable(0, &odd));
}

INSTANTIATE_TEST_SUITE_P(Modes, WaveInModes, ::testing::Values(cmWindow, cmCallback, cmThread),
                         [](const auto& info) { return std::string(test::ModeName(info.param)); });

class FailingWaveIn : public TMMWaveIn {
public:
    bool noThread = false;
    bool noMemory = false;

protected:
    void* AllocateBuffer(std::size_t bytes) override {
        return noMemory ? nullptr : TMMWaveIn::AllocateBuffer(bytes);
    }
    TMMWaveInThread* CreateWorkerThread(std::shared_ptr<TMMWaveInThread::Link> link) override {
        return noThread ? nullptr : TMMWaveIn::CreateWorkerThread(std::move(link));
    }
};

TEST_F(WaveInTest, ThreadMemoryAndPositionFailures) {
    FailingWaveIn w;
    w.SetCallBackMode(cmThread);
    w.noThread = true;
    EXPECT_EQ(Caught([&] { w.Open(); }), "WaveIn:\n\rCould not create thread");
    EXPECT_EQ(w.State(), wisClosed);
    w.noThread = false;
    w.noMemory = true;
    EXPECT_EQ(Caught([&] { w.Open(); }), "Unable to allocate memory for wave header");
    EXPECT_EQ(w.State(), wisClosed);
    EXPECT_EQ(Inputs().OpenCount(), 0);

    // A position that cannot be read inside a handler closes the device and is shown.
    TMMWaveIn& v = Make(cmCallback, 4, 256);
    platform::VirtualWaveInFaults faults;
    faults.position = {MMSYSERR_ERROR, 0};
    faults.positionInBytesOnly = true;
    Inputs().SetFaults(faults);
    v.Start();
    Card().Advance(64);
    ASSERT_TRUE(PumpUntil([&] { return v.State() == wisClosed; }));
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "WaveInGetPosition:\n\rUnspecified error in the sound device.");
    EXPECT_GE(errors, 1);
    EXPECT_EQ(Inputs().OpenCount(), 0);
}

TEST_F(WaveInTest, ThePositionCountersWrapIsCounted) {
    TMMWaveIn& w = Make(cmCallback, 4, 1024);
    platform::VirtualWaveInFaults faults;
    faults.wrapAt = 70000; // samples
    Inputs().SetFaults(faults);
    w.Start();
    for (int i = 0; i < 300 && w.WrapCount() == 0; ++i) {
        Card().Advance(256);
        ASSERT_TRUE(PumpUntil([&] { return w.CompletionsIdle(); }));
    }
    EXPECT_EQ(w.WrapCount(), 1);
    EXPECT_EQ(w.WrapSize(), 0xFFFFF) << "the last position with its low 20 bits set";
    w.Close();
}

} // namespace
} // namespace tunefold
