// A private PulseAudio for the tests that go through the real ALSA backends: a null sink that is
// the default sink, its monitor the default source, a second null sink (tunefold_out) for a
// program that records the first while it plays, ALSA's "default" routed to the server. The
// fixture skips its test, saying why, only when the server cannot start.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "support/test_env.h"

extern char** environ;

namespace tunefold::test {

inline pid_t Spawn(const std::vector<std::string>& args, const std::string& outFile) {
    std::vector<char*> argv;
    for (const auto& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, (outFile + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

inline void End(pid_t& pid) {
    if (pid > 0) {
        kill(pid, SIGTERM);
        int status = 0;
        for (int i = 0; i < 300 && waitpid(pid, &status, WNOHANG) == 0; ++i) {
            usleep(10000);
        }
        if (waitpid(pid, &status, WNOHANG) == 0) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
        }
        pid = -1;
    }
}

inline bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < until) {
        if (done()) {
            return true;
        }
        usleep(5000);
    }
    return done();
}

inline std::uintmax_t FileSize(const std::filesystem::path& p) {
    std::error_code ec;
    auto n = std::filesystem::file_size(p, ec);
    return ec ? 0 : n;
}

class PrivatePulse : public ::testing::Test {
protected:
    void SetUp() override {
        dir = test::Sandbox() / "pulse";
        std::filesystem::create_directories(dir / "runtime");
        std::filesystem::permissions(dir / "runtime", std::filesystem::perms::owner_all);
        socket = (dir / "runtime" / "native").string();
        std::ofstream(dir / "server.pa")
            << "load-module module-native-protocol-unix auth-anonymous=1 socket=" << socket << "\n"
            << "load-module module-null-sink sink_name=tunefold_sink rate=44100 "
               "channels=2 format=s16le\n"
            << "load-module module-null-sink sink_name=tunefold_out rate=44100 "
               "channels=2 format=s16le\n"
            << "set-default-sink tunefold_sink\n"
            << "set-default-source tunefold_sink.monitor\n";
        // ALSA's default goes to that server whatever the machine's configuration says.
        const char* home = std::getenv("HOME");
        ASSERT_NE(home, nullptr);
        std::ofstream(std::filesystem::path(home) / ".asoundrc")
            << "pcm.!default { type pulse }\nctl.!default { type pulse }\n";
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        savedRuntime = runtime != nullptr ? runtime : "";
        setenv("PULSE_SERVER", ("unix:" + socket).c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (dir / "runtime").c_str(), 1);

        std::vector<std::string> args{"pulseaudio",
                                      "-n",
                                      "--daemonize=no",
                                      "--exit-idle-time=-1",
                                      "--system=false",
                                      "--disallow-exit",
                                      "--disable-shm=yes",
                                      "-F",
                                      (dir / "server.pa").string()};
        if (geteuid() != 0) {
            args.erase(args.begin() + 4); // --system=false is only needed (and only accepted quietly) as root
        }
        server = Spawn(args, (dir / "server.log").string());
        const bool up = server > 0 && WaitFor(
                                          [&] {
                                              struct stat st {};
                                              return stat(socket.c_str(), &st) == 0;
                                          },
                                          10000);
        if (!up) {
            std::ifstream log(dir / "server.log.err");
            std::string why((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
            End(server);
            GTEST_SKIP() << "PulseAudio could not start here: " << why.substr(0, 400);
        }
    }
    void TearDown() override {
        End(recorder);
        End(server);
        // The rest of the run keeps its own runtime folder.
        setenv("XDG_RUNTIME_DIR", savedRuntime.c_str(), 1);
        unsetenv("PULSE_SERVER");
    }
    std::string savedRuntime;
    std::filesystem::path dir;
    std::string socket;
    pid_t server = -1;
    pid_t recorder = -1;
};

} // namespace tunefold::test
