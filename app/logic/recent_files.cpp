#include "app/logic/recent_files.h"

#include "app/logic/settings.h"
#include "platform/registry.h"

namespace tunefold {

namespace {

using platform::RegistryTree;
using platform::RegistryValue;
using platform::RegistryValues;

std::string Text(const RegistryValues& values, const std::string& name) {
    const auto it = values.find(name);
    return it != values.end() && it->second.type == platform::REG_SZ ? it->second.data : std::string();
}

} // namespace

void mrud_write(const std::string& path) {
    std::string fullName;
    const auto store = platform::CurrentRegistryStore();
    if (store && platform::FullKeyName(platform::HKEY_CURRENT_USER, SettingsKeyPath, fullName)) {
        bool listed = false;
        RegistryTree tree;
        const bool stored = store->Update(
            [&](RegistryTree& t) {
                platform::AddKeyWithAncestors(t, fullName);
                RegistryValues& values = t.keys[fullName];
                for (int n = 1; n <= settings_value::MRUDCount; ++n) {
                    if (Text(values, settings_value::MRUD(n)) == path) {
                        listed = true; // it keeps its place
                        return false;
                    }
                }
                for (int n = settings_value::MRUDCount - 1; n >= 1; --n) {
                    values[settings_value::MRUD(n + 1)] =
                        RegistryValue::String(Text(values, settings_value::MRUD(n)));
                }
                values[settings_value::MRUD(1)] = RegistryValue::String(path);
                return true;
            },
            tree);
        if (stored || listed) {
            return;
        }
    }
    // The key could be neither opened nor created: the newest entry is written by itself.
    WriteSettingValue(platform::HKEY_CURRENT_USER, SettingsKeyPath, settings_value::MRUD(1), path);
}

void mrud_read(std::array<TRecentItem, 9>& items, bool& submenuEnabled) {
    platform::RegistryKey key;
    if (!key.Open(platform::HKEY_CURRENT_USER, SettingsKeyPath, false)) {
        return;
    }
    for (int index = 0; index < settings_value::MRUDCount; ++index) {
        std::string path;
        if (!key.ReadString(settings_value::MRUD(index + 1), path) || path.empty()) {
            continue;
        }
        TRecentItem& item = items[static_cast<std::size_t>(index)];
        item.caption = "&" + std::to_string(index + 1) + " " + path;
        item.path = path;
        item.visible = true;
        submenuEnabled = true;
    }
}

} // namespace tunefold
