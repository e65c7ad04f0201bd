// Replacing a file's contents so that a failure or a crash at any moment leaves either the old file
// whole or the new one whole, never a mix: the new bytes go to a temporary file in the same folder,
// are flushed to disk, and the temporary file is renamed over the old one.
#pragma once

#include <string>
#include <string_view>

namespace tunefold::platform {

struct ReplaceOptions {
    // Permission bits of the new file. Negative: those of the file being replaced, or for a new file
    // the usual ones (0666 less the process's umask).
    int mode = -1;
    // A fixed temporary file, for callers that hold a lock serialising every writer of the file (so a
    // crash leaves at most that one file behind). Empty: a fresh name beside the target.
    std::string tempPath;
    // Flush the file and its folder to disk before and after the rename. Only tests whose subject
    // is not durability turn this off, to spare the disk.
    bool sync = true;
};

// Writes `bytes` as the new contents of `path`. A symbolic link at `path` is followed, so the link
// stays a link and its target gets the new contents. False when anything failed; `path` is then as
// it was and no temporary file is left behind.
bool ReplaceFileContents(const std::string& path, std::string_view bytes, const ReplaceOptions& options = {});

// For a file written piece by piece (a rendering): an empty file under a fresh temporary name
// beside `path` (whose link, if it is one, is followed), or "" when none can be made or `path` is
// no regular file. The caller writes it, then commits it or removes it.
std::string ReserveTemporaryFile(const std::string& path);
// Renames the written temporary file over `path` (keeping the permission bits of the file it
// replaces), with `sync` flushing it and the folder to disk around the rename. False when that
// failed; the temporary file is then still there.
bool CommitTemporaryFile(const std::string& temp, const std::string& path, bool sync = true);
// Removes a file; nothing when it is not there.
void RemoveFile(const std::string& path);

} // namespace tunefold::platform
