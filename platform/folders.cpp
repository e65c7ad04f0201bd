#include "platform/folders.h"

#include <atomic>

namespace tunefold::platform {

FolderService& LinuxFolders(); // platform/linux/folders.cpp

namespace {

std::atomic<FolderService*> installed{nullptr};

bool Below(std::string_view path, std::string_view folder) {
    return path.size() > folder.size() + 1 && path.substr(0, folder.size()) == folder &&
           path[folder.size()] == '/';
}

// Mount tables write a blank, a tab, a line feed and a backslash in a field as "\ooo".
std::string DecodeField(std::string_view field) {
    std::string out;
    const auto octal = [](char c) { return c >= '0' && c <= '7'; };
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && octal(field[i + 1]) && octal(field[i + 2]) &&
            octal(field[i + 3])) {
            out += static_cast<char>(((field[i + 1] - '0') << 6) | ((field[i + 2] - '0') << 3) |
                                     (field[i + 3] - '0'));
            i += 3;
            continue;
        }
        out += field[i];
    }
    return out;
}

} // namespace

std::vector<std::string> MediaMountPoints(std::string_view mounts) {
    std::vector<std::string> points;
    while (!mounts.empty()) {
        const std::size_t end = mounts.find('\n');
        std::string_view line = mounts.substr(0, end);
        mounts = end == std::string_view::npos ? std::string_view() : mounts.substr(end + 1);
        // device, mount point, type, options, ...
        const std::size_t a = line.find(' ');
        if (a == std::string_view::npos) {
            continue;
        }
        const std::size_t b = line.find(' ', a + 1);
        const std::string point =
            DecodeField(line.substr(a + 1, b == std::string_view::npos ? line.npos : b - a - 1));
        if (!(Below(point, "/media") || Below(point, "/run/media") || Below(point, "/mnt"))) {
            continue;
        }
        bool known = false;
        for (const std::string& p : points) {
            known = known || p == point;
        }
        if (!known) {
            points.push_back(point);
        }
    }
    return points;
}

FolderService& Folders() {
    FolderService* service = installed.load();
    return service != nullptr ? *service : LinuxFolders();
}

FolderService* SetFolders(FolderService* service) {
    return installed.exchange(service);
}

} // namespace tunefold::platform
