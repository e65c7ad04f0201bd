// The decoder library decodes ahead of its reader on a thread of its own. Repositioning, reselecting
// and closing while that thread runs must never let a frame from before the change through, lose
// one, or leave the thread behind.
#include <gtest/gtest.h>

#include <random>
#include <utility>
#include <vector>

#include "engine/sources/mpeg_file.h"
#include "support/pull.h"

namespace tunefold {
namespace {

using test::Fixture;

class Decoder {
public:
    explicit Decoder(const std::string& file) {
        std::int32_t code = 0;
        h_ = e().Init(&code, nullptr, nullptr);
        EXPECT_EQ(code, 0);
        EXPECT_EQ(e().SetFileName(h_, file.c_str()), 0);
        EXPECT_EQ(e().OpenFile(h_), 0);
        e().SetDecodeCallback(h_, &Decoder::Decoded, this);
    }
    ~Decoder() {
        if (h_ != nullptr) {
            e().Done(&h_);
        }
    }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    std::vector<std::uint8_t> Read(std::size_t count) {
        std::vector<std::uint8_t> out(count);
        const std::int32_t got = e().ReadDataBytes(h_, out.data(), static_cast<std::int32_t>(count));
        EXPECT_GE(got, 0);
        out.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
        return out;
    }
    TMpegHandle Handle() const { return h_; }
    std::int32_t Frames() {
        TMMMpegInfo info{};
        e().GetFileInfo(h_, &info);
        return info.Frames;
    }
    // Frames reported decoded since the last call.
    std::vector<std::int32_t> TakeDecoded() { return std::exchange(decoded_, {}); }

    static const TMpegEntryPoints& e() { return MpegDecoder(); }

private:
    static void Decoded(void* user, std::int32_t frame) {
        static_cast<Decoder*>(user)->decoded_.push_back(frame);
    }

    TMpegHandle h_ = nullptr;
    std::vector<std::int32_t> decoded_;
};

TEST(MpegDecodeAhead, RepositioningMidStreamGivesWhatAFreshDecoderGives) {
    ASSERT_TRUE(LoadMpegDecoder());
    const std::string file = Fixture("l3_cbr128_joint_44100.mp3");
    Decoder busy(file);
    const std::int32_t frames = busy.Frames();
    ASSERT_GT(frames, 50);
    std::mt19937 rng(11);
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE(round);
        // Leave the decoding thread somewhere in the middle of its work, then move.
        busy.Read(std::uniform_int_distribution<std::size_t>(0, 40000)(rng));
        const auto frame = std::uniform_int_distribution<std::int32_t>(0, frames + 2)(rng);
        ASSERT_EQ(Decoder::e().SetPosition(busy.Handle(), frame), 0);
        busy.TakeDecoded();

        Decoder fresh(file);
        ASSERT_EQ(Decoder::e().SetPosition(fresh.Handle(), frame), 0);
        fresh.TakeDecoded();
        const std::size_t count = std::uniform_int_distribution<std::size_t>(1, 30000)(rng);
        EXPECT_EQ(busy.Read(count), fresh.Read(count));
        EXPECT_EQ(Decoder::e().GetPosition(busy.Handle()), Decoder::e().GetPosition(fresh.Handle()));
        EXPECT_EQ(Decoder::e().GetDone(busy.Handle()), Decoder::e().GetDone(fresh.Handle()));
        EXPECT_EQ(busy.TakeDecoded(), fresh.TakeDecoded());
    }
}

TEST(MpegDecodeAhead, TheEndStaysTheEndAndEveryFrameComesOnce) {
    ASSERT_TRUE(LoadMpegDecoder());
    Decoder d(Fixture("l2_joint_192_44100.mp2"));
    const std::int32_t frames = d.Frames();
    std::size_t total = 0;
    while (Decoder::e().GetDone(d.Handle()) == 0) {
        const auto got = d.Read(1500).size();
        ASSERT_GT(got, 0u);
        total += got;
    }
    EXPECT_EQ(total, static_cast<std::size_t>(frames) * 1152 * 4);
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(d.Read(4096).empty());
        EXPECT_EQ(Decoder::e().GetDone(d.Handle()), 1);
    }
    const auto decoded = d.TakeDecoded();
    ASSERT_EQ(decoded.size(), static_cast<std::size_t>(frames));
    for (std::size_t i = 0; i < decoded.size(); ++i) {
        ASSERT_EQ(decoded[i], static_cast<std::int32_t>(i));
    }
    EXPECT_EQ(Decoder::e().GetPosition(d.Handle()), frames);

    // Back to the start: the whole stream again.
    ASSERT_EQ(Decoder::e().ResetFile(d.Handle()), 0);
    EXPECT_EQ(d.Read(8000).size(), 8000u);
}

TEST(MpegDecodeAhead, ReselectingClosingAndEndingWhileDecodingAhead) {
    ASSERT_TRUE(LoadMpegDecoder());
    const std::string first = Fixture("l3_cbr128_joint_44100.mp3");
    const std::string second = Fixture("l2_mono_96_48000.mp2");
    for (int round = 0; round < 20; ++round) {
        Decoder d(first);
        d.Read(5000);
        switch (round % 4) {
        case 0: { // another file: its audio, from its start
            ASSERT_EQ(Decoder::e().SetFileName(d.Handle(), second.c_str()), 0);
            ASSERT_EQ(Decoder::e().OpenFile(d.Handle()), 0);
            Decoder fresh(second);
            EXPECT_EQ(d.Read(6000), fresh.Read(6000));
            break;
        }
        case 1: // one channel only: the file reopens with the new layout
            ASSERT_EQ(Decoder::e().SetChannelMode(d.Handle(), MPEG_CM_LEFT), 0);
            EXPECT_EQ(d.Read(6000).size(), 6000u);
            break;
        case 2:
            EXPECT_EQ(Decoder::e().Clear(d.Handle()), 0);
            EXPECT_EQ(Decoder::e().GetEmpty(d.Handle()), 1);
            break;
        default: // the decoder ends while its thread decodes
            break;
        }
    }
}

} // namespace
} // namespace tunefold
