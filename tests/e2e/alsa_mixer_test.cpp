// The sound card's volume through the real ALSA mixer, on a private PulseAudio: a change made with
// pactl moves the bound wheel, and turning the wheel changes what the sound server reports.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <regex>
#include <string>

#include "engine/devices/mixer.h"
#include "engine/devices/mixer_wheel.h"
#include "platform/linux/alsa_mixer.h"
#include "platform/message_loop.h"
#include "support/private_pulse.h"

namespace tunefold {
namespace {

constexpr const char* kSink = "tunefold_mixer_sink";

// The sink's volume in percent of the left channel, as pactl reports it; -1 when it cannot say.
int SinkPercent(const std::filesystem::path& scratch) {
    const std::string out = test::Run({"pactl", "get-sink-volume", kSink}, scratch);
    std::smatch m;
    if (!std::regex_search(out, m, std::regex(R"(/\s*(\d+)%)"))) {
        return -1;
    }
    return std::atoi(m[1].str().c_str());
}

TEST(AlsaMixer, TheWheelFollowsTheSoundServerAndMovesIt) {
    test::PrivatePulse pulse;
    std::string why;
    if (!pulse.Start(kSink, why)) {
        GTEST_SKIP() << "PulseAudio could not start here: " << why;
    }
    const auto scratch = pulse.Dir() / "pactl.out";
    test::Run({"pactl", "set-sink-volume", kSink, "80%"}, scratch);
    ASSERT_EQ(SinkPercent(scratch), 80);

    platform::ScopedMixer real(platform::AlsaMixer::Instance());
    TMMMixerDevice mixer;
    TMMAudioLine line;
    TMMVolumeControl volume;
    TMMMixerWheel wheel;
    mixer.SetActive(true);
    line.SetMixer(&mixer);
    line.SetComponentType(ctDstSpeakers);
    volume.SetAudioLine(&line);
    wheel.SetControl(&volume);
    ASSERT_TRUE(wheel.WheelEnabled()) << "no speaker volume on the default mixer";
    EXPECT_EQ(wheel.Max(), 65535);
    EXPECT_NEAR(wheel.Value(), 65535 * 8 / 10, 2);

    // Another program sets 50 %: the wheel follows.
    test::Run({"pactl", "set-sink-volume", kSink, "50%"}, scratch);
    auto& gui = platform::MessageLoop::Gui();
    EXPECT_TRUE(gui.ProcessUntil([&] { return std::abs(wheel.Value() - 32768) <= 2; }, 5000))
        << "the wheel shows " << wheel.Value();

    // The wheel sets a quarter: the server reports 25 %.
    wheel.UserChanged(16384);
    EXPECT_TRUE(test::WaitFor([&] { return SinkPercent(scratch) == 25; }, 5000))
        << "the server reports " << SinkPercent(scratch) << " %";
    mixer.SetActive(false);
}

} // namespace
} // namespace tunefold
