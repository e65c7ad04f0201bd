// Editing a mimeapps.list on arbitrary text: it must never fault, every entry set reads back as
// set, setting the same entries again changes nothing, and a text that had a [Default Applications]
// group keeps every line that is not one of our entries.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/mime_apps.h"

namespace {

std::vector<std::string> Lines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        lines.emplace_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    return lines;
}

bool OursOrBlank(const std::string& line, const std::vector<std::pair<std::string, std::string>>& entries) {
    std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return true;
    }
    for (const auto& [key, value] : entries) {
        if (line.compare(first, key.size(), key) == 0) {
            return true;
        }
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::vector<std::pair<std::string, std::string>> entries = {{"audio/mpeg", "tunefold.desktop;"},
                                                                      {"audio/x-wav", "tunefold.desktop;x;"}};
    const std::string edited = tunefold::platform::SetDefaultApplications(text, entries);
    for (const auto& [key, value] : entries) {
        bool found = false;
        if (tunefold::platform::DefaultApplicationEntry(edited, key, found) != value || !found) {
            std::abort(); // what was set does not read back
        }
    }
    if (tunefold::platform::SetDefaultApplications(edited, entries) != edited) {
        std::abort(); // not idempotent
    }
    // Every line of the input that is not one of our entries survives, in order.
    const std::vector<std::string> in = Lines(text);
    const std::vector<std::string> out = Lines(edited);
    std::size_t j = 0;
    for (const std::string& line : in) {
        if (OursOrBlank(line, entries)) {
            continue;
        }
        while (j < out.size() && out[j] != line) {
            ++j;
        }
        if (j == out.size()) {
            std::abort(); // a foreign line was lost
        }
        ++j;
    }
    return 0;
}
