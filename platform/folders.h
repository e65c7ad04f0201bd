// The file system as the playlist editor browses it: the places a user starts from (the home
// folder, the root, mounted media) and the contents of one folder (its subfolders and its files).
// The real backend reads the file system and the mount table; tests install a VirtualFolders to fix
// the places (platform/virtual/virtual_folders.h).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tunefold::platform {

struct Place {
    std::string caption; // what the places combo shows
    std::string path;    // an absolute folder
};

struct FolderContents {
    bool readable = false;            // false: no folder, or it cannot be listed
    std::vector<std::string> folders; // names of the subfolders (links to folders included)
    std::vector<std::string> files;   // names of the regular files (links to files included)
};

class FolderService {
public:
    virtual ~FolderService() = default;
    virtual std::vector<Place> Places() = 0;
    // Names only, without "." and "..", in no particular order; hidden names (a leading ".") left out.
    virtual FolderContents List(const std::string& folder) = 0;
};

// The mount points a user would call media: what is mounted below /media, /run/media and /mnt, in
// the order of `mounts` (the text of /proc/self/mounts). Octal escapes ("\040" for a blank) are
// decoded.
std::vector<std::string> MediaMountPoints(std::string_view mounts);

// The backend in force: the installed one, else the real file system.
FolderService& Folders();
// Installs `service` (nullptr: the real one) and returns the one installed before.
FolderService* SetFolders(FolderService* service);

class ScopedFolders {
public:
    explicit ScopedFolders(FolderService& service) : previous_(SetFolders(&service)) {}
    ~ScopedFolders() { SetFolders(previous_); }
    ScopedFolders(const ScopedFolders&) = delete;
    ScopedFolders& operator=(const ScopedFolders&) = delete;

private:
    FolderService* previous_;
};

} // namespace tunefold::platform
