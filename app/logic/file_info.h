// What the player tells about a file: the playlist editor's info line, the length the player shows,
// and the tag text of the player's second display line (also what `tunefold-render --info` prints).
#pragma once

#include <cstdint>
#include <string>

namespace tunefold {

enum class FileKind { Unknown, Mpeg, Wave };

struct FileInfo {
    FileKind kind = FileKind::Unknown;
    std::string infoLine = "Unknown File";
    std::int64_t lengthMs = 0;
    std::string tagLine;
};

FileInfo DescribeFile(const std::string& path);

} // namespace tunefold
