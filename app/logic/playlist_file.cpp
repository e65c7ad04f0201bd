#include "app/logic/playlist_file.h"

#include <cerrno>
#include <iterator>
#include <system_error>

#include "engine/framework/errors.h"
#include "platform/atomic_file.h"
#include "platform/input_file.h"

namespace tunefold {

namespace {

constexpr char kLF = '\n';
constexpr char kEndOfFile = '\x1a';

[[noreturn]] void RaiseInOut(int code) {
    throw EInOutError("I/O error " + std::to_string(code) + ": " + std::system_category().message(code));
}

} // namespace

bool PlaylistLineSplitter::Feed(std::string_view bytes) {
    while (!ended_ && !bytes.empty()) {
        if (afterCR_) {
            afterCR_ = false;
            if (bytes.front() == kLF) {
                bytes.remove_prefix(1);
                continue;
            }
        }
        std::size_t stop = bytes.find_first_of(std::string_view("\r\n\x1a", 3));
        line_.append(bytes.substr(0, stop));
        if (stop == std::string_view::npos) {
            break;
        }
        if (bytes[stop] == kEndOfFile) {
            ended_ = true;
            break;
        }
        EndLine();
        // A CR may be the first half of CR LF, whose LF can come with the next piece.
        afterCR_ = bytes[stop] == '\r';
        bytes.remove_prefix(stop + 1);
    }
    return !ended_;
}

void PlaylistLineSplitter::Finish() {
    EndLine();
    afterCR_ = false;
}

void PlaylistLineSplitter::EndLine() {
    if (!line_.empty()) {
        entries_.push_back(std::move(line_));
    }
    line_.clear();
}

bool LooksLikePlaylistText(std::string_view bytes) {
    return bytes.substr(0, kPlaylistTextProbe).find('\0') == std::string_view::npos;
}

TPlaylistRead ReadPlaylistFile(const std::string& fileName, std::vector<std::string>& list) {
    std::string bytes;
    int code = 0;
    switch (platform::ReadRegularFile(fileName, kPlaylistFileCap, bytes, &code)) {
    case platform::InputFileError::None:
        break;
    case platform::InputFileError::Unreadable:
        RaiseInOut(code != 0 ? code : EIO);
    default:
        return TPlaylistRead::NotAList;
    }
    if (!LooksLikePlaylistText(bytes)) {
        return TPlaylistRead::NotAList;
    }
    // Entries are collected apart and appended at the end, so nothing half-read reaches the caller.
    std::vector<std::string> entries;
    PlaylistLineSplitter splitter(entries);
    splitter.Feed(bytes);
    splitter.Finish();
    if (entries.empty()) {
        return TPlaylistRead::NoEntries;
    }
    list.insert(list.end(), std::make_move_iterator(entries.begin()), std::make_move_iterator(entries.end()));
    return TPlaylistRead::Ok;
}

bool ReadPlaylist(const std::string& fileName, std::vector<std::string>& list) {
    return ReadPlaylistFile(fileName, list) == TPlaylistRead::Ok;
}

bool WritePlaylist(const std::string& fileName, const std::vector<std::string>& list) {
    if (fileName.empty()) {
        return true;
    }
    std::string text;
    std::size_t size = 0;
    for (const auto& entry : list) {
        size += entry.size() + 2;
    }
    text.reserve(size);
    for (const auto& entry : list) {
        if (entry.empty()) {
            continue;
        }
        text += entry;
        text += "\r\n";
    }
    return platform::ReplaceFileContents(fileName, text);
}

} // namespace tunefold
