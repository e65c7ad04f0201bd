// The INI loader on arbitrary bytes: it must never fault, no two sections may share a name (case
// ignored) after loading, loading never marks the content modified, every section answers lookups,
// and with the load options off what GetStrings gives back loads to the same sections and lines.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>

#include "cdinfo/big_ini_file.h"

namespace {

std::string Folded(const std::string& s) {
    std::string out = s;
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::uint8_t options = data[0];
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    tunefold::TBigIniFile ini;
    ini.SkipComments = (options & 1) != 0;
    ini.KeyLinesOnly = (options & 2) != 0;
    ini.TrimAroundEquals = (options & 4) != 0;
    ini.StripQuotes = (options & 8) != 0;
    ini.TrimTrailing = (options & 16) != 0;
    const bool keepLater = (options & 32) != 0;
    ini.OnDuplicateSection = [keepLater](const std::string&, const tunefold::TStrings&,
                                         const tunefold::TStrings&) { return !keepLater; };
    ini.LoadFromText(text);
    if (ini.Modified()) {
        std::abort();
    }
    tunefold::TStrings names;
    ini.ReadSections(names);
    std::set<std::string> seen;
    for (const std::string& name : names) {
        if (!seen.insert(Folded(name)).second) {
            std::abort(); // a duplicate survived
        }
        tunefold::TStrings keys;
        ini.ReadSection(name, keys);
        for (const std::string& key : keys) {
            ini.ReadInteger(name, key, 0);
            ini.ReadString(name, key, "");
        }
    }
    if ((options & 31) != 0) {
        return 0;
    }
    tunefold::TStrings lines;
    ini.GetStrings(lines);
    std::string again;
    for (const std::string& line : lines) {
        again += line;
        again += "\r\n";
    }
    tunefold::TBigIniFile reloaded;
    reloaded.LoadFromText(again);
    tunefold::TStrings linesAgain;
    reloaded.GetStrings(linesAgain);
    if (linesAgain != lines) {
        std::abort();
    }
    return 0;
}
