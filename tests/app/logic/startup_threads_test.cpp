// Two real processes: a second start hands its file to the running one and ends with exit code 0.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/logic/settings.h"
#include "app/logic/startup.h"
#include "engine/devices/wave_out_fixture.h"
#include "platform/registry.h"

namespace tunefold {
namespace {

// A second start in a child process with a working folder of its own; its exit code tells what it
// decided (0: handed over, 1: would start normally). The child waits for `go` (bounded).
pid_t SecondStart(int go, const char* folder, const char* argument) {
    pid_t child = ::fork();
    if (child == 0) {
        pollfd p{go, POLLIN, 0};
        char c = 0;
        if (::poll(&p, 1, 10000) != 1 || ::read(go, &c, 1) != 1 || ::chdir(folder) != 0) {
            ::_exit(5);
        }
        const std::string path = AbsoluteArgument(argument, CurrentWorkingFolder());
        ::_exit(HandOverToRunningInstance(path) == TStartDecision::ExitProcess ? 0 : 1);
    }
    return child;
}

int ExitCodeOf(pid_t child) {
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

TEST(StartupProcesses, ASecondStartHandsItsFileOverAndEnds) {
    // The real service and the per-user file store in this run's own folders.
    int first[2], second[2];
    ASSERT_EQ(::pipe(first), 0);
    ASSERT_EQ(::pipe(second), 0);
    // Both children are forked before this process starts a thread.
    const pid_t handing = SecondStart(first[0], "/tmp", "music/song.mp3");
    const pid_t late = SecondStart(second[0], "/", "other.mp3");

    std::vector<std::optional<std::string>> opened;
    auto endpoint = platform::SingleInstance().Listen(
        [&](const platform::WindowMessage& m) { opened.push_back(TMainSettings::WMMypost(m)); });
    ASSERT_TRUE(endpoint);
    {
        platform::RegistryKey key;
        ASSERT_TRUE(key.Open(platform::HKEY_CURRENT_USER, SettingsKeyPath, true));
        ASSERT_TRUE(key.WriteString(settings_value::WH, platform::WindowHandleText(endpoint->Handle())));
    }
    ASSERT_EQ(::write(first[1], "g", 1), 1);
    EXPECT_EQ(ExitCodeOf(handing), 0);
    ASSERT_TRUE(test::PumpUntil([&] { return !opened.empty(); }));
    EXPECT_EQ(opened[0], "/tmp/music/song.mp3") << "made absolute in the second start's folder";

    // Once the window is gone, WH names a dead window: the next start runs on its own.
    endpoint.reset();
    ASSERT_EQ(::write(second[1], "g", 1), 1);
    EXPECT_EQ(ExitCodeOf(late), 1);
    EXPECT_EQ(std::get<std::string>(ReadSettingValue(platform::HKEY_CURRENT_USER, SettingsKeyPath,
                                                     settings_value::Param, std::string())),
              "/other.mp3");
    for (int fd : {first[0], first[1], second[0], second[1]}) {
        ::close(fd);
    }
}

} // namespace
} // namespace tunefold
