#include "platform/registry.h"

#include <utility>

#include <algorithm>
#include <mutex>

#include "platform/linux/registry_file_store.h"

namespace tunefold::platform {

namespace {

constexpr std::size_t kMaxKeyComponent = 255;

char FoldCase(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::mutex storeMutex;
std::shared_ptr<RegistryStore> installedStore;

std::string defaultStorePath;
std::shared_ptr<RegistryStore> defaultStore;

// Called under storeMutex.
std::shared_ptr<RegistryStore> DefaultStore() {
    // The file store even on the virtual platform: the test main and headless runs point
    // XDG_CONFIG_HOME at a folder of their own, and two processes of one run (a second start handing
    // its file to the first) must see each other's values. Where it lives is asked every time, so a
    // changed XDG_CONFIG_HOME takes effect.
    std::string path = FileRegistryStore::DefaultPath();
    if (!defaultStore || path != defaultStorePath) {
        defaultStore = std::make_shared<FileRegistryStore>(path);
        defaultStorePath = std::move(path);
    }
    return defaultStore;
}

bool IsRootName(std::string_view fullName) {
    return fullName.find('\\') == std::string_view::npos;
}

} // namespace

bool IsPredefinedRoot(HKEY root) {
    return root >= HKEY_CLASSES_ROOT && root <= HKEY_DYN_DATA;
}

std::string_view RootName(HKEY root) {
    if (root == HKEY_CURRENT_USER) {
        return "HKEY_CURRENT_USER";
    }
    if (root == HKEY_CLASSES_ROOT) {
        return "HKEY_CLASSES_ROOT";
    }
    return {};
}

bool CaseInsensitiveLess::operator()(std::string_view a, std::string_view b) const {
    // Called for every step of every map lookup, so kept to a plain loop.
    const std::size_t n = std::min(a.size(), b.size());
    const char* x = a.data();
    const char* y = b.data();
    for (std::size_t i = 0; i < n; ++i) {
        if (x[i] != y[i]) {
            unsigned char fx = static_cast<unsigned char>(FoldCase(x[i]));
            unsigned char fy = static_cast<unsigned char>(FoldCase(y[i]));
            if (fx != fy) {
                return fx < fy;
            }
        }
    }
    return a.size() < b.size();
}

RegistryValue RegistryValue::String(std::string_view text) {
    return RegistryValue{REG_SZ, std::string(text)};
}

RegistryValue RegistryValue::Integer(DWORD number) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i) {
        bytes[static_cast<std::size_t>(i)] = static_cast<char>((number >> (8 * i)) & 0xFF);
    }
    return RegistryValue{REG_DWORD, bytes};
}

RegistryValue RegistryValue::Binary(std::string_view bytes) {
    return RegistryValue{REG_BINARY, std::string(bytes)};
}

bool FullKeyName(HKEY root, std::string_view path, std::string& fullName) {
    std::string_view rootName = RootName(root);
    if (rootName.empty()) {
        return false;
    }
    if (!path.empty() && path.front() == '\\') {
        path.remove_prefix(1);
    }
    std::string result(rootName);
    while (!path.empty()) {
        std::size_t sep = path.find('\\');
        std::string_view component = path.substr(0, sep);
        if (component.empty() || component.size() > kMaxKeyComponent) {
            return false;
        }
        for (char c : component) {
            unsigned char u = static_cast<unsigned char>(c);
            if (u < 0x20 || u == 0x7F) {
                return false;
            }
        }
        result += '\\';
        result += component;
        if (sep == std::string_view::npos) {
            break;
        }
        path.remove_prefix(sep + 1);
        if (path.empty()) {
            return false; // a trailing "\" leaves an empty last component
        }
    }
    fullName = std::move(result);
    return true;
}

std::shared_ptr<RegistryStore> CurrentRegistryStore() {
    std::lock_guard<std::mutex> lock(storeMutex);
    if (installedStore) {
        return installedStore;
    }
    return DefaultStore();
}

void AddKeyWithAncestors(RegistryTree& tree, const std::string& fullName) {
    std::size_t pos = fullName.find('\\');
    if (pos == std::string::npos) {
        tree.keys.try_emplace(fullName); // a root that holds values
        return;
    }
    // The first component is the root's name, which is listed only when it holds values.
    while (pos != std::string::npos) {
        std::size_t next = fullName.find('\\', pos + 1);
        tree.keys.try_emplace(fullName.substr(0, next));
        pos = next;
    }
}

std::shared_ptr<RegistryStore> InstalledRegistryStore() {
    std::lock_guard<std::mutex> lock(storeMutex);
    return installedStore;
}

void InstallRegistryStore(std::shared_ptr<RegistryStore> store) {
    std::lock_guard<std::mutex> lock(storeMutex);
    installedStore = std::move(store);
}

bool RegistryKey::Open(HKEY root, std::string_view path, bool create) {
    Close();
    std::string fullName;
    if (!FullKeyName(root, path, fullName)) {
        return false;
    }
    std::shared_ptr<RegistryStore> store = CurrentRegistryStore();
    RegistryTree tree;
    if (!store->Load(tree)) {
        return false;
    }
    auto found = tree.keys.find(fullName);
    if (found == tree.keys.end() && !IsRootName(fullName)) {
        if (!create) {
            return false;
        }
        bool stored = store->Update(
            [&](RegistryTree& current) {
                AddKeyWithAncestors(current, fullName);
                return true;
            },
            tree);
        if (!stored) {
            return false;
        }
        found = tree.keys.find(fullName);
    }
    // The root's own values are kept under the root's name like any key's.
    values_ = (found != tree.keys.end()) ? found->second : RegistryValues{};
    store_ = std::move(store);
    fullName_ = std::move(fullName);
    open_ = true;
    return true;
}

void RegistryKey::Close() {
    store_.reset();
    fullName_.clear();
    values_.clear();
    open_ = false;
}

const RegistryValue* RegistryKey::Find(std::string_view name) const {
    if (!open_) {
        return nullptr;
    }
    auto it = values_.find(name);
    return it == values_.end() ? nullptr : &it->second;
}

bool RegistryKey::ValueExists(std::string_view name) const {
    return Find(name) != nullptr;
}

DWORD RegistryKey::ValueType(std::string_view name) const {
    const RegistryValue* value = Find(name);
    return value ? value->type : REG_NONE;
}

bool RegistryKey::ReadString(std::string_view name, std::string& value) const {
    const RegistryValue* found = Find(name);
    if (found == nullptr || found->type != REG_SZ) {
        return false;
    }
    value = found->data;
    return true;
}

bool RegistryKey::ReadInteger(std::string_view name, DWORD& value) const {
    const RegistryValue* found = Find(name);
    if (found == nullptr || found->type != REG_DWORD || found->data.size() != 4) {
        return false;
    }
    DWORD number = 0;
    for (int i = 3; i >= 0; --i) {
        number = (number << 8) | static_cast<unsigned char>(found->data[static_cast<std::size_t>(i)]);
    }
    value = number;
    return true;
}

bool RegistryKey::ReadBinary(std::string_view name, std::string& bytes) const {
    const RegistryValue* found = Find(name);
    if (found == nullptr || found->type != REG_BINARY) {
        return false;
    }
    bytes = found->data;
    return true;
}

bool RegistryKey::WriteValue(std::string_view name, RegistryValue value) {
    return WriteValues({{std::string(name), std::move(value)}});
}

bool RegistryKey::WriteValues(const std::vector<std::pair<std::string, RegistryValue>>& values) {
    if (!open_) {
        return false;
    }
    RegistryTree tree;
    bool stored = store_->Update(
        [&](RegistryTree& current) {
            // A key removed behind our back by another writer comes back: the write is what the
            // caller asked for, and the key was open.
            AddKeyWithAncestors(current, fullName_);
            auto& key = current.keys[fullName_];
            for (const auto& [name, value] : values) {
                auto it = key.find(name);
                if (it != key.end()) {
                    it->second = value;
                } else {
                    key.emplace(name, value);
                }
            }
            return true;
        },
        tree);
    if (!stored) {
        return false;
    }
    values_ = tree.keys[fullName_];
    return true;
}

bool RegistryKey::WriteString(std::string_view name, std::string_view value) {
    return WriteValue(name, RegistryValue::String(value));
}

bool RegistryKey::WriteInteger(std::string_view name, DWORD value) {
    return WriteValue(name, RegistryValue::Integer(value));
}

bool RegistryKey::WriteBinary(std::string_view name, std::string_view bytes) {
    return WriteValue(name, RegistryValue::Binary(bytes));
}

bool RegistryKey::DeleteValue(std::string_view name) {
    if (!open_) {
        return false;
    }
    RegistryTree tree;
    bool stored = store_->Update(
        [&](RegistryTree& current) {
            auto key = current.keys.find(fullName_);
            if (key == current.keys.end()) {
                return false;
            }
            auto value = key->second.find(name);
            if (value == key->second.end()) {
                return false;
            }
            key->second.erase(value);
            return true;
        },
        tree);
    if (!stored) {
        return false;
    }
    auto key = tree.keys.find(fullName_);
    values_ = (key != tree.keys.end()) ? key->second : RegistryValues{};
    return true;
}

std::vector<std::string> RegistryKey::ValueNames() const {
    std::vector<std::string> names;
    if (open_) {
        for (const auto& [name, value] : values_) {
            names.push_back(name);
        }
    }
    return names;
}

} // namespace tunefold::platform
