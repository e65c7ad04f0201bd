// The real program on a private session bus, as a desktop's media keys and panel widgets reach it:
// playerctl plays, pauses, seeks and skips, and reads back the status, the title and the position;
// each answer must match what the player was told, and the changes are announced on the bus. At the
// end a Quit over the bus closes the player the way its menu does: status 0, and the settings it
// saves hold the files it opened along the way among its recent files.
// Runs on an X server of its own (Xvfb) with the virtual sound card. Skipped, saying so, where
// dbus-daemon, playerctl or Xvfb is missing or the bus does not start.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "support/desktop_session.h"
#include "support/files.h"
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

// Sets or removes an environment variable for a scope: the children started inside see it.
class MprisEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"dbus-daemon", "playerctl", "Xvfb"}) {
            if (!OnPath(tool)) {
                GTEST_SKIP() << tool << " is not installed here (scripts/install-deps installs it)";
            }
        }
        dir = test::FreshFolder("mpris-e2e");
        bus =
            Spawn({"dbus-daemon", "--session", "--nofork", "--print-address=1"}, (dir / "bus.out").string());
        if (bus <= 0 ||
            !WaitFor([&] { return test::ReadWhole(dir / "bus.out").find('\n') != std::string::npos; },
                     10000)) {
            GTEST_SKIP() << "a session bus could not be started here: "
                         << test::ReadWhole(dir / "bus.out.err").substr(0, 400);
        }
        address.emplace("DBUS_SESSION_BUS_ADDRESS", test::Trimmed(test::ReadWhole(dir / "bus.out")));
        if (std::string whyNot; !x.Start(dir, whyNot)) {
            GTEST_SKIP() << "Xvfb could not start here: " << whyNot;
        }
    }
    void TearDown() override {
        End(player);
        End(monitor);
        End(bus);
        x.Stop();
        address.reset();
    }

    // What `playerctl -p tunefold ARGS` printed (empty when it failed).
    std::string Ctl(const std::vector<std::string>& args) {
        std::vector<std::string> all{"timeout", "10", "playerctl", "-p", "tunefold"};
        all.insert(all.end(), args.begin(), args.end());
        return test::Trimmed(test::Run(all, dir / "playerctl.out"));
    }
    bool Becomes(const std::vector<std::string>& args, const std::string& want) {
        return WaitFor([&] { return Ctl(args) == want; }, 10000);
    }
    double Position() {
        const std::string p = Ctl({"position"});
        return p.empty() ? -1.0 : std::atof(p.c_str());
    }

    fs::path dir;
    pid_t bus = -1;
    test::PrivateX x;
    pid_t monitor = -1;
    pid_t player = -1;
    std::optional<ScopedEnv> address;
};

TEST_F(MprisEndToEnd, PlayerctlDrivesThePlayerAndReadsItsState) {
    const fs::path music = dir / "music";
    fs::create_directories(music);
    fs::copy_file(test::Fixture("id3v2_utf8.mp3"), music / "first.mp3");
    fs::copy_file(test::Fixture("pcm16_stereo_44100.wav"), music / "second.wav");
    test::WriteBytes(music / "list.lst", "first.mp3\r\nsecond.wav\r\n");

    monitor = Spawn({"dbus-monitor", "--session",
                     "type='signal',interface='org.freedesktop.DBus.Properties',member='PropertiesChanged'"},
                    (dir / "monitor.out").string());
    {
        ScopedEnv platform("TUNEFOLD_PLATFORM", std::string("virtual"));
        ScopedEnv qpa("QT_QPA_PLATFORM", std::nullopt);
        player = Spawn({TUNEFOLD_BINARY_DIR "/tunefold", (music / "list.lst").string()},
                       (dir / "player.log").string());
    }
    ASSERT_GT(player, 0);
    // The list is open once the first show ran: the first entry is the track.
    ASSERT_TRUE(Becomes({"metadata", "title"}, "naïve €uro 🎵"))
        << "no player on the bus: " << test::ReadWhole(dir / "player.log.err");
    EXPECT_EQ(Ctl({"status"}), "Stopped");
    EXPECT_EQ(Ctl({"metadata", "artist"}), "Zoë");
    EXPECT_EQ(Ctl({"metadata", "xesam:url"}), "file://" + (music / "first.mp3").string());

    Ctl({"play"});
    EXPECT_TRUE(Becomes({"status"}, "Playing"));
    EXPECT_TRUE(WaitFor([&] { return Position() > 0.2; }, 10000)) << "the position does not move";

    Ctl({"pause"});
    EXPECT_TRUE(Becomes({"status"}, "Paused"));
    // A paused player's position stands still (once the display's last tick caught up with it):
    // seven reads in a row, spanning several of its 150 ms ticks, give one value.
    double held = -1;
    int same = 0;
    EXPECT_TRUE(WaitFor(
        [&] {
            const double p = Position();
            same = p == held ? same + 1 : 0;
            held = p;
            return same >= 6;
        },
        10000))
        << "the position moves while paused";
    EXPECT_GT(held, 0.0);

    Ctl({"play"});
    EXPECT_TRUE(Becomes({"status"}, "Playing"));
    Ctl({"position", "0.5"});
    const double sought = Position();
    EXPECT_GE(sought, 0.5);
    EXPECT_LT(sought, 0.9);
    EXPECT_EQ(Ctl({"status"}), "Playing");

    Ctl({"next"});
    EXPECT_TRUE(Becomes({"metadata", "title"}, "second.wav"));
    EXPECT_EQ(Ctl({"metadata", "xesam:url"}), "file://" + (music / "second.wav").string());
    Ctl({"previous"});
    EXPECT_TRUE(Becomes({"metadata", "title"}, "naïve €uro 🎵"));
    Ctl({"stop"});
    EXPECT_TRUE(Becomes({"status"}, "Stopped"));

    // Every change was announced.
    const std::string signals = test::ReadWhole(dir / "monitor.out");
    for (const char* seen : {"\"Playing\"", "\"Paused\"", "\"Stopped\"", "second.wav"}) {
        EXPECT_NE(signals.find(seen), std::string::npos) << seen << " never announced:\n"
                                                         << signals.substr(0, 2000);
    }

    // Quit closes the player as its menu does: the settings are written, the last file opened first.
    test::Run({"timeout", "10", "dbus-send", "--session", "--print-reply",
               "--dest=org.mpris.MediaPlayer2.tunefold", "/org/mpris/MediaPlayer2",
               "org.mpris.MediaPlayer2.Quit"},
              dir / "quit.out");
    int status = 0;
    ASSERT_TRUE(WaitFor([&] { return waitpid(player, &status, WNOHANG) == player; }, 10000))
        << "Quit did not end the player";
    player = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << test::ReadWhole(dir / "player.log.err");
    const fs::path store = fs::path(std::getenv("XDG_CONFIG_HOME")) / "tunefold" / "registry.reg";
    // Both files were opened by the player itself: the skipped-to one is the newest recent file.
    const std::string stored = test::ReadWhole(store);
    EXPECT_NE(stored.find("\"MRUD1\"=\"" + (music / "second.wav").string() + "\""), std::string::npos)
        << stored;
    EXPECT_NE(stored.find("\"MRUD2\"=\"" + (music / "first.mp3").string() + "\""), std::string::npos)
        << stored;
}

} // namespace
} // namespace tunefold
