// A private PulseAudio for the tests that use the real sound path: its own runtime folder and
// socket, a null sink as the default sink whose monitor is the default source, a second null sink
// (tunefold_out) for a program that records the first while it plays, and ALSA's "default" routed
// to the server through the pulse plugin. Programs it needs (parec, pactl) are started with Spawn
// and ended with End. PulseTest is the fixture that skips its test, saying why, only when the
// server cannot start.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/test_env.h"

extern char** environ;

namespace tunefold::test {

// Starts `args` with its stdout in `outFile` and its stderr in `outFile`.err; -1 when it could not.
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

// Ends a process: SIGTERM, up to 3 s for it to go, then SIGKILL.
inline void End(pid_t& pid) {
    if (pid <= 0) {
        return;
    }
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

// Checks `done` every 5 ms until it holds or `timeoutMs` passes: for what another process does.
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

// Runs a command to its end; its stdout, or "" when it failed.
inline std::string Run(const std::vector<std::string>& args, const std::filesystem::path& scratch) {
    pid_t pid = Spawn(args, scratch.string());
    if (pid <= 0) {
        return {};
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return {};
    }
    std::ifstream in(scratch);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class PrivatePulse {
public:
    // Starts the server with a null sink `sinkName` as the default; false (and `why`) when it could
    // not start here.
    bool Start(const std::string& sinkName, std::string& why) {
        namespace fs = std::filesystem;
        dir_ = Sandbox() / ("pulse-" + sinkName);
        fs::create_directories(dir_ / "runtime");
        fs::permissions(dir_ / "runtime", fs::perms::owner_all);
        socket_ = (dir_ / "runtime" / "native").string();
        std::ofstream(dir_ / "server.pa")
            << "load-module module-native-protocol-unix auth-anonymous=1 socket=" << socket_ << "\n"
            << "load-module module-null-sink sink_name=" << sinkName
            << " rate=44100 channels=2 format=s16le\n"
            << "load-module module-null-sink sink_name=tunefold_out rate=44100 channels=2 format=s16le\n"
            << "set-default-sink " << sinkName << "\n"
            << "set-default-source " << sinkName << ".monitor\n";
        // ALSA's default goes to that server whatever the machine's configuration says.
        const char* home = std::getenv("HOME");
        if (home == nullptr) {
            why = "no HOME";
            return false;
        }
        std::ofstream(fs::path(home) / ".asoundrc")
            << "pcm.!default { type pulse }\nctl.!default { type pulse }\n";
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        savedRuntime_ = runtime != nullptr ? runtime : "";
        setenv("PULSE_SERVER", ("unix:" + socket_).c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (dir_ / "runtime").c_str(), 1);

        std::vector<std::string> args{"pulseaudio",
                                      "-n",
                                      "--daemonize=no",
                                      "--exit-idle-time=-1",
                                      "--system=false",
                                      "--disallow-exit",
                                      "--disable-shm=yes",
                                      "-F",
                                      (dir_ / "server.pa").string()};
        if (geteuid() != 0) {
            args.erase(args.begin() + 4); // --system=false is only needed (and only accepted quietly) as root
        }
        server_ = Spawn(args, (dir_ / "server.log").string());
        const bool up = server_ > 0 && WaitFor(
                                           [&] {
                                               struct stat st {};
                                               return stat(socket_.c_str(), &st) == 0;
                                           },
                                           10000);
        if (!up) {
            std::ifstream log(dir_ / "server.log.err");
            why = std::string((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>())
                      .substr(0, 400);
            Stop();
            return false;
        }
        return true;
    }
    void Stop() {
        End(server_);
        // The rest of the run keeps its own runtime folder.
        if (!savedRuntime_.empty()) {
            setenv("XDG_RUNTIME_DIR", savedRuntime_.c_str(), 1);
        }
        unsetenv("PULSE_SERVER");
    }
    ~PrivatePulse() { Stop(); }
    const std::filesystem::path& Dir() const { return dir_; }

private:
    std::filesystem::path dir_;
    std::string socket_;
    std::string savedRuntime_;
    pid_t server_ = -1;
};

// The fixture of the real-sound tests: the server with its sink "tunefold_sink", `dir` its folder,
// `recorder` a parec the test may start (ended at the test's end).
class PulseTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string why;
        if (!pulse.Start("tunefold_sink", why)) {
            GTEST_SKIP() << "PulseAudio could not start here: " << why;
        }
        dir = pulse.Dir();
    }
    void TearDown() override {
        End(recorder);
        pulse.Stop();
    }
    PrivatePulse pulse;
    std::filesystem::path dir;
    pid_t recorder = -1;
};

} // namespace tunefold::test
