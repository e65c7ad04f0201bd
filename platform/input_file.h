// Reading the files a user names: only a regular file is read (a pipe would block the reader, a
// device such as /dev/zero could feed it without end, a folder is no file), and never more than a
// size the format can sensibly have. Also the test every output must pass before it is opened for
// writing: that it is not one of the inputs.
#pragma once

#include <cstddef>
#include <string>

namespace tunefold::platform {

enum class InputFileError {
    None,
    Missing,    // no such file (or no name)
    NotRegular, // a folder, a pipe, a device, a socket
    TooLarge,   // larger than the cap
    Unreadable, // exists, but opening or reading it failed (permissions, I/O error)
};

// Opens `path` without ever blocking on it (a FIFO is refused, not waited for) and returns its
// descriptor when it is a regular file, else -1 with the reason in `error`. The descriptor is
// blocking again and close-on-exec; the caller closes it.
int OpenRegularFile(const std::string& path, InputFileError& error);

// The whole file into `bytes`, when it is a regular file of at most `cap` bytes. On failure
// `bytes` is empty and `systemError` (when given) holds the errno of an Unreadable file.
InputFileError ReadRegularFile(const std::string& path, std::size_t cap, std::string& bytes,
                               int* systemError = nullptr);

// True when `path` names an existing regular file (links followed).
bool IsRegularFile(const std::string& path);

// True when both names reach the same file (same device and inode, links followed). A name that
// does not exist is the same file as nothing.
bool SameFile(const std::string& a, const std::string& b);

} // namespace tunefold::platform
