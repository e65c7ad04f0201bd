#include "app/logic/file_types.h"

#include <string>
#include <utility>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/input_file.h"
#include "platform/mime_apps.h"
#include "platform/registry.h"

namespace tunefold {

namespace {

std::vector<std::string_view> SplitList(std::string_view value) {
    std::vector<std::string_view> items;
    while (!value.empty()) {
        std::size_t semi = value.find(';');
        std::string_view item = platform::TrimBlanks(value.substr(0, semi));
        if (!item.empty()) {
            items.push_back(item);
        }
        if (semi == std::string_view::npos) {
            break;
        }
        value.remove_prefix(semi + 1);
    }
    return items;
}

// Our entry first; the others stay behind it, so the desktop falls back to them if we go away.
std::string ClaimedValue(const std::vector<std::string_view>& previous) {
    std::string value(DesktopEntryId);
    value += ';';
    for (std::string_view item : previous) {
        if (item != DesktopEntryId) {
            value.append(item);
            value += ';';
        }
    }
    return value;
}

// All previous defaults in one update of the store.
bool StorePreviousDefaults(const std::vector<std::pair<std::string, std::string>>& olds) {
    std::vector<std::pair<std::string, std::string>> keys;
    for (const auto& [extension, old] : olds) {
        std::string fullName;
        if (!platform::FullKeyName(platform::HKEY_CLASSES_ROOT, extension, fullName)) {
            return false;
        }
        keys.emplace_back(std::move(fullName), old);
    }
    try {
        platform::RegistryTree tree;
        return platform::CurrentRegistryStore()->Update(
            [&](platform::RegistryTree& current) {
                for (const auto& [fullName, old] : keys) {
                    current.keys[fullName].insert_or_assign("old", platform::RegistryValue::String(old));
                }
                return true;
            },
            tree);
    } catch (...) {
        return false;
    }
}

} // namespace

bool ClaimFileTypes() {
    const std::string path = platform::MimeAppsListPath();
    if (path.empty()) {
        return false;
    }
    std::string text;
    const platform::InputFileError read = platform::ReadRegularFile(path, platform::MaxMimeAppsList, text);
    if (read != platform::InputFileError::None && read != platform::InputFileError::Missing) {
        return false; // not a list we may rewrite
    }
    std::vector<std::pair<std::string, std::string>> olds;
    std::vector<std::pair<std::string, std::string>> claims;
    for (std::string_view extension : ClaimedExtensions) {
        const std::string_view mimeType = platform::MimeTypeOfExtension(extension);
        if (mimeType.empty()) {
            continue; // no type to claim it through
        }
        bool found = false;
        const std::string current = platform::DefaultApplicationEntry(text, mimeType, found);
        const std::vector<std::string_view> items = SplitList(current);
        if (!items.empty() && items.front() == DesktopEntryId) {
            continue; // ours already: the earlier default was kept when we claimed it
        }
        olds.emplace_back(std::string(extension), current);
        claims.emplace_back(std::string(mimeType), ClaimedValue(items));
    }
    if (claims.empty()) {
        return true;
    }
    if (!StorePreviousDefaults(olds)) {
        return false;
    }
    return platform::ReplaceFileContents(path, platform::SetDefaultApplications(text, claims));
}

} // namespace tunefold
