#include "platform/linux/registry_file_store.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/registry_file.h"

namespace tunefold::platform {

namespace {

bool AbsoluteEnv(const char* name, std::string& value) {
    const char* env = std::getenv(name);
    if (env == nullptr || env[0] != '/') {
        return false;
    }
    value = env;
    return true;
}

std::string HomeFolder() {
    std::string home;
    if (AbsoluteEnv("HOME", home)) {
        return home;
    }
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr) {
        return found->pw_dir;
    }
    return "/tmp";
}

// Holds the writers' lock for its lifetime. The kernel drops it when the process dies, so a writer
// killed halfway never blocks the next one.
class WriterLock {
public:
    WriterLock(const std::string& path, std::chrono::milliseconds timeout) {
        fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd_ < 0) {
            return;
        }
        // Polling keeps the wait bounded (a writer stopped by a debugger must not hang the program);
        // writers hold the lock for about a millisecond, so the back-off stays short.
        auto deadline = std::chrono::steady_clock::now() + timeout;
        auto pause = std::chrono::microseconds(50);
        for (;;) {
            if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
                locked_ = true;
                return;
            }
            if (errno != EWOULDBLOCK && errno != EINTR) {
                return;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                return;
            }
            std::this_thread::sleep_for(pause);
            pause = std::min(pause * 2, std::chrono::microseconds(2000));
        }
    }
    ~WriterLock() {
        if (fd_ >= 0) {
            ::close(fd_); // releases the lock
        }
    }
    WriterLock(const WriterLock&) = delete;
    WriterLock& operator=(const WriterLock&) = delete;
    bool Locked() const { return locked_; }

private:
    int fd_ = -1;
    bool locked_ = false;
};

bool ReadWholeFile(const std::string& path, std::string& bytes, bool& missing) {
    missing = false;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        missing = errno == ENOENT;
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    bytes.clear();
    bytes.reserve(static_cast<std::size_t>(st.st_size));
    char chunk[65536];
    for (;;) {
        ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            ::close(fd);
            return false;
        }
        if (n == 0) {
            break;
        }
        bytes.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return true;
}

std::string UtcStamp() {
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    ::gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &utc);
    return text;
}

} // namespace

FileRegistryStore::FileRegistryStore(std::string path) : path_(std::move(path)) {
    std::size_t slash = path_.rfind('/');
    folder_ = slash == std::string::npos ? "." : (slash == 0 ? "/" : path_.substr(0, slash));
    lockPath_ = path_ + ".lock";
    tempPath_ = path_ + ".tmp";
}

std::string FileRegistryStore::DefaultPath() {
    std::string config;
    if (!AbsoluteEnv("XDG_CONFIG_HOME", config)) {
        config = HomeFolder() + "/.config";
    }
    return config + "/tunefold/registry.reg";
}

FileRegistryStore::ReadResult FileRegistryStore::ReadStore(RegistryTree& tree) const {
    std::string bytes;
    bool missing = false;
    if (!ReadWholeFile(path_, bytes, missing)) {
        tree = RegistryTree{};
        return missing ? ReadResult::Missing : ReadResult::Failed;
    }
    return ParseRegistryFile(bytes, tree) ? ReadResult::Parsed : ReadResult::Broken;
}

bool FileRegistryStore::KeepBrokenAside() const {
    const std::string base = path_ + ".broken-" + UtcStamp();
    for (int n = 0; n < 1000; ++n) {
        std::string aside = n == 0 ? base : base + "-" + std::to_string(n);
        struct stat st {};
        if (::lstat(aside.c_str(), &st) == 0) {
            continue; // an earlier broken copy of the same second stays too
        }
        if (::rename(path_.c_str(), aside.c_str()) != 0) {
            return false;
        }
        int fd = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0) {
            ::fsync(fd);
            ::close(fd);
        }
        return true;
    }
    return false;
}

bool FileRegistryStore::MakeFolder() const {
    // Every missing folder on the way is made private to the user, as the XDG rules ask for the
    // configuration folder.
    std::string partial;
    std::size_t pos = 0;
    while (pos != std::string::npos) {
        std::size_t next = folder_.find('/', pos + 1);
        partial = folder_.substr(0, next);
        pos = next;
        if (partial.empty() || partial == "/" || partial == ".") {
            continue;
        }
        if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) {
            return false;
        }
    }
    struct stat st {};
    return ::stat(folder_.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FileRegistryStore::Load(RegistryTree& tree) {
    switch (ReadStore(tree)) {
    case ReadResult::Parsed:
    case ReadResult::Missing:
        return true;
    case ReadResult::Failed:
        return false;
    case ReadResult::Broken:
        break;
    }
    // Look again under the writers' lock: a writer may have replaced the file since, and only the
    // file that is still broken may be moved aside.
    WriterLock lock(lockPath_, lockTimeout_);
    if (lock.Locked()) {
        if (ReadStore(tree) != ReadResult::Broken) {
            return true; // fixed by another writer, or gone: read what is there now
        }
        KeepBrokenAside();
    }
    tree = RegistryTree{};
    return true;
}

bool FileRegistryStore::Update(const std::function<bool(RegistryTree&)>& change, RegistryTree& tree) {
    if (!MakeFolder()) {
        return false;
    }
    WriterLock lock(lockPath_, lockTimeout_);
    if (!lock.Locked()) {
        return false;
    }
    RegistryTree current;
    switch (ReadStore(current)) {
    case ReadResult::Parsed:
    case ReadResult::Missing:
        break;
    case ReadResult::Failed:
        return false;
    case ReadResult::Broken:
        if (!KeepBrokenAside()) {
            return false; // never write over a file we could not keep
        }
        current = RegistryTree{};
        break;
    }
    if (!change(current)) {
        return false;
    }
    ReplaceOptions options;
    options.mode = 0600;
    options.tempPath = tempPath_;
    if (!ReplaceFileContents(path_, FormatRegistryFile(current), options)) {
        return false;
    }
    tree = std::move(current);
    return true;
}

} // namespace tunefold::platform
