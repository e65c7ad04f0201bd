// A connector on a compressed stream: the displays must see PCM in the format the compression
// manager suggests, with the samples an independent decoder gets from the same bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/displays/connector.h"
#include "engine/displays/level.h"
#include "engine/sources/acm_converter.h"
#include "platform/message_loop.h"
#include "platform/virtual/virtual_timers.h"

namespace tunefold {
namespace {

// ---- reference decoders, written from the codec definitions ----

std::int16_t MuLawSample(std::uint8_t code) {
    const int u = ~code & 0xFF;
    const int magnitude = ((((u & 0x0F) << 3) + 0x84) << ((u >> 4) & 7)) - 0x84;
    return static_cast<std::int16_t>((u & 0x80) != 0 ? -magnitude : magnitude);
}

constexpr int kImaSteps[89] = {
    7,    8,     9,     10,    11,    12,    13,    14,    16,    17,    19,    21,    23,    25,   28,
    31,   34,    37,    41,    45,    50,    55,    60,    66,    73,    80,    88,    97,    107,  118,
    130,  143,   157,   173,   190,   209,   230,   253,   279,   307,   337,   371,   408,   449,  494,
    544,  598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,  1552,  1707,  1878, 2066,
    2272, 2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845, 8630,
    9493, 10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
constexpr int kImaIndexStep[8] = {-1, -1, -1, -1, 2, 4, 6, 8};

// One mono IMA ADPCM block: the header sample, then two samples per byte, low nibble first.
std::vector<std::int16_t> DecodeImaBlock(const std::uint8_t* block, int blockAlign) {
    int predictor = static_cast<std::int16_t>(block[0] | (block[1] << 8));
    int index = block[2];
    std::vector<std::int16_t> out{static_cast<std::int16_t>(predictor)};
    for (int i = 4; i < blockAlign; ++i) {
        for (int nibble : {block[i] & 0x0F, block[i] >> 4}) {
            const int step = kImaSteps[index];
            int diff = step >> 3;
            if (nibble & 4)
                diff += step;
            if (nibble & 2)
                diff += step >> 1;
            if (nibble & 1)
                diff += step >> 2;
            predictor = std::clamp(predictor + ((nibble & 8) != 0 ? -diff : diff), -32768, 32767);
            index = std::clamp(index + kImaIndexStep[nibble & 7], 0, 88);
            out.push_back(static_cast<std::int16_t>(predictor));
        }
    }
    return out;
}

std::vector<std::uint8_t> Bytes(const std::vector<std::int16_t>& samples) {
    std::vector<std::uint8_t> b(samples.size() * 2);
    std::memcpy(b.data(), samples.data(), b.size());
    return b;
}

// Deterministic noise, so that every sample position matters.
std::vector<std::uint8_t> Noise(std::size_t n, std::uint32_t seed) {
    std::vector<std::uint8_t> v(n);
    for (auto& b : v) {
        seed = seed * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(seed >> 24);
    }
    return v;
}

// Valid-looking ADPCM blocks: a header with an index in range, then noise nibbles.
std::vector<std::uint8_t> ImaBlocks(int blocks, int blockAlign, std::uint32_t seed) {
    std::vector<std::uint8_t> v = Noise(static_cast<std::size_t>(blocks * blockAlign), seed);
    for (int b = 0; b < blocks; ++b) {
        std::uint8_t* h = v.data() + b * blockAlign;
        h[2] = static_cast<std::uint8_t>(h[2] % 89);
        h[3] = 0;
    }
    return v;
}

// ---- the connector's surroundings ----

// A display that keeps every chunk it was shown.
class Recorder : public TComponent, public TMMDisplayClient {
public:
    explicit Recorder(int bytes) : bytes_(bytes) {}
    void SetDisplayFormat(const WAVEFORMATEX* f) override {
        format = *f;
        ++formats;
    }
    int BytesPerUpdate() const override { return bytes_; }
    void ShowData(const void* data) override {
        const auto* p = static_cast<const std::uint8_t*>(data);
        chunks.emplace_back(p, p + bytes_);
    }
    void ResetDisplay() override { ++resets; }
    TComponent* DisplayComponent() override { return this; }

    WAVEFORMATEX format{};
    int formats = 0;
    std::vector<std::vector<std::uint8_t>> chunks;
    int resets = 0;

private:
    int bytes_;
};

struct Buffer {
    explicit Buffer(const std::vector<std::uint8_t>& data) : block(BufferHeaderBytes + data.size()) {
        header = InitBufferHeader(block.data(), static_cast<std::uint32_t>(data.size()));
        std::memcpy(header->wh.lpData, data.data(), data.size());
        header->wh.dwBytesRecorded = static_cast<DWORD>(data.size());
    }
    PWaveHdr wh() { return &header->wh; }
    std::vector<std::uint8_t> block;
    TMMBufferHeader* header;
};

WAVEFORMATEX MuLawStereo8k() {
    WAVEFORMATEX f{};
    f.wFormatTag = 7;
    f.nChannels = 2;
    f.nSamplesPerSec = 8000;
    f.wBitsPerSample = 8;
    f.nBlockAlign = 2;
    f.nAvgBytesPerSec = 16000;
    return f;
}

constexpr int kImaBlock = 256;
constexpr int kImaSamplesPerBlock = 505;

// Mono 22050 Hz IMA ADPCM, with its samples-per-block extra bytes.
struct ImaFormat {
    ImaFormat() : bytes(sizeof(WAVEFORMATEX) + 2) {
        WAVEFORMATEX f{};
        f.wFormatTag = 17;
        f.nChannels = 1;
        f.nSamplesPerSec = 22050;
        f.wBitsPerSample = 4;
        f.nBlockAlign = kImaBlock;
        f.nAvgBytesPerSec = 22050 * kImaBlock / kImaSamplesPerBlock;
        f.cbSize = 2;
        std::memcpy(bytes.data(), &f, sizeof f);
        const WORD spb = kImaSamplesPerBlock;
        std::memcpy(bytes.data() + sizeof f, &spb, 2);
    }
    const WAVEFORMATEX* get() const { return reinterpret_cast<const WAVEFORMATEX*>(bytes.data()); }
    std::vector<std::uint8_t> bytes;
};

class ConnectorConvertTest : public ::testing::Test {
protected:
    void SetUp() override {
        ReloadAcmManager();
        connector.SetAutoTrigger(false);
    }
    void Start() {
        connector.Started();
        platform::MessageLoop::Gui().ProcessMessages(); // the activation message
        ASSERT_TRUE(connector.IsActive());
    }
    platform::VirtualTimers clock{1000000};
    platform::ScopedTimers use{clock};
    TMMConnector connector;
};

// The greatest magnitude of one channel over `count` frames from `first` on.
int PeakOf(const std::vector<std::int16_t>& samples, int first, int count, int channels, int channel = 0) {
    int peak = 0;
    for (int i = 0; i < count; ++i) {
        const auto at = static_cast<std::size_t>((first + i) * channels + channel);
        peak = std::max(peak, std::abs(static_cast<int>(samples[at])));
    }
    return peak;
}

TEST_F(ConnectorConvertTest, MuLawReachesTheMetersAsSuggestedPcm) {
    const WAVEFORMATEX mulaw = MuLawStereo8k();
    const WAVEFORMATEX suggested = SuggestPCMFormat(&mulaw);
    ASSERT_TRUE(IsValidPCMFormat(&suggested));
    connector.SetBufferSize(2048);
    connector.SetPWaveFormat(&mulaw);

    Recorder recorder(1000);
    TMMLevel left, right;
    for (TMMLevel* m : {&left, &right}) {
        m->SetSamples(250);
        m->SetChannel(m == &left ? chLeft : chRight);
    }
    connector.SetMeter(0, &recorder);
    connector.SetLevel1(&left);
    connector.SetLevel2(&right);
    // Already before the start the displays are set up for the PCM they will get.
    EXPECT_EQ(recorder.format.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(recorder.format.wBitsPerSample, suggested.wBitsPerSample);
    EXPECT_EQ(left.BytesPerUpdate(), 250 * suggested.nBlockAlign);

    Start();
    ASSERT_TRUE(connector.IsConverting());
    ASSERT_TRUE(connector.HasCaptureBuffer());
    const WAVEFORMATEX* shown = connector.DisplayFormat();
    ASSERT_NE(shown, nullptr);
    EXPECT_FALSE(WaveFormatsDiffer(shown, &suggested));
    EXPECT_EQ(shown->nAvgBytesPerSec, suggested.nAvgBytesPerSec);
    EXPECT_EQ(suggested.nChannels, 2);
    EXPECT_EQ(suggested.nSamplesPerSec, 8000u);
    EXPECT_FALSE(WaveFormatsDiffer(&recorder.format, &suggested));

    const std::vector<std::uint8_t> codes = Noise(2048, 7);
    std::vector<std::int16_t> decoded;
    for (std::uint8_t c : codes)
        decoded.push_back(MuLawSample(c));
    const std::vector<std::uint8_t> pcm = Bytes(decoded);

    Buffer b(codes);
    connector.BufferReady(b.wh());
    EXPECT_EQ(connector.ValidBytes(), 4096); // every code became a 16-bit sample

    connector.Trigger();
    ASSERT_EQ(recorder.chunks.size(), 1u);
    EXPECT_EQ(recorder.chunks[0], std::vector<std::uint8_t>(pcm.begin(), pcm.begin() + 1000));
    EXPECT_EQ(left.LastRawLevel(), PeakOf(decoded, 0, 250, 2));
    EXPECT_EQ(right.LastRawLevel(), PeakOf(decoded, 0, 250, 2, 1));

    // The pacing follows the converted stream: 1000 bytes of 32000 per second play 31250 us.
    clock.AdvanceMicroseconds(31249);
    connector.Trigger();
    EXPECT_EQ(recorder.chunks.size(), 1u);
    clock.AdvanceMicroseconds(1);
    connector.Trigger();
    ASSERT_EQ(recorder.chunks.size(), 2u);
    EXPECT_EQ(recorder.chunks[1], std::vector<std::uint8_t>(pcm.begin() + 1000, pcm.begin() + 2000));
    EXPECT_EQ(left.LastRawLevel(), PeakOf(decoded, 250, 250, 2));

    // Pause fills the converted capture with PCM silence.
    connector.Paused();
    clock.Advance(100); // past the refresh interval of the pause timer
    ASSERT_TRUE(connector.GroupPending(TMMConnector::gLevels));
    connector.Trigger();
    EXPECT_EQ(left.LastRawLevel(), 0);
    connector.Restarted();
    connector.Stopped();
}

TEST_F(ConnectorConvertTest, ImaAdpcmIsDecodedBlockByBlock) {
    const ImaFormat ima;
    const WAVEFORMATEX suggested = SuggestPCMFormat(ima.get());
    ASSERT_TRUE(IsValidPCMFormat(&suggested));
    EXPECT_EQ(suggested.wBitsPerSample, 16);
    EXPECT_EQ(suggested.nChannels, 1);
    EXPECT_EQ(suggested.nSamplesPerSec, 22050u);
    connector.SetBufferSize(4 * kImaBlock);
    connector.SetPWaveFormat(ima.get());
    Recorder recorder(2 * kImaSamplesPerBlock);
    TMMLevel level;
    level.SetSamples(kImaSamplesPerBlock);
    connector.SetMeter(0, &recorder);
    connector.SetLevel1(&level);
    Start();
    ASSERT_TRUE(connector.IsConverting());

    const std::vector<std::uint8_t> data = ImaBlocks(4, kImaBlock, 99);
    Buffer b(data);
    connector.BufferReady(b.wh());
    EXPECT_EQ(connector.ValidBytes(), 4 * 2 * kImaSamplesPerBlock);
    connector.Trigger();
    ASSERT_EQ(recorder.chunks.size(), 1u);
    const std::vector<std::int16_t> first = DecodeImaBlock(data.data(), kImaBlock);
    EXPECT_EQ(recorder.chunks[0], Bytes(first));
    EXPECT_EQ(level.LastRawLevel(), PeakOf(first, 0, kImaSamplesPerBlock, 1));
    // trunc(1010 x 1000000 / 44100) = 22902 us: the second block is due then, not earlier.
    clock.AdvanceMicroseconds(22901);
    connector.Trigger();
    EXPECT_EQ(recorder.chunks.size(), 1u);
    clock.AdvanceMicroseconds(1);
    connector.Trigger();
    ASSERT_EQ(recorder.chunks.size(), 2u);
    EXPECT_EQ(recorder.chunks[1], Bytes(DecodeImaBlock(data.data() + kImaBlock, kImaBlock)));
    connector.Stopped();
}

TEST_F(ConnectorConvertTest, PartBlocksCarryOverUntilASeek) {
    const ImaFormat ima;
    // One and a half blocks per buffer: the half waits for the rest of its block.
    connector.SetBufferSize(kImaBlock + kImaBlock / 2);
    connector.SetPWaveFormat(ima.get());
    Recorder recorder(2 * kImaSamplesPerBlock);
    connector.SetMeter(0, &recorder);
    Start();
    const std::vector<std::uint8_t> stream = ImaBlocks(3, kImaBlock, 5);
    Buffer a(std::vector<std::uint8_t>(stream.begin(), stream.begin() + 384));
    Buffer b(std::vector<std::uint8_t>(stream.begin() + 384, stream.end()));
    connector.BufferReady(a.wh());
    EXPECT_EQ(connector.ValidBytes(), 2 * kImaSamplesPerBlock);
    connector.BufferReady(b.wh());
    // The carried half and the next buffer make up blocks two and three.
    EXPECT_EQ(connector.ValidBytes(), 4 * kImaSamplesPerBlock);
    connector.Trigger();
    ASSERT_EQ(recorder.chunks.size(), 1u);
    EXPECT_EQ(recorder.chunks[0], Bytes(DecodeImaBlock(stream.data() + kImaBlock, kImaBlock)));

    // After a seek the half block from before belongs elsewhere: the next buffer starts afresh.
    const std::vector<std::uint8_t> after = ImaBlocks(2, kImaBlock, 6);
    connector.BufferReady(a.wh()); // leaves half a block carried
    connector.Reset();
    Buffer c(std::vector<std::uint8_t>(after.begin(), after.begin() + 384));
    connector.BufferReady(c.wh());
    EXPECT_EQ(connector.ValidBytes(), 2 * kImaSamplesPerBlock);
    connector.Trigger();
    ASSERT_EQ(recorder.chunks.size(), 2u);
    EXPECT_EQ(recorder.chunks[1], Bytes(DecodeImaBlock(after.data(), kImaBlock)));
    connector.Stopped();
}

TEST_F(ConnectorConvertTest, WithoutConversionTheDisplaysStayStill) {
    const WAVEFORMATEX mulaw = MuLawStereo8k();
    connector.SetBufferSize(2048);
    connector.SetAutoConvert(false);
    connector.SetPWaveFormat(&mulaw);
    Recorder recorder(1000);
    connector.SetMeter(0, &recorder);
    EXPECT_EQ(recorder.formats, 0); // no PCM to offer
    Start();
    EXPECT_FALSE(connector.HasCaptureBuffer());
    EXPECT_FALSE(connector.IsConverting());
    EXPECT_EQ(connector.DisplayFormat(), nullptr);
    Buffer b(Noise(2048, 3));
    connector.BufferReady(b.wh());
    connector.Trigger();
    EXPECT_TRUE(recorder.chunks.empty());
    EXPECT_EQ(connector.ValidBytes(), 0);
    connector.Stopped();

    // A format no driver decodes behaves the same even with AutoConvert.
    WAVEFORMATEX gsm = mulaw;
    gsm.wFormatTag = 49;
    gsm.nChannels = 1;
    gsm.nBlockAlign = 65;
    gsm.wBitsPerSample = 0;
    connector.SetAutoConvert(true);
    connector.SetPWaveFormat(&gsm);
    Start();
    EXPECT_FALSE(connector.HasCaptureBuffer());
    EXPECT_FALSE(connector.IsConverting());
    connector.BufferReady(b.wh());
    connector.Trigger();
    EXPECT_TRUE(recorder.chunks.empty());
    connector.Stopped();
}

TEST_F(ConnectorConvertTest, StopFreesTheConverterAndAStartMakesAFreshOne) {
    const ImaFormat ima;
    connector.SetBufferSize(kImaBlock + kImaBlock / 2);
    connector.SetPWaveFormat(ima.get());
    Recorder recorder(2 * kImaSamplesPerBlock);
    connector.SetMeter(0, &recorder);
    Start();
    const std::vector<std::uint8_t> data = ImaBlocks(2, kImaBlock, 11);
    Buffer half(std::vector<std::uint8_t>(data.begin(), data.begin() + 384));
    connector.BufferReady(half.wh()); // half a block stays in the converter
    connector.Stopped();
    EXPECT_FALSE(connector.IsConverting());
    EXPECT_FALSE(connector.HasCaptureBuffer());
    EXPECT_EQ(recorder.resets, 1);
    connector.BufferReady(half.wh()); // nothing to convert into once stopped
    EXPECT_EQ(connector.ValidBytes(), 0);

    Start();
    ASSERT_TRUE(connector.IsConverting());
    const std::vector<std::uint8_t> next = ImaBlocks(2, kImaBlock, 12);
    Buffer fresh(std::vector<std::uint8_t>(next.begin(), next.begin() + 384));
    connector.BufferReady(fresh.wh());
    connector.Trigger();
    ASSERT_EQ(recorder.chunks.size(), 1u);
    EXPECT_EQ(recorder.chunks[0], Bytes(DecodeImaBlock(next.data(), kImaBlock)));
    // The destructor stops a connector that is still converting.
}

} // namespace
} // namespace tunefold
