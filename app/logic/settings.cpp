#include "app/logic/settings.h"

#include <bit>
#include <cstring>

namespace tunefold {

using platform::HKEY;
using platform::RegistryKey;

namespace settings_value {
std::string Col(int index) {
    return "Col" + std::to_string(index);
}
std::string MRUD(int index) {
    return "MRUD" + std::to_string(index);
}
} // namespace settings_value

namespace {

std::string EightBytes(std::uint64_t bits) {
    std::string bytes(8, '\0');
    for (std::size_t i = 0; i < 8; ++i) {
        bytes[i] = static_cast<char>((bits >> (8 * i)) & 0xFF);
    }
    return bytes;
}

bool FromEightBytes(const std::string& bytes, std::uint64_t& bits) {
    if (bytes.size() != 8) {
        return false;
    }
    bits = 0;
    for (std::size_t i = 8; i-- > 0;) {
        bits = (bits << 8) | static_cast<unsigned char>(bytes[i]);
    }
    return true;
}

bool ReadEight(const RegistryKey& key, std::string_view name, std::uint64_t& bits) {
    std::string bytes;
    return key.ReadBinary(name, bytes) && FromEightBytes(bytes, bits);
}

HKEY EffectiveRoot(HKEY root) {
    return platform::IsPredefinedRoot(root) ? root : platform::HKEY_CURRENT_USER;
}

// Replaces `result` with the stored value when it is there in the form `result`'s kind is stored in.
struct Reader {
    const RegistryKey& key;
    std::string_view name;

    void operator()(std::int32_t& result) const {
        DWORD number = 0;
        if (key.ReadInteger(name, number)) {
            result = static_cast<std::int32_t>(number);
        }
    }
    void operator()(bool& result) const {
        DWORD number = 0;
        if (key.ReadInteger(name, number)) {
            result = number != 0;
        }
    }
    void operator()(std::string& result) const {
        std::string text;
        if (key.ReadString(name, text)) {
            result = std::move(text);
        }
    }
    void operator()(double& result) const {
        std::uint64_t bits = 0;
        if (ReadEight(key, name, bits)) {
            result = std::bit_cast<double>(bits);
        }
    }
    void operator()(CurrencyValue& result) const {
        std::uint64_t bits = 0;
        if (ReadEight(key, name, bits)) {
            result.scaled = static_cast<std::int64_t>(bits);
        }
    }
    void operator()(DateTimeValue& result) const {
        std::uint64_t bits = 0;
        if (ReadEight(key, name, bits)) {
            result.days = std::bit_cast<double>(bits);
        }
    }
};

// The registry form of each kind of value.
struct Encoder {
    platform::RegistryValue operator()(std::int32_t value) const {
        return platform::RegistryValue::Integer(static_cast<DWORD>(value));
    }
    platform::RegistryValue operator()(bool value) const {
        return platform::RegistryValue::Integer(value ? 1u : 0u);
    }
    platform::RegistryValue operator()(const std::string& value) const {
        return platform::RegistryValue::String(value);
    }
    platform::RegistryValue operator()(double value) const {
        return platform::RegistryValue::Binary(EightBytes(std::bit_cast<std::uint64_t>(value)));
    }
    platform::RegistryValue operator()(const CurrencyValue& value) const {
        return platform::RegistryValue::Binary(EightBytes(static_cast<std::uint64_t>(value.scaled)));
    }
    platform::RegistryValue operator()(const DateTimeValue& value) const {
        return platform::RegistryValue::Binary(EightBytes(std::bit_cast<std::uint64_t>(value.days)));
    }
};

} // namespace

SettingValue ReadSettingValue(HKEY root, std::string_view keyPath, std::string_view valueName,
                              const SettingValue& defaultValue) {
    SettingValue result = defaultValue;
    try {
        RegistryKey key;
        if (key.Open(EffectiveRoot(root), keyPath, false) && key.ValueExists(valueName)) {
            SettingValue stored = defaultValue;
            std::visit(Reader{key, valueName}, stored);
            result = std::move(stored);
        }
    } catch (...) {
        // A setting that cannot be read is a setting not made: the default stands.
        result = defaultValue;
    }
    return result;
}

void WriteSettingValue(HKEY root, std::string_view keyPath, std::string_view valueName,
                       const SettingValue& value) {
    try {
        RegistryKey key;
        if (key.Open(EffectiveRoot(root), keyPath, true)) {
            key.WriteValues({{std::string(valueName), std::visit(Encoder{}, value)}});
        }
    } catch (...) {
        // Losing one setting must never stop the program from closing.
    }
}

bool WriteSettingValues(HKEY root, std::string_view keyPath,
                        const std::vector<std::pair<std::string, SettingValue>>& values) {
    try {
        std::vector<std::pair<std::string, platform::RegistryValue>> encoded;
        encoded.reserve(values.size());
        for (const auto& [name, value] : values) {
            encoded.emplace_back(name, std::visit(Encoder{}, value));
        }
        RegistryKey key;
        return key.Open(EffectiveRoot(root), keyPath, true) && key.WriteValues(encoded);
    } catch (...) {
        return false;
    }
}

} // namespace tunefold
