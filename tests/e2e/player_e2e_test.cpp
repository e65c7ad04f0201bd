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

#include "support/private_pulse.h"
#include "support/pull.h"

namespace tunefold {
namespace {

namespace fs = std::filesystem;
using test::End;
using test::Spawn;
using test::WaitFor;

std::string ReadText(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The loudest sample of a raw s16le recording.
int Peak(const fs::path& recording) {
    const std::string bytes = ReadText(recording);
    int peak = 0;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto s = static_cast<std::int16_t>(static_cast<std::uint8_t>(bytes[i]) |
                                                 static_cast<std::uint8_t>(bytes[i + 1]) << 8);
        peak = std::max(peak, std::abs(static_cast<int>(s)));
    }
    return peak;
}

bool OnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string rest = path != nullptr ? path : "";
    while (!rest.empty()) {
        const auto colon = rest.find(':');
        const std::string dir = rest.substr(0, colon);
        if (!dir.empty() && access((dir + "/" + program).c_str(), X_OK) == 0) {
            return true;
        }
        rest = colon == std::string::npos ? "" : rest.substr(colon + 1);
    }
    return false;
}

// Sets or removes an environment variable for a scope: the children started inside see it.
class ScopedEnv {
public:
    ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        if (value) {
            setenv(name, value->c_str(), 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            setenv(name_, old_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

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
        // Xvfb picks a free display and writes its number to the descriptor it is given.
        xvfb = Spawn({"Xvfb", "-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"},
                     (dir / "xvfb.out").string());
        if (xvfb <= 0 ||
            !WaitFor([&] { return ReadText(dir / "xvfb.out").find('\n') != std::string::npos; }, 10000)) {
            GTEST_SKIP() << "Xvfb could not start here: " << ReadText(dir / "xvfb.out.err").substr(0, 400);
        }
        std::string number = ReadText(dir / "xvfb.out");
        number.erase(number.find_last_not_of("\r\n ") + 1);
        display.emplace("DISPLAY", ":" + number);
    }
    void TearDown() override {
        End(player);
        End(recorder);
        End(xvfb);
        display.reset();
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
    pid_t xvfb = -1;
    pid_t recorder = -1;
    pid_t player = -1;
    std::optional<ScopedEnv> display;
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
    ASSERT_FALSE(shown.empty()) << "no window: " << ReadText(dir / "player.log.err");

    // The fixture is a two-tone piece at half scale: what reaches the sink is loud.
    EXPECT_TRUE(WaitFor([&] { return Peak(recording) > 4000; }, 20000))
        << "the sink heard nothing: peak " << Peak(recording) << "; " << ReadText(dir / "player.log.err");

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
        << ReadText(dir / "second.log.err");
    const fs::path store = fs::path(std::getenv("XDG_CONFIG_HOME")) / "tunefold" / "registry.reg";
    EXPECT_TRUE(WaitFor(
        [&] { return ReadText(store).find("\"MRUD1\"=\"" + other.string() + "\"") != std::string::npos; },
        10000))
        << "the running player did not open the handed-over file: " << ReadText(store);

    const std::string window = shown.substr(0, shown.find('\n'));
    test::Run({"timeout", "10", "xdotool", "windowfocus", "--sync", window, "key", "ctrl+q"},
              dir / "key.out");
    EXPECT_EQ(WaitForExit(10000), 0) << ReadText(dir / "player.log.err");
    // Closing wrote the settings: no instance runs now, and they have been saved.
    const std::string stored = ReadText(store);
    EXPECT_NE(stored.find("\"WH\"=\"0\""), std::string::npos) << stored;
    EXPECT_NE(stored.find("\"Scheme\"=\"Y\""), std::string::npos) << stored;
    EXPECT_NE(stored.find("\"Col30\"=dword:"), std::string::npos) << stored;
}

} // namespace
} // namespace tunefold
