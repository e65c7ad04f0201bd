// The real file system for the playlist editor's folder and file lists.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "platform/folders.h"

namespace tunefold::platform {

namespace {

// A mount table of a few hundred lines is some kilobytes; never read without end.
constexpr std::size_t kMountsCap = 1u << 20;

std::string ReadMounts() {
    std::ifstream in("/proc/self/mounts", std::ios::binary);
    std::string text;
    char buffer[4096];
    while (in && text.size() < kMountsCap) {
        in.read(buffer, sizeof buffer);
        text.append(buffer, static_cast<std::size_t>(in.gcount()));
    }
    return text;
}

class RealFolders : public FolderService {
public:
    std::vector<Place> Places() override {
        std::vector<Place> places;
        const char* home = std::getenv("HOME");
        if (home != nullptr && home[0] == '/') {
            places.push_back({std::string("Home (") + home + ")", home});
        }
        places.push_back({"/ (File System)", "/"});
        for (const std::string& point : MediaMountPoints(ReadMounts())) {
            places.push_back({point, point});
        }
        return places;
    }

    FolderContents List(const std::string& folder) override {
        namespace fs = std::filesystem;
        FolderContents contents;
        std::error_code ec;
        fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
        if (ec) {
            return contents;
        }
        contents.readable = true;
        for (const fs::directory_iterator end; it != end; it.increment(ec)) {
            if (ec) {
                break;
            }
            const std::string name = it->path().filename().string();
            if (name.empty() || name[0] == '.') {
                continue;
            }
            std::error_code statError;
            const fs::file_status status = it->status(statError); // links followed
            if (statError) {
                continue;
            }
            if (fs::is_directory(status)) {
                contents.folders.push_back(name);
            } else if (fs::is_regular_file(status)) {
                contents.files.push_back(name);
            }
        }
        return contents;
    }
};

} // namespace

FolderService& LinuxFolders() {
    static RealFolders folders;
    return folders;
}

} // namespace tunefold::platform
