#include "engine/devices/wave_out.h"

#include <gtest/gtest.h>

#include "engine/devices/wave_out_fixture.h"
#include "platform/virtual/scripted_dialogs.h"

namespace tunefold {
namespace {

using test::Card;
using test::PatternByte;
using test::Settle;

struct Recorder {
    std::mutex mutex;
    std::vector<std::string> events;
    void Add(const std::string& what) {
        std::lock_guard lock(mutex);
        events.push_back(what + (platform::MessageLoop::Gui().IsGUIThread() ? "" : "@worker"));
    }
    int Count(const std::string& what) {
        std::lock_guard lock(mutex);
        return static_cast<int>(std::count(events.begin(), events.end(), what));
    }
};

class WaveOutTest : public ::testing::TestWithParam<TMMCBMode> {
protected:
    void SetUp() override {
        Card().ResetAll();
        SetDirectCallbacksAllowed(true);
        auto& ui = WaveOutUserInterface();
        savedUi = ui;
        ui.showException = [this](const std::exception& e) {
            std::lock_guard lock(shownMutex);
            shown.push_back(e.what());
            shownCount.fetch_add(1);
        };
        ui.hourGlass = [this](bool busy) { hourGlass.push_back(busy); };
    }
    void TearDown() override {
        wo.reset();
        source.reset();
        sink.reset();
        WaveOutUserInterface() = savedUi;
        SetDirectCallbacksAllowed(false);
        Card().ResetAll();
    }
    template <typename Device = TMMWaveOut>
    Device& Make(std::size_t bytes, int numBuffers = 4, int bufferSize = 64, bool withFormat = true) {
        wo.reset();
        source.reset();
        sink.reset();
        WAVEFORMATEX f = test::Stereo16();
        source = std::make_unique<test::PatternSource>(bytes, withFormat ? &f : nullptr);
        sink = std::make_unique<test::CountingSink>();
        auto device = std::make_unique<Device>();
        Device& d = *device;
        wo = std::move(device);
        wo->SetCallBackMode(GetParam());
        wo->SetNumBuffers(numBuffers);
        wo->SetBufferSize(bufferSize);
        wo->SetInput(source.get());
        wo->SetOutput(sink.get());
        wo->OnOpen = [this](TObject*) { rec.Add("Open"); };
        wo->OnStart = [this](TObject*) { rec.Add("Start"); };
        wo->OnPause = [this](TObject*) { rec.Add("Pause"); };
        wo->OnRestart = [this](TObject*) { rec.Add("Restart"); };
        wo->OnStop = [this](TObject*) { rec.Add("Stop"); };
        wo->OnClose = [this](TObject*) { rec.Add("Close"); };
        wo->OnError = [this](TObject*) { rec.Add("Error"); };
        wo->OnLooping = [this](TObject*) { rec.Add("Looping"); };
        wo->OnBufferFilled = [this](TObject*, PWaveHdr) { rec.Add("Filled"); };
        wo->OnBufferReady = [this](TObject*, PWaveHdr h) {
            // A buffer is pushed on only once it has been heard.
            heardAtReady.push_back(Card().Played().size());
            readyBytes += h->dwBytesRecorded;
            rec.Add("Ready");
        };
        return d;
    }
    // Plays `frames` on the card and lets the device handle what came back.
    // In steps of half the ring, so the device can refill between them.
    void Play(std::uint64_t frames) {
        const std::uint64_t step = std::max(1, wo->NumBuffers() * wo->BufferSize() / 4 / 2);
        while (frames > 0) {
            const std::uint64_t n = Card().Advance(std::min(frames, step));
            Settle(*wo);
            if (n == 0) {
                break;
            }
            frames -= n;
        }
    }
    void PlayToEnd() {
        for (int i = 0; i < 10000 && wo->State().Contains(wosPlaying); ++i) {
            Play(1024);
        }
        Settle(*wo);
    }
    std::vector<std::uint8_t> Pattern(std::size_t from, std::size_t n) {
        std::vector<std::uint8_t> v(n);
        for (std::size_t i = 0; i < n; ++i) {
            v[i] = PatternByte(from + i);
        }
        return v;
    }
    std::string Message(const std::function<void()>& op) {
        try {
            op();
        } catch (const EMMWaveOutError& e) {
            return e.what();
        }
        return "(no error)";
    }

    WaveOutUi savedUi;
    std::mutex shownMutex;
    std::atomic<int> shownCount{0};
    std::vector<std::string> shown;
    platform::ScriptedDialogs dialogs;
    platform::ScopedDialogs scopedDialogs{dialogs};
    std::vector<bool> hourGlass;
    std::unique_ptr<test::PatternSource> source;
    std::unique_ptr<test::CountingSink> sink;
    std::unique_ptr<TMMWaveOut> wo;
    Recorder rec;
    std::vector<std::size_t> heardAtReady;
    std::uint64_t readyBytes = 0;
};

TEST_P(WaveOutTest, OneStreamPlayedToItsEnd) {
    const std::size_t total = 64 * 9 + 20; // nine full buffers and a short last one
    Make(total);
    wo->Start();
    EXPECT_EQ(wo->State(), TMMWaveOutState(wosOpened | wosPlaying));
    EXPECT_EQ(wo->QueuedBuffers(), 4);
    PlayToEnd();

    EXPECT_EQ(wo->State(), TMMWaveOutState(wosOpened)) << "Stop leaves the device open";
    wo->Close();
    EXPECT_EQ(wo->State(), TMMWaveOutState(wosClosed));

    // The prefill fills the ring before the device starts.
    std::vector<std::string> expected{"Open", "Filled", "Filled", "Filled", "Filled", "Start"};
    const auto& ev = rec.events;
    ASSERT_GE(ev.size(), 8u);
    EXPECT_EQ(std::vector<std::string>(ev.begin(), ev.begin() + 6), expected);
    EXPECT_EQ(ev[ev.size() - 2], "Stop") << "OnStop comes from the GUI thread, after the last buffer";
    EXPECT_EQ(ev.back(), "Close");
    const std::string ready = GetParam() == cmThread ? "Ready@worker" : "Ready";
    const std::string filled = GetParam() == cmThread ? "Filled@worker" : "Filled";
    EXPECT_EQ(rec.Count(ready), 10);
    EXPECT_EQ(rec.Count("Filled") + rec.Count(filled == "Filled" ? "" : filled), 10);
    EXPECT_EQ(rec.Count("Error"), 0);

    // Every byte delivered was played, in order, the last buffer with exactly its 20 bytes.
    EXPECT_EQ(Card().Played(), Pattern(0, total));
    const auto lengths = Card().PlayedHeaderLengths();
    ASSERT_EQ(lengths.size(), 10u);
    EXPECT_EQ(lengths.back(), 20u);
    EXPECT_EQ(readyBytes, total);
    EXPECT_EQ(sink->bytes, total) << "every played buffer went on to the output";
    for (std::size_t i = 0; i < heardAtReady.size(); ++i) {
        EXPECT_GE(heardAtReady[i], std::min<std::size_t>((i + 1) * 64, total)) << "buffer " << i;
    }
    EXPECT_EQ(Card().OpenCount(), 0);
}

TEST_P(WaveOutTest, PositionCountsPlayedSamplesInEveryUnit) {
    Make(64 * 100);
    wo->SetTimeFormat(tfSample);
    EXPECT_EQ(wo->Position(), 0) << "not open";
    wo->Start();
    Play(100);
    EXPECT_EQ(wo->Position(), 100);
    wo->SetTimeFormat(tfByte);
    EXPECT_EQ(wo->Position(), 400);
    Play(3); // 103 samples: 2336.05 ms
    wo->SetTimeFormat(tfMillisecond);
    EXPECT_EQ(wo->Position(), 2); // truncated
    // Answered in bytes only, the device position is converted back to samples.
    auto faults = Card().Faults();
    faults.positionInBytesOnly = true;
    Card().SetFaults(faults);
    wo->SetTimeFormat(tfSample);
    EXPECT_EQ(wo->Position(), 103);
    wo->Close();
    EXPECT_EQ(wo->Position(), 0);
}

TEST_P(WaveOutTest, StopDuringACompletionIsFinishedLaterOnTheGuiThread) {
    Make(64 * 50);
    bool first = true;
    bool pendingSeen = false, deferredSeen = false;
    std::int64_t positionWhileDeferred = -1;
    wo->OnBufferReady = [&](TObject*, PWaveHdr) {
        if (!first) {
            return;
        }
        first = false;
        wo->Stop();
        pendingSeen = wo->StopPending();
        wo->Close(); // carried out after the pending stop
        deferredSeen = wo->CloseDeferred();
        positionWhileDeferred = wo->Position();
        rec.Add("Ready");
    };
    wo->Start();
    Card().Advance(16);
    // Whichever thread handled the completion, OnStop has not been fired from inside it.
    test::PumpUntil([&] { return !first && wo->InDoneCount() == 0; });
    EXPECT_TRUE(pendingSeen);
    EXPECT_TRUE(deferredSeen);
    EXPECT_EQ(positionWhileDeferred, 0);
    Settle(*wo);
    ASSERT_TRUE(test::PumpUntil([&] { return wo->State() == TMMWaveOutState(wosClosed); }));
    const auto& ev = rec.events;
    auto stop = std::find(ev.begin(), ev.end(), "Stop");
    ASSERT_NE(stop, ev.end()) << "OnStop came, from the GUI thread";
    EXPECT_EQ(stop + 1 < ev.end() ? *(stop + 1) : "", "Close");
    EXPECT_EQ(rec.Count("Stop@worker"), 0);
    EXPECT_EQ(source->loads.load(), 4) << "nothing was refilled after the stop";
}

TEST_P(WaveOutTest, FlushAfterRepositioningPlaysFromThereWithPositionFromZero) {
    Make(64 * 40);
    wo->SetTimeFormat(tfSample);
    wo->Start();
    Play(40); // two and a half buffers
    EXPECT_EQ(wo->Position(), 40);
    wo->Pause();
    EXPECT_EQ(wo->State(), TMMWaveOutState(wosOpened | wosPlaying | wosPaused));
    const std::size_t heardBefore = Card().Played().size();
    source->Seek(64 * 20);
    wo->Flush();
    EXPECT_EQ(wo->State(), TMMWaveOutState(wosOpened | wosPlaying | wosPaused)) << "stays paused";
    EXPECT_EQ(wo->Position(), 0);
    EXPECT_EQ(source->resets.load(), 1) << "the chain was told the position changed";
    EXPECT_EQ(wo->QueuedBuffers(), 4);
    Play(100);
    EXPECT_EQ(Card().Played().size(), heardBefore) << "paused: nothing plays";
    wo->Restart();
    Play(50);
    EXPECT_EQ(wo->Position(), 50);
    PlayToEnd();
    const auto played = Card().Played();
    ASSERT_EQ(played.size(), heardBefore + 64 * 20);
    EXPECT_EQ(std::vector<std::uint8_t>(played.begin() + static_cast<long>(heardBefore), played.end()),
              Pattern(64 * 20, 64 * 20));
    EXPECT_EQ(rec.Count("Error"), 0);
}

TEST_P(WaveOutTest, LoopingEndlesslyAndTwice) {
    // Endless: three buffers a pass, OnLooping at each, Position starting again near 0.
    Make(64 * 3);
    wo->SetTimeFormat(tfSample);
    wo->SetLooping(true);
    wo->Start();
    for (int i = 0; i < 40; ++i) {
        Play(16);
    }
    const int loopings = rec.Count(GetParam() == cmThread ? "Looping@worker" : "Looping");
    EXPECT_GE(loopings, 3);
    EXPECT_TRUE(wo->State().Contains(wosPlaying)) << "an endless loop never ends";
    EXPECT_GE(wo->Position(), 0);
    EXPECT_LT(wo->Position(), 48 + 16) << "the position counts from the last loop start";
    wo->Stop();
    wo->Close();

    // Twice: the data plays three times, OnLooping fires twice, then the stream ends.
    Card().ClearRecording();
    rec.events.clear();
    Make(64 * 3 + 8, 4, 64);
    wo->SetLooping(true);
    wo->SetLoopCount(2);
    wo->Start();
    PlayToEnd();
    EXPECT_EQ(source->wraps.load(), 2);
    EXPECT_EQ(rec.Count(GetParam() == cmThread ? "Looping@worker" : "Looping"), 2);
    auto once = Pattern(0, 64 * 3 + 8);
    std::vector<std::uint8_t> thrice;
    for (int i = 0; i < 3; ++i) {
        thrice.insert(thrice.end(), once.begin(), once.end());
    }
    EXPECT_EQ(Card().Played(), thrice);
    EXPECT_EQ(wo->State(), TMMWaveOutState(wosOpened));
}

TEST_P(WaveOutTest, PositionCounterWraps) {
    // A counter that wraps at 2^20: the fall from 2^20 - 16 to 16 is one wrap of 2^20 - 1.
    auto faults = Card().Faults();
    faults.wrapAt = 1u << 20;
    Card().SetFaults(faults);
    Make(std::size_t{4} << 21, 4, 16384);
    wo->SetTimeFormat(tfSample);
    wo->Start();
    Play((1u << 20) - 16 - 4096);
    Play(4096); // the completion of buffer 255 sees 2^20 - 16
    EXPECT_EQ(wo->Position(), (1 << 20) - 16);
    Play(32); // the next completion sees 16
    EXPECT_EQ(wo->Position(), 16 + (1 << 20) - 1);
    wo->Stop();
    wo->Close();

    // A fall of less than 65535 samples is not a wrap.
    faults.wrapAt = 70000;
    Card().SetFaults(faults);
    Make(std::size_t{4} << 18, 4, 16384);
    wo->SetTimeFormat(tfSample);
    wo->Start();
    Play(69000);
    Play(4096); // the completion at 69632 sees 3096; the one before saw 65536
    EXPECT_EQ(wo->Position(), 3096) << "a fall of 62440 samples is not a wrap";
    wo->Stop();
    wo->Close();
}

TEST_P(WaveOutTest, PropertiesClampAndRefuseChangesWhileOpen) {
    Make(64 * 8);
    wo->SetNumBuffers(1);
    EXPECT_EQ(wo->NumBuffers(), 4);
    wo->SetNumBuffers(600);
    EXPECT_EQ(wo->NumBuffers(), 500);
    wo->SetBufferSize(10);
    EXPECT_EQ(wo->BufferSize(), 32);
    wo->SetBufferSize(66);
    wo->Open();
    EXPECT_EQ(wo->BufferSize(), 64) << "cut to whole sample frames at open";
    const std::string changed = "Change to property while device was open";
    EXPECT_EQ(Message([&] { wo->SetNumBuffers(20); }), changed);
    EXPECT_EQ(Message([&] { wo->SetNumBuffers(1); }), "(no error)") << "an ignored value is no change";
    EXPECT_EQ(Message([&] { wo->SetBufferSize(1000); }), changed);
    EXPECT_EQ(Message([&] { wo->SetDeviceID(0); }), changed);
    EXPECT_EQ(Message([&] { wo->SetCallBackMode(cmThread); }), changed);
    EXPECT_TRUE(wo->State().Contains(wosOpened)) << "a refused change leaves the device open";
    wo->Close();

    Card().SetDevices({{"Alpha", 0x0203, {}}, {"Beta", 0x0101, {}}});
    TMMWaveOut other;
    EXPECT_EQ(other.NumDevs(), 2);
    EXPECT_EQ(other.ProductName(), "Alpha");
    other.SetDeviceID(1);
    EXPECT_EQ(other.ProductName(), "Beta");
    EXPECT_EQ(other.DriverVersion(), 0x0101u);
    other.SetProductName("Ignored");
    EXPECT_EQ(other.ProductName(), "Beta");
    other.SetDeviceID(-1);
    EXPECT_EQ(other.DeviceID(), -1);
    other.SetDeviceID(2);
    EXPECT_EQ(other.DeviceID(), -2);
    EXPECT_EQ(other.ProductName(), "No wave audio playing device found");
    EXPECT_EQ(WaveOutDeviceName(-1), "Alpha");
    EXPECT_EQ(WaveOutDeviceName(1), "Beta");
    EXPECT_EQ(WaveOutDeviceName(2), "");
    EXPECT_EQ(WaveOutDeviceName(-2), "");

    SetDirectCallbacksAllowed(false);
    other.SetCallBackMode(cmThread);
    other.SetCallBackMode(cmCallback);
    EXPECT_EQ(other.CallBackMode(), cmThread);
    const auto boxes = dialogs.MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "TMMWaveOut");
    EXPECT_EQ(boxes[0].text, "\"CallBacks\" are called at interrupt time !\n\rThis is currently only "
                             "supported under Windows 95");
}

TEST_P(WaveOutTest, MapperMappedFlagAndHourGlass) {
    Make(64 * 2000, 100, 2048);
    wo->SetDeviceID(-1);
    wo->SetMapped(true);
    wo->Start();
    EXPECT_EQ(Card().LastOpenFlags() & platform::WAVE_MAPPED, 0u) << "the mapper is never opened mapped";
    EXPECT_EQ(hourGlass, (std::vector<bool>{true, false})) << "204800 bytes to fill";
    wo->Close();
    wo->SetDeviceID(0);
    wo->SetNumBuffers(10);
    source->Seek(0);
    wo->Start();
    EXPECT_EQ(Card().LastOpenFlags() & platform::WAVE_MAPPED, platform::WAVE_MAPPED);
    EXPECT_EQ(hourGlass.size(), 2u) << "a small prefill shows no hourglass";
    wo->Close();
}

class NoMemoryWaveOut : public TMMWaveOut {
public:
    int allowed = 2;

protected:
    void* AllocateBuffer(std::size_t bytes) override {
        return allowed-- > 0 ? TMMWaveOut::AllocateBuffer(bytes) : nullptr;
    }
};

class NoThreadWaveOut : public TMMWaveOut {
protected:
    TMMWaveOutThread* CreateWorkerThread(std::shared_ptr<TMMWaveOutThread::Link>) override { return nullptr; }
};

// Every failure of the table, produced by its fault; the device ends closed.
TEST_P(WaveOutTest, EveryFailureGivesItsMessageAndLeavesTheDeviceClosed) {
    const std::string lfcr = "\n\r";
    std::string text;
    struct Case {
        std::string expected;
        std::function<void(platform::VirtualWaveFaults&)> fault;
        std::function<void()> op;
    };
    auto start = [this] { wo->Start(); };
    auto stop = [this] {
        wo->Start();
        wo->Stop();
    };
    auto codeText = [](MMRESULT code) {
        std::string t;
        platform::WaveGetErrorText(code, t);
        return t;
    };
    std::vector<Case> cases = {
        {"WaveOutOpen:" + lfcr + "The actual device can't play this format",
         [](auto& f) {
             f.query = {WAVERR_BADFORMAT, 0};
         },
         start},
        // A device that cannot be reached at all is no question of the format.
        {"WaveOutOpen:" + lfcr + "No sound device: " + codeText(MMSYSERR_NODRIVER),
         [](auto& f) {
             f.query = {MMSYSERR_NODRIVER, 0};
         },
         start},
        {"WaveOutOpen:" + lfcr + codeText(MMSYSERR_ALLOCATED),
         [](auto& f) {
             f.open = {MMSYSERR_ALLOCATED, 0};
         },
         start},
        {"WaveOutOpen:" + lfcr + "Specified error number is out of range (unknown error)",
         [](auto& f) {
             f.open = {4711, 0};
         },
         start},
        {"WaveOutWrite:" + lfcr + codeText(MMSYSERR_NOMEM),
         [](auto& f) {
             f.write = {MMSYSERR_NOMEM, 2};
         },
         start},
        {"WaveOutPause:" + lfcr + codeText(MMSYSERR_ERROR),
         [](auto& f) {
             f.pause = {MMSYSERR_ERROR, 0};
         },
         start},
        {"WaveOutRestart:" + lfcr + codeText(MMSYSERR_ERROR),
         [](auto& f) {
             f.restart = {MMSYSERR_ERROR, 0};
         },
         start},
        {"WaveOutReset:" + lfcr + codeText(MMSYSERR_NOTSUPPORTED),
         [](auto& f) {
             f.reset = {MMSYSERR_NOTSUPPORTED, 0};
         },
         stop},
        {"WaveOutGetPosition:" + lfcr + codeText(MMSYSERR_ERROR),
         [](auto& f) {
             f.position = {MMSYSERR_ERROR, 0};
         },
         [this] {
             wo->Start();
             wo->Position();
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        Card().ResetAll();
        rec.events.clear();
        Make(64 * 20);
        platform::VirtualWaveFaults faults;
        c.fault(faults);
        Card().SetFaults(faults);
        EXPECT_EQ(Message(c.op), c.expected);
        const bool reading = c.expected.rfind("WaveOutGetPosition", 0) == 0;
        const bool resetting = c.expected.rfind("WaveOutReset", 0) == 0;
        if (reading) {
            EXPECT_TRUE(wo->State().Contains(wosPlaying)) << "reading the position is no operation";
        } else if (resetting) {
            // A device that cannot be reset keeps its buffers: it cannot be closed until it can.
            EXPECT_TRUE(wo->State().Contains(wosOpened));
        } else {
            EXPECT_EQ(wo->State(), TMMWaveOutState(wosClosed));
        }
        if (!reading) {
            EXPECT_GE(rec.Count("Error"), 2) << "OnError fires in Error and again in the operation";
        }
        Card().SetFaults({});
        wo->Close();
        EXPECT_EQ(wo->State(), TMMWaveOutState(wosClosed));
        EXPECT_EQ(Card().OpenCount(), 0);
        EXPECT_EQ(Card().QueuedCount(), 0);
    }

    // Found before anything is opened.
    Card().ResetAll();
    Make(64, 4, 64, false);
    EXPECT_EQ(Message([&] { wo->Open(); }), "WaveOutOpen:" + lfcr + "Invalid wave format");
    Make(64);
    wo->SetDeviceID(5);
    EXPECT_EQ(Message([&] { wo->Open(); }), "Invalid DeviceID");
    Card().SetDevices({});
    Make(64);
    EXPECT_EQ(wo->ProductName(), "No wave audio playing device found");
    EXPECT_EQ(Message([&] { wo->Open(); }), "No wave audio playing device found");
    Card().ResetAll();

    // The chain delivers nothing.
    Make(0);
    EXPECT_EQ(Message(start), "WaveOutStart:" + lfcr + "Unable to start device");
    EXPECT_EQ(wo->State(), TMMWaveOutState(wosClosed));
    EXPECT_EQ(Card().OpenCount(), 0);

    // No memory for the third buffer.
    Make<NoMemoryWaveOut>(64 * 20);
    EXPECT_EQ(Message(start), "Unable to allocate memory for wave header");
    EXPECT_EQ(wo->State(), TMMWaveOutState(wosClosed));
    EXPECT_EQ(Card().OpenCount(), 0);

    if (GetParam() == cmThread) {
        Make<NoThreadWaveOut>(64 * 20);
        EXPECT_EQ(Message(start), "WaveOut:" + lfcr + "Could not create thread");
        EXPECT_EQ(wo->State(), TMMWaveOutState(wosClosed));
        EXPECT_EQ(Card().OpenCount(), 0);
    }

    // Failures inside a completion end there: the device is closed and the user is told.
    struct Late {
        std::string expected;
        std::function<void()> arrange;
    };
    std::vector<Late> late = {
        {"Error filling wave buffer", [this] { source->lieAfter = 5; }},
        {"WaveOutWrite:" + lfcr + codeText(MMSYSERR_NOMEM),
         [] {
             platform::VirtualWaveFaults f;
             f.write = {MMSYSERR_NOMEM, 5};
             Card().SetFaults(f);
         }},
        {"WaveOutGetPosition:" + lfcr + codeText(MMSYSERR_ERROR),
         [] {
             platform::VirtualWaveFaults f;
             f.position = {MMSYSERR_ERROR, 1};
             Card().SetFaults(f);
         }},
    };
    for (const auto& c : late) {
        SCOPED_TRACE(c.expected);
        Card().ResetAll();
        shown.clear();
        shownCount.store(0);
        Make(64 * 40);
        c.arrange();
        wo->Start();
        for (int i = 0; i < 20 && wo->State().Contains(wosOpened); ++i) {
            Card().Advance(16);
            Settle(*wo);
        }
        ASSERT_TRUE(test::PumpUntil(
            [&] { return wo->State() == TMMWaveOutState(wosClosed) && shownCount.load() == 1; }));
        std::lock_guard lock(shownMutex);
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0], c.expected);
        EXPECT_EQ(Card().OpenCount(), 0);
        wo->Close();
    }
    Card().ResetAll();
}

TEST_P(WaveOutTest, CloseNeverLetsAnExceptionOut) {
    const std::string lfcr = "\n\r";
    Make(64 * 20);
    wo->Start();
    platform::VirtualWaveFaults f;
    f.close = {MMSYSERR_ERROR, 0};
    Card().SetFaults(f);
    EXPECT_NO_THROW(wo->Close());
    EXPECT_GE(rec.Count("Error"), 1);
    EXPECT_TRUE(wo->State().Contains(wosOpened)) << "the device refused to close: it still is open";
    Card().SetFaults({});
    wo->Close();
    EXPECT_EQ(wo->State(), TMMWaveOutState(wosClosed));
    EXPECT_EQ(Card().OpenCount(), 0);
}

TEST_P(WaveOutTest, DoneFlagThatComesLate) {
    platform::VirtualWaveFaults f;
    f.lateDoneFlagMs = 5;
    Card().SetFaults(f);
    Make(64 * 6);
    wo->Start();
    PlayToEnd();
    EXPECT_EQ(Card().Played(), Pattern(0, 64 * 6)) << "each buffer was refilled only once the device let go";
    EXPECT_EQ(rec.Count("Error"), 0);
    wo->Close();
}

INSTANTIATE_TEST_SUITE_P(Modes, WaveOutTest, ::testing::Values(cmWindow, cmCallback, cmThread),
                         [](const auto& info) { return std::string(test::ModeName(info.param)); });

// The missing notifications take the full 5 s wait each: one mode is enough, the route does not
// take part.
TEST(WaveOutNotifications, MissingOpenOrCloseNotification) {
    Card().ResetAll();
    WAVEFORMATEX f = test::Stereo16();
    test::PatternSource source(64 * 4, &f);
    TMMWaveOut wo;
    wo.SetInput(&source);
    int errors = 0;
    wo.OnError = [&](TObject*) { ++errors; };
    platform::VirtualWaveFaults faults;
    faults.noOpenNotify = true;
    Card().SetFaults(faults);
    try {
        wo.Open();
        ADD_FAILURE() << "no error";
    } catch (const EMMWaveOutError& e) {
        EXPECT_STREQ(e.what(), "WaveOutOpen:\n\rUnable to open device");
    }
    EXPECT_EQ(wo.State(), TMMWaveOutState(wosClosed));
    EXPECT_EQ(Card().OpenCount(), 0);

    faults.noOpenNotify = false;
    faults.noCloseNotify = true;
    Card().SetFaults(faults);
    errors = 0;
    wo.Open();
    EXPECT_NO_THROW(wo.Close());
    EXPECT_EQ(errors, 1) << "\"WaveOutClose:\" \"Unable to close device\" went to OnError";
    EXPECT_EQ(wo.State(), TMMWaveOutState(wosClosed));
    Card().ResetAll();
}

} // namespace
} // namespace tunefold
