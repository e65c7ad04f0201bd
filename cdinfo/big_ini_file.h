// TBigIniFile: an INI file read completely into memory, so that a title database of any size (one
// section per disc ever seen) answers lookups without touching the disk again. TSectionList is its
// list of sections, searched without regard to case from where the last search ended.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/framework/component.h"

namespace tunefold {

using TStrings = std::vector<std::string>;

// Asked for every pair of same-named sections while loading: true keeps the earlier one.
using TDuplicateSectionEvent =
    std::function<bool(const std::string& name, const TStrings& earlier, const TStrings& later)>;

// ASCII case folding, as section and key names compare.
bool SameTextIgnoringCase(std::string_view a, std::string_view b);

class TSectionList {
public:
    int Count() const { return static_cast<int>(items_.size()); }
    const std::string& Names(int index) const { return items_.at(static_cast<std::size_t>(index)).name; }
    TStrings& Lines(int index) { return *items_.at(static_cast<std::size_t>(index)).lines; }
    const TStrings& Lines(int index) const { return *items_.at(static_cast<std::size_t>(index)).lines; }

    // Appends a section with no lines (names may repeat) and returns its index.
    int Add(std::string name);
    void Delete(int index);
    void Clear();

    // The index of the section named `name` (case ignored), searching from the remembered index to
    // the end and then from the start; -1 when there is none. A hit is remembered.
    int Find(std::string_view name);
    int SearchStart() const { return searchStart_; }
    void SetSearchStart(int index) { searchStart_ = index; }

private:
    struct Item {
        std::string name;
        std::unique_ptr<TStrings> lines;
    };
    std::vector<Item> items_;
    int searchStart_ = 0;
};

class TBigIniFile : public TObject {
public:
    // Files larger than this are not read (the database stays empty and the file is never written).
    static constexpr std::size_t kMaxFileBytes = std::size_t{64} << 20;
    // The buffer the original read and wrote through; kept as a property with no effect on results.
    static constexpr int kTextBufferBytes = 28672;

    TBigIniFile() = default;
    explicit TBigIniFile(const std::string& fileName);
    ~TBigIniFile() override;
    TBigIniFile(const TBigIniFile&) = delete;
    TBigIniFile& operator=(const TBigIniFile&) = delete;

    virtual std::string ReadString(std::string_view section, std::string_view key, const std::string& def);
    virtual void WriteString(std::string_view section, std::string_view key, std::string_view value);
    virtual int ReadInteger(std::string_view section, std::string_view key, int def);
    virtual void WriteInteger(std::string_view section, std::string_view key, int value);
    virtual bool ReadBool(std::string_view section, std::string_view key, bool def);
    virtual void WriteBool(std::string_view section, std::string_view key, bool value);
    virtual void AppendSectionLines(std::string_view section, const TStrings& lines);
    virtual void ReadSection(std::string_view section, TStrings& keys);
    virtual void ReadSections(TStrings& names);
    virtual void ReadSectionValues(std::string_view section, TStrings& lines);
    virtual void EraseSection(std::string_view section);
    virtual void DeleteKey(std::string_view section, std::string_view key);
    virtual void GetStrings(TStrings& lines);
    // Writes the whole content back (atomically) when it was modified; false when that failed (the
    // content then stays modified). A file that could not be read is never written over.
    virtual bool UpdateFile();
    virtual void LoadFromFile(const std::string& fileName);

    // Parses `text` as the content of a file (what LoadFromFile does after reading).
    void LoadFromText(std::string_view text);

    const std::string& FileName() const { return fileName_; }
    void SetFileName(const std::string& fileName);
    bool Modified() const { return modified_; }
    int LastSection() const { return lastSection_; }
    const TSectionList& Sections() const { return sections_; }

    TDuplicateSectionEvent OnDuplicateSection;
    int UseTextBuffer = 1;
    bool SkipComments = false;
    bool KeyLinesOnly = false;
    bool TrimAroundEquals = false;
    bool StripQuotes = false;
    bool TrimTrailing = false;

private:
    // Index of the section (-1 when missing); `create` appends a missing one.
    int FindSection(std::string_view section, bool create);
    // Index of the key's line in `lines`, -1 when none.
    static int FindKey(const TStrings& lines, std::string_view key);
    void AddLine(int section, std::string line);
    void RemoveDuplicates();
    std::string FormatFile() const;

    std::string fileName_;
    bool modified_ = false;
    bool writable_ = true; // false after a file that exists could not be read
    TSectionList sections_;
    int lastSection_ = 0;
};

// The conversion ReadInteger applies to a value: decimal, or hexadecimal after "$" (or "0x");
// false for anything else, including values outside the 32-bit range.
bool ParseIniInteger(std::string_view text, int& value);

} // namespace tunefold
