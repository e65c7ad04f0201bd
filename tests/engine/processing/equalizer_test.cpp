#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "engine/framework/stream.h"
#include "engine/processing/equalizer.h"
#include "support/pull.h"

namespace tunefold {
namespace {

WAVEFORMATEX Pcm(int bits, int channels, DWORD rate = 44100) {
    WAVEFORMATEX f{};
    MakePCMFormat(f, bits, channels, rate);
    return f;
}

float Db(float db) {
    return static_cast<float>(std::pow(10.0L, (db + 6.0L) / 20));
}

void AddPlayerBands(TMMEqualizer& eq) {
    const float edges[10][2] = {{0, 32},     {32, 64},     {64, 130},    {130, 260},   {260, 500},
                                {500, 1000}, {1000, 2000}, {2000, 4000}, {4000, 8300}, {8300, 16500}};
    for (const auto& e : edges) {
        eq.Filters().AddFilter(e[0], e[1], 0);
    }
}

// source -> equalizer -> sink, with the source delivering `bytes` on every pull.
struct Chain {
    TMMDSPComponent source;
    TMMEqualizer eq;
    TMMDSPComponent sink;
    std::vector<std::int16_t> samples;
    explicit Chain(const WAVEFORMATEX& format) {
        source.OnBufferLoad = [this](TObject*, PWaveHdr h, bool& more) {
            std::memcpy(h->lpData, samples.data(), samples.size() * 2);
            h->dwBytesRecorded = static_cast<DWORD>(samples.size() * 2);
            more = true;
        };
        source.SetPWaveFormat(&format);
        eq.Input(&source);
        eq.Output(&sink);
    }
    std::vector<std::int16_t> Pull() {
        std::vector<std::int16_t> data(samples.size());
        WAVEHDR h{};
        h.lpData = reinterpret_cast<char*>(data.data());
        h.dwBufferLength = static_cast<DWORD>(data.size() * 2);
        bool more = false;
        eq.BufferLoad(&h, more);
        return data;
    }
};

std::vector<std::int16_t> Noise(std::size_t n, int amplitude, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> dist(-amplitude, amplitude);
    std::vector<std::int16_t> v(n);
    for (auto& s : v) {
        s = static_cast<std::int16_t>(dist(rng));
    }
    return v;
}

TEST(EqualizerTest, PropertiesClampAndRound) {
    TMMEqualizer eq;
    EXPECT_TRUE(eq.Enabled());
    EXPECT_EQ(eq.SampleRate(), 4000);
    EXPECT_EQ(eq.FFTLength(), 256);
    EXPECT_EQ(eq.Description(), "Untitled");
    EXPECT_EQ(eq.Channel(), chBoth);
    EXPECT_EQ(eq.Window(), fwHamming);
    EXPECT_EQ(eq.Filters().Count(), 0);
    eq.SetFFTLength(5000);
    EXPECT_EQ(eq.FFTLength(), 4096);
    eq.SetFFTLength(300);
    EXPECT_EQ(eq.FFTLength(), 256);
    eq.SetFFTLength(3);
    EXPECT_EQ(eq.FFTLength(), 8);
    eq.SetFFTLength(1023);
    EXPECT_EQ(eq.FFTLength(), 512);
    eq.SetSampleRate(3000);
    EXPECT_EQ(eq.SampleRate(), 4000);
    eq.SetSampleRate(200000);
    EXPECT_EQ(eq.SampleRate(), 100000);
}

TEST(EqualizerTest, FormatsAreCheckedAndGiveTheSampleRate) {
    TMMEqualizer eq;
    WAVEFORMATEX good = Pcm(16, 2, 22050);
    eq.SetPWaveFormat(&good);
    EXPECT_EQ(eq.SampleRate(), 22050);
    for (WAVEFORMATEX bad : {Pcm(8, 2), Pcm(8, 1), Pcm(16, 3), Pcm(16, 2, 3999), Pcm(24, 2)}) {
        try {
            eq.SetPWaveFormat(&bad);
            ADD_FAILURE() << "accepted " << bad.wBitsPerSample << " bits";
        } catch (const EMMEqualizerError& e) {
            EXPECT_STREQ(e.what(), "Invalid WaveFormat");
        }
        ASSERT_NE(eq.PWaveFormat(), nullptr);
        EXPECT_EQ(eq.PWaveFormat()->nSamplesPerSec, 22050u); // the previous format stays
        EXPECT_EQ(eq.SampleRate(), 22050);
    }
    eq.SetPWaveFormat(nullptr);
    EXPECT_EQ(eq.PWaveFormat(), nullptr);
}

TEST(EqualizerTest, OpenDesignsFromTheBandsAndCloseGivesTheMemoryBack) {
    WAVEFORMATEX f = Pcm(16, 2);
    Chain c(f);
    AddPlayerBands(c.eq);
    c.eq.Filters().Items(6)->SetGain(9); // 1000-2000 Hz: bins 5 .. 11 at M = 256
    EXPECT_EQ(c.eq.Engine(), nullptr);   // closed: only the objects change
    TMMAllocator& pool = EqualizerAllocator();
    c.eq.Opened();
    EXPECT_LE(pool.IdleCount() + 3, pool.BlockCount()); // the record and the two queues
    ASSERT_TRUE(c.eq.Ready());
    ASSERT_NE(c.eq.Engine(), nullptr);
    TMMEQEngine* e = c.eq.Engine();
    EXPECT_EQ(e->M, 256);
    EXPECT_EQ(e->Capacity, 65536u);
    EXPECT_FLOAT_EQ(e->Curve[4], Db(0));
    EXPECT_FLOAT_EQ(e->Curve[5], Db(9));
    EXPECT_FLOAT_EQ(e->Curve[10], Db(9));
    EXPECT_FLOAT_EQ(e->Curve[11], Db(0)); // 2000 / 172.27 = 11.6: the next band wrote it last
    c.eq.Closed();
    EXPECT_FALSE(c.eq.Ready());
    EXPECT_EQ(c.eq.Engine(), nullptr);
    EXPECT_EQ(pool.IdleCount(), pool.BlockCount()); // all given back

    // A bigger buffer size gives bigger queues.
    c.eq.SetBufferSize(100000);
    c.eq.Opened();
    ASSERT_NE(c.eq.Engine(), nullptr);
    EXPECT_EQ(c.eq.Engine()->Capacity, 100000u);
    c.eq.Closed();

    // Without a format nothing is made and nothing is processed.
    TMMEqualizer lone;
    lone.Opened();
    EXPECT_FALSE(lone.Ready());
    EXPECT_EQ(lone.Engine(), nullptr);
}

TEST(EqualizerTest, PullAndPushFilterTheBuffer) {
    WAVEFORMATEX f = Pcm(16, 2);
    Chain c(f);
    AddPlayerBands(c.eq);
    c.eq.Opened();
    c.samples = Noise(1024, 12000, 2); // 2048 bytes: two whole blocks, no lag
    const std::vector<std::int16_t> out = c.Pull();
    // Flat: the input a quarter block (64 frames) later, scaled by 0.99763.
    for (std::size_t n = 64; n < 512; ++n) {
        for (int ch = 0; ch < 2; ++ch) {
            const int want = static_cast<int>(std::trunc(c.samples[2 * (n - 64) + ch] * 0.997631157484));
            ASSERT_NEAR(out[2 * n + ch], want, 1) << n;
        }
    }
    // Disabled: the data pass unchanged; enabling again starts from empty queues.
    c.eq.SetEnabled(false);
    EXPECT_EQ(c.Pull(), c.samples);
    c.eq.SetEnabled(true);
    const std::vector<std::int16_t> again = c.Pull();
    EXPECT_EQ(again, out);

    // Push: filtered before the buffer goes on.
    std::vector<std::int16_t> got;
    c.sink.OnBufferReady = [&got](TObject*, PWaveHdr h) {
        got.assign(reinterpret_cast<std::int16_t*>(h->lpData),
                   reinterpret_cast<std::int16_t*>(h->lpData) + h->dwBytesRecorded / 2);
    };
    c.eq.Reset();
    std::vector<std::int16_t> data = c.samples;
    WAVEHDR h{};
    h.lpData = reinterpret_cast<char*>(data.data());
    h.dwBufferLength = h.dwBytesRecorded = static_cast<DWORD>(data.size() * 2);
    c.eq.BufferReady(&h);
    EXPECT_EQ(got, out);
}

TEST(EqualizerTest, OverflowIsReportedOncePerClippedBuffer) {
    WAVEFORMATEX f = Pcm(16, 2);
    Chain c(f);
    c.eq.Filters().AddFilter(0, 22050, 20);
    int overflows = 0;
    c.eq.OnPcmOverflow = [&](TObject* sender) {
        EXPECT_EQ(sender, &c.eq);
        ++overflows;
    };
    c.eq.Opened();
    c.samples.assign(2048, 20000);
    c.Pull();
    c.Pull();
    EXPECT_EQ(overflows, 2);
    c.samples.assign(2048, 100);
    c.eq.Reset();
    c.Pull();
    EXPECT_EQ(overflows, 2);
}

TEST(EqualizerTest, BandAndListChangesReachTheEngine) {
    WAVEFORMATEX f = Pcm(16, 2);
    Chain c(f);
    int changes = 0;
    c.eq.OnChange = [&](TObject*) { ++changes; };
    c.eq.Filters().AddFilter(1000, 2000, 6); // bins 5 .. 11
    EXPECT_EQ(changes, 1);
    c.eq.Opened();
    TMMEQEngine* e = c.eq.Engine();
    ASSERT_NE(e, nullptr);
    EXPECT_FLOAT_EQ(e->Curve[11], Db(6));

    // A band that shrinks keeps its old bins until the bands are applied as a whole again.
    TMMEQFilter* band = c.eq.Filters().Items(0);
    band->SetF2(1300); // bins 5 .. 7
    EXPECT_EQ(changes, 2);
    EXPECT_FLOAT_EQ(e->Curve[7], Db(6));
    EXPECT_FLOAT_EQ(e->Curve[11], Db(6));
    band->SetGain(-3);
    EXPECT_FLOAT_EQ(e->Curve[7], Db(-3));
    EXPECT_FLOAT_EQ(e->Curve[11], Db(6));
    band->SetGain(-3); // unchanged: nothing reported
    EXPECT_EQ(changes, 3);
    c.eq.Filters().AddFilter(20000, 22050, 1); // a list change applies every band afresh
    EXPECT_EQ(changes, 4);
    EXPECT_FLOAT_EQ(e->Curve[7], Db(-3));
    EXPECT_FLOAT_EQ(e->Curve[11], Db(0));
    EXPECT_FLOAT_EQ(e->Curve[120], Db(1));

    // A disabled band counts as 0 dB.
    band->SetEnabled(false);
    EXPECT_FLOAT_EQ(e->Curve[6], Db(0));
    c.eq.Filters().Delete(1);
    EXPECT_FLOAT_EQ(e->Curve[120], Db(0));
    band->SetEnabled(true);
    EXPECT_FLOAT_EQ(e->Curve[6], Db(-3));
    c.eq.Filters().Clear();
    EXPECT_FLOAT_EQ(e->Curve[6], Db(0));

    // Inside an update the list is applied once, at the end.
    int before = changes;
    c.eq.Filters().BeginUpdate();
    c.eq.Filters().AddFilter(0, 500, 4);
    c.eq.Filters().AddFilter(500, 1000, 5);
    EXPECT_EQ(changes, before);
    c.eq.Filters().EndUpdate();
    EXPECT_EQ(changes, before + 1);
    EXPECT_FLOAT_EQ(e->Curve[0], Db(4));
    EXPECT_FLOAT_EQ(e->Curve[4], Db(5));

    // Started re-applies every band and empties the queues.
    c.samples = Noise(500, 1000, 1);
    c.Pull();
    EXPECT_GT(e->InFill + e->OutFill, 0u);
    c.eq.Filters().Items(0)->SetF2(100); // now bin 0 only; bin 1 keeps 4 dB until the next full application
    EXPECT_FLOAT_EQ(e->Curve[1], Db(4));
    c.eq.Started();
    EXPECT_EQ(e->InFill + e->OutFill, 0u);
    EXPECT_FLOAT_EQ(e->Curve[0], Db(4));
    EXPECT_FLOAT_EQ(e->Curve[1], Db(0));
    EXPECT_FLOAT_EQ(e->Curve[2], Db(5)); // 500-1000 Hz starts at bin 2
}

TEST(EqualizerTest, LengthAndWindowChangesRedesignWhileOpen) {
    WAVEFORMATEX f = Pcm(16, 2);
    Chain c(f);
    c.eq.Filters().AddFilter(1000, 2000, 6);
    c.eq.Opened();
    c.eq.SetWindow(fwHanning);
    EXPECT_EQ(c.eq.Engine()->WindowKind, fwHanning);
    c.eq.SetFFTLength(4096);
    ASSERT_NE(c.eq.Engine(), nullptr);
    EXPECT_EQ(c.eq.Engine()->M, 1024);
    EXPECT_EQ(c.eq.Engine()->WindowKind, fwHanning);
    EXPECT_FLOAT_EQ(c.eq.Engine()->Curve[24], Db(6)); // 1000 / 43.07 = 23.2 .. 2000 / 43.07 = 46.4
    EXPECT_FLOAT_EQ(c.eq.Engine()->Curve[46], Db(6));
    EXPECT_FLOAT_EQ(c.eq.Engine()->Curve[47], Db(0));
    c.eq.SetFFTLength(300); // 256
    EXPECT_EQ(c.eq.Engine()->M, 256);
}

std::vector<std::uint8_t> Stored(const TMMEqualizer& eq) {
    TMemoryStream s;
    eq.WriteFilters(s);
    return s.Bytes();
}

TEST(EqualizerTest, TheStoredBandListRoundTripsAndDamageIsRefused) {
    TMMEqualizer empty;
    const std::vector<std::uint8_t> bytes = Stored(empty);
    const std::uint8_t expected[23] = {'E', 'Q', 'U', 0,   1,   8, 0, 0, 0, 'U', 'n', 't',
                                       'i', 't', 'l', 'e', 'd', 0, 1, 0, 0, 0,   0};
    ASSERT_EQ(bytes.size(), 23u);
    EXPECT_EQ(std::memcmp(bytes.data(), expected, 23), 0);

    TMMEqualizer a;
    a.SetDescription("Rock");
    a.SetFFTLength(512);
    AddPlayerBands(a);
    a.Filters().Items(3)->SetGain(-7.5f);
    a.Filters().Items(9)->SetEnabled(false);
    const std::vector<std::uint8_t> stored = Stored(a);
    EXPECT_EQ(stored.size(), 4 + 1 + 4 + 4 + 4 + 2 + 10 * (1 + 11 + 1 + 12));

    TMMEqualizer b;
    int changes = 0;
    b.OnChange = [&](TObject*) { ++changes; };
    TMemoryStream in(stored);
    b.ReadFilters(in);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(b.Description(), "Rock");
    EXPECT_EQ(b.FFTLength(), 512);
    ASSERT_EQ(b.Filters().Count(), 10);
    EXPECT_EQ(b.Filters().Items(3)->Gain(), -7.5f);
    EXPECT_EQ(b.Filters().Items(3)->F1(), 130.0f);
    EXPECT_FALSE(b.Filters().Items(9)->Enabled());
    EXPECT_TRUE(b.Filters().Items(8)->Enabled());
    EXPECT_EQ(Stored(b), stored);

    // Damage: wrong magic, an unknown class, a truncated stream. Nothing changes.
    auto expectRefused = [&](std::vector<std::uint8_t> data, const char* text) {
        TMemoryStream s(std::move(data));
        try {
            b.ReadFilters(s);
            ADD_FAILURE() << "accepted";
        } catch (const EMMError& e) {
            if (text != nullptr) {
                EXPECT_STREQ(e.what(), text);
            }
        }
        EXPECT_EQ(Stored(b), stored);
    };
    std::vector<std::uint8_t> wrong = stored;
    wrong[0] = 'O';
    expectRefused(wrong, "Invalid Object stream");
    std::vector<std::uint8_t> obj = {'O', 'B', 'J', 0, 1, 0, 0};
    expectRefused(obj, "Invalid Object stream");
    std::vector<std::uint8_t> unknown = stored;
    const std::size_t nameAt = 4 + 1 + 4 + 4 + 4 + 2 + 1; // first band's class name
    unknown[nameAt + 3] = 'X';                            // "TMMXQFilter"
    expectRefused(unknown, "Class <TMMXQFilter> not registered");
    for (std::size_t cut : {std::size_t{3}, std::size_t{10}, std::size_t{20}, stored.size() - 1}) {
        expectRefused(std::vector<std::uint8_t>(stored.begin(), stored.begin() + static_cast<long>(cut)),
                      nullptr);
    }
    std::vector<std::uint8_t> hugeDescription = stored;
    hugeDescription[5] = 0xff;
    hugeDescription[8] = 0x7f;
    expectRefused(hugeDescription, "Invalid Object stream");
}

TEST(EqualizerTest, AssignCopiesEverything) {
    TMMEqualizer a;
    a.SetChannel(chRight);
    a.SetEnabled(false);
    a.SetDescription("Live");
    a.SetFFTLength(1024);
    a.SetWindow(fwBlackman);
    a.SetSampleRate(48000);
    a.Filters().AddFilter(10, 20, 3);
    a.Filters().AddFilter(20, 40, -3);
    TMMEqualizer b;
    b.Filters().AddFilter(1, 2, 3);
    b.Assign(a);
    EXPECT_EQ(b.Channel(), chRight);
    EXPECT_FALSE(b.Enabled());
    EXPECT_EQ(b.Description(), "Live");
    EXPECT_EQ(b.FFTLength(), 1024);
    EXPECT_EQ(b.Window(), fwBlackman);
    EXPECT_EQ(b.SampleRate(), 48000);
    ASSERT_EQ(b.Filters().Count(), 2);
    EXPECT_EQ(b.Filters().Items(1)->Gain(), -3.0f);
    EXPECT_NE(b.Filters().Items(0), a.Filters().Items(0)); // copies, not shared
    // The copied bands report to their new owner.
    int changes = 0;
    b.OnChange = [&](TObject*) { ++changes; };
    b.Filters().Items(0)->SetGain(9);
    EXPECT_EQ(changes, 1);
}

class FakeView : public TComponent, public TMMEQResponseView {
public:
    ~FakeView() override { Destroying(); }
    void SetResponseFormat(const WAVEFORMATEX* f) override { format = *f; }
    void SetResponseWindow(TMMFFTWindow w) override { window = w; }
    void SetResponseCallback(std::function<void()> r) override { request = std::move(r); }
    void ShowResponse(const std::int16_t* s, int count) override {
        shown.assign(s, s + count);
        ++shows;
    }
    WAVEFORMATEX format{};
    TMMFFTWindow window = fwHamming;
    std::function<void()> request;
    std::vector<std::int16_t> shown;
    int shows = 0;
};

TEST(EqualizerTest, TheResponseDisplayGetsTheFilteredImpulse) {
    TMMEqualizer eq;
    eq.SetSampleRate(44100);
    AddPlayerBands(eq);
    FakeView view;
    eq.SetSpectrum(&view);
    EXPECT_EQ(eq.Spectrum(), &view);
    EXPECT_EQ(view.format.nChannels, 1);
    EXPECT_EQ(view.format.wBitsPerSample, 16);
    EXPECT_EQ(view.format.nSamplesPerSec, 44100u);
    EXPECT_EQ(view.window, fwRectangular);
    ASSERT_TRUE(view.request);
    ASSERT_NE(eq.ResponseEngine(), nullptr);
    view.request();
    ASSERT_EQ(view.shows, 1);
    ASSERT_EQ(view.shown.size(), 8193u);
    // Flat bands: one impulse of 21500 x 0.99763, a quarter block after the queue's lead.
    const auto peak = std::max_element(view.shown.begin(), view.shown.end());
    EXPECT_NEAR(*peak, 21449, 1);
    EXPECT_EQ(
        std::count_if(view.shown.begin(), view.shown.end(), [](std::int16_t s) { return std::abs(s) > 1; }),
        1);
    // A band change refreshes the display; the impulse now spreads.
    eq.Filters().Items(5)->SetGain(12);
    EXPECT_EQ(view.shows, 2);
    EXPECT_GT(
        std::count_if(view.shown.begin(), view.shown.end(), [](std::int16_t s) { return std::abs(s) > 1; }),
        10);
    // The display follows the rate and the length.
    eq.SetSampleRate(22050);
    EXPECT_EQ(view.format.nSamplesPerSec, 22050u);
    ASSERT_NE(eq.ResponseEngine(), nullptr);
    EXPECT_EQ(eq.ResponseEngine()->Rate, 22050);
    eq.SetFFTLength(1024);
    EXPECT_EQ(eq.ResponseEngine()->M, 1024);
    ASSERT_TRUE(view.request);
    eq.SetSpectrum(nullptr);
    EXPECT_FALSE(view.request);
    EXPECT_EQ(eq.ResponseEngine(), nullptr);

    // An analyzer that goes away is forgotten.
    auto gone = std::make_unique<FakeView>();
    eq.SetSpectrum(gone.get());
    gone.reset();
    EXPECT_EQ(eq.Spectrum(), nullptr);
    EXPECT_EQ(eq.ResponseEngine(), nullptr);
    eq.Filters().Items(5)->SetGain(3); // no call into the freed analyzer
}

} // namespace
} // namespace tunefold

namespace tunefold {
namespace {

// A file's worth of stereo noise, handed out in buffers, "no more" with the last of it.
TEST(EqualizerTest, AStreamKeepsItsLengthAndEndsWithItsMusic) {
    const WAVEFORMATEX f = Pcm(16, 2);
    const std::vector<std::int16_t> input = Noise(2 * (44100 + 123), 12000, 7);
    for (const std::uint32_t bufferBytes : {16384u, 1000u, 4096u}) {
        TMMDSPComponent source;
        std::size_t given = 0;
        source.OnBufferLoad = [&](TObject*, PWaveHdr h, bool& more) {
            const std::size_t n = std::min<std::size_t>(h->dwBufferLength / 4 * 2, input.size() - given);
            std::memcpy(h->lpData, input.data() + given, n * 2);
            h->dwBytesRecorded = static_cast<DWORD>(n * 2);
            given += n;
            more = given < input.size();
        };
        source.SetPWaveFormat(&f);
        TMMEqualizer eq;
        AddPlayerBands(eq);
        eq.Input(&source);
        eq.Opened();
        eq.Started();
        const test::PullResult r = test::PullAll(eq, bufferBytes);
        ASSERT_TRUE(r.ended);
        ASSERT_EQ(r.data.size(), input.size() * 2) << bufferBytes;
        std::vector<std::int16_t> out(input.size());
        std::memcpy(out.data(), r.data.data(), r.data.size());
        // Buffers of whole blocks give the filter's own delay of a quarter block (64 frames); 1000-byte
        // buffers wait for whole blocks too, and from their 43rd on lag 1016 bytes (254 frames).
        const bool whole = bufferBytes % 1024 == 0;
        const std::size_t delay = whole ? 64 : 64 + 254;
        std::size_t zeroRun = 0, longestZeroRun = 0;
        for (std::size_t n = whole ? delay : 43 * 250; n < out.size() / 2; ++n) {
            for (int ch = 0; ch < 2; ++ch) {
                const int want = static_cast<int>(std::trunc(input[2 * (n - delay) + ch] * 0.997631157484));
                ASSERT_NEAR(out[2 * n + ch], want, 1) << "frame " << n << " of buffers of " << bufferBytes;
            }
            zeroRun = (out[2 * n] == 0 && out[2 * n + 1] == 0) ? zeroRun + 1 : 0;
            longestZeroRun = std::max(longestZeroRun, zeroRun);
        }
        EXPECT_LT(longestZeroRun, 3u) << bufferBytes;
    }
}

} // namespace
} // namespace tunefold
