// What the test main sets up for every test binary.
#pragma once

#include <filesystem>

namespace tunefold::test {
// The fresh temporary folder holding home/, config/, data/, runtime/ and program/ of this run.
const std::filesystem::path& Sandbox();
} // namespace tunefold::test
