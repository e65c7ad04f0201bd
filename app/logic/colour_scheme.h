// The 30 scheme colours of the displays, the built-in scheme "Standard", and scheme files: a named
// scheme is "<name>.sc" in the program's folder, 30 lines of one decimal number each, Col1 first.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tunefold {

constexpr int ColourSlotCount = 30;

// Col1..Col30 at index 0..29, each 0x00BBGGRR (red in the lowest byte).
using TColourSlots = std::array<std::uint32_t, ColourSlotCount>;

// The built-in colours.
const TColourSlots& StandardColours();

// A scheme file's name must stay a name: no folder separators, no NUL, not "." or "..". The empty
// name and "Standard" are names like any other here (a file of that name is loaded if it exists).
bool SchemeNameUsable(std::string_view name);
// programFolder + "/" + name + ".sc"; empty when the name is not usable.
std::string SchemeFilePath(const std::string& programFolder, std::string_view name);

// Whether "Save as..." takes `name` as a new scheme's name: a file name of its own in the program's
// folder, so nothing empty or a single space, no "/", NUL or other control characters, no leading
// "." (hidden files, "." and ".."), and at most MaxSchemeNameBytes bytes so that the name with
// ".sc" and the writer's temporary name beside it stay file names.
inline constexpr std::size_t MaxSchemeNameBytes = 251;
bool SchemeNameAcceptable(std::string_view name);

// The scheme names in the program's folder: the regular files "<name>.sc" whose names are
// acceptable, sorted by name (bytes), each without its ".sc".
std::vector<std::string> ListSchemes(const std::string& programFolder);

// Removes the scheme file `name`. False when the name is not usable or the file is not there or
// cannot be removed.
bool DeleteScheme(const std::string& programFolder, std::string_view name);

// Reads 30 values from a scheme file's text into `slots`. For each slot the next token is taken
// after spaces, tabs and line ends (at most 32 characters, ended by any character of code 32 or
// less), converted as a 32-bit decimal number or, after "$", a hexadecimal one, and the rest of its
// line is skipped; at the end of the text the value is 0. False (and `slots` untouched) when a token
// is no number.
bool ParseSchemeText(std::string_view text, TColourSlots& slots);
// The file's text: one decimal number per line (negative for values of 0x80000000 and up, as they
// read back), each line ended by CR LF.
std::string FormatSchemeText(const TColourSlots& slots);

// Loads the scheme `name` from the program's folder into `slots`; a file that is missing, is no
// regular file, is too large or cannot be read completely gives the Standard colours, silently.
void LoadColors(const std::string& programFolder, std::string_view name, TColourSlots& slots);

// Writes `slots` as the scheme `name`, replacing the file as a whole. False when the name is not
// usable or the file could not be written (an old file of that name is then as it was).
bool WriteScheme(const std::string& programFolder, std::string_view name, const TColourSlots& slots);

} // namespace tunefold
