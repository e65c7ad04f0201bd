#include "platform/mime_apps.h"

#include <cstdlib>

namespace tunefold::platform {

namespace {

struct Line {
    std::string content;
    std::string ending; // "\r\n", "\n", "\r", or "" for a last line without one
};

std::vector<Line> SplitLines(std::string_view text) {
    std::vector<Line> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) {
            lines.push_back({std::string(text.substr(pos)), ""});
            break;
        }
        std::size_t next = end + 1;
        if (text[end] == '\r' && next < text.size() && text[next] == '\n') {
            ++next;
        }
        lines.push_back(
            {std::string(text.substr(pos, end - pos)), std::string(text.substr(end, next - end))});
        pos = next;
    }
    return lines;
}

// The group a header line opens ("[Name]"), or false for any other line.
bool GroupHeader(std::string_view content, std::string& group) {
    std::string_view t = TrimBlanks(content);
    if (t.size() < 2 || t.front() != '[' || t.back() != ']') {
        return false;
    }
    group.assign(t.substr(1, t.size() - 2));
    return true;
}

// The key and value of an entry line; false for comments, blank and other lines.
bool Entry(std::string_view content, std::string_view& key, std::string_view& value) {
    std::string_view t = TrimBlanks(content);
    if (t.empty() || t.front() == '#') {
        return false;
    }
    std::size_t eq = t.find('=');
    if (eq == std::string_view::npos) {
        return false;
    }
    key = TrimBlanks(t.substr(0, eq));
    value = TrimBlanks(t.substr(eq + 1));
    return !key.empty();
}

} // namespace

std::string_view MimeTypeOfExtension(std::string_view extension) {
    // As shared-mime-info names them (the types its globs give these extensions).
    if (extension == ".wav") {
        return "audio/x-wav";
    }
    if (extension == ".mp2") {
        return "audio/mp2";
    }
    if (extension == ".mp3") {
        return "audio/mpeg";
    }
    if (extension == ".m3u") {
        return "audio/x-mpegurl";
    }
    return {};
}

std::string DefaultApplicationEntry(std::string_view text, std::string_view mimeType, bool& found) {
    found = false;
    bool inGroup = false;
    for (const Line& line : SplitLines(text)) {
        std::string group;
        if (GroupHeader(line.content, group)) {
            inGroup = group == DefaultApplicationsGroup;
            continue;
        }
        std::string_view key, value;
        if (inGroup && Entry(line.content, key, value) && key == mimeType) {
            found = true;
            return std::string(value);
        }
    }
    return {};
}

std::string SetDefaultApplications(std::string_view text,
                                   const std::vector<std::pair<std::string, std::string>>& entries) {
    std::vector<Line> lines = SplitLines(text);
    std::string newline = "\n";
    for (const Line& line : lines) {
        if (!line.ending.empty()) {
            newline = line.ending;
            break;
        }
    }
    std::vector<bool> done(entries.size(), false);
    std::vector<Line> out;
    out.reserve(lines.size() + entries.size() + 2);
    bool inGroup = false;
    long firstGroupEnd = -1; // index in `out` after the last non-blank line of the first group
    bool firstGroupOpen = false;
    bool groupSeen = false;
    for (Line& line : lines) {
        std::string group;
        if (GroupHeader(line.content, group)) {
            inGroup = group == DefaultApplicationsGroup;
            firstGroupOpen = inGroup && !groupSeen;
            if (firstGroupOpen) {
                groupSeen = true;
                firstGroupEnd = static_cast<long>(out.size()) + 1;
            }
            out.push_back(std::move(line));
            continue;
        }
        std::string_view key, value;
        if (inGroup && Entry(line.content, key, value)) {
            bool dropped = false;
            for (std::size_t i = 0; i < entries.size(); ++i) {
                if (key != entries[i].first) {
                    continue;
                }
                if (done[i]) {
                    dropped = true; // a later duplicate would contradict the value we set
                } else {
                    line.content = entries[i].first + "=" + entries[i].second;
                    done[i] = true;
                }
                break;
            }
            if (dropped) {
                continue;
            }
        }
        const bool blank = TrimBlanks(line.content).empty();
        out.push_back(std::move(line));
        if (firstGroupOpen && !blank) {
            firstGroupEnd = static_cast<long>(out.size());
        }
    }
    std::vector<Line> added;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (!done[i]) {
            added.push_back({entries[i].first + "=" + entries[i].second, newline});
        }
    }
    if (!added.empty()) {
        if (firstGroupEnd < 0) {
            if (!out.empty() && out.back().ending.empty()) {
                out.back().ending = newline;
            }
            if (!out.empty()) {
                out.push_back({"", newline});
            }
            out.push_back({"[" + std::string(DefaultApplicationsGroup) + "]", newline});
            firstGroupEnd = static_cast<long>(out.size());
        }
        Line& before = out[static_cast<std::size_t>(firstGroupEnd - 1)];
        if (before.ending.empty()) {
            before.ending = newline;
        }
        out.insert(out.begin() + firstGroupEnd, added.begin(), added.end());
    }
    std::string result;
    result.reserve(text.size() + 64 * added.size());
    for (const Line& line : out) {
        result += line.content;
        result += line.ending;
    }
    return result;
}

std::string MimeAppsListPath() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/') {
        return std::string(config) + "/mimeapps.list";
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        return std::string(home) + "/.config/mimeapps.list";
    }
    return {};
}

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
        s.remove_suffix(1);
    }
    return s;
}

} // namespace tunefold::platform
