#include "platform/registry_file.h"

#include <cstdint>
#include <optional>

namespace tunefold::platform {

namespace {

constexpr std::string_view kHeader = "REGEDIT4";
constexpr char kHexDigits[] = "0123456789abcdef";

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

void AppendHexByte(std::string& out, unsigned char byte) {
    out += kHexDigits[byte >> 4];
    out += kHexDigits[byte & 0x0F];
}

bool NeedsEscape(char c) {
    unsigned char u = static_cast<unsigned char>(c);
    return c == '\\' || c == '"' || u < 0x20 || u == 0x7F;
}

void AppendQuoted(std::string& out, std::string_view text) {
    out += '"';
    while (!text.empty()) {
        // Runs of plain characters go in at once; a store holds mostly those.
        std::size_t run = 0;
        while (run < text.size() && !NeedsEscape(text[run])) {
            ++run;
        }
        out.append(text.data(), run);
        text.remove_prefix(run);
        if (text.empty()) {
            break;
        }
        char c = text.front();
        text.remove_prefix(1);
        unsigned char u = static_cast<unsigned char>(c);
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (u < 0x20 || u == 0x7F) {
                out += "\\x";
                AppendHexByte(out, u);
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

void AppendHexList(std::string& out, std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0) {
            out += ',';
        }
        AppendHexByte(out, static_cast<unsigned char>(bytes[i]));
    }
}

// A cursor over one line.
class LineReader {
public:
    explicit LineReader(std::string_view line) : line_(line) {}

    bool AtEnd() const { return pos_ == line_.size(); }
    std::string_view Rest() const { return line_.substr(pos_); }
    bool Take(char c) {
        if (pos_ < line_.size() && line_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    bool Take(std::string_view word) {
        if (line_.substr(pos_, word.size()) == word) {
            pos_ += word.size();
            return true;
        }
        return false;
    }

    // A quoted string with its escapes.
    std::optional<std::string> Quoted() {
        if (!Take('"')) {
            return std::nullopt;
        }
        std::string text;
        while (pos_ < line_.size()) {
            std::size_t run = line_.find_first_of("\"\\", pos_);
            if (run == std::string_view::npos) {
                return std::nullopt; // no closing quote
            }
            text.append(line_.substr(pos_, run - pos_));
            pos_ = run;
            char c = line_[pos_++];
            if (c == '"') {
                return text;
            }
            if (c != '\\') {
                text += c;
                continue;
            }
            if (pos_ >= line_.size()) {
                return std::nullopt;
            }
            char e = line_[pos_++];
            switch (e) {
            case '\\':
            case '"':
                text += e;
                break;
            case 'n':
                text += '\n';
                break;
            case 'r':
                text += '\r';
                break;
            case 't':
                text += '\t';
                break;
            case 'x': {
                auto byte = HexByte();
                if (!byte) {
                    return std::nullopt;
                }
                text += static_cast<char>(*byte);
                break;
            }
            default:
                return std::nullopt;
            }
        }
        return std::nullopt; // no closing quote
    }

    // Exactly two hex digits.
    std::optional<unsigned char> HexByte() {
        if (pos_ + 2 > line_.size()) {
            return std::nullopt;
        }
        int hi = HexValue(line_[pos_]);
        int lo = HexValue(line_[pos_ + 1]);
        if (hi < 0 || lo < 0) {
            return std::nullopt;
        }
        pos_ += 2;
        return static_cast<unsigned char>(hi * 16 + lo);
    }

    // One to eight hex digits, as many as stand there.
    std::optional<std::uint32_t> HexNumber(std::size_t maxDigits) {
        std::uint32_t value = 0;
        std::size_t digits = 0;
        while (pos_ < line_.size() && digits < maxDigits) {
            int d = HexValue(line_[pos_]);
            if (d < 0) {
                break;
            }
            value = value * 16 + static_cast<std::uint32_t>(d);
            ++pos_;
            ++digits;
        }
        if (digits == 0) {
            return std::nullopt;
        }
        return value;
    }

    // A comma-separated byte list running to the end of the line (possibly empty).
    std::optional<std::string> HexList() {
        std::string bytes;
        if (AtEnd()) {
            return bytes;
        }
        for (;;) {
            auto byte = HexByte();
            if (!byte) {
                return std::nullopt;
            }
            bytes += static_cast<char>(*byte);
            if (AtEnd()) {
                return bytes;
            }
            if (!Take(',')) {
                return std::nullopt;
            }
        }
    }

private:
    std::string_view line_;
    std::size_t pos_ = 0;
};

bool ParseKeyLine(std::string_view line, std::string& fullName) {
    // "[" full name "]": the name is everything between the first and the last character, so key
    // names may hold brackets.
    if (line.size() < 2 || line.front() != '[' || line.back() != ']') {
        return false;
    }
    std::string_view name = line.substr(1, line.size() - 2);
    std::size_t sep = name.find('\\');
    std::string_view rootName = name.substr(0, sep);
    std::string_view path = (sep == std::string_view::npos) ? std::string_view{} : name.substr(sep);
    CaseInsensitiveLess less;
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_CLASSES_ROOT}) {
        std::string_view candidate = RootName(root);
        if (!less(rootName, candidate) && !less(candidate, rootName)) {
            if (sep != std::string_view::npos && path.size() == 1) {
                return false; // "[HKEY_CURRENT_USER\]"
            }
            return FullKeyName(root, path, fullName);
        }
    }
    return false;
}

bool ParseValueLine(std::string_view line, std::string& name, RegistryValue& value) {
    LineReader reader(line);
    if (reader.Take('@')) {
        name.clear();
    } else {
        auto quoted = reader.Quoted();
        if (!quoted) {
            return false;
        }
        name = std::move(*quoted);
    }
    if (!reader.Take('=')) {
        return false;
    }
    if (auto text = reader.Quoted()) {
        value = RegistryValue::String(*text);
        return reader.AtEnd();
    }
    if (reader.Take("dword:")) {
        // Exactly eight digits, as the writer puts them, so "dword:1" from a hand edit is not read
        // as something the user did not mean.
        if (reader.Rest().size() != 8) {
            return false;
        }
        auto number = reader.HexNumber(8);
        if (!number || !reader.AtEnd()) {
            return false;
        }
        value = RegistryValue::Integer(*number);
        return true;
    }
    if (reader.Take("hex:")) {
        auto bytes = reader.HexList();
        if (!bytes) {
            return false;
        }
        value = RegistryValue::Binary(*bytes);
        return true;
    }
    if (reader.Take("hex(")) {
        auto type = reader.HexNumber(8);
        if (!type || !reader.Take("):")) {
            return false;
        }
        auto bytes = reader.HexList();
        if (!bytes) {
            return false;
        }
        value = RegistryValue{*type, std::move(*bytes)};
        return true;
    }
    return false;
}

bool ParseLines(std::string_view bytes, RegistryTree& tree) {
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        bytes.remove_prefix(3); // a byte-order mark left by an editor
    }
    bool sawHeader = false;
    RegistryValues* current = nullptr;
    while (!bytes.empty()) {
        std::size_t end = bytes.find('\n');
        std::string_view line = bytes.substr(0, end);
        bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (!sawHeader) {
            if (line != kHeader) {
                return false;
            }
            sawHeader = true;
            continue;
        }
        if (line.find_first_not_of(" \t") == std::string_view::npos || line.front() == ';') {
            continue;
        }
        if (line.front() == '[') {
            std::string fullName;
            if (!ParseKeyLine(line, fullName)) {
                return false;
            }
            AddKeyWithAncestors(tree, fullName);
            current = &tree.keys[fullName];
            continue;
        }
        if (current == nullptr) {
            return false; // a value outside any key
        }
        std::string name;
        RegistryValue value;
        if (!ParseValueLine(line, name, value)) {
            return false;
        }
        auto it = current->find(name);
        if (it != current->end()) {
            it->second = std::move(value); // the last of repeated lines wins, as in an import
        } else {
            current->emplace(std::move(name), std::move(value));
        }
    }
    return sawHeader;
}

} // namespace

bool ParseRegistryFile(std::string_view bytes, RegistryTree& tree) {
    RegistryTree parsed;
    if (!ParseLines(bytes, parsed)) {
        tree = RegistryTree{};
        return false;
    }
    tree = std::move(parsed);
    return true;
}

std::string FormatRegistryFile(const RegistryTree& tree) {
    std::string out(kHeader);
    out += "\n";
    for (const auto& [fullName, values] : tree.keys) {
        out += "\n[";
        out += fullName;
        out += "]\n";
        for (const auto& [name, value] : values) {
            if (name.empty()) {
                out += '@';
            } else {
                AppendQuoted(out, name);
            }
            out += '=';
            if (value.type == REG_SZ) {
                AppendQuoted(out, value.data);
            } else if (value.type == REG_DWORD && value.data.size() == 4) {
                out += "dword:";
                for (int i = 3; i >= 0; --i) {
                    AppendHexByte(out, static_cast<unsigned char>(value.data[static_cast<std::size_t>(i)]));
                }
            } else if (value.type == REG_BINARY) {
                out += "hex:";
                AppendHexList(out, value.data);
            } else {
                out += "hex(";
                std::string type;
                DWORD t = value.type;
                do {
                    type.insert(type.begin(), kHexDigits[t & 0x0F]);
                    t >>= 4;
                } while (t != 0);
                out += type;
                out += "):";
                AppendHexList(out, value.data);
            }
            out += '\n';
        }
    }
    return out;
}

} // namespace tunefold::platform
