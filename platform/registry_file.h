// The text layout of the registry store: the REGEDIT4 export layout, so a person can read, back up and
// edit the settings with any text editor.
//
//   REGEDIT4
//
//   [HKEY_CURRENT_USER\Software\Brenvik\Tunefold\2.0]
//   "WH"="0"
//   "Buffers"=dword:00000084
//   "Gain"=hex:00,00,00,00,00,00,f0,3f
//   @="Tunefold"
//
// Strings (value names and REG_SZ data) are quoted; inside them \\ and \" stand for a backslash and a
// quote, \n, \r, \t for those control characters and \xHH for any other byte below 0x20 or 0x7F, so no
// value can break a line and every byte string round-trips. Other bytes stand as they are. Types other
// than REG_SZ, REG_DWORD and REG_BINARY (and a REG_DWORD that is not four bytes) are kept as hex(N):.
// Lines may end in CR LF; empty lines and lines starting with ";" are ignored.
#pragma once

#include <string>
#include <string_view>

#include "platform/registry.h"

namespace tunefold::platform {

// Parses a whole store. False (and `tree` empty) when anything in it is not in the layout above: the
// caller must then treat the bytes as someone else's and keep them.
bool ParseRegistryFile(std::string_view bytes, RegistryTree& tree);

// The text of a tree; ParseRegistryFile gives the same tree back.
std::string FormatRegistryFile(const RegistryTree& tree);

} // namespace tunefold::platform
