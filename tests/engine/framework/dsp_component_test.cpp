#include "engine/framework/dsp_component.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace tunefold {
namespace {

using Log = std::vector<std::string>;

// A stage that writes every life-cycle call into a shared log.
class RecordingStage : public TMMDSPComponent {
public:
    RecordingStage(std::string name, Log& log, TComponent* owner = nullptr)
        : TMMDSPComponent(owner), log_(log) {
        SetName(std::move(name));
    }
    void Opened() override {
        Note("Opened(" + std::to_string(FBufferSize) + ")");
        TMMDSPComponent::Opened();
    }
    void Closed() override {
        Note("Closed");
        TMMDSPComponent::Closed();
    }
    void Started() override {
        Note("Started");
        TMMDSPComponent::Started();
    }
    void Paused() override { Note("Paused"); }
    void Restarted() override { Note("Restarted"); }
    void Stopped() override {
        Note("Stopped");
        TMMDSPComponent::Stopped();
    }
    void Reset() override { Note("Reset"); }
    void Looped() override { Note("Looped"); }

    void Note(const std::string& what) { log_.push_back(Name() + "." + what); }
    Log& log_;
};

// A source publishes only Output.
class SourceStage : public RecordingStage {
public:
    using RecordingStage::RecordingStage;
    bool PublishesInput() const override { return false; }
    void BufferLoad(PWaveHdr h, bool& more) override {
        h->dwBytesRecorded = h->dwBufferLength / 2;
        more = remaining-- > 1;
    }
    int remaining = 3;
};

class DeviceStage : public TMMCustomSoundComponent {
public:
    DeviceStage(std::string name, Log& log) : log_(log) { SetName(std::move(name)); }
    void Opened() override {
        Note("Opened");
        TMMCustomSoundComponent::Opened();
    }
    void Closed() override {
        Note("Closed");
        TMMCustomSoundComponent::Closed();
    }
    void Started() override {
        Note("Started");
        TMMCustomSoundComponent::Started();
    }
    void Stopped() override {
        Note("Stopped");
        TMMCustomSoundComponent::Stopped();
    }
    void Paused() override {
        Note("Paused");
        TMMCustomSoundComponent::Paused();
    }
    void Reset() override {
        Note("Reset");
        TMMCustomSoundComponent::Reset();
    }
    void SetNumBuffers(int) override {}
    int GetNumBuffers() const override { return 0; }
    void SetDeviceID(TMMDeviceId) override {}
    TMMDeviceId GetDeviceID() const override { return 0; }
    void SetProductName(const std::string&) override {}
    std::string GetProductName() const override { return {}; }
    void SetCallBackMode(TMMCBMode) override {}
    TMMCBMode GetCallBackMode() const override { return cmThread; }

    void Note(const std::string& what) { log_.push_back(Name() + "." + what); }
    Log& log_;
};

WAVEFORMATEX Pcm(int bits, int channels, DWORD rate) {
    WAVEFORMATEX f{};
    MakePCMFormat(f, bits, channels, rate);
    return f;
}

TEST(Chain, LinkingStealsPartnersAndCarriesFormat) {
    Log log;
    RecordingStage a("A", log), b("B", log), c("C", log);
    WAVEFORMATEX cd = Pcm(16, 2, 44100);
    a.SetPWaveFormat(&cd);
    b.SetInput(&c);
    ASSERT_EQ(c.Output(), &b);

    a.SetOutput(&b);
    EXPECT_EQ(b.Input(), &a);
    EXPECT_EQ(a.Output(), &b);
    EXPECT_EQ(c.Output(), nullptr);
    EXPECT_EQ(b.InputProp(), "Output");
    EXPECT_EQ(a.OutputProp(), "Input");
    EXPECT_EQ(c.OutputProp(), "");
    ASSERT_NE(b.PWaveFormat(), nullptr);
    EXPECT_NE(b.PWaveFormat(), a.PWaveFormat()) << "formats are copied, never shared";
    EXPECT_FALSE(WaveFormatsDiffer(b.PWaveFormat(), &cd));

    // The mirror: C takes B's input away from A through SetInput.
    RecordingStage d("D", log);
    d.SetInput(&a);
    EXPECT_EQ(a.Output(), &d);
    EXPECT_EQ(b.Input(), nullptr);
    EXPECT_FALSE(WaveFormatsDiffer(d.PWaveFormat(), &cd));
}

TEST(Chain, CyclesSelfLinksAndNonStagesAreRefused) {
    Log log;
    RecordingStage a("A", log), b("B", log), c("C", log);
    a.SetOutput(&b);
    b.SetOutput(&c);

    a.SetInput(&c); // would close the ring A->B->C->A
    a.SetInput(&b);
    a.SetInput(&a);
    c.SetOutput(&a);
    b.SetOutput(&b);
    EXPECT_EQ(a.Input(), nullptr);
    EXPECT_EQ(a.Output(), &b);
    EXPECT_EQ(b.Output(), &c);
    EXPECT_EQ(c.Output(), nullptr);
    EXPECT_FALSE(a.CanConnectInput(&c));
    EXPECT_FALSE(c.CanConnectOutput(&c));

    // A pure source has no Input to link to; a plain component is not a stage.
    SourceStage src("S", log);
    EXPECT_FALSE(c.CanConnectOutput(&src));
    TComponent plain;
    EXPECT_FALSE(c.CanConnectOutput(&plain));
    EXPECT_TRUE(src.CanConnectOutput(&a));
    log.clear();
    src.SetOutput(&a);
    EXPECT_EQ(a.Input(), &src);
    EXPECT_EQ(log.front(), "S.Stopped") << "linking stops the stage first";
}

TEST(Chain, DestroyingAMiddleStageUnlinksBothNeighbours) {
    Log log;
    RecordingStage a("A", log), c("C", log);
    WAVEFORMATEX cd = Pcm(16, 2, 44100);
    a.SetPWaveFormat(&cd);
    {
        RecordingStage b("B", log);
        a.SetOutput(&b);
        b.SetOutput(&c);
        ASSERT_NE(c.PWaveFormat(), nullptr);
    }
    EXPECT_EQ(a.Output(), nullptr);
    EXPECT_EQ(c.Input(), nullptr);
    EXPECT_EQ(c.PWaveFormat(), nullptr);
}

TEST(Chain, OwnerDestructionNotifiesStagesOwnedElsewhere) {
    Log log;
    RecordingStage outside("X", log);
    {
        TComponent form;
        auto* owned = new RecordingStage("O", log, &form);
        outside.SetInput(owned);
        ASSERT_EQ(outside.Input(), owned);
    }
    EXPECT_EQ(outside.Input(), nullptr);
}

TEST(Chain, EffectiveBufferSizeAndStops) {
    Log log;
    RecordingStage a("A", log);
    WAVEFORMATEX cd = Pcm(16, 2, 44100);
    a.SetPWaveFormat(&cd);
    a.SetBufferSize(2050);
    a.Opened();
    EXPECT_EQ(a.BufferSize(), 2048);
    a.Closed();
    EXPECT_EQ(a.BufferSize(), 2050);
    a.SetBufferSize(3);
    a.Opened();
    EXPECT_EQ(a.BufferSize(), 4);
    a.Started();
    EXPECT_TRUE(a.IsStarted());

    log.clear();
    a.SetBufferSize(3); // unchanged: the stream keeps running
    EXPECT_TRUE(a.IsStarted());
    EXPECT_TRUE(log.empty());
    a.SetBufferSize(4096);
    EXPECT_FALSE(a.IsStarted());
    EXPECT_EQ(log, (Log{"A.Stopped"}));

    // Replacing the format while started stops the stream; Started needs an opened stage.
    a.Started();
    WAVEFORMATEX mono = Pcm(16, 1, 22050);
    a.SetPWaveFormat(&mono);
    EXPECT_FALSE(a.IsStarted());
    a.Closed();
    a.Started();
    EXPECT_FALSE(a.IsStarted());
    // Without a format the requested size is used as it is.
    RecordingStage n("N", log);
    n.SetBufferSize(1001);
    n.Opened();
    EXPECT_EQ(n.BufferSize(), 1001);
}

TEST(Chain, FormatPropagatesDownstreamInOrderAndWaitsForLoading) {
    Log log;
    RecordingStage a("A", log), b("B", log), c("C", log);
    a.SetOutput(&b);
    b.SetOutput(&c);
    WAVEFORMATEX cd = Pcm(16, 2, 44100);
    a.SetPWaveFormat(&cd);
    EXPECT_FALSE(WaveFormatsDiffer(c.PWaveFormat(), &cd));
    a.SetPWaveFormat(nullptr);
    EXPECT_EQ(c.PWaveFormat(), nullptr);

    // Links made while loading do not propagate until Loaded.
    RecordingStage x("X", log), y("Y", log);
    x.BeginLoading();
    y.BeginLoading();
    x.SetPWaveFormat(&cd);
    x.SetOutput(&y);
    EXPECT_EQ(y.PWaveFormat(), nullptr);
    y.Loaded();
    x.Loaded();
    EXPECT_FALSE(WaveFormatsDiffer(y.PWaveFormat(), &cd));
    ASSERT_NE(y.PWaveFormat(), nullptr);
}

TEST(Chain, PullAndPushPassThrough) {
    Log log;
    SourceStage src("S", log);
    RecordingStage p("P", log), sink("K", log);
    src.SetOutput(&p);
    p.SetOutput(&sink);
    int loads = 0, readies = 0;
    p.OnBufferLoad = [&](TObject* sender, PWaveHdr, bool&) {
        EXPECT_EQ(sender, &p);
        ++loads;
    };
    sink.OnBufferReady = [&](TObject*, PWaveHdr h) { readies += static_cast<int>(h->dwBytesRecorded); };

    std::vector<unsigned char> block(BufferHeaderBytes + 64, 0);
    TMMBufferHeader* h = InitBufferHeader(block.data(), 64);
    EXPECT_EQ(reinterpret_cast<unsigned char*>(h->wh.lpData), block.data() + BufferHeaderBytes);
    int pulls = 0;
    bool more = true;
    while (more) {
        h->wh.dwBytesRecorded = 0;
        more = false;
        p.BufferLoad(AsWaveHdr(h), more);
        ++pulls;
        EXPECT_EQ(h->wh.dwBytesRecorded, 32u);
    }
    EXPECT_EQ(pulls, 3) << "the pull that returned MoreBuffers false is the last";
    EXPECT_EQ(loads, 3);
    p.BufferReady(AsWaveHdr(h));
    EXPECT_EQ(readies, 32);
}

// source -> P1 -> device -> P2 -> P3: the device reaches its whole segment in chain order.
TEST(ChainWalk, FiveStageChainWithDeviceInTheMiddle) {
    Log log;
    SourceStage s("S", log);
    RecordingStage p1("P1", log), p2("P2", log), p3("P3", log);
    DeviceStage d("D", log);
    s.SetOutput(&p1);
    p1.SetOutput(&d);
    d.SetOutput(&p2);
    p2.SetOutput(&p3);
    d.SetBufferSize(4096);
    log.clear();

    d.Opened();
    EXPECT_EQ(log,
              (Log{"D.Opened", "S.Opened(4096)", "P1.Opened(4096)", "P2.Opened(4096)", "P3.Opened(4096)"}));
    EXPECT_TRUE(d.IsOpened());
    EXPECT_FALSE(d.DeviceUpstream());

    log.clear();
    d.Started();
    EXPECT_EQ(log, (Log{"D.Started", "S.Started", "P1.Started", "P2.Started", "P3.Started"}));
    EXPECT_TRUE(d.IsStarted());

    log.clear();
    d.Paused();
    d.Reset();
    EXPECT_EQ(log, (Log{"D.Paused", "S.Paused", "P1.Paused", "P2.Paused", "P3.Paused", "D.Reset", "S.Reset",
                        "P1.Reset", "P2.Reset", "P3.Reset"}));

    log.clear();
    d.Stopped();
    d.Closed();
    EXPECT_EQ(log, (Log{"D.Stopped", "S.Stopped", "P1.Stopped", "P2.Stopped", "P3.Stopped", "D.Closed",
                        "S.Closed", "P1.Closed", "P2.Closed", "P3.Closed"}));
    EXPECT_FALSE(d.IsOpened());
}

// S -> D1 -> P -> D2 -> C: each device drives its own segment; the upstream device reaches the lower.
TEST(ChainWalk, TwoDevicesSplitTheChain) {
    Log log;
    SourceStage s("S", log);
    RecordingStage p("P", log), c("C", log);
    DeviceStage d1("D1", log), d2("D2", log);
    s.SetOutput(&d1);
    d1.SetOutput(&p);
    p.SetOutput(&d2);
    d2.SetOutput(&c);
    log.clear();

    d2.Opened();
    EXPECT_EQ(log, (Log{"D2.Opened", "C.Opened(2048)"}));
    EXPECT_TRUE(d2.DeviceUpstream());
    d2.Closed();

    log.clear();
    d1.Opened();
    EXPECT_EQ(log, (Log{"D1.Opened", "S.Opened(2048)", "P.Opened(2048)", "D2.Opened", "C.Opened(2048)"}));
    EXPECT_FALSE(d1.DeviceUpstream());

    log.clear();
    d1.Closed();
    EXPECT_EQ(log, (Log{"D1.Closed", "D2.Closed", "C.Closed", "S.Closed", "P.Closed"}));
}

} // namespace
} // namespace tunefold
