#include "cdinfo/big_ini_file.h"

#include <algorithm>
#include <cstdint>
#include <map>

#include "platform/atomic_file.h"
#include "platform/input_file.h"

namespace tunefold {

namespace {

char Fold(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string Folded(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), Fold);
    return out;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// The text before the first "=" of a line; the whole line when it has none.
std::string_view KeyOf(std::string_view line) {
    const std::size_t eq = line.find('=');
    return eq == std::string_view::npos ? line : line.substr(0, eq);
}

} // namespace

bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Fold(a[i]) != Fold(b[i])) {
            return false;
        }
    }
    return true;
}

bool ParseIniInteger(std::string_view text, int& value) {
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    bool hex = false;
    if (i < text.size() && text[i] == '$') {
        hex = true;
        ++i;
    }
    if (i >= text.size()) {
        return false;
    }
    // Decimal values must fit a 32-bit integer; hexadecimal ones may use all 32 bits (and then read
    // as the negative number with that pattern).
    const std::uint64_t limit = hex ? 0xFFFFFFFFu : (negative ? 0x80000000u : 0x7FFFFFFFu);
    std::uint64_t n = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        int digit = -1;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (hex && c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (hex && c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        }
        if (digit < 0) {
            return false;
        }
        n = n * (hex ? 16 : 10) + static_cast<std::uint64_t>(digit);
        if (n > limit) {
            return false;
        }
    }
    std::int64_t v = hex ? static_cast<std::int64_t>(static_cast<std::int32_t>(static_cast<std::uint32_t>(n)))
                         : static_cast<std::int64_t>(n);
    if (negative) {
        v = -v;
    }
    if (v < INT32_MIN || v > INT32_MAX) {
        return false;
    }
    value = static_cast<int>(v);
    return true;
}

// ---- TSectionList ----

int TSectionList::Add(std::string name) {
    items_.push_back(Item{std::move(name), std::make_unique<TStrings>()});
    return Count() - 1;
}

void TSectionList::Delete(int index) {
    items_.erase(items_.begin() + index);
    if (searchStart_ >= Count()) {
        searchStart_ = 0;
    }
}

void TSectionList::Clear() {
    items_.clear();
    searchStart_ = 0;
}

int TSectionList::Find(std::string_view name) {
    const int count = Count();
    if (count == 0) {
        return -1;
    }
    int start = searchStart_;
    if (start < 0 || start >= count) {
        start = 0;
    }
    for (int n = 0; n < count; ++n) {
        const int i = (start + n) % count;
        if (SameTextIgnoringCase(items_[static_cast<std::size_t>(i)].name, name)) {
            searchStart_ = i;
            return i;
        }
    }
    return -1;
}

// ---- TBigIniFile ----

TBigIniFile::TBigIniFile(const std::string& fileName) {
    SetFileName(fileName);
}

TBigIniFile::~TBigIniFile() {
    UpdateFile();
}

void TBigIniFile::SetFileName(const std::string& fileName) {
    UpdateFile();
    sections_.Clear();
    lastSection_ = 0;
    fileName_ = fileName;
    writable_ = true;
    if (!fileName_.empty()) {
        LoadFromFile(fileName_);
    }
    modified_ = false;
}

void TBigIniFile::LoadFromFile(const std::string& fileName) {
    sections_.Clear();
    lastSection_ = 0;
    std::string bytes;
    const platform::InputFileError error = platform::ReadRegularFile(fileName, kMaxFileBytes, bytes);
    if (error == platform::InputFileError::Missing) {
        return;
    }
    if (error != platform::InputFileError::None) {
        // Something is there that we cannot read whole (too large, no permission, no regular
        // file): the content stays empty, and writing it back would destroy what is there.
        if (fileName == fileName_) {
            writable_ = false;
        }
        return;
    }
    LoadFromText(bytes);
}

void TBigIniFile::LoadFromText(std::string_view text) {
    sections_.Clear();
    lastSection_ = 0;
    int current = -1;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find_first_of("\r\n", pos);
        std::string line(
            text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos));
        if (end == std::string_view::npos) {
            pos = text.size();
        } else {
            pos = end + 1;
            if (text[end] == '\r' && pos < text.size() && text[pos] == '\n') {
                ++pos;
            }
        }
        if (line == "\x1A") {
            continue; // an end-of-file mark of old editors: an empty line
        }
        if (SkipComments && !line.empty() && line[0] == ';') {
            continue;
        }
        if (line.empty()) {
            continue;
        }
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            current = sections_.Add(line.substr(1, line.size() - 2));
            continue;
        }
        if (TrimAroundEquals) {
            std::size_t eq = line.find('=');
            if (eq != std::string::npos) {
                while (eq > 0 && IsBlank(line[eq - 1])) {
                    line.erase(eq - 1, 1);
                    --eq;
                }
                while (eq + 1 < line.size() && IsBlank(line[eq + 1])) {
                    line.erase(eq + 1, 1);
                }
            }
        }
        if (StripQuotes) {
            const std::size_t eq = line.find('=');
            if (eq != std::string::npos && eq > 0 && line.size() - eq - 1 >= 2) {
                const char q = line[eq + 1];
                if ((q == '"' || q == '\'') && line.back() == q) {
                    line.pop_back();
                    line.erase(eq + 1, 1);
                }
            }
        }
        if (TrimTrailing) {
            while (!line.empty() && static_cast<unsigned char>(line.back()) < 33) {
                line.pop_back();
            }
        }
        if (KeyLinesOnly && line.find('=') == std::string::npos) {
            continue;
        }
        if (current >= 0) {
            sections_.Lines(current).push_back(std::move(line));
        }
    }
    RemoveDuplicates();
}

void TBigIniFile::RemoveDuplicates() {
    const int count = sections_.Count();
    // For every name, the section that survives so far; sections are met in file order, so the
    // first one is the earlier of each pair the handler is asked about.
    std::map<std::string, int> survivor;
    std::vector<bool> removed(static_cast<std::size_t>(count), false);
    bool any = false;
    for (int i = 0; i < count; ++i) {
        auto [it, inserted] = survivor.emplace(Folded(sections_.Names(i)), i);
        if (inserted) {
            continue;
        }
        any = true;
        const int earlier = it->second;
        bool keepEarlier = true;
        if (OnDuplicateSection) {
            keepEarlier =
                OnDuplicateSection(sections_.Names(earlier), sections_.Lines(earlier), sections_.Lines(i));
        }
        if (keepEarlier) {
            removed[static_cast<std::size_t>(i)] = true;
        } else {
            removed[static_cast<std::size_t>(earlier)] = true;
            it->second = i;
        }
    }
    if (!any) {
        return;
    }
    for (int i = count - 1; i >= 0; --i) {
        if (removed[static_cast<std::size_t>(i)]) {
            sections_.Delete(i);
        }
    }
    // Loading never counts as a change: the user's file is not rewritten just because it holds a
    // section twice.
    sections_.SetSearchStart(0);
    lastSection_ = 0;
}

int TBigIniFile::FindSection(std::string_view section, bool create) {
    sections_.SetSearchStart(lastSection_);
    int index = sections_.Find(section);
    if (index < 0 && create) {
        index = sections_.Add(std::string(section));
        sections_.SetSearchStart(index);
    }
    if (index >= 0) {
        lastSection_ = index;
    }
    return index;
}

int TBigIniFile::FindKey(const TStrings& lines, std::string_view key) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (line.find('=') != std::string::npos && SameTextIgnoringCase(KeyOf(line), key)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

std::string TBigIniFile::ReadString(std::string_view section, std::string_view key, const std::string& def) {
    const int s = FindSection(section, false);
    if (s < 0) {
        return def;
    }
    const TStrings& lines = sections_.Lines(s);
    const int k = FindKey(lines, key);
    if (k < 0) {
        return def;
    }
    const std::string& line = lines[static_cast<std::size_t>(k)];
    return line.substr(line.find('=') + 1);
}

void TBigIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    if (key.empty()) {
        if (!section.empty() || !value.empty()) {
            EraseSection(section);
        } else {
            UpdateFile();
        }
        return;
    }
    const int s = FindSection(section, true);
    TStrings& lines = sections_.Lines(s);
    std::string line = std::string(key) + "=" + std::string(value);
    const int k = FindKey(lines, key);
    if (k >= 0) {
        std::string& old = lines[static_cast<std::size_t>(k)];
        if (old != line) {
            old = std::move(line);
            modified_ = true;
        }
        return;
    }
    lines.push_back(std::move(line));
    modified_ = true;
}

int TBigIniFile::ReadInteger(std::string_view section, std::string_view key, int def) {
    std::string text = ReadString(section, key, "");
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.replace(0, 2, "$");
    }
    int value = 0;
    return ParseIniInteger(text, value) ? value : def;
}

void TBigIniFile::WriteInteger(std::string_view section, std::string_view key, int value) {
    WriteString(section, key, std::to_string(value));
}

bool TBigIniFile::ReadBool(std::string_view section, std::string_view key, bool def) {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void TBigIniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

void TBigIniFile::AppendSectionLines(std::string_view section, const TStrings& lines) {
    const int s = FindSection(section, true);
    TStrings& target = sections_.Lines(s);
    target.insert(target.end(), lines.begin(), lines.end());
    modified_ = true;
}

void TBigIniFile::ReadSection(std::string_view section, TStrings& keys) {
    const int s = FindSection(section, false);
    if (s < 0) {
        return;
    }
    for (const std::string& line : sections_.Lines(s)) {
        keys.emplace_back(KeyOf(line));
    }
}

void TBigIniFile::ReadSections(TStrings& names) {
    names.clear();
    for (int i = 0; i < sections_.Count(); ++i) {
        names.push_back(sections_.Names(i));
    }
}

void TBigIniFile::ReadSectionValues(std::string_view section, TStrings& lines) {
    const int s = FindSection(section, false);
    if (s < 0) {
        return;
    }
    const TStrings& own = sections_.Lines(s);
    lines.insert(lines.end(), own.begin(), own.end());
}

void TBigIniFile::EraseSection(std::string_view section) {
    const int s = FindSection(section, false);
    if (s < 0) {
        return;
    }
    sections_.Delete(s);
    modified_ = true;
    sections_.SetSearchStart(0);
    if (lastSection_ >= sections_.Count()) {
        lastSection_ = 0;
    }
}

void TBigIniFile::DeleteKey(std::string_view section, std::string_view key) {
    const int s = FindSection(section, false);
    if (s < 0) {
        return;
    }
    TStrings& lines = sections_.Lines(s);
    const int k = FindKey(lines, key);
    if (k < 0) {
        return;
    }
    lines.erase(lines.begin() + k);
    modified_ = true;
}

void TBigIniFile::GetStrings(TStrings& lines) {
    for (int i = 0; i < sections_.Count(); ++i) {
        const TStrings& own = sections_.Lines(i);
        if (own.empty()) {
            continue;
        }
        lines.push_back("[" + sections_.Names(i) + "]");
        lines.insert(lines.end(), own.begin(), own.end());
        lines.emplace_back();
    }
}

std::string TBigIniFile::FormatFile() const {
    std::string out;
    for (int i = 0; i < sections_.Count(); ++i) {
        out += "[" + sections_.Names(i) + "]\r\n";
        for (const std::string& line : sections_.Lines(i)) {
            out += line;
            out += "\r\n";
        }
        out += "\r\n";
    }
    return out;
}

bool TBigIniFile::UpdateFile() {
    if (!modified_ || fileName_.empty()) {
        return true;
    }
    if (!writable_) {
        return false;
    }
    if (!platform::ReplaceFileContents(fileName_, FormatFile())) {
        return false;
    }
    modified_ = false;
    return true;
}

} // namespace tunefold
