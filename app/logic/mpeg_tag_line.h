// The tag text of an MPEG file as the player's second display line and `--info` show it.
#pragma once

#include <string>

#include "engine/sources/mpeg_file.h"

namespace tunefold {

struct TMpegTagFields {
    std::string title;
    std::string artist;
    std::string album;
};

// The three fields, each up to 30 characters, as UTF-8. The ID3v1 tag at the end of the file gives
// them where there is one; without it the ID3v2 tag's text fields do.
TMpegTagFields MpegTagFields(const TMMMpegInfo& info, const TMMMpegTextTags& tags);

// "TITLE: ... ARTIST: ... ALBUM: ..." of those fields.
std::string MpegTagLine(const TMMMpegInfo& info, const TMMMpegTextTags& tags);

} // namespace tunefold
