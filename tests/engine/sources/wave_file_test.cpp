// TMMWave and the wave file stage: positions, reading to the end, names and their errors, looping,
// silence, and the file the sink mode writes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "engine/sources/wave_file.h"
#include "support/pull.h"
#include "support/riff_builder.h"
#include "support/test_env.h"

namespace tunefold {
namespace {

using test::RiffBuilder;

std::string MakeWave(const std::string& name, int channels, int rate, int bits,
                     const std::vector<std::uint8_t>& data) {
    RiffBuilder b;
    b.Pcm(static_cast<std::uint16_t>(channels), static_cast<std::uint32_t>(rate),
          static_cast<std::uint16_t>(bits))
        .Chunk("data", data);
    const std::string path = (test::Sandbox() / name).string();
    test::WriteFile(path, RiffBuilder::Wave(b));
    return path;
}

TEST(Wave, PropertiesAndPositionsByTimeFormat) {
    TMMWave wave;
    EXPECT_EQ(wave.Position(), -1);
    EXPECT_EQ(wave.BitLength(), 0);
    EXPECT_EQ(wave.Mode(), mMono);
    EXPECT_EQ(wave.FormatTag(), 0);
    EXPECT_EQ(wave.FormatString(), "Unknown");
    EXPECT_EQ(wave.SampleRate(), 11025);
    EXPECT_EQ(wave.DataSize(), 0);
    EXPECT_TRUE(wave.IsEmpty());
    wave.SetIOBufferSize(100);
    EXPECT_EQ(wave.IOBufferSize(), 8192);

    const auto data = test::Ramp16(88200, 2); // two seconds
    wave.SetFileName(MakeWave("pos.wav", 2, 44100, 16, data));
    EXPECT_EQ(wave.BitLength(), 16);
    EXPECT_EQ(wave.Mode(), mStereo);
    EXPECT_EQ(wave.FormatString(), "PCM");
    EXPECT_EQ(wave.SampleRate(), 44100);
    EXPECT_EQ(wave.DataSize(), 88200);
    wave.SetTimeFormat(tfMillisecond);
    EXPECT_EQ(wave.DataSize(), 2000);
    EXPECT_EQ(wave.Length(), 2000);
    wave.SetTimeFormat(tfByte);
    EXPECT_EQ(wave.Length(), 88200 * 4);

    wave.SetTimeFormat(tfMillisecond);
    wave.OpenFile();
    wave.SetPosition(1500);
    wave.SetTimeFormat(tfSample);
    EXPECT_EQ(wave.Position(), 66150);
    EXPECT_EQ(wave.BytesLeft(), (88200 - 66150) * 4);
    std::vector<std::uint8_t> buf(16);
    ASSERT_EQ(wave.ReadData(buf.data(), 16), 16);
    EXPECT_EQ(std::memcmp(buf.data(), data.data() + 66150 * 4, 16), 0);
    EXPECT_EQ(wave.Position(), 66154);
    // Clamped to the end: nothing is left to read.
    wave.SetPosition(1000000);
    EXPECT_EQ(wave.Position(), 88200);
    EXPECT_EQ(wave.BytesLeft(), 0);
    EXPECT_EQ(wave.ReadData(buf.data(), 16), -1);
    wave.CloseFile();
    EXPECT_EQ(wave.BytesLeft(), 0);
    // A position set while closed is only remembered.
    wave.SetPosition(1234);
    EXPECT_EQ(wave.Position(), 1234);
}

// A sparse file of `size` bytes that starts with `header` and holds `patches` at their offsets;
// removed again when the test ends.
struct SparseFile {
    std::string path;
    SparseFile(const std::string& name, const std::vector<std::uint8_t>& header, std::int64_t size,
               const std::vector<std::pair<std::int64_t, std::vector<std::uint8_t>>>& patches)
        : path((test::Sandbox() / name).string()) {
        int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0644);
        ok = fd >= 0 &&
             ::pwrite(fd, header.data(), header.size(), 0) == static_cast<ssize_t>(header.size()) &&
             ::ftruncate(fd, size) == 0;
        for (const auto& [offset, bytes] : patches) {
            ok = ok && ::pwrite(fd, bytes.data(), bytes.size(), offset) == static_cast<ssize_t>(bytes.size());
        }
        if (fd >= 0) {
            ::close(fd);
        }
    }
    ~SparseFile() { ::unlink(path.c_str()); }
    bool ok = false;
};

TEST(Wave, FilesPastTwoAndFourGiBParseSeekAndRead) {
    // 16-bit stereo, a data chunk of 3 GiB: sizes, positions and seeks beyond 31 bits.
    const std::uint32_t dataBytes = 0xC0000000u;
    RiffBuilder b;
    b.Pcm(2, 44100, 16).Str("data").U32(dataBytes);
    const auto header = RiffBuilder::Wave(b, 4 + 24 + 8 + static_cast<std::int64_t>(dataBytes));
    const std::int64_t dataOffset = static_cast<std::int64_t>(header.size());
    const std::int64_t lastFrame = dataBytes / 4 - 1;
    const std::vector<std::uint8_t> marker = {1, 2, 3, 4, 5, 6, 7, 8};
    SparseFile big("big.wav", header, dataOffset + dataBytes, {{dataOffset + (lastFrame - 1) * 4, marker}});
    ASSERT_TRUE(big.ok);
    TMMWave wave;
    wave.SetFileName(big.path);
    EXPECT_EQ(wave.FileSize(), dataOffset + dataBytes);
    EXPECT_EQ(wave.DataSize(), lastFrame + 1);
    wave.SetTimeFormat(tfByte);
    EXPECT_EQ(wave.Length(), static_cast<std::int64_t>(dataBytes));
    wave.SetTimeFormat(tfMillisecond);
    EXPECT_EQ(wave.Length(), 18260915); // 805306368 frames at 44100 Hz
    wave.SetTimeFormat(tfSample);
    wave.OpenFile();
    wave.SetPosition(lastFrame - 1);
    EXPECT_EQ(wave.Position(), lastFrame - 1);
    EXPECT_EQ(wave.BytesLeft(), 8);
    std::uint8_t buf[64] = {};
    ASSERT_EQ(wave.ReadData(buf, sizeof buf), 8);
    EXPECT_EQ(std::memcmp(buf, marker.data(), 8), 0);
    EXPECT_EQ(wave.Position(), lastFrame + 1);
    wave.CloseFile();

    // Close to 4 GiB of data with an INFO list behind it, whose header lies past 32-bit offsets.
    const std::uint32_t hugeBytes = 0xFFFFFF00u;
    RiffBuilder info;
    info.Chunk("INAM", {'B', 'i', 'g', 0});
    std::vector<std::uint8_t> list = {'I', 'N', 'F', 'O'};
    list.insert(list.end(), info.bytes.begin(), info.bytes.end());
    RiffBuilder listChunk;
    listChunk.Chunk("LIST", list);
    RiffBuilder h;
    h.Pcm(1, 8000, 8).Str("data").U32(hugeBytes);
    const auto hugeHeader =
        RiffBuilder::Wave(h, 4 + 24 + 8 + static_cast<std::int64_t>(hugeBytes) + listChunk.Size());
    const std::int64_t listAt = static_cast<std::int64_t>(hugeHeader.size()) + hugeBytes;
    SparseFile huge("huge.wav", hugeHeader, listAt + static_cast<std::int64_t>(listChunk.Size()),
                    {{listAt, listChunk.bytes}, {listAt - 1, {0x42}}});
    ASSERT_TRUE(huge.ok);
    PWaveIORecord rec = nullptr;
    ASSERT_EQ(WaveIOOpenInfo(rec, huge.path, platform::mmioFOURCC('W', 'A', 'V', 'E'), wioFile), 0);
    EXPECT_EQ(rec->DataSize, static_cast<std::int64_t>(hugeBytes));
    EXPECT_EQ(rec->TotalSamples, static_cast<std::int64_t>(hugeBytes));
    ASSERT_EQ(rec->InfoList.size(), 1u) << "the list past 4 GiB is found";
    ASSERT_EQ(WaveIOReopen(*rec), 0);
    ASSERT_EQ(WaveIOSeek(*rec, rec->TotalSamples - 1), 0);
    std::uint8_t last = 0;
    EXPECT_EQ(WaveIORead(rec, &last, 1), 1);
    EXPECT_EQ(last, 0x42);
    WaveIOClose(rec);
}

TEST(Wave, FileNamesAndTheirErrors) {
    TMMWave wave;
    int notified = 0;
    wave.AddObserver([&] { ++notified; });
    const std::string good = MakeWave("good.wav", 1, 8000, 8, std::vector<std::uint8_t>(800, 128));
    wave.SetFileName(good);
    EXPECT_EQ(notified, 1);
    wave.SetFileName(good); // same name, same size: nothing happens
    EXPECT_EQ(notified, 1);

    const std::string text = (test::Sandbox() / "text.wav").string();
    test::WriteFile(text, {'h', 'e', 'l', 'l', 'o'});
    try {
        wave.SetFileName(text);
        ADD_FAILURE();
    } catch (const EMMWaveError& e) {
        EXPECT_STREQ(e.what(), "Invalid wave file...");
    }
    try {
        wave.SetFileName((test::Sandbox() / "missing.wav").string());
        ADD_FAILURE();
    } catch (const EMMWaveError& e) {
        EXPECT_STREQ(e.what(), "Error reading wave file");
    }
    EXPECT_EQ(wave.FileName(), good) << "a failed parse keeps the previous file";
    EXPECT_EQ(wave.DataSize(), 800);
    EXPECT_EQ(notified, 1);

    // A file to be created may be missing.
    wave.SetFileMustExist(false);
    const std::string fresh = (test::Sandbox() / "new.wav").string();
    wave.SetFileName(fresh);
    EXPECT_EQ(wave.FileName(), fresh);
    EXPECT_TRUE(wave.IsEmpty());
    EXPECT_EQ(notified, 2);
    wave.SetFileName("");
    EXPECT_EQ(wave.FileName(), "");
    EXPECT_EQ(notified, 3);
    // Names are kept as full paths.
    std::filesystem::current_path(test::Sandbox());
    wave.SetFileName("good.wav");
    EXPECT_EQ(wave.FileName(), good);
}

TEST(WaveFileStage, PlaysToTheEndInOrder) {
    const auto data = test::Ramp16(10001, 2);
    TMMWaveFile source;
    int changed = 0;
    source.OnChanged = [&](TObject*) { ++changed; };
    source.Wave().SetFileName(MakeWave("play.wav", 2, 22050, 16, data));
    EXPECT_EQ(changed, 1);
    ASSERT_NE(source.PWaveFormat(), nullptr);
    EXPECT_EQ(source.PWaveFormat()->nSamplesPerSec, 22050u);
    int opened = 0, closed = 0;
    source.OnOpen = [&](TObject*) { ++opened; };
    source.OnClose = [&](TObject*) { ++closed; };
    source.Opened();
    source.Started();
    EXPECT_EQ(opened, 1);
    auto r = test::PullAll(source, 4096);
    EXPECT_TRUE(r.ended);
    EXPECT_EQ(r.emptyBuffers, 0);
    EXPECT_EQ(r.shortBeforeLast, 0);
    EXPECT_EQ(r.data, data);
    source.Closed();
    EXPECT_EQ(closed, 1);

    // A position set while stopped is where playback begins.
    source.Wave().SetPosition(10000);
    source.Opened();
    source.Started();
    auto tail = test::PullAll(source, 4096);
    EXPECT_EQ(tail.data.size(), 4u);
    EXPECT_EQ(std::memcmp(tail.data.data(), data.data() + 40000, 4), 0);
    source.Closed();
}

TEST(WaveFileStage, FileShorterThanParsedEndsWithFourZeroBytes) {
    const std::string path = MakeWave("shrink.wav", 1, 8000, 16, test::Ramp16(3000, 1));
    TMMWaveFile source;
    source.Wave().SetFileName(path);
    // The file loses its tail after it was parsed.
    std::filesystem::resize_file(path, 44 + 1000);
    source.Opened();
    source.Started();
    test::PullBuffer buf(4000);
    EXPECT_TRUE(buf.Load(source));
    EXPECT_EQ(buf.Recorded(), 1000u);
    EXPECT_FALSE(buf.Load(source));
    EXPECT_EQ(buf.Recorded(), 4u);
    EXPECT_EQ(std::memcmp(buf.Data(), "\0\0\0\0", 4), 0);
    source.Closed();
}

TEST(WaveFileStage, LoopingAndSilence) {
    const auto data = test::Ramp16(1000, 1);
    TMMWaveFile source;
    source.Wave().SetFileName(MakeWave("loop.wav", 1, 8000, 16, data));
    int loops = 0;
    source.OnLooping = [&](TObject*) { ++loops; };
    source.Opened();
    source.Started();
    test::PullBuffer buf(700);
    std::vector<std::uint8_t> all;
    buf.Header()->LoopsLeft = 2;
    for (int i = 0; i < 100; ++i) {
        buf.Header()->LoopEnabled = -1;
        buf.Header()->LoopCount = 2;
        buf.Header()->LoopRestart = 0;
        bool more = buf.Load(source);
        all.insert(all.end(), buf.Data(), buf.Data() + buf.Recorded());
        if (!more) {
            break;
        }
    }
    EXPECT_EQ(loops, 2);
    ASSERT_EQ(all.size(), 3 * data.size());
    EXPECT_TRUE(std::equal(data.begin(), data.end(), all.begin() + static_cast<long>(2 * data.size())));
    source.Closed();

    // Opened but disabled: full buffers of silence, 128 for 8-bit PCM and 0 otherwise.
    for (int bits : {8, 16}) {
        TMMWaveFile quiet;
        quiet.Wave().SetFileName(MakeWave("quiet" + std::to_string(bits) + ".wav", 1, 8000, bits,
                                          std::vector<std::uint8_t>(64, 7)));
        quiet.SetEnabled(false);
        quiet.Opened();
        quiet.Started();
        test::PullBuffer b(32);
        EXPECT_TRUE(b.Load(quiet));
        EXPECT_EQ(b.Recorded(), 32u);
        EXPECT_EQ(b.Data()[31], bits == 8 ? 128 : 0);
        quiet.Closed();
    }
    // Empty: no data and MoreBuffers untouched.
    TMMWaveFile empty;
    test::PullBuffer e(32);
    EXPECT_FALSE(e.Load(empty));
    EXPECT_EQ(e.Recorded(), 0u);
}

TEST(WaveFileStage, SinkWritesWhatPassesThrough) {
    const auto data = test::Ramp16(5000, 2);
    TMMWaveFile source;
    source.Wave().SetFileName(MakeWave("src.wav", 2, 32000, 16, data));
    TMMWaveFile sink;
    sink.Wave().SetFileMustExist(false);
    const std::string out = (test::Sandbox() / "copy.wav").string();
    sink.Wave().SetFileName(out);
    sink.SetInput(&source);
    ASSERT_EQ(sink.Input(), &source);
    source.Opened();
    sink.Opened();
    source.Started();
    sink.Started();
    auto r = test::PullAll(sink, 3000);
    EXPECT_EQ(r.data, data);
    sink.Closed();
    source.Closed();
    TMMWave check;
    check.SetFileName(out);
    EXPECT_EQ(check.DataSize(), 5000);
    EXPECT_EQ(check.SampleRate(), 32000);
    check.OpenFile();
    std::vector<std::uint8_t> back(data.size());
    EXPECT_EQ(check.ReadData(back.data(), static_cast<std::int32_t>(back.size())),
              static_cast<std::int32_t>(back.size()));
    EXPECT_EQ(back, data);
    check.CloseFile();

    // A memory wave cannot be written.
    auto image = RiffBuilder::Wave(RiffBuilder().Pcm(1, 8000, 8).Chunk("data", {1, 2}));
    TMMWave memory;
    memory.SetMemoryWave(image.data(), static_cast<long>(image.size()));
    EXPECT_EQ(memory.DataSize(), 2);
    WAVEFORMATEX f{};
    MakePCMFormat(f, 8, 1, 8000);
    try {
        memory.CreateFile(f);
        ADD_FAILURE();
    } catch (const EMMWaveError& e) {
        EXPECT_STREQ(e.what(), "Can't write to MemoryWave");
    }
}

} // namespace
} // namespace tunefold
