#include "tools/render/disc_info.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ostream>

#include "app/logic/play_entries.h"
#include "cdinfo/cd_info.h"
#include "platform/cd_audio.h"
#include "platform/message_loop.h"
#include "platform/platform_mode.h"
#include "platform/virtual/virtual_cd_drive.h"

namespace tunefold::render {

namespace pf = platform;

namespace {

// How long a disc that is spinning up may take before we say there is none.
constexpr auto kSpinUpWait = std::chrono::seconds(20);

std::string Clock(const pf::CdMsf& msf) {
    char text[16];
    std::snprintf(text, sizeof text, "%d:%02d", msf.minute, msf.second);
    return text;
}

bool Settling(pf::CdDriveStatus status) {
    return status == pf::CdDriveStatus::NotReady || status == pf::CdDriveStatus::NoInfo;
}

} // namespace

std::string VirtualDiscProblem() {
    const char* file = std::getenv("TUNEFOLD_VIRTUAL_CD");
    if (!pf::VirtualPlatformRequested() || file == nullptr || *file == '\0') {
        return {};
    }
    pf::VirtualDiscLayout layout;
    std::string error;
    if (!pf::LoadVirtualDiscLayout(file, layout, error)) {
        return "TUNEFOLD_VIRTUAL_CD " + PrintableText(file) + ": " + error;
    }
    return {};
}

int PrintDiscInfo(std::ostream& out, std::ostream& err) {
    pf::CdAudioDevice& device = pf::CdAudio();
    TMMCDPlayer player(nullptr, &device);
    if (!player.Open()) {
        err << "tunefold-render: no CD drive (" << PrintableText(device.Name()) << ")\n";
        return 1;
    }
    // The drive is asked afresh; a disc that is still spinning up is waited for, within a bound.
    const auto deadline = std::chrono::steady_clock::now() + kSpinUpWait;
    device.Refresh(5000);
    while (Settling(device.State().status) && std::chrono::steady_clock::now() < deadline) {
        pf::MessageLoop::Gui().WaitAndProcess(250);
        device.Refresh(5000);
    }
    TMMCDInfo info;
    info.SetEnabled(false); // one look, made here
    info.SetPlayer(&player);
    info.Poll();
    out << "DiscID: " << info.DiscID() << '\n';
    if (info.NeedRead()) {
        err << "tunefold-render: no audio disc in the drive\n";
        return 1;
    }
    out << "Artist: " << PrintableText(info.Artist()) << '\n';
    out << "Title: " << PrintableText(info.Title()) << '\n';
    const int count = player.Tracks();
    out << "Tracks: " << count << '\n';
    const TStrings& names = info.Tracks();
    for (int t = 1; t <= count; ++t) {
        const auto index = static_cast<std::size_t>(t - 1);
        const std::string name = index < names.size() ? names[index] : "Track " + std::to_string(t);
        out << "Track " << t << ": " << PrintableText(name) << " (" << Clock(player.TrackLength(t)) << ')'
            << (player.TrackIsAudio(t) ? "" : " [data]") << '\n';
    }
    // The order as the database gives it, less the entries that name no track of this disc.
    out << "Play order:";
    for (int i = 0; i < info.NumPlay(); ++i) {
        if (const auto track = info.PlayTrack(i)) {
            out << ' ' << *track + 1;
        }
    }
    out << '\n';
    return 0;
}

} // namespace tunefold::render
