// Colours in the engine and in the stored settings are 0x00BBGGRR values (red in the low byte);
// these turn them into QColor and back. Header-only, so the Qt services can use it too.
#pragma once

#include <QColor>

#include <cstdint>

namespace tunefold::controls {

inline QColor ColorFromRef(std::uint32_t ref) {
    return QColor(static_cast<int>(ref & 0xFF), static_cast<int>((ref >> 8) & 0xFF),
                  static_cast<int>((ref >> 16) & 0xFF));
}

inline std::uint32_t RefFromColor(const QColor& c) {
    return static_cast<std::uint32_t>(c.red()) | static_cast<std::uint32_t>(c.green()) << 8 |
           static_cast<std::uint32_t>(c.blue()) << 16;
}

} // namespace tunefold::controls
