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
};

// Writes `bytes` as the new contents of `path`. A symbolic link at `path` is followed, so the link
// stays a link and its target gets the new contents. False when anything failed; `path` is then as
// it was and no temporary file is left behind.
bool ReplaceFileContents(const std::string& path, std::string_view bytes, const ReplaceOptions& options = {});

} // namespace tunefold::platform
