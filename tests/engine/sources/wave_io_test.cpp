// The chunk rules of the WAVE parser, on images built byte by byte.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "engine/sources/wave_io.h"
#include "support/riff_builder.h"
#include "support/test_env.h"

namespace tunefold {
namespace {

using test::RiffBuilder;
constexpr platform::FOURCC kWave = platform::mmioFOURCC('W', 'A', 'V', 'E');

struct Parsed {
    int code = -1;
    PWaveIORecord rec = nullptr;
    ~Parsed() { WaveIOClose(rec); }
};

void ParseMemory(Parsed& p, const std::vector<std::uint8_t>& image) {
    TMMWaveMemory mem{image.data(), static_cast<long>(image.size())};
    p.code = WaveIOOpenInfo(p.rec, "", kWave, wioMemory, &mem);
}

TEST(WaveIO, ShortFmtAndRepairedDerivedFields) {
    // 16-byte fmt: cbSize reads 0. Header says block align 2 and a wrong byte rate for 16-bit stereo.
    RiffBuilder b;
    b.Fmt(1, 2, 22050, 16, 2, 12345, 16);
    std::vector<std::uint8_t> data = test::Ramp16(10, 2);
    data.push_back(0xAA); // 41 bytes: rounded to the stored block of 2 first
    b.Chunk("data", data);
    auto image = RiffBuilder::Wave(b);
    Parsed p;
    ParseMemory(p, image);
    ASSERT_EQ(p.code, 0);
    const WAVEFORMATEX& f = *p.rec->Format;
    EXPECT_EQ(f.cbSize, 0);
    EXPECT_EQ(f.nBlockAlign, 4);
    EXPECT_EQ(f.nAvgBytesPerSec, 4u * 22050);
    // 41 data bytes (the pad byte behind them is not audio), rounded down by the stored block 2.
    EXPECT_EQ(p.rec->DataSize, 40);
    EXPECT_EQ(p.rec->TotalSamples, BytesToSamples(f, 40));
    EXPECT_EQ(p.rec->EndSample, p.rec->TotalSamples);
    EXPECT_EQ(p.rec->DataOffset, 12 + 8 + 16 + 8);
}

TEST(WaveIO, AbsurdHeaderFieldsNeitherOverflowNorGiveANegativeLength) {
    // Channels times bits past what an int holds, and a sample rate past what an int holds.
    struct Case {
        std::uint16_t channels;
        std::uint32_t rate;
        std::uint16_t bits;
    };
    for (const Case c : {Case{46081, 22050, 52942}, Case{1, 0xFFFFE0B8u, 8}}) {
        RiffBuilder b;
        b.Fmt(1, c.channels, c.rate, c.bits, 1, 1, 16);
        b.Chunk("data", std::vector<std::uint8_t>(33, 0));
        Parsed p;
        ParseMemory(p, RiffBuilder::Wave(b));
        if (p.code == 0) {
            EXPECT_GE(WaveSamplesToMs(*p.rec->Format, p.rec->TotalSamples), 0) << c.rate;
        }
    }
}

TEST(WaveIO, DataExtentEndsAtTheNextChunkHeaderOrTheFileEnd) {
    // data followed by a LIST INFO chunk: the data ends at the LIST header.
    RiffBuilder b;
    b.Pcm(2, 44100, 16).Chunk("data", test::Ramp16(25, 2));
    RiffBuilder info;
    info.Chunk("INAM", {'S', 'o', 'n', 'g', 0}).Chunk("XXXX", {1, 2}).Chunk("IART", {'M', 'e', 0, 0});
    std::vector<std::uint8_t> list = {'I', 'N', 'F', 'O'};
    list.insert(list.end(), info.bytes.begin(), info.bytes.end());
    b.Chunk("LIST", list);
    Parsed p;
    ParseMemory(p, RiffBuilder::Wave(b));
    ASSERT_EQ(p.code, 0);
    EXPECT_EQ(p.rec->DataSize, 100);
    EXPECT_EQ(p.rec->TotalSamples, 25);
    ASSERT_EQ(p.rec->InfoList.size(), 2u); // XXXX is not a standard code
    EXPECT_EQ(p.rec->InfoList[0].code, platform::mmioFOURCC('I', 'N', 'A', 'M'));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p.rec->InfoBody.data() + p.rec->InfoList[0].offset)),
              "Song");
    EXPECT_EQ(p.rec->InfoList[1].code, platform::mmioFOURCC('I', 'A', 'R', 'T'));

    // data chunk last and 3 stray bytes after it with 4-byte frames: the stray bytes are not played.
    RiffBuilder c;
    c.Pcm(2, 44100, 16).Chunk("data", test::Ramp16(25, 2)).Bytes(3, 0x55);
    Parsed q;
    ParseMemory(q, RiffBuilder::Wave(c));
    ASSERT_EQ(q.code, 0);
    EXPECT_EQ(q.rec->DataSize, 100);

    // A data size of 0xFFFFFFFF (streamed writers) runs to the end of the file.
    RiffBuilder d;
    d.Pcm(1, 8000, 16).Str("data").U32(0xFFFFFFFFu);
    auto ramp = test::Ramp16(30, 1);
    d.Raw(ramp.data(), ramp.size());
    Parsed r;
    ParseMemory(r, RiffBuilder::Wave(d, 0xFFFFFFFFu)); // the outer size is cut to the file too
    ASSERT_EQ(r.code, 0);
    EXPECT_EQ(r.rec->DataSize, 60);
    EXPECT_EQ(r.rec->RiffChunk.cksize, r.rec->FileSize - 8u);
}

// What sox, the reference decoder, makes of a file: its samples as unsigned 8-bit bytes.
std::vector<std::uint8_t> SoxBytes(const std::string& path) {
    std::vector<std::uint8_t> out;
    FILE* p = popen(("sox -V1 '" + path + "' -t raw -e unsigned -b 8 - 2>/dev/null").c_str(), "r");
    if (p == nullptr) {
        return out;
    }
    std::uint8_t buffer[4096];
    std::size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) {
        out.insert(out.end(), buffer, buffer + n);
    }
    pclose(p);
    return out;
}

// The bytes the parser takes for audio, read as playing reads them.
std::vector<std::uint8_t> PlayedBytes(const std::string& path) {
    std::vector<std::uint8_t> out;
    Parsed p;
    p.code = WaveIOOpenInfo(p.rec, path, kWave, wioFile);
    if (p.code != 0 || WaveIOReopen(*p.rec) != 0) {
        ADD_FAILURE() << "cannot parse " << path;
        return out;
    }
    std::uint8_t buffer[4096];
    std::int32_t n;
    while ((n = WaveIORead(p.rec, buffer, sizeof buffer)) > 0) {
        out.insert(out.end(), buffer, buffer + n);
    }
    EXPECT_EQ(static_cast<std::int64_t>(out.size()), p.rec->DataSize);
    return out;
}

TEST(WaveIO, AFinishedFileHoldsTheAudioItsDataChunkDeclares) {
    // 8-bit mono of an odd length: its pad byte (0, a full-scale click) and whatever follows the
    // RIFF are not audio. No audio byte is 0, so a stray pad byte shows.
    std::vector<std::uint8_t> audio(20001);
    for (std::size_t i = 0; i < audio.size(); ++i) {
        audio[i] = static_cast<std::uint8_t>(100 + i % 101);
    }
    std::vector<std::uint8_t> tag(128, 'x');
    std::memcpy(tag.data(), "TAG", 3);
    RiffBuilder info;
    info.Chunk("INAM", {'S', 'o', 'n', 'g', 0});
    std::vector<std::uint8_t> list = {'I', 'N', 'F', 'O'};
    list.insert(list.end(), info.bytes.begin(), info.bytes.end());

    struct Case {
        const char* name;
        std::vector<std::uint8_t> image;
        std::size_t expected;
    };
    std::vector<Case> cases;
    RiffBuilder padded;
    padded.Pcm(1, 8000, 8).Chunk("data", audio);
    cases.push_back({"padded", RiffBuilder::Wave(padded), 20001});
    auto tagged = RiffBuilder::Wave(padded);
    tagged.insert(tagged.end(), tag.begin(), tag.end()); // ID3v1 behind a correctly sized RIFF
    cases.push_back({"id3_after_riff", tagged, 20001});
    RiffBuilder listed = padded;
    listed.Chunk("LIST", list);
    cases.push_back({"list_after_data", RiffBuilder::Wave(listed), 20001});
    RiffBuilder unpadded;
    unpadded.Pcm(1, 8000, 8).Chunk("data", audio, false);
    cases.push_back({"no_pad_byte", RiffBuilder::Wave(unpadded, unpadded.Size() + 5), 20001});
    // A size past the end (a streamed writer's placeholder): everything to the end of the file.
    RiffBuilder streamed;
    streamed.Pcm(1, 8000, 8).Str("data").U32(0xFFFFFFFFu).Raw(audio.data(), audio.size());
    streamed.Raw(tag.data(), tag.size());
    cases.push_back({"size_past_end", RiffBuilder::Wave(streamed), 20001 + 128});

    const std::string path = (test::Sandbox() / "extent.wav").string();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::WriteFile(path, c.image);
        const auto ours = PlayedBytes(path);
        EXPECT_EQ(ours.size(), c.expected);
        const auto sox = SoxBytes(path);
        ASSERT_FALSE(sox.empty()) << "sox gave nothing";
        EXPECT_TRUE(ours == sox) << "ours " << ours.size() << " bytes, sox " << sox.size();
    }

    // An outer size that does not cover the data it holds: the sizes contradict each other, so the
    // data runs to the end of the file, as it does for a data size of 0 that nothing follows.
    RiffBuilder stale;
    stale.Pcm(1, 8000, 8).Chunk("data", audio, false);
    auto staleImage = RiffBuilder::Wave(stale, 4 + 24 + 8 + 1000);
    staleImage.insert(staleImage.end(), audio.begin(), audio.begin() + 500);
    test::WriteFile(path, staleImage);
    EXPECT_EQ(PlayedBytes(path).size(), 20001u + 500);
}

TEST(WaveIO, SecondFmtDataOrFactEndsTheParse) {
    RiffBuilder b;
    b.Pcm(1, 8000, 8).Chunk("fact", {5, 0, 0, 0}).Chunk("data", std::vector<std::uint8_t>(10, 1));
    b.Chunk("data", std::vector<std::uint8_t>(20, 2))
        .Chunk("LIST", {'I', 'N', 'F', 'O', 'I', 'N', 'A', 'M', 0, 0, 0, 0});
    Parsed p;
    ParseMemory(p, RiffBuilder::Wave(b));
    ASSERT_EQ(p.code, 0);
    EXPECT_EQ(p.rec->DataSize, 10); // ends at the second data header; the list behind it is never read
    EXPECT_TRUE(p.rec->InfoBody.empty());

    // A second fmt before the data: the parse ends there, so the file has no data.
    RiffBuilder c;
    c.Pcm(1, 8000, 8).Pcm(2, 44100, 16).Chunk("data", std::vector<std::uint8_t>(10, 1));
    Parsed q;
    ParseMemory(q, RiffBuilder::Wave(c));
    ASSERT_EQ(q.code, 0);
    EXPECT_EQ(q.rec->Format->nChannels, 1);
    EXPECT_EQ(q.rec->DataSize, 0);
}

TEST(WaveIO, RejectedAndEmptyFiles) {
    Parsed notRiff;
    RiffBuilder x;
    x.Str("RIFX").U32(4).Str("WAVE");
    ParseMemory(notRiff, x.bytes);
    EXPECT_EQ(notRiff.code, 106);
    EXPECT_EQ(notRiff.rec, nullptr);

    Parsed avi;
    RiffBuilder y;
    y.Str("RIFF").U32(4).Str("AVI ");
    ParseMemory(avi, y.bytes);
    EXPECT_EQ(avi.code, 106);

    Parsed noFmt;
    RiffBuilder z;
    z.Chunk("data", {1, 2, 3, 4});
    ParseMemory(noFmt, RiffBuilder::Wave(z));
    EXPECT_EQ(noFmt.code, 101);

    Parsed zeroAlign; // the frame rounding would divide by zero
    RiffBuilder a;
    a.Fmt(2, 1, 8000, 4, 0, 4000, 20, 2).Chunk("data", {1, 2, 3, 4});
    ParseMemory(zeroAlign, RiffBuilder::Wave(a));
    EXPECT_NE(zeroAlign.code, 0);
    EXPECT_EQ(zeroAlign.rec, nullptr);

    Parsed truncatedFmt; // the fmt chunk claims 40 bytes and the file ends after 16
    RiffBuilder t;
    t.Str("fmt ").U32(40).U16(1).U16(1).U32(8000).U32(8000).U16(1).U16(8);
    ParseMemory(truncatedFmt, RiffBuilder::Wave(t));
    EXPECT_EQ(truncatedFmt.code, 0) << "a chunk past the file end is cut to the file";

    Parsed noRate; // a format without a frame rate cannot be positioned
    RiffBuilder n;
    n.Fmt(1, 1, 0, 16, 2, 0).Chunk("data", {1, 2});
    ParseMemory(noRate, RiffBuilder::Wave(n));
    EXPECT_NE(noRate.code, 0);

    Parsed empty;
    RiffBuilder e;
    e.Pcm(1, 8000, 16);
    ParseMemory(empty, RiffBuilder::Wave(e));
    ASSERT_EQ(empty.code, 0);
    EXPECT_EQ(empty.rec->DataSize, 0) << "fmt without data is an empty file";
    EXPECT_EQ(empty.rec->TotalSamples, 0);
}

TEST(WaveIO, CompressedExtraBytesStayInsideTheFormatChunk) {
    // cbSize claims 200 extra bytes, the chunk holds 2: copies of the format must not read past it.
    RiffBuilder b;
    b.Fmt(17, 1, 8000, 4, 256, 4055, 20, 200).Chunk("data", std::vector<std::uint8_t>(512, 0));
    Parsed p;
    ParseMemory(p, RiffBuilder::Wave(b));
    ASSERT_EQ(p.code, 0);
    EXPECT_EQ(p.rec->Format->cbSize, 2);
    EXPECT_EQ(WaveFormatSize(p.rec->Format.get()), 20u);
    auto copy = DuplicateWaveFormat(p.rec->Format.get());
    EXPECT_EQ(copy->wFormatTag, 17);
    EXPECT_EQ(p.rec->DataSize, 512);
    EXPECT_EQ(p.rec->TotalSamples, BytesToSamples(*p.rec->Format, 512));
}

TEST(WaveIO, InfoWalkStopsAtASubchunkThatDoesNotFit) {
    RiffBuilder info;
    info.Chunk("INAM", {'A', 0});
    info.Str("IART").U32(1000).Str("xx"); // claims far more than the list holds
    std::vector<std::uint8_t> list = {'I', 'N', 'F', 'O'};
    list.insert(list.end(), info.bytes.begin(), info.bytes.end());
    RiffBuilder b;
    b.Pcm(1, 8000, 8).Chunk("LIST", list).Chunk("DISP", {1, 0, 0, 0, 'h', 'i'}).Chunk("data", {1, 2});
    Parsed p;
    ParseMemory(p, RiffBuilder::Wave(b));
    ASSERT_EQ(p.code, 0);
    ASSERT_EQ(p.rec->InfoList.size(), 1u);
    ASSERT_EQ(p.rec->DispList.size(), 1u);
    EXPECT_EQ(p.rec->DispList[0].type, 1u);
    EXPECT_EQ(p.rec->DispList[0].data.size(), 2u);
    EXPECT_EQ(p.rec->DataSize, 2);
}

TEST(WaveIO, SeekAndReadOnAFile) {
    const std::string path = (test::Sandbox() / "seek.wav").string();
    RiffBuilder b;
    b.Pcm(2, 44100, 16).Chunk("data", test::Ramp16(100, 2));
    test::WriteFile(path, RiffBuilder::Wave(b));
    EXPECT_TRUE(IsWaveFile(path, wioFile));
    EXPECT_FALSE(IsWaveFile(path + ".missing", wioFile));
    Parsed p;
    p.code = WaveIOOpenInfo(p.rec, path, kWave, wioFile);
    ASSERT_EQ(p.code, 0);
    EXPECT_EQ(p.rec->Handle, nullptr) << "the parse closes the file";
    EXPECT_EQ(WaveIORead(p.rec, nullptr, 4), -1);
    ASSERT_EQ(WaveIOReopen(*p.rec), 0);
    EXPECT_EQ(WaveIOSetBuffer(*p.rec, 8192), 0);
    EXPECT_EQ(WaveIOSeek(*p.rec, -1), 106);
    ASSERT_EQ(WaveIOSeek(*p.rec, 90), 0);
    EXPECT_EQ(p.rec->BytesLeft, 40);
    EXPECT_EQ(p.rec->Position, 90);
    std::uint8_t buf[64];
    EXPECT_EQ(WaveIORead(p.rec, buf, 64), 40);
    auto ramp = test::Ramp16(100, 2);
    EXPECT_EQ(std::memcmp(buf, ramp.data() + 360, 40), 0);
    EXPECT_EQ(p.rec->BytesLeft, 0);
    EXPECT_EQ(p.rec->Position, 100);
    EXPECT_EQ(WaveIORead(p.rec, buf, 64), -1);
    // A seek past the end lands on the last frame.
    ASSERT_EQ(WaveIOSeek(*p.rec, 5000), 0);
    EXPECT_EQ(p.rec->Position, 99);
    EXPECT_EQ(p.rec->BytesLeft, 4);
}

TEST(WaveIO, WrittenFileReadsBack) {
    const std::string path = (test::Sandbox() / "written.wav").string();
    WAVEFORMATEX f{};
    MakePCMFormat(f, 16, 1, 8000);
    PWaveIORecord rec = nullptr;
    ASSERT_EQ(WaveIOCreate(rec, path, f), 0);
    auto ramp = test::Ramp16(33, 1);
    ASSERT_EQ(WaveIOWrite(*rec, ramp.data(), 66), 66);
    rec->InfoBody = {'I', 'N', 'A', 'M', 3, 0, 0, 0, 'a', 'b', 0, 0};
    WaveIOClose(rec);
    Parsed p;
    p.code = WaveIOOpenInfo(p.rec, path, kWave, wioFile);
    ASSERT_EQ(p.code, 0);
    EXPECT_EQ(p.rec->DataSize, 66);
    EXPECT_EQ(p.rec->TotalSamples, 33);
    EXPECT_EQ(p.rec->InfoList.size(), 1u);
    auto bytes = test::ReadFile(path);
    // RIFF size is the file minus 8; fact chunk right after the data holds the frame count.
    EXPECT_EQ(bytes[4] | (bytes[5] << 8), static_cast<int>(bytes.size()) - 8);
    std::size_t fact = 12 + 8 + 18 + 8 + 66;
    ASSERT_GT(bytes.size(), fact + 12);
    EXPECT_EQ(
        std::string(bytes.begin() + static_cast<long>(fact), bytes.begin() + static_cast<long>(fact) + 4),
        "fact");
    EXPECT_EQ(bytes[fact + 8], 33);
}

} // namespace
} // namespace tunefold

namespace tunefold {
namespace {

// Hand-made files whose bytes matter, committed with the sources.
TEST(WaveIO, CommittedChunkRuleFiles) {
    struct Case {
        const char* file;
        std::int32_t dataSize;
        WORD blockAlign;
    };
    const Case cases[] = {
        {"list_after_data.wav", 33, 1},   // 33 data bytes; their pad byte before the LIST is not audio
        {"wrong_block_align.wav", 42, 4}, // rounded by the stored block of 2, then repaired to 4
        {"two_data_chunks.wav", 10, 1},
        {"stray_bytes.wav", 100, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string path = std::string(TUNEFOLD_SOURCE_DIR) + "/tests/data/" + c.file;
        PWaveIORecord rec = nullptr;
        ASSERT_EQ(WaveIOOpenInfo(rec, path, platform::mmioFOURCC('W', 'A', 'V', 'E'), wioFile), 0);
        EXPECT_EQ(rec->DataSize, c.dataSize);
        EXPECT_EQ(rec->Format->nBlockAlign, c.blockAlign);
        WaveIOClose(rec);
    }
}

} // namespace
} // namespace tunefold
