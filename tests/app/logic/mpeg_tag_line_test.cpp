// The tag line of MPEG files tagged by another program: ID3v2 text in each of its encodings, the
// field limit counted in characters, and the ID3v1 tag taking precedence where a file has both.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/logic/file_info.h"
#include "app/logic/mpeg_tag_line.h"
#include "support/pull.h"

namespace tunefold {
namespace {

std::string TagLineOf(const std::string& fixture) {
    const FileInfo info = DescribeFile(test::Fixture(fixture));
    EXPECT_EQ(info.kind, FileKind::Mpeg) << fixture;
    return info.tagLine;
}

TEST(MpegTagLine, Id3v2TextInEveryEncodingReadsAsUtf8) {
    EXPECT_EQ(TagLineOf("id3v2_latin1.mp3"), "TITLE: Café Crème ARTIST: Björk ALBUM: Ærø");
    EXPECT_EQ(TagLineOf("id3v2_utf16.mp3"), "TITLE: Ελληνικά 日本語 ARTIST: Дмитрий ALBUM: Über");
    EXPECT_EQ(TagLineOf("id3v2_utf8.mp3"), "TITLE: naïve €uro 🎵 ARTIST: Zoë ALBUM: 東京");
}

TEST(MpegTagLine, Id3v2FieldsKeepThirtyCharactersAndBlankControls) {
    EXPECT_EQ(TagLineOf("id3v2_long.mp3"),
              "TITLE: Ünïcödé title that runs on wel ARTIST: Tab Artist ALBUM: A");
}

TEST(MpegTagLine, TheId3v1TagWinsOverId3v2) {
    EXPECT_EQ(TagLineOf("id3v2_and_v1.mp3"),
              "TITLE: Fixture Title ARTIST: Fixture Artist ALBUM: Fixture Album");
    // Without either tag the fields stay empty.
    EXPECT_EQ(TagLineOf("l3_cbr64_mono_22050.mp3"), "TITLE:  ARTIST:  ALBUM: ");
}

TEST(MpegTagLine, DamagedUtf8ShowsReplacementsAndTheRest) {
    TMMMpegInfo info{};
    TMMMpegTextTags tags;
    tags.Title = std::string("a\xC3") + "b";                 // a lead byte without its continuation
    tags.Artist = std::string("\xC0\xAF") + "x\xED\xA0\x80"; // an overlong '/' and a surrogate
    tags.Album = std::string("\xE6\x9D");                    // cut short at the end
    EXPECT_EQ(MpegTagLine(info, tags),
              "TITLE: a\uFFFDb ARTIST: \uFFFD\uFFFDx\uFFFD\uFFFD\uFFFD ALBUM: \uFFFD\uFFFD");
    // An ID3v1 tag with no text shows empty fields, not the ID3v2 ones.
    std::memcpy(info.ID3Tag, "TAG", 3);
    EXPECT_EQ(MpegTagLine(info, tags), "TITLE:  ARTIST:  ALBUM: ");
}

} // namespace
} // namespace tunefold
