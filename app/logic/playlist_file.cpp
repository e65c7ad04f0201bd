#include "app/logic/playlist_file.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#include "engine/framework/errors.h"
#include "platform/atomic_file.h"

namespace tunefold {

namespace {

constexpr char kLF = '\n';
constexpr char kEndOfFile = '\x1a';

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

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
        std::size_t stop = bytes.find_first_of(std::string_view("\r\x1a", 2));
        line_.append(bytes.substr(0, stop));
        if (stop == std::string_view::npos) {
            break;
        }
        if (bytes[stop] == kEndOfFile) {
            ended_ = true;
            break;
        }
        EndLine();
        afterCR_ = true;
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

bool ReadPlaylist(const std::string& fileName, std::vector<std::string>& list) {
    if (fileName.empty()) {
        return false;
    }
    std::error_code ec;
    auto status = std::filesystem::status(fileName, ec);
    // Only a regular file is a playlist: a pipe would block the reader and a device could feed it
    // without end.
    if (ec || !std::filesystem::is_regular_file(status)) {
        return false;
    }
    errno = 0;
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(fileName.c_str(), "rb"));
    if (!file) {
        if (errno == ENOENT) {
            return false; // gone between the look and the open
        }
        RaiseInOut(errno != 0 ? errno : EIO);
    }
    // Entries are collected apart and appended at the end, so a read error leaves the caller's list
    // as it was instead of half-filled.
    std::vector<std::string> entries;
    PlaylistLineSplitter splitter(entries);
    std::string chunk(1 << 16, '\0');
    for (;;) {
        std::size_t n = std::fread(chunk.data(), 1, chunk.size(), file.get());
        if (n > 0 && !splitter.Feed(std::string_view(chunk.data(), n))) {
            break;
        }
        if (n < chunk.size()) {
            if (std::ferror(file.get())) {
                RaiseInOut(errno != 0 ? errno : EIO);
            }
            break;
        }
    }
    splitter.Finish();
    if (entries.empty()) {
        return false;
    }
    list.insert(list.end(), std::make_move_iterator(entries.begin()), std::make_move_iterator(entries.end()));
    return true;
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
