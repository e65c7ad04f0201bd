#include "platform/virtual/virtual_folders.h"

namespace tunefold::platform {

FolderService& LinuxFolders(); // the real listing; only the places are the test's own

FolderContents VirtualFolders::List(const std::string& folder) {
    return LinuxFolders().List(folder);
}

} // namespace tunefold::platform
