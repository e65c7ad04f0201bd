// The MPEG source over the decoder library: stream information, decoded PCM against mpg123,
// positioning, channel selection, looping, errors, and files that are not what they claim.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>

#include "engine/sources/mpeg_file.h"
#include "platform/dialogs.h"
#include "platform/virtual/scripted_dialogs.h"
#include "support/pull.h"
#include "support/riff_builder.h"
#include "support/test_env.h"

namespace tunefold {
namespace {

using test::Fixture;

struct MpegFixture {
    const char* file;
    int version;
    int layer;
    int rate;
    int mode;
    int channels;
    bool tagged;
    int bitRate; // 0: variable
};

const MpegFixture kFixtures[] = {
    {"l3_cbr128_joint_44100.mp3", 1, 3, 44100, smJointStereo, 2, true, 128},
    {"l3_vbr_stereo_44100.mp3", 1, 3, 44100, smStereo, 2, true, 0},
    {"l3_cbr64_mono_22050.mp3", 0, 3, 22050, smSingleChannel, 1, false, 64},
    {"l3_cbr192_dual_48000.mp3", 1, 3, 48000, smDualChannel, 2, false, 192},
    {"l3_vbr_joint_22050.mp3", 0, 3, 22050, smJointStereo, 2, true, 0},
    {"l2_joint_192_44100.mp2", 1, 2, 44100, smJointStereo, 2, false, 192},
    {"l2_dual_256_32000.mp2", 1, 2, 32000, smDualChannel, 2, false, 256},
    {"l2_mono_96_48000.mp2", 1, 2, 48000, smSingleChannel, 1, false, 96},
    {"l2_stereo_22050.mp2", 0, 2, 22050, smStereo, 2, false, 96},
};

std::string Field(const TMMMpegInfo& info, int recordOffset, int width) {
    const auto* bytes = reinterpret_cast<const char*>(&info);
    std::string s(bytes + recordOffset, static_cast<std::size_t>(width));
    return s.substr(0, s.find('\0'));
}

// Silent Layer I frames, built by hand: header, then all-zero allocation bits (every subband off).
std::vector<std::uint8_t> LayerOneStream(int frames, bool mono) {
    // MPEG-1 Layer I, 128 kbit/s, 44100 Hz, no CRC: 12 * 128000 / 44100 = 34 slots of 4 bytes.
    std::vector<std::uint8_t> out;
    for (int i = 0; i < frames; ++i) {
        std::uint8_t header[4] = {0xFF, 0xFF, 0x40, static_cast<std::uint8_t>(mono ? 0xC0 : 0x00)};
        out.insert(out.end(), header, header + 4);
        out.insert(out.end(), 136 - 4, 0);
    }
    return out;
}

class MpegTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(LoadMpegDecoder()) << "the decoder library must be built"; }
};

TEST_F(MpegTest, StreamInformationOfEveryFixture) {
    for (const auto& fx : kFixtures) {
        SCOPED_TRACE(fx.file);
        TMMMpegInfo info{};
        ASSERT_TRUE(GetMpegFileInfo(Fixture(fx.file), info));
        EXPECT_EQ(int(info.Version), fx.version);
        EXPECT_EQ(int(info.Layer), fx.layer);
        EXPECT_EQ(int(info.SampleRate), fx.rate);
        EXPECT_EQ(int(info.PlaybackRate), fx.rate);
        // The channel mode as the first frame header states it (twolame writes plain stereo frames
        // when joint coding gains nothing).
        const auto bytes = test::ReadBytes(Fixture(fx.file));
        ASSERT_GT(bytes.size(), 4u);
        EXPECT_EQ(int(info.Mode), bytes[3] >> 6);
        if (fx.mode == smSingleChannel || fx.mode == smDualChannel) {
            EXPECT_EQ(int(info.Mode), fx.mode);
        }
        // Samples per frame: 384 for layer I, 1152 for layer II, 1152 or (MPEG-2) 576 for layer III.
        const int spf = fx.layer == 1 ? 384 : (fx.layer == 3 && fx.version == 0) ? 576 : 1152;
        EXPECT_NEAR(double(info.FrameTime), spf * 1000.0 / fx.rate, 1e-9);
        // Length from the independent decoder's output: every sample counts, VBR included.
        const auto reference =
            test::ReadBytes(Fixture(std::string(fx.file).substr(0, std::strlen(fx.file) - 4) + ".s16"));
        ASSERT_FALSE(reference.empty());
        const double samples = static_cast<double>(reference.size()) / (2.0 * fx.channels);
        EXPECT_NEAR(int(info.Time), samples * 1000.0 / fx.rate, 1.0);
        // The frames hold the samples plus at most the encoder's delay and padding.
        EXPECT_GE(int(info.Frames) * static_cast<double>(spf), samples);
        EXPECT_LE(int(info.Frames) * static_cast<double>(spf) - samples, 3.0 * spf);
        if (fx.bitRate != 0) {
            EXPECT_EQ(int(info.BitRate), fx.bitRate);
        } else {
            EXPECT_GT(int(info.BitRate), 8); // the average of a variable-rate stream
            EXPECT_LT(int(info.BitRate), 320);
        }
        if (fx.tagged) {
            EXPECT_EQ(Field(info, 38, 3), "TAG");
            EXPECT_EQ(Field(info, 41, 30), "Fixture Title");
            EXPECT_EQ(Field(info, 71, 30), "Fixture Artist");
            EXPECT_EQ(Field(info, 101, 30), "Fixture Album");
        } else {
            EXPECT_EQ(Field(info, 38, 3), "");
        }
    }
}

TEST_F(MpegTest, DecodedPcmMatchesMpg123OnEveryFixture) {
    for (const auto& fx : kFixtures) {
        SCOPED_TRACE(fx.file);
        TMMMPEGFile source;
        source.SetFileName(Fixture(fx.file));
        ASSERT_NE(source.PWaveFormat(), nullptr);
        EXPECT_EQ(source.PWaveFormat()->nChannels, fx.channels);
        EXPECT_EQ(source.PWaveFormat()->nSamplesPerSec, static_cast<DWORD>(fx.rate));
        EXPECT_EQ(source.PWaveFormat()->wBitsPerSample, 16);
        source.Opened();
        source.Started();
        auto r = test::PullAll(source, 4000);
        ASSERT_TRUE(r.ended);
        EXPECT_EQ(r.emptyBuffers, 0) << "the last data came with MoreBuffers false";
        EXPECT_EQ(r.shortBeforeLast, 0);
        const auto reference =
            test::ReadBytes(Fixture(std::string(fx.file).substr(0, std::strlen(fx.file) - 4) + ".s16"));
        EXPECT_EQ(r.data.size(), reference.size());
        // The same decoder engine; its output stage may round one step differently for some rates.
        auto diff = test::Compare16(r.data, reference);
        EXPECT_LE(diff.maxAbs, 1) << "first difference at sample " << diff.firstIndex;
        source.Closed();
    }
}

// The largest absolute 16-bit sample of a stream.
int Peak16(const std::vector<std::uint8_t>& pcm) {
    int peak = 0;
    for (std::size_t i = 0; i + 1 < pcm.size(); i += 2) {
        peak =
            std::max(peak, std::abs(static_cast<int>(static_cast<std::int16_t>(pcm[i] | (pcm[i + 1] << 8)))));
    }
    return peak;
}

TEST_F(MpegTest, GarbageBetweenFramesIsNotPlayed) {
    // Random bytes spliced in after every third frame of a lame-made MPEG-1 layer III stream: any
    // run of them that looks like a frame header must not be decoded into a click. The frames are
    // walked by their headers (128 kbit/s at 44100 Hz: 417 bytes, 418 with the padding bit).
    const auto clean = test::ReadBytes(Fixture("l3_cbr128_joint_44100.mp3"));
    std::mt19937 random(20261210);
    std::vector<std::uint8_t> spliced;
    std::size_t pos = 0;
    int frames = 0;
    while (pos + 4 <= clean.size() && clean[pos] == 0xFF && (clean[pos + 1] & 0xE0) == 0xE0) {
        ASSERT_EQ(clean[pos + 2] >> 4, 9) << "a 128 kbit/s frame";
        const std::size_t length = 417 + ((clean[pos + 2] >> 1) & 1);
        ASSERT_LE(pos + length, clean.size());
        spliced.insert(spliced.end(), clean.begin() + static_cast<long>(pos),
                       clean.begin() + static_cast<long>(pos + length));
        pos += length;
        if (++frames % 3 == 0) {
            const std::size_t junk = 40 + random() % 700;
            for (std::size_t i = 0; i < junk; ++i) {
                // Sync-like bytes are common in the junk, as they are in damaged streams.
                spliced.push_back(random() % 4 == 0 ? 0xFF : static_cast<std::uint8_t>(random()));
            }
        }
    }
    ASSERT_GT(frames, 80);
    spliced.insert(spliced.end(), clean.begin() + static_cast<long>(pos), clean.end()); // the ID3v1 tag
    const std::string path = (test::Sandbox() / "spliced.mp3").string();
    test::WriteFile(path, spliced);

    const auto reference = test::ReadBytes(Fixture("l3_cbr128_joint_44100.s16"));
    const int musicPeak = Peak16(reference);
    ASSERT_GT(musicPeak, 10000);
    TMMMpegInfo cleanInfo{};
    ASSERT_TRUE(GetMpegFileInfo(Fixture("l3_cbr128_joint_44100.mp3"), cleanInfo));
    TMMMPEGFile source;
    source.SetFileName(path);
    ASSERT_NE(source.PWaveFormat(), nullptr);
    EXPECT_EQ(source.Frames(), int(cleanInfo.Frames));
    source.Opened();
    source.Started();
    auto r = test::PullAll(source, 4608);
    source.Closed();
    ASSERT_TRUE(r.ended);
    EXPECT_LE(Peak16(r.data), musicPeak) << "clicks from false frames";
    // Every real frame is there and decodes as in the clean file.
    EXPECT_EQ(r.data.size(), reference.size());
    EXPECT_LE(test::Compare16(r.data, reference).maxAbs, 1);
}

TEST_F(MpegTest, PositionDecodesForwardFromTwoFramesBefore) {
    TMMMPEGFile source;
    source.SetFileName(Fixture("l2_joint_192_44100.mp2"));
    source.Opened();
    source.Started();
    auto whole = test::PullAll(source, 4608);
    source.Closed();
    const std::size_t frameBytes = 1152 * 4;
    EXPECT_EQ(source.Mpeg().FrameBytes(), static_cast<int>(frameBytes));
    EXPECT_EQ(source.Mpeg().FrameTime(), 26);

    // A position set while stopped is where playing begins; layer II frames stand alone, so the data
    // after frame 20 is exactly what sequential decoding gave there.
    source.SetPosition(20);
    source.Opened();
    EXPECT_EQ(source.Position(), 20);
    source.Started();
    EXPECT_EQ(source.Position(), 20);
    test::PullBuffer buf(4608);
    ASSERT_TRUE(buf.Load(source));
    ASSERT_EQ(buf.Recorded(), 4608u);
    EXPECT_EQ(std::memcmp(buf.Data(), whole.data.data() + 20 * frameBytes, 4608), 0);
    // 0 and 1 both start the library at frame 0.
    source.SetPosition(1);
    EXPECT_EQ(source.Position(), 1);
    source.SetPosition(0);
    EXPECT_EQ(source.Position(), 0);
    ASSERT_TRUE(buf.Load(source));
    EXPECT_EQ(std::memcmp(buf.Data(), whole.data.data(), 4608), 0);
    // Past the end: nothing more to play, the next pull ends the stream.
    source.SetPosition(100000);
    EXPECT_TRUE(source.Mpeg().IsDone());
    EXPECT_FALSE(buf.Load(source));
    source.Closed();
}

TEST_F(MpegTest, ChannelSelectionShapesTheFormat) {
    TMMMPEGFile source;
    int changes = 0;
    source.OnChange = [&](TObject*) { ++changes; };
    source.SetFileName(Fixture("l3_cbr192_dual_48000.mp3"));
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(source.ChannelMode(), cmBoth);
    EXPECT_EQ(source.PWaveFormat()->nChannels, 2);
    source.SetChannelMode(cmLeft);
    EXPECT_EQ(source.ChannelMode(), cmLeft);
    EXPECT_EQ(source.Mpeg().PWaveFormat()->nChannels, 1);
    EXPECT_EQ(source.Mpeg().PWaveFormat()->nBlockAlign, 2);
    // The stage hears of the new layout at once, as of a new file: the chain below must not take
    // the mono data for stereo.
    ASSERT_NE(source.PWaveFormat(), nullptr);
    EXPECT_EQ(source.PWaveFormat()->nChannels, 1);
    EXPECT_EQ(source.PWaveFormat()->nAvgBytesPerSec, 2u * 48000);
    EXPECT_EQ(changes, 2);
    source.SetChannelMode(cmRight); // same layout: nothing to pass on
    EXPECT_EQ(changes, 2);
    source.SetChannelMode(cmLeft);
    source.Opened();
    try {
        source.SetChannelMode(cmBoth);
        ADD_FAILURE() << "no error";
    } catch (const EMMMpegError& e) {
        EXPECT_STREQ(e.what(), "Change to property while device was open");
    }
    source.Started();
    auto left = test::PullAll(source, 8192);
    source.Closed();
    // The left channel of mpg123's stereo decode.
    auto reference = test::ReadBytes(Fixture("l3_cbr192_dual_48000.s16"));
    std::vector<std::uint8_t> refLeft;
    for (std::size_t i = 0; i + 3 < reference.size(); i += 4) {
        refLeft.push_back(reference[i]);
        refLeft.push_back(reference[i + 1]);
    }
    EXPECT_EQ(left.data.size(), refLeft.size());
    EXPECT_LE(test::Compare16(left.data, refLeft).maxAbs, 1);

    source.SetExactposition(true);
    EXPECT_TRUE(source.Exactposition());
    source.SetExactposition(false);
    EXPECT_FALSE(source.Exactposition());
}

TEST_F(MpegTest, StreamPropertiesWithoutAFile) {
    TMMMPEGFile source;
    EXPECT_EQ(source.PWaveFormat(), nullptr);
    EXPECT_EQ(source.Version(), v1);
    EXPECT_EQ(source.Layer(), 0);
    EXPECT_EQ(source.Time(), 0);
    EXPECT_EQ(source.Frames(), 0);
    EXPECT_EQ(source.Mpeg().FrameTime(), 0);
    source.Opened();
    source.Started();
    test::PullBuffer buf(1024);
    EXPECT_FALSE(buf.Load(source));
    EXPECT_EQ(buf.Recorded(), 0u) << "a source with nothing open returns 0 bytes";
    source.Closed();
    // An opened but not started (or disabled) source delivers silence and keeps going.
    source.SetFileName(Fixture("l2_mono_96_48000.mp2"));
    source.Opened();
    std::memset(buf.Header()->wh.lpData, 0x55, 1024);
    EXPECT_TRUE(buf.Load(source));
    EXPECT_EQ(buf.Recorded(), 1024u);
    EXPECT_EQ(buf.Data()[100], 0);
    source.Started();
    source.SetEnabled(false);
    EXPECT_TRUE(buf.Load(source));
    EXPECT_EQ(buf.Data()[500], 0);
    source.Closed();
    try {
        source.SetFileName(Fixture("pcm16_stereo_44100.wav"));
        ADD_FAILURE() << "a PCM wave file is no MPEG stream";
    } catch (const EMMMpegError& e) {
        EXPECT_STRNE(e.what(), "");
    }
    EXPECT_EQ(source.PWaveFormat(), nullptr);
}

TEST_F(MpegTest, LoopingPlaysTheFileAgain) {
    TMMMPEGFile source;
    source.SetFileName(Fixture("l2_mono_96_48000.mp2"));
    source.Opened();
    source.Started();
    auto once = test::PullAll(source, 3000);
    source.Closed();
    source.SetPosition(0);
    source.Opened();
    source.Started();
    test::PullBuffer buf(3000);
    std::vector<std::uint8_t> all;
    int restarts = 0;
    for (int i = 0; i < 10000; ++i) {
        buf.Header()->LoopEnabled = -1;
        buf.Header()->LoopCount = 2;
        if (i == 0) {
            buf.Header()->LoopsLeft = 2;
        }
        buf.Header()->LoopRestart = 0;
        bool more = buf.Load(source);
        all.insert(all.end(), buf.Data(), buf.Data() + buf.Recorded());
        restarts += buf.Header()->LoopRestart != 0 ? 1 : 0;
        if (!more) {
            break;
        }
    }
    source.Closed();
    EXPECT_EQ(restarts, 2);
    EXPECT_EQ(all.size(), 3 * once.data.size());
}

TEST_F(MpegTest, DecodingErrorsGoToOnErrorFirst) {
    TMMMPEGFile source;
    source.SetFileName(Fixture("l3_cbr128_joint_44100.mp3"));
    source.Opened();
    source.Started();
    test::PullBuffer buf(4096);
    ASSERT_TRUE(buf.Load(source));
    ASSERT_EQ(MpegDecoder().AbortReadData(source.Mpeg().Handle()), 0);
    int errors = 0;
    source.OnError = [&](TObject*, bool& handled) {
        ++errors;
        (void)handled;
    };
    EXPECT_THROW(buf.Load(source), EMMMpegError);
    EXPECT_EQ(errors, 1);
    source.OnError = [&](TObject*, bool& handled) {
        ++errors;
        handled = true;
    };
    EXPECT_FALSE(buf.Load(source)) << "a handled error ends the stream";
    EXPECT_EQ(buf.Recorded(), 4u);
    EXPECT_EQ(errors, 2);
    source.Closed();
}

TEST_F(MpegTest, WhatCountsAsAnMpegFile) {
    EXPECT_TRUE(IsMpegFile(Fixture("l3_vbr_stereo_44100.mp3")));
    EXPECT_TRUE(IsMpegFile(Fixture("l2_stereo_22050.mp2")));
    EXPECT_FALSE(IsMpegFile(Fixture("pcm16_stereo_44100.wav")));
    EXPECT_FALSE(IsMpegFile(""));
    EXPECT_FALSE(IsMpegFile(Fixture("missing.mp3")));
    // A RIFF WAVE file counts by its format tag alone: 85 and 80 yes, 1 no.
    for (int tag : {85, 80, 1}) {
        test::RiffBuilder b;
        b.Fmt(static_cast<std::uint16_t>(tag), 2, 44100, tag == 1 ? 16 : 0, tag == 1 ? 4 : 1, 16000, 30, 12)
            .Chunk("data", std::vector<std::uint8_t>(400, 0));
        const std::string path = (test::Sandbox() / ("tag" + std::to_string(tag) + ".wav")).string();
        test::WriteFile(path, test::RiffBuilder::Wave(b));
        EXPECT_EQ(IsMpegFile(path), tag != 1) << tag;
        TMMMpegInfo info{};
        if (tag == 1) {
            EXPECT_FALSE(GetMpegFileInfo(path, info));
        }
    }
    // Random bytes and a file cut in mid-frame: no crash, no hang, a clean end.
    std::mt19937 rng(7);
    std::vector<std::uint8_t> noise(50000);
    for (auto& b : noise) {
        b = static_cast<std::uint8_t>(rng());
    }
    const std::string noisePath = (test::Sandbox() / "noise.mp3").string();
    test::WriteFile(noisePath, noise);
    for (const std::string& path : {noisePath, Fixture("truncated.mp3")}) {
        SCOPED_TRACE(path);
        if (!IsMpegFile(path)) {
            continue;
        }
        TMMMPEGFile source;
        source.SetFileName(path);
        source.Opened();
        source.Started();
        auto r = test::PullAll(source, 4096, 5000);
        EXPECT_TRUE(r.ended);
        source.Closed();
    }
    EXPECT_TRUE(IsMpegFile(Fixture("truncated.mp3")));
}

TEST_F(MpegTest, AFileThatChangesIsProbedAfresh) {
    namespace fs = std::filesystem;
    const std::string path = (test::Sandbox() / "changing.mp3").string();
    // Written long ago, as most files are: what the decoder said of it is kept.
    auto writeAged = [&](const std::vector<std::uint8_t>& bytes, std::chrono::minutes age) {
        test::WriteFile(path, bytes);
        fs::last_write_time(path, fs::file_time_type::clock::now() - age);
    };
    writeAged(test::ReadBytes(Fixture("l3_cbr128_joint_44100.mp3")), std::chrono::minutes(90));
    TMMMpegInfo first{};
    ASSERT_TRUE(IsMpegFile(path));
    ASSERT_TRUE(GetMpegFileInfo(path, first));

    // Another stream under the same name: its own information, not the first file's.
    writeAged(test::ReadBytes(Fixture("l2_stereo_22050.mp2")), std::chrono::minutes(60));
    TMMMpegInfo second{};
    ASSERT_TRUE(GetMpegFileInfo(path, second));
    EXPECT_EQ(+second.SampleRate, 22050);
    EXPECT_EQ(+second.Layer, 2);
    EXPECT_NE(+second.Frames, +first.Frames);

    // Rewritten at once with the same size, within one tick of the file system's clock: each version
    // is read as it is.
    const auto tick = fs::file_time_type::clock::now();
    auto bytes = test::ReadBytes(Fixture("l3_cbr128_joint_44100.mp3"));
    test::WriteFile(path, bytes);
    fs::last_write_time(path, tick);
    ASSERT_TRUE(IsMpegFile(path));
    std::fill(bytes.begin(), bytes.end(), 0);
    test::WriteFile(path, bytes);
    fs::last_write_time(path, tick);
    EXPECT_FALSE(IsMpegFile(path));

    // No longer audio at all, then gone.
    writeAged(std::vector<std::uint8_t>(3000, 0), std::chrono::minutes(30));
    EXPECT_FALSE(IsMpegFile(path));
    TMMMpegInfo none{};
    EXPECT_FALSE(GetMpegFileInfo(path, none));
    fs::remove(path);
    EXPECT_FALSE(IsMpegFile(path));
}

TEST_F(MpegTest, HandBuiltLayerOneStream) {
    for (bool mono : {false, true}) {
        const std::string path = (test::Sandbox() / (mono ? "l1_mono.mp1" : "l1_stereo.mp1")).string();
        test::WriteFile(path, LayerOneStream(50, mono));
        TMMMpegInfo info{};
        ASSERT_TRUE(GetMpegFileInfo(path, info));
        EXPECT_EQ(int(info.Layer), 1);
        EXPECT_EQ(int(info.Frames), 50);
        EXPECT_EQ(int(info.BitRate), 128);
        EXPECT_EQ(int(info.Mode), mono ? smSingleChannel : smStereo);
        EXPECT_EQ(int(info.Time), 435); // 50 * 384 / 44100 s
        TMMMPEGFile source;
        source.SetFileName(path);
        source.Opened();
        source.Started();
        auto r = test::PullAll(source, 4096);
        EXPECT_TRUE(r.ended);
        EXPECT_EQ(r.data.size(), 50u * 384 * (mono ? 2 : 4));
        EXPECT_TRUE(std::all_of(r.data.begin(), r.data.end(), [](std::uint8_t b) { return b == 0; }));
        source.Closed();
    }
}

TEST(MpegLoader, MissingAndOldLibraries) {
    platform::ScriptedDialogs dialogs;
    platform::ScopedDialogs scope(dialogs);
    UnloadMpegDecoder();
    SetMpegDecoderLibraryName("libmmmpeg32_missing.so");
    EXPECT_FALSE(LoadMpegDecoder());
    try {
        TMMMpeg mpeg;
        ADD_FAILURE() << "no error";
    } catch (const EMMMpegError& e) {
        EXPECT_STREQ(e.what(), "Unable to load MMMPEG32.DLL");
    }
    EXPECT_FALSE(IsMpegFile(Fixture("l3_vbr_stereo_44100.mp3")));
    SetMpegDecoderLibraryName("libmmmpeg32_old.so");
    EXPECT_FALSE(LoadMpegDecoder());
    auto shown = dialogs.MessageBoxes();
    ASSERT_EQ(shown.size(), 4u);
    EXPECT_EQ(shown[0].text, "Unable to load MMMPEG32.DLL");
    EXPECT_EQ(shown[0].icon, platform::MsgIcon::Error);
    EXPECT_EQ(shown[0].buttons, platform::MsgButtons::Ok);
    EXPECT_EQ(shown[3].text, "Invalid Mpeg Decoder DLL version");
    SetMpegDecoderLibraryName("");
    EXPECT_TRUE(LoadMpegDecoder()) << "the next call tries again";
    EXPECT_EQ(dialogs.MessageBoxes().size(), 4u);
    EXPECT_GE(MpegDecoder().Version(), 20);
}

} // namespace
} // namespace tunefold
