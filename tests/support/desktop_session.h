// What the end-to-end tests of the real program need around it besides sound: the tools on PATH,
// environment variables set for a while, and an X server of their own (Xvfb).
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "support/files.h"
#include "support/private_pulse.h"

namespace tunefold::test {

// Whether `program` is an executable in one of PATH's folders.
inline bool OnPath(const std::string& program) {
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

// Sets (or, with nullopt, removes) an environment variable until it goes out of scope.
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

// `text` without the line ends and spaces at its end.
inline std::string Trimmed(std::string text) {
    text.erase(text.find_last_not_of("\r\n ") + 1);
    return text;
}

// An Xvfb on a free display, DISPLAY naming it while it runs.
class PrivateX {
public:
    ~PrivateX() { Stop(); }
    // Starts the server, its output in `dir`; false with the reason when it could not.
    bool Start(const std::filesystem::path& dir, std::string& why) {
        // Xvfb picks a free display and writes its number to the descriptor it is given.
        pid_ = Spawn({"Xvfb", "-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"},
                     (dir / "xvfb.out").string());
        if (pid_ <= 0 ||
            !WaitFor([&] { return ReadWhole(dir / "xvfb.out").find('\n') != std::string::npos; }, 10000)) {
            why = ReadWhole(dir / "xvfb.out.err").substr(0, 400);
            return false;
        }
        display_.emplace("DISPLAY", ":" + Trimmed(ReadWhole(dir / "xvfb.out")));
        return true;
    }
    void Stop() {
        End(pid_);
        display_.reset();
    }

private:
    pid_t pid_ = -1;
    std::optional<ScopedEnv> display_;
};

} // namespace tunefold::test
