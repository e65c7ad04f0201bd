// The program's settings: where they live in the registry, the names of the values, and the two
// routines every window uses to read a setting with a default and to write one.
//
// How each kind of value is stored, so that every value reads back exactly as it was written:
//
//   integer    REG_DWORD, the 32-bit two's complement of the value
//   boolean    REG_DWORD, 1 for true and 0 for false; any non-zero number reads as true
//   string     REG_SZ, the bytes as they are
//   float      REG_BINARY, the 8 bytes of the IEEE-754 double, little-endian
//   currency   REG_BINARY, the 8 bytes of the value times 10000 as a signed 64-bit integer, little-endian
//   date-time  REG_BINARY, the 8 bytes of the double counting days since 1899-12-30 (the fraction
//              is the time of day), little-endian
//
// A value of another registry type, or a REG_BINARY of other than 8 bytes, reads as absent: the
// default stands. Float, currency and date-time share one registry type, so the store cannot tell
// them apart; each reader takes the 8 bytes as its own kind.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "platform/registry.h"

namespace tunefold {

// The settings key below HKEY_CURRENT_USER. The start-up code spells it with a leading "\", which
// names the same key.
inline constexpr std::string_view SettingsKeyPath = "Software\\Brenvik\\Tunefold\\2.0";

// The values of the settings key.
namespace settings_value {
inline constexpr std::string_view WH = "WH";
inline constexpr std::string_view Param = "Param";
inline constexpr std::string_view Scheme = "Scheme";
inline constexpr std::string_view Buffers = "Buffers";
inline constexpr std::string_view BufferSize = "BufferSize";
inline constexpr std::string_view DeviceID = "DeviceID";
inline constexpr std::string_view CBMode = "CBMode";
inline constexpr std::string_view Left = "Left";
inline constexpr std::string_view Top = "Top";
inline constexpr std::string_view File_Volume = "File_Volume";
inline constexpr std::string_view CD_Volume = "CD_Volume";
// How the CD player hears a disc: "Digital", "Analog", anything else (or nothing) automatically.
inline constexpr std::string_view CDAudio = "CDAudio";
inline constexpr int ColCount = 30;
inline constexpr int MRUDCount = 9;
// "Col1".."Col30" (index 1..30).
std::string Col(int index);
// "MRUD1".."MRUD9" (index 1..9).
std::string MRUD(int index);
} // namespace settings_value

// A money amount with four decimal places, held as the amount times 10000.
struct CurrencyValue {
    std::int64_t scaled = 0;
    bool operator==(const CurrencyValue&) const = default;
};

// A point in time: days since 1899-12-30, the fraction being the time of day.
struct DateTimeValue {
    double days = 0.0;
    bool operator==(const DateTimeValue&) const = default;
};

enum class SettingTag { Integer, Float, Currency, DateTime, String, Boolean };

// A setting with its kind; the alternatives are in SettingTag order.
using SettingValue = std::variant<std::int32_t, double, CurrencyValue, DateTimeValue, std::string, bool>;

inline SettingTag TagOf(const SettingValue& value) {
    return static_cast<SettingTag>(value.index());
}

// The value `valueName` of `keyPath` read as the kind of `defaultValue`, or `defaultValue` itself when
// the key or the value is missing, the value has another type, or the store fails in any way. The key
// is opened (never created) and closed on each call. A `root` that is not a predefined root stands for
// HKEY_CURRENT_USER.
SettingValue ReadSettingValue(platform::HKEY root, std::string_view keyPath, std::string_view valueName,
                              const SettingValue& defaultValue);

// Writes `value` as its kind, creating the key if it is missing; opened and closed on each call. A
// failure is ignored: settings never stop the program.
void WriteSettingValue(platform::HKEY root, std::string_view keyPath, std::string_view valueName,
                       const SettingValue& value);

// Writes every value of `values` as its kind into `keyPath` (created if missing) in one update of the
// store: a reader sees all of them or none, and the store is written once, not once per value. False
// when nothing could be written (the failure is otherwise ignored like WriteSettingValue's).
bool WriteSettingValues(platform::HKEY root, std::string_view keyPath,
                        const std::vector<std::pair<std::string, SettingValue>>& values);

} // namespace tunefold
