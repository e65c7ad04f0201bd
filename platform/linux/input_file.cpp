#include "platform/input_file.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tunefold::platform {

int OpenRegularFile(const std::string& path, InputFileError& error) {
    error = InputFileError::None;
    if (path.empty()) {
        error = InputFileError::Missing;
        return -1;
    }
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer that never comes.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        error = (errno == ENOENT || errno == ENOTDIR) ? InputFileError::Missing
                : errno == ENXIO                      ? InputFileError::NotRegular
                                                      : InputFileError::Unreadable;
        return -1;
    }
    // The descriptor's own status, not the name's: the file cannot be swapped between look and open.
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        error = InputFileError::Unreadable;
        ::close(fd);
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        error = InputFileError::NotRegular;
        ::close(fd);
        return -1;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) {
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    return fd;
}

InputFileError ReadRegularFile(const std::string& path, std::size_t cap, std::string& bytes,
                               int* systemError) {
    bytes.clear();
    if (systemError != nullptr) {
        *systemError = 0;
    }
    InputFileError error = InputFileError::None;
    const int fd = OpenRegularFile(path, error);
    if (fd < 0) {
        if (systemError != nullptr && error == InputFileError::Unreadable) {
            *systemError = errno;
        }
        return error;
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && static_cast<unsigned long long>(st.st_size) > cap) {
        ::close(fd);
        return InputFileError::TooLarge;
    }
    // The size is only a hint (the file may grow while we read): the cap is enforced on what is read.
    std::string data;
    data.resize(std::min<std::size_t>(static_cast<std::size_t>(st.st_size), cap) + 1);
    std::size_t used = 0;
    for (;;) {
        if (used == data.size()) {
            if (data.size() > cap) {
                ::close(fd);
                return InputFileError::TooLarge;
            }
            data.resize(std::min(cap + 1, data.size() * 2));
        }
        const ssize_t n = ::read(fd, data.data() + used, data.size() - used);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (systemError != nullptr) {
                *systemError = errno;
            }
            ::close(fd);
            return InputFileError::Unreadable;
        }
        if (n == 0) {
            break;
        }
        used += static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (used > cap) {
        return InputFileError::TooLarge;
    }
    data.resize(used);
    bytes = std::move(data);
    return InputFileError::None;
}

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {};
    struct stat sb {};
    if (a.empty() || b.empty() || ::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) {
        return false;
    }
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

} // namespace tunefold::platform
