// The start sequence and the main window's settings handlers on the in-process single-instance
// service, the in-memory settings store and the virtual sound card.
#include "app/logic/startup.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <vector>

#include "app/logic/file_types.h"
#include "app/logic/settings.h"
#include "engine/devices/wave_out_fixture.h"
#include "platform/message_loop.h"
#include "platform/virtual/virtual_registry.h"
#include "platform/virtual/virtual_single_instance.h"
#include "support/files.h"

namespace tunefold {
namespace {

using platform::HKEY_CURRENT_USER;
using platform::RegistryValue;
using platform::WindowMessage;

const std::string kKey = "HKEY_CURRENT_USER\\Software\\Brenvik\\Tunefold\\2.0";

// The main window as the settings handlers see it, with the values of the window's design.
class FakeMainWindow : public TMainSettingsTarget {
public:
    explicit FakeMainWindow(const std::string& programFolder) : settings(programFolder) {
        waveOut.SetNumBuffers(132);
        waveOut.SetBufferSize(2048);
        waveOut.SetCallBackMode(cmThread);
        settings.claimFileTypes = [this] {
            ++claims;
            return true;
        };
        endpoint = platform::SingleInstance().Listen([this](const WindowMessage& m) {
            if (m.msg == platform::WM_USER) {
                handedOver.push_back(TMainSettings::WMMypost(m));
            }
        });
    }

    TMMWaveOut& WaveOut() override { return waveOut; }
    int PreVolume() const override { return preVolume; }
    void SetPreVolume(int value) override { preVolume = value; }
    int CDWheelVolume() const override { return cdWheel; }
    TColourSlots& Colours() override { return colours; }
    platform::WindowHandle WindowHandle() const override { return endpoint->Handle(); }
    void WindowPosition(int& l, int& t) const override {
        l = left;
        t = top;
    }
    void StopAutoAdvance() override { autoAdvance = false; }

    TMainSettings settings;
    TMMWaveOut waveOut;
    int preVolume = 16384;
    int cdWheel = 16384;
    TColourSlots colours{};
    int left = 0;
    int top = 0;
    bool autoAdvance = true;
    int claims = 0;
    std::unique_ptr<platform::WindowEndpoint> endpoint;
    std::vector<std::optional<std::string>> handedOver;
};

class StartupTest : public testing::Test {
protected:
    void SetUp() override {
        test::Card().ResetAll();
        test::Card().SetDevices({{"Alpha", 0x100, {}}, {"Beta", 0x100, {}}, {"Gamma", 0x100, {}}});
        platform::InstallRegistryStore(store);
        folder = test::FreshFolder("program").string();
    }
    void TearDown() override {
        platform::MessageLoop::Gui().ProcessMessages();
        platform::InstallRegistryStore(nullptr);
        test::Card().ResetAll();
    }

    platform::RegistryValues Values() {
        const auto tree = store->Tree();
        auto it = tree.keys.find(kKey);
        return it == tree.keys.end() ? platform::RegistryValues{} : it->second;
    }
    std::string Text(const std::string& name) {
        auto values = Values();
        auto it = values.find(name);
        return it == values.end() || it->second.type != platform::REG_SZ ? "(none)" : it->second.data;
    }
    std::int64_t Number(const std::string& name) {
        auto values = Values();
        auto it = values.find(name);
        if (it == values.end() || it->second.type != platform::REG_DWORD) {
            return -1;
        }
        std::uint32_t n = 0;
        for (int i = 3; i >= 0; --i) {
            n = (n << 8) | static_cast<unsigned char>(it->second.data[static_cast<std::size_t>(i)]);
        }
        return n;
    }
    void Store(std::vector<std::pair<std::string, RegistryValue>> values) {
        auto tree = store->Tree();
        for (auto& [name, value] : values) {
            tree.keys[kKey].insert_or_assign(name, value);
        }
        store->SetTree(tree);
    }
    // Every value of a later start, none equal to what the window holds.
    void StoreEverything() {
        std::vector<std::pair<std::string, RegistryValue>> values = {
            {"Scheme", RegistryValue::String("Y")},
            {"Buffers", RegistryValue::Integer(40)},
            {"BufferSize", RegistryValue::Integer(4096)},
            {"DeviceID", RegistryValue::Integer(2)},
            {"CBMode", RegistryValue::Integer(0)},
            {"Left", RegistryValue::Integer(0x00012345)}, // cut to 0x2345
            {"Top", RegistryValue::Integer(0xFFFF8000)},  // -32768
            {"File_Volume", RegistryValue::Integer(1000)},
            {"CD_Volume", RegistryValue::Integer(2000)},
        };
        for (int i = 1; i <= 30; ++i) {
            values.emplace_back(settings_value::Col(i),
                                RegistryValue::Integer(0x10000u + static_cast<DWORD>(i)));
        }
        Store(values);
    }
    void Pump() {
        for (int i = 0; i < 4; ++i) {
            platform::MessageLoop::Gui().ProcessMessages();
        }
    }

    std::shared_ptr<platform::VirtualRegistryStore> store =
        std::make_shared<platform::VirtualRegistryStore>();
    platform::VirtualSingleInstance instances;
    platform::ScopedSingleInstance scopedInstances{instances};
    std::string folder;
};

TEST_F(StartupTest, FirstStartCreatesTheKeyUsesStandardColoursClaimsAndReadsNothingElse) {
    EXPECT_EQ(HandOverToRunningInstance(""), TStartDecision::StartNormally);
    TMutexStep step = FormCreateMutexStep("");
    ASSERT_EQ(step.decision, TMutexStep::Decision::Continue);
    ASSERT_TRUE(step.mutex);
    EXPECT_EQ(store->WriteCount(), 0) << "nothing written before the window shows";
    EXPECT_TRUE(store->Tree().keys.empty());

    // Values without the Scheme marker are not read on a first run.
    Store({{"Buffers", RegistryValue::Integer(40)}, {"Col1", RegistryValue::Integer(7)}});
    FakeMainWindow window(folder);
    const auto config = test::FreshFolder("config");
    const std::string savedConfig = std::getenv("XDG_CONFIG_HOME");
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    window.settings.claimFileTypes = [&window] {
        ++window.claims;
        return ClaimFileTypes();
    };
    ASSERT_TRUE(window.settings.TakeFirstShow());
    EXPECT_FALSE(window.settings.TakeFirstShow()) << "settings are loaded on the first show only";
    window.settings.LoadSettings(window);
    EXPECT_EQ(Text("WH"), platform::WindowHandleText(window.WindowHandle()));
    EXPECT_EQ(window.colours, StandardColours());
    EXPECT_EQ(window.claims, 1);
    setenv("XDG_CONFIG_HOME", savedConfig.c_str(), 1);
    EXPECT_NE(test::ReadWhole(config / "mimeapps.list").find("audio/mpeg=tunefold.desktop;"),
              std::string::npos);
    EXPECT_EQ(store->Tree().keys.count("HKEY_CLASSES_ROOT\\.mp3"), 1u) << "the old default is kept";
    EXPECT_EQ(window.waveOut.NumBuffers(), 132);
    EXPECT_EQ(window.settings.CDVolume(), 16384);
    int left = 0, top = 0;
    TMainSettings::PlaceMainWindow({0, 0, 1920, 1050}, 120, window.settings.StoredLeft(),
                                   window.settings.StoredTop(), left, top);
    EXPECT_EQ(left, 0);
    EXPECT_EQ(top, 930) << "bottom-left corner of the work area";

    window.left = -7;
    window.top = 333;
    window.cdWheel = 9000;
    window.settings.FormClose(window);
    EXPECT_FALSE(window.autoAdvance);
    EXPECT_EQ(Text("WH"), "0");
    EXPECT_EQ(Text("Scheme"), "Y");
    EXPECT_EQ(Number("Left"), 0xFFFFFFF9);
    EXPECT_EQ(Number("Top"), 333);
    EXPECT_EQ(Number("Buffers"), 132);
    EXPECT_EQ(Number("BufferSize"), 2048);
    EXPECT_EQ(Number("DeviceID"), 0);
    EXPECT_EQ(Number("CBMode"), 2);
    EXPECT_EQ(Number("File_Volume"), 16384);
    EXPECT_EQ(Number("CD_Volume"), 9000) << "the CD window's wheel, not the CDVolume field";
    EXPECT_EQ(Number("Col16"), 0x808080);
    EXPECT_EQ(Number("Col30"), 0x808000);
}

TEST_F(StartupTest, ALaterStartReadsEveryValueInOrderAndCutsThePosition) {
    StoreEverything();
    FakeMainWindow window(folder);
    window.settings.LoadSettings(window);
    EXPECT_EQ(window.claims, 0);
    EXPECT_EQ(window.waveOut.NumBuffers(), 40);
    EXPECT_EQ(window.waveOut.BufferSize(), 4096);
    EXPECT_EQ(window.waveOut.DeviceID(), 2);
    EXPECT_EQ(window.waveOut.CallBackMode(), cmWindow);
    EXPECT_EQ(window.settings.StoredLeft(), 0x2345);
    EXPECT_EQ(window.settings.StoredTop(), -32768);
    EXPECT_EQ(window.preVolume, 1000);
    EXPECT_EQ(window.settings.CDVolume(), 2000);
    for (int i = 0; i < 30; ++i) {
        EXPECT_EQ(window.colours[static_cast<std::size_t>(i)], 0x10000u + static_cast<unsigned>(i) + 1) << i;
    }
    int left = 0, top = 0;
    TMainSettings::PlaceMainWindow({0, 0, 1920, 1050}, 120, 300, -40, left, top);
    EXPECT_EQ(left, 300);
    EXPECT_EQ(top, -40) << "a stored position is used as it is";
    TMainSettings::PlaceMainWindow({10, 20, 1920, 1050}, 120, 0, 300, left, top);
    EXPECT_EQ(left, 10) << "Left 0 alone sends the window to the corner";
    EXPECT_EQ(top, 930);
    TMainSettings::PlaceMainWindow({10, 20, 1920, 1050}, 120, 300, 0, left, top);
    EXPECT_EQ(left, 10);
}

TEST_F(StartupTest, WrongTypedAndMeaninglessValuesKeepThePresentOneAndLoadingGoesOn) {
    StoreEverything();
    Store({{"Buffers", RegistryValue::String("40")},
           {"CBMode", RegistryValue::Integer(7)},
           {"Col5", RegistryValue::Binary("\x01\x02\x03\x04")}});
    FakeMainWindow window(folder);
    window.colours[4] = 0xABCDEF;
    window.settings.LoadSettings(window);
    EXPECT_EQ(window.waveOut.NumBuffers(), 132) << "a string where a number belongs counts as absent";
    EXPECT_EQ(window.waveOut.BufferSize(), 4096) << "loading went on";
    EXPECT_EQ(window.waveOut.CallBackMode(), cmThread) << "no mode has ordinal 7";
    EXPECT_EQ(window.colours[4], 0xABCDEFu);
    EXPECT_EQ(window.colours[29], 0x10000u + 30);
}

TEST_F(StartupTest, LoadSettingsWhileTheDeviceIsOpenStopsAtDeviceID) {
    StoreEverything();
    Store({{"Buffers", RegistryValue::Integer(132)}, {"BufferSize", RegistryValue::Integer(2048)}});
    FakeMainWindow window(folder);
    WAVEFORMATEX format = test::Stereo16();
    test::PatternSource source(1 << 20, &format);
    window.waveOut.SetCallBackMode(cmWindow);
    window.waveOut.SetInput(&source);
    window.waveOut.Open();
    ASSERT_TRUE(window.waveOut.State().Contains(wosOpened));
    window.colours[0] = 0x55;
    window.preVolume = 777;

    window.settings.LoadSettings(window);
    EXPECT_EQ(Text("WH"), platform::WindowHandleText(window.WindowHandle())) << "WH is written first";
    EXPECT_EQ(window.waveOut.DeviceID(), 0) << "an open device refuses a new DeviceID";
    EXPECT_EQ(window.waveOut.CallBackMode(), cmWindow);
    EXPECT_EQ(window.settings.StoredLeft(), 0) << "nothing after DeviceID is loaded";
    EXPECT_EQ(window.preVolume, 777);
    EXPECT_EQ(window.settings.CDVolume(), 16384) << "set before the values are read";
    EXPECT_EQ(window.colours[0], 0x55u);
    EXPECT_TRUE(window.waveOut.State().Contains(wosOpened)) << "and the device plays on";

    // A different buffer count is refused one step earlier.
    Store({{"Buffers", RegistryValue::Integer(50)}});
    window.settings.LoadSettings(window);
    EXPECT_EQ(window.waveOut.NumBuffers(), 132);
    window.waveOut.Close();
    window.waveOut.SetInput(nullptr);
}

TEST_F(StartupTest, SaveSettingsWritesEveryValueInOneUpdate) {
    StoreEverything();
    FakeMainWindow window(folder);
    window.settings.LoadSettings(window);
    window.colours[29] = 0xFFFFFFFF;
    window.preVolume = 32768;
    const int before = store->WriteCount();
    ASSERT_TRUE(window.settings.SaveSettings(window));
    EXPECT_EQ(store->WriteCount(), before + 1);
    EXPECT_EQ(Number("Col30"), 0xFFFFFFFF);
    EXPECT_EQ(Number("File_Volume"), 32768);
    EXPECT_EQ(Number("DeviceID"), 2);
    EXPECT_EQ(Values().size(), 1u + 1u + 8u + 30u) << "WH, Scheme, 8 values and 30 colours";

    store->SetWriteFails(true);
    EXPECT_FALSE(window.settings.SaveSettings(window)) << "a failed store is reported, not hidden";
    store->SetWriteFails(false);
}

TEST_F(StartupTest, WithoutADeviceTheStoredDeviceStays) {
    Store({{"Scheme", RegistryValue::String("Y")}, {"DeviceID", RegistryValue::Integer(2)}});
    test::Card().SetDevices({});
    FakeMainWindow window(folder);
    window.settings.LoadSettings(window);
    ASSERT_EQ(window.waveOut.DeviceID(), -2) << "no device to choose";
    ASSERT_TRUE(window.settings.SaveSettings(window));
    EXPECT_EQ(Number("DeviceID"), 2) << "-2 names no device and is not stored over the user's";
}

TEST_F(StartupTest, AnEarlierInstanceClosingNeverWipesALaterInstancesHandle) {
    FakeMainWindow first(folder);
    first.settings.LoadSettings(first);
    FakeMainWindow second(folder);
    second.settings.LoadSettings(second);
    ASSERT_NE(first.WindowHandle(), second.WindowHandle());
    first.settings.FormClose(first);
    EXPECT_EQ(Text("WH"), platform::WindowHandleText(second.WindowHandle()));
    second.settings.FormClose(second);
    EXPECT_EQ(Text("WH"), "0");

    Store({{"WH", RegistryValue::String("not a number")}});
    first.settings.FormClose(first);
    EXPECT_EQ(Text("WH"), "not a number") << "a WH that does not parse is left as it is";
}

TEST_F(StartupTest, ADeadOrMeaninglessWHStartsNormally) {
    platform::WindowHandle dead = 0;
    {
        FakeMainWindow gone(folder);
        gone.settings.LoadSettings(gone);
        dead = gone.WindowHandle();
    } // ended without its close handler: WH still names it
    ASSERT_EQ(Text("WH"), platform::WindowHandleText(dead));
    EXPECT_EQ(HandOverToRunningInstance("/music/a.mp3"), TStartDecision::StartNormally);
    EXPECT_EQ(Text("Param"), "/music/a.mp3") << "written before the post, harmless";

    for (const RegistryValue& wh :
         {RegistryValue::String("0"), RegistryValue::String(""), RegistryValue::String("12x"),
          RegistryValue::String("-4"), RegistryValue::Integer(static_cast<DWORD>(dead))}) {
        Store({{"WH", wh}, {"Param", RegistryValue::String("untouched")}});
        EXPECT_EQ(HandOverToRunningInstance("/b.mp3"), TStartDecision::StartNormally);
        EXPECT_EQ(Text("Param"), "untouched") << "no window named: no hand-over at all";
    }
}

TEST_F(StartupTest, TwoQuickHandOversEachArriveWithTheirOwnPath) {
    FakeMainWindow running(folder);
    running.settings.LoadSettings(running);
    EXPECT_EQ(HandOverToRunningInstance("/music/first.mp3"), TStartDecision::ExitProcess);
    EXPECT_EQ(HandOverToRunningInstance("/music/second.mp3"), TStartDecision::ExitProcess);
    EXPECT_EQ(HandOverToRunningInstance(""), TStartDecision::ExitProcess);
    EXPECT_TRUE(running.handedOver.empty()) << "handled on the GUI thread, not inside the post";
    Pump();
    ASSERT_EQ(running.handedOver.size(), 3u);
    EXPECT_EQ(running.handedOver[0], "/music/first.mp3") << "although Param already holds the second";
    EXPECT_EQ(running.handedOver[1], "/music/second.mp3");
    EXPECT_EQ(running.handedOver[2], "") << "a start without a file only shows the window";
    EXPECT_EQ(Text("Param"), "");

    // A message that carries no path reads Param; without the key nothing is done at all.
    Store({{"Param", RegistryValue::String("/from/param.mp3")}});
    EXPECT_EQ(TMainSettings::WMMypost({platform::WM_USER, 0, 0, ""}), "/from/param.mp3");
    store->SetTree({});
    EXPECT_EQ(TMainSettings::WMMypost({platform::WM_USER, 0, 0, HandOverPayload("/x.mp3")}), std::nullopt);
}

TEST_F(StartupTest, ARelativeArgumentIsMadeAbsoluteBeforeItIsHandedOver) {
    EXPECT_EQ(AbsoluteArgument("song.mp3", "/home/u/music"), "/home/u/music/song.mp3");
    EXPECT_EQ(AbsoluteArgument("./a/b.wav", "/home/u/"), "/home/u/a/b.wav");
    EXPECT_EQ(AbsoluteArgument("../x.m3u", "/home/u"), "/home/u/../x.m3u")
        << "no textual folding across links";
    EXPECT_EQ(AbsoluteArgument("/abs/c.mp3", "/home/u"), "/abs/c.mp3");
    EXPECT_EQ(AbsoluteArgument("", "/home/u"), "");
    EXPECT_EQ(CurrentWorkingFolder(), std::filesystem::current_path().string());
}

TEST_F(StartupTest, APostFromAnotherUserIsRefused) {
    FakeMainWindow running(folder);
    running.settings.LoadSettings(running);
    const std::uint32_t stranger = instances.OwnUid() + 1;
    EXPECT_FALSE(instances.PostToWindowAs(stranger, running.WindowHandle(), platform::WM_USER, 0, 0,
                                          HandOverPayload("/evil.mp3")));
    EXPECT_EQ(instances.RefusedCount(), 1);
    EXPECT_TRUE(instances.PostToWindowAs(instances.OwnUid(), running.WindowHandle(), platform::WM_USER, 0, 0,
                                         HandOverPayload("/ok.mp3")));
    Pump();
    ASSERT_EQ(running.handedOver.size(), 1u);
    EXPECT_EQ(running.handedOver[0], "/ok.mp3");
    EXPECT_TRUE(platform::PeerMayPost(1000, 1000));
    EXPECT_FALSE(platform::PeerMayPost(0, 1000)) << "not even the superuser";
    EXPECT_FALSE(platform::PeerMayPost(1001, 1000));
}

// A clock that only moves when the loser waits; `onWait` lets the other instance act meanwhile.
struct FakeClock {
    std::chrono::steady_clock::time_point now{};
    std::chrono::milliseconds waited{0};
    int waits = 0;
    std::function<void(int)> onWait;
    THandOverClock Clock() {
        return {[this] { return now; },
                [this](std::chrono::milliseconds interval) {
                    now += interval;
                    waited += interval;
                    ++waits;
                    if (onWait) {
                        onWait(waits);
                    }
                }};
    }
};

TEST_F(StartupTest, TheLoserOfTheMutexHandsOverWithinTwoSecondsAndWritesNothing) {
    // The running instance holds the mutex but has not shown its window: WH is not written yet.
    TMutexStep winner = FormCreateMutexStep("");
    ASSERT_EQ(winner.decision, TMutexStep::Decision::Continue);
    FakeMainWindow running(folder);
    ASSERT_EQ(HandOverToRunningInstance("/late.mp3"), TStartDecision::StartNormally);

    FakeClock clock;
    clock.onWait = [&](int waits) {
        if (waits == 3) {
            running.settings.LoadSettings(running);
        }
    };
    const int writesBefore = store->WriteCount();
    TMutexStep loser = FormCreateMutexStep("/late.mp3", clock.Clock());
    EXPECT_EQ(loser.decision, TMutexStep::Decision::ExitProcess);
    EXPECT_FALSE(loser.mutex);
    EXPECT_TRUE(loser.handedOver);
    EXPECT_EQ(clock.waits, 3);
    EXPECT_EQ(store->WriteCount() - writesBefore, 2) << "only the winner's key and WH";
    EXPECT_EQ(Text("Param"), "(none)") << "the loser writes nothing";
    EXPECT_EQ(Text("WH"), platform::WindowHandleText(running.WindowHandle()));
    Pump();
    ASSERT_EQ(running.handedOver.size(), 1u);
    EXPECT_EQ(running.handedOver[0], "/late.mp3");

    // A winner that never shows: the loser gives up after the limit, still without writing.
    store->SetTree({});
    FakeClock idle;
    const int writes = store->WriteCount();
    TMutexStep giveUp = FormCreateMutexStep("/other.mp3", idle.Clock());
    EXPECT_EQ(giveUp.decision, TMutexStep::Decision::ExitProcess);
    EXPECT_FALSE(giveUp.handedOver);
    EXPECT_EQ(idle.waited, HandOverRetryLimit);
    EXPECT_EQ(store->WriteCount(), writes);
    EXPECT_TRUE(store->Tree().keys.empty());

    // Once the winner's mutex is gone, the next instance wins.
    winner.mutex.reset();
    EXPECT_EQ(FormCreateMutexStep("").decision, TMutexStep::Decision::Continue);
}

} // namespace
} // namespace tunefold
