// The real program as a user runs it: `tunefold --play FILE` on an X server of its own (Xvfb),
// playing through the real ALSA backend into a private PulseAudio null sink whose monitor is
// recorded; the music must be heard there. Then Ctrl+Q, typed through the X server, ends the
// program with status 0. Skipped, saying so, where PulseAudio, Xvfb or xdotool is missing.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "support/desktop_session.h"
#include "support/private_pulse.h"
#include "support/pull.h"

namespace tunefold {
namespace {

namespace fs = std::filesystem;
using test::End;
using test::OnPath;
using test::ScopedEnv;
using test::Spawn;
using test::WaitFor;

// The loudest sample of a raw s16le recording.
int Peak(const fs::path& recording) {
    const std::string bytes = test::ReadWhole(recording);
    int peak = 0;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto s = static_cast<std::int16_t>(static_cast<std::uint8_t>(bytes[i]) |
                                                 static_cast<std::uint8_t>(bytes[i + 1]) << 8);
        peak = std::max(peak, std::abs(static_cast<int>(s)));
    }
    return peak;
}

// Sets or removes an environment variable for a scope: the children started inside see it.
class PlayerEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"Xvfb", "xdotool", "parec"}) {
            if (!OnPath(tool)) {
                GTEST_SKIP() << tool << " is not installed here (scripts/install-deps installs it)";
            }
        }
        std::string why;
        if (!pulse.Start("tunefold_player_sink", why)) {
            GTEST_SKIP() << "PulseAudio could not start here: " << why;
        }
        dir = pulse.Dir();
        if (std::string whyNot; !x.Start(dir, whyNot)) {
            GTEST_SKIP() << "Xvfb could not start here: " << whyNot;
        }
    }
    void TearDown() override {
        End(player);
        End(recorder);
        x.Stop();
        pulse.Stop();
    }
    // Waits for the player to end by itself; its exit status, or -1 when it did not end in time.
    int WaitForExit(int timeoutMs) {
        int status = 0;
        const bool ended = WaitFor([&] { return waitpid(player, &status, WNOHANG) == player; }, timeoutMs);
        if (!ended) {
            return -1;
        }
        player = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    test::PrivatePulse pulse;
    fs::path dir;
    test::PrivateX x;
    pid_t recorder = -1;
    pid_t player = -1;
};

TEST_F(PlayerEndToEnd, PlaysIntoTheSoundServerTakesASecondStartsFileAndCtrlQSavesTheSettings) {
    const fs::path recording = dir / "monitor.raw";
    recorder = Spawn({"parec", "-d", "tunefold_player_sink.monitor", "--format=s16le", "--rate=44100",
                      "--channels=2", "--raw", "--latency-msec=20"},
                     recording.string());
    ASSERT_GT(recorder, 0);
    ASSERT_TRUE(WaitFor([&] { return fs::exists(recording) && fs::file_size(recording) > 44100; }, 10000))
        << "parec recorded nothing";
    ASSERT_EQ(Peak(recording), 0) << "the sink was not silent before the player started";

    const std::string track = test::Fixture("l3_vbr_stereo_44100.mp3");
    {
        // The real sound path and the real display: none of the tests' virtual devices.
        ScopedEnv real("TUNEFOLD_PLATFORM", std::nullopt);
        ScopedEnv qpa("QT_QPA_PLATFORM", std::nullopt);
        player = Spawn({TUNEFOLD_BINARY_DIR "/tunefold", "--play", track}, (dir / "player.log").string());
    }
    ASSERT_GT(player, 0);
    const std::string shown = test::Run(
        {"timeout", "20", "xdotool", "search", "--sync", "--onlyvisible", "--name", "^Tunefold File Player$"},
        dir / "search.out");
    ASSERT_FALSE(shown.empty()) << "no window: " << test::ReadWhole(dir / "player.log.err");

    // The fixture is a two-tone piece at half scale: what reaches the sink is loud.
    EXPECT_TRUE(WaitFor([&] { return Peak(recording) > 4000; }, 20000))
        << "the sink heard nothing: peak " << Peak(recording) << "; "
        << test::ReadWhole(dir / "player.log.err");

    // A second start with a file, from another working folder: it hands the file over and ends
    // with status 0, showing nothing; the running player opens it (its recent files say so).
    const fs::path other = dir / "second" / "other.wav";
    fs::create_directories(other.parent_path());
    fs::copy_file(test::Fixture("pcm16_stereo_44100.wav"), other);
    const fs::path here = fs::current_path();
    pid_t second = -1;
    {
        ScopedEnv real("TUNEFOLD_PLATFORM", std::nullopt);
        ScopedEnv qpa("QT_QPA_PLATFORM", std::nullopt);
        fs::current_path(other.parent_path());
        second = Spawn({TUNEFOLD_BINARY_DIR "/tunefold", "other.wav"}, (dir / "second.log").string());
        fs::current_path(here);
    }
    ASSERT_GT(second, 0);
    int secondStatus = -1;
    ASSERT_TRUE(WaitFor([&] { return waitpid(second, &secondStatus, WNOHANG) == second; }, 10000))
        << "the second start did not end";
    EXPECT_TRUE(WIFEXITED(secondStatus) && WEXITSTATUS(secondStatus) == 0)
        << test::ReadWhole(dir / "second.log.err");
    const fs::path store = fs::path(std::getenv("XDG_CONFIG_HOME")) / "tunefold" / "registry.reg";
    EXPECT_TRUE(WaitFor(
        [&] {
            return test::ReadWhole(store).find("\"MRUD1\"=\"" + other.string() + "\"") != std::string::npos;
        },
        10000))
        << "the running player did not open the handed-over file: " << test::ReadWhole(store);

    const std::string window = shown.substr(0, shown.find('\n'));
    test::Run({"timeout", "10", "xdotool", "windowfocus", "--sync", window, "key", "ctrl+q"},
              dir / "key.out");
    EXPECT_EQ(WaitForExit(10000), 0) << test::ReadWhole(dir / "player.log.err");
    // Closing wrote the settings: no instance runs now, and they have been saved.
    const std::string stored = test::ReadWhole(store);
    EXPECT_NE(stored.find("\"WH\"=\"0\""), std::string::npos) << stored;
    EXPECT_NE(stored.find("\"Scheme\"=\"Y\""), std::string::npos) << stored;
    EXPECT_NE(stored.find("\"Col30\"=dword:"), std::string::npos) << stored;
}

} // namespace
} // namespace tunefold
