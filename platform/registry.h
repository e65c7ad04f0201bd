// The registry service: a per-user tree of keys holding named, typed values, in the shape of the
// platform registry the program was designed for.
//
// Two roots exist, HKEY_CURRENT_USER (the settings) and HKEY_CLASSES_ROOT (file-type claims). A key is
// addressed by its path below a root, components separated by "\"; a leading "\" names the same
// absolute path. Key paths and value names compare without regard to ASCII case and keep the spelling
// they were created with. The unnamed (default) value of a key has the empty name.
//
// Every open reads the store fresh and works on that snapshot; every write is a read-modify-write of
// the whole store by the backend, so what another process wrote in between is kept.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/wave_types.h"

namespace tunefold::platform {

using HKEY = std::uintptr_t;

// The predefined roots, numbered as the platform numbers them. Only the first two hold keys here;
// the others are recognised as roots but cannot be opened.
constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000u;
constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;
constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;
constexpr HKEY HKEY_USERS = 0x80000003u;
constexpr HKEY HKEY_PERFORMANCE_DATA = 0x80000004u;
constexpr HKEY HKEY_CURRENT_CONFIG = 0x80000005u;
constexpr HKEY HKEY_DYN_DATA = 0x80000006u;

// Value types, numbered as the platform numbers them.
constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;

// True for every predefined root handle (HKEY_CLASSES_ROOT .. HKEY_DYN_DATA).
bool IsPredefinedRoot(HKEY root);
// "HKEY_CURRENT_USER" / "HKEY_CLASSES_ROOT" for the two roots the store holds, "" for any other.
std::string_view RootName(HKEY root);

// ASCII case-insensitive ordering for key paths and value names.
struct CaseInsensitiveLess {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const;
};

// One value: its type and its bytes. REG_SZ holds the text (no terminator), REG_DWORD four bytes,
// little-endian, REG_BINARY the bytes as they are.
struct RegistryValue {
    DWORD type = REG_NONE;
    std::string data;

    static RegistryValue String(std::string_view text);
    static RegistryValue Integer(DWORD number);
    static RegistryValue Binary(std::string_view bytes);
    bool operator==(const RegistryValue&) const = default;
};

using RegistryValues = std::map<std::string, RegistryValue, CaseInsensitiveLess>;

// The whole store. Keys are named by their full path including the root's name
// ("HKEY_CURRENT_USER\Software\Brenvik"); a key that exists is in the map even when it holds no values,
// and so are all of its ancestors below the root. The roots always exist; a root is listed (under its
// bare name) only when values were written into it.
struct RegistryTree {
    std::map<std::string, RegistryValues, CaseInsensitiveLess> keys;
    bool operator==(const RegistryTree&) const = default;
};

// Normalises `path` below `root` into the tree's full key name: drops one leading "\", rejects empty
// components, components with control characters and components over 255 bytes. Returns false for a
// root the store does not hold or a bad path. An empty path names the root itself.
bool FullKeyName(HKEY root, std::string_view path, std::string& fullName);
// Adds the key `fullName` and every ancestor below its root to `tree`, as opening it with "create"
// does (a bare root name is added itself).
void AddKeyWithAncestors(RegistryTree& tree, const std::string& fullName);

// A backend: where the tree lives.
class RegistryStore {
public:
    virtual ~RegistryStore() = default;
    // A fresh copy of the whole tree. False when the store cannot be read at all; a store that is
    // there but does not parse reads as empty (and the backend keeps the unreadable copy aside).
    virtual bool Load(RegistryTree& tree) = 0;
    // Read-modify-write of the whole store: loads the present tree, lets `change` edit it and stores
    // the result as one step that no other writer can interleave with. `change` returns false to
    // leave the store untouched. On success `tree` holds what was stored. False when the store could
    // not be read or written; it is then unchanged.
    virtual bool Update(const std::function<bool(RegistryTree&)>& change, RegistryTree& tree) = 0;
};

// The process's registry backend: the per-user file store at FileRegistryStore::DefaultPath(), made
// on first use (so XDG_CONFIG_HOME decides where it is). Tests install the in-memory store or a file
// store of their own; installing nullptr restores the default.
std::shared_ptr<RegistryStore> CurrentRegistryStore();
void InstallRegistryStore(std::shared_ptr<RegistryStore> store);
// The installed store (null when the default is in force).
std::shared_ptr<RegistryStore> InstalledRegistryStore();

// An open key. Opening reads the store; reads answer from that snapshot; writes go to the store at
// once (and refresh the snapshot). A failed operation returns false and changes nothing.
class RegistryKey {
public:
    RegistryKey() = default;
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    ~RegistryKey() = default;

    // Opens `path` under `root`; with `create`, missing keys along the path are created first.
    // False when the root is not one the store holds, the path is bad, the key does not exist
    // (without `create`) or the store fails.
    bool Open(HKEY root, std::string_view path, bool create);
    bool IsOpen() const { return open_; }
    void Close();

    bool ValueExists(std::string_view name) const;
    // REG_NONE when the value does not exist (or the key is not open).
    DWORD ValueType(std::string_view name) const;
    // Each reader fails on a missing value or a value of another type (and REG_DWORD of other than
    // four bytes).
    bool ReadString(std::string_view name, std::string& value) const;
    bool ReadInteger(std::string_view name, DWORD& value) const;
    bool ReadBinary(std::string_view name, std::string& bytes) const;
    // Writers replace a value of any type.
    bool WriteString(std::string_view name, std::string_view value);
    bool WriteInteger(std::string_view name, DWORD value);
    bool WriteBinary(std::string_view name, std::string_view bytes);
    // Writes all `values` (in their order, a later one of a name replacing an earlier) as one update
    // of the store: another process sees all of them or none, and the store is written once.
    bool WriteValues(const std::vector<std::pair<std::string, RegistryValue>>& values);
    // False when the value did not exist.
    bool DeleteValue(std::string_view name);
    // The names of the values of the key, in the store's order.
    std::vector<std::string> ValueNames() const;

private:
    const RegistryValue* Find(std::string_view name) const;
    bool WriteValue(std::string_view name, RegistryValue value);

    std::shared_ptr<RegistryStore> store_;
    std::string fullName_;
    RegistryValues values_;
    bool open_ = false;
};

} // namespace tunefold::platform
