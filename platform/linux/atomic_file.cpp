#include "platform/atomic_file.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tunefold::platform {

namespace {

std::atomic<unsigned> tempCounter{0};

std::string ParentFolder(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    if (slash == 0) {
        return "/";
    }
    return path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool WriteAll(int fd, std::string_view bytes) {
    const char* data = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        ssize_t n = ::write(fd, data, left);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

// The folder's own entry must reach the disk too, or the rename may be lost in a power cut.
void SyncFolder(const std::string& folder) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// The file that really gets replaced: a symbolic link is followed to its target.
std::string ResolveTarget(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved) != nullptr) {
            return resolved;
        }
    }
    return path;
}

// A fresh file beside `target` (O_EXCL: a name that exists, another writer's or one left by a
// crash, is never reused). Returns its descriptor and name, or -1.
int CreateTemporaryBeside(const std::string& target, std::string& temp) {
    int fd = -1;
    // The temporary name must stay a file name (255 bytes) however long the target's name is.
    const std::string base = BaseName(target).substr(0, 200);
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = ParentFolder(target) + "/." + base + ".tmp-" + std::to_string(::getpid()) + "-" +
               std::to_string(tempCounter.fetch_add(1));
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd < 0 && errno != EEXIST) {
            break;
        }
    }
    return fd;
}

} // namespace

std::string ReserveTemporaryFile(const std::string& path) {
    if (path.empty()) {
        return {};
    }
    const std::string target = ResolveTarget(path);
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0 && !S_ISREG(old.st_mode)) {
        return {};
    }
    std::string temp;
    const int fd = CreateTemporaryBeside(target, temp);
    if (fd < 0) {
        return {};
    }
    ::close(fd);
    return temp;
}

bool CommitTemporaryFile(const std::string& temp, const std::string& path, bool sync) {
    const std::string target = ResolveTarget(path);
    int fd = ::open(temp.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        return false;
    }
    struct stat old {};
    bool ok = true;
    if (::stat(target.c_str(), &old) == 0) {
        ok = S_ISREG(old.st_mode) && ::fchmod(fd, old.st_mode & 07777) == 0;
    }
    ok = ok && (!sync || ::fsync(fd) == 0);
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
    if (ok && sync) {
        SyncFolder(ParentFolder(target));
    }
    return ok;
}

void RemoveFile(const std::string& path) {
    if (!path.empty()) {
        ::unlink(path.c_str());
    }
}

bool ReplaceFileContents(const std::string& path, std::string_view bytes, const ReplaceOptions& options) {
    if (path.empty()) {
        return false;
    }
    const std::string target = ResolveTarget(path);
    const std::string folder = ParentFolder(target);

    struct stat old {};
    bool hadOld = ::stat(target.c_str(), &old) == 0;
    if (hadOld && !S_ISREG(old.st_mode)) {
        return false; // never replace a folder or a device with a file
    }

    std::string temp;
    int fd = -1;
    if (!options.tempPath.empty()) {
        temp = options.tempPath;
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    } else {
        fd = CreateTemporaryBeside(target, temp);
    }
    if (fd < 0) {
        return false;
    }

    bool ok = true;
    if (options.mode >= 0) {
        ok = ::fchmod(fd, static_cast<mode_t>(options.mode)) == 0;
    } else if (hadOld) {
        ok = ::fchmod(fd, old.st_mode & 07777) == 0;
    }
    ok = ok && WriteAll(fd, bytes);
    ok = ok && (!options.sync || ::fsync(fd) == 0);
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    if (options.sync) {
        SyncFolder(folder);
    }
    return true;
}

} // namespace tunefold::platform
