// Runs tunefold-render as a user does, from a shell, and keeps what it printed.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "support/files.h"
#include "support/test_env.h"

namespace tunefold::test {

struct RenderRun {
    int status = -1; // the exit status; 128 + n for a program ended by signal n
    std::string out;
    std::string err;
};

// `args` go to the shell as written: quote what needs it.
inline RenderRun RunRender(const std::string& args, const std::string& environment = "") {
    const auto err = Sandbox() / "render-err.txt";
    const std::string command = environment + " " + std::string(TUNEFOLD_BINARY_DIR) +
                                "/tools/tunefold-render " + args + " 2>" + err.string();
    RenderRun r;
    FILE* p = popen(command.c_str(), "r");
    if (p == nullptr) {
        return r;
    }
    char buffer[4096];
    std::size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) {
        r.out.append(buffer, n);
    }
    const int status = pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
    r.err = ReadWhole(err);
    return r;
}

} // namespace tunefold::test
