// Files under the RIFF I/O calls: a POSIX descriptor with a read buffer of our own, so that the
// small header reads of the chunk walk and the sequential data reads cost few system calls.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/mmio.h"

namespace tunefold::platform {

namespace {

class FileStream final : public MmioStream {
public:
    FileStream(int fd, bool writable) : fd_(fd), writable_(writable) { buffer_.resize(8192); }
    ~FileStream() override { Close(); }

    long Read(void* out, long count) override {
        if (count <= 0) {
            return 0;
        }
        auto* dst = static_cast<std::uint8_t*>(out);
        long done = 0;
        while (done < count) {
            if (bufPos_ < bufLen_) {
                long n = std::min<long>(count - done, bufLen_ - bufPos_);
                std::memcpy(dst + done, buffer_.data() + bufPos_, static_cast<std::size_t>(n));
                bufPos_ += n;
                done += n;
                continue;
            }
            // Large reads go straight into the caller's memory.
            long want = count - done;
            if (want >= static_cast<long>(buffer_.size())) {
                ssize_t got = ReadRaw(dst + done, want);
                if (got < 0) {
                    return done > 0 ? done : -1;
                }
                if (got == 0) {
                    break;
                }
                done += got;
                continue;
            }
            if (!Fill()) {
                return done > 0 ? done : -1;
            }
            if (bufLen_ == 0) {
                break;
            }
        }
        return done;
    }

    long Write(const void* in, long count) override {
        if (!writable_ || count < 0) {
            return -1;
        }
        if (!DropReadBuffer()) {
            return -1;
        }
        const auto* src = static_cast<const std::uint8_t*>(in);
        long done = 0;
        while (done < count) {
            ssize_t n = ::write(fd_, src + done, static_cast<std::size_t>(count - done));
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return done > 0 ? done : -1;
            }
            done += n;
        }
        filePos_ += done;
        return done;
    }

    long Seek(long offset, int origin) override {
        long current = filePos_ - (bufLen_ - bufPos_);
        long base = origin == SEEK_FROM_START ? 0 : origin == SEEK_FROM_CURRENT ? current : Size();
        if (base < 0) {
            return -1;
        }
        long target = base + offset;
        if (target < 0 || (!writable_ && target > Size())) {
            return -1;
        }
        if (target == current) {
            return current;
        }
        // Inside the buffer: only move the read pointer.
        long bufStart = filePos_ - bufLen_;
        if (target >= bufStart && target <= filePos_) {
            bufPos_ = target - bufStart;
            return target;
        }
        if (::lseek(fd_, target, SEEK_SET) < 0) {
            return -1;
        }
        filePos_ = target;
        bufPos_ = bufLen_ = 0;
        return target;
    }

    long Size() override {
        struct stat st {};
        if (::fstat(fd_, &st) != 0) {
            return -1;
        }
        return static_cast<long>(st.st_size);
    }

    bool Writable() const override { return writable_; }

    bool SetBuffer(long bytes) override {
        if (bytes <= 0) {
            return false;
        }
        if (!DropReadBuffer()) {
            return false;
        }
        try {
            buffer_.assign(static_cast<std::size_t>(bytes), 0);
        } catch (const std::bad_alloc&) {
            return false;
        }
        return true;
    }

    bool Flush() override { return !writable_ || ::fsync(fd_) == 0 || errno == EINVAL; }

    bool Close() override {
        if (fd_ < 0) {
            return true;
        }
        // The descriptor is gone even when close reports an error; EINTR is no failure of the data.
        const bool ok = ::close(fd_) == 0 || errno == EINTR;
        fd_ = -1;
        return ok;
    }

private:
    ssize_t ReadRaw(std::uint8_t* dst, long count) {
        for (;;) {
            ssize_t n = ::read(fd_, dst, static_cast<std::size_t>(count));
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n > 0) {
                filePos_ += n;
            }
            return n;
        }
    }

    bool Fill() {
        bufPos_ = bufLen_ = 0;
        ssize_t n = ReadRaw(buffer_.data(), static_cast<long>(buffer_.size()));
        if (n < 0) {
            return false;
        }
        bufLen_ = n;
        return true;
    }

    // Before a write or a new buffer, the descriptor must stand where the caller believes it is.
    bool DropReadBuffer() {
        if (bufLen_ == 0) {
            return true;
        }
        long current = filePos_ - (bufLen_ - bufPos_);
        bufPos_ = bufLen_ = 0;
        if (::lseek(fd_, current, SEEK_SET) < 0) {
            return false;
        }
        filePos_ = current;
        return true;
    }

    int fd_;
    bool writable_;
    std::vector<std::uint8_t> buffer_;
    long bufPos_ = 0;
    long bufLen_ = 0;
    long filePos_ = 0; // descriptor position
};

} // namespace

namespace detail {
std::unique_ptr<MmioStream> OpenFileStream(const std::string& name, DWORD flags) {
    if (name.empty()) {
        return nullptr;
    }
    int mode = O_RDONLY;
    bool writable = false;
    if ((flags & MMIO_READWRITE) != 0) {
        mode = O_RDWR;
        writable = true;
    } else if ((flags & MMIO_WRITE) != 0) {
        mode = O_WRONLY;
        writable = true;
    }
    if ((flags & MMIO_CREATE) != 0) {
        mode |= O_CREAT | O_TRUNC;
        if (!writable) {
            mode = (mode & ~O_ACCMODE) | O_RDWR;
            writable = true;
        }
    }
    // Non-blocking while we look: opening a FIFO would otherwise wait for a peer that never comes.
    int fd = ::open(name.c_str(), mode | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0644);
    if (fd < 0) {
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return std::make_unique<FileStream>(fd, writable);
}
} // namespace detail

bool mmioFileExists(const std::string& name) {
    struct stat st {};
    return !name.empty() && ::stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::int64_t mmioFileSize(const std::string& name) {
    struct stat st {};
    if (name.empty() || ::stat(name.c_str(), &st) != 0) {
        return -1;
    }
    return static_cast<std::int64_t>(st.st_size);
}

std::string mmioFullPath(const std::string& name) {
    if (name.empty()) {
        return {};
    }
    std::error_code ec;
    auto full = std::filesystem::absolute(name, ec);
    if (ec) {
        return name;
    }
    return full.lexically_normal().string();
}

bool mmioFileReadOnly(const std::string& name) {
    return ::access(name.c_str(), W_OK) != 0;
}

std::int64_t mmioDiskFree(const std::string& name) {
    // The file itself when it exists, else the folder it would be created in.
    std::string where = name;
    struct stat st {};
    if (where.empty() || ::stat(where.c_str(), &st) != 0) {
        auto slash = where.find_last_of('/');
        where = slash == std::string::npos ? std::string(".") : where.substr(0, slash == 0 ? 1 : slash);
    }
    struct statvfs vfs {};
    if (::statvfs(where.c_str(), &vfs) != 0) {
        return -1;
    }
    return static_cast<std::int64_t>(vfs.f_bavail) * static_cast<std::int64_t>(vfs.f_frsize);
}

} // namespace tunefold::platform
