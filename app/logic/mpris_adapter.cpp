#include "app/logic/mpris_adapter.h"

#include <algorithm>
#include <cmath>

#include "app/logic/mpeg_tag_line.h"

namespace tunefold {

namespace {

constexpr const char* kNoTrack = "/org/mpris/MediaPlayer2/TrackList/NoTrack";
constexpr double kUnityVolume = 16384.0;

std::string BaseName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

} // namespace

std::string FileUrl(const std::string& path) {
    static const char* const hex = "0123456789ABCDEF";
    std::string url = "file://";
    for (const char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
            c == '.' || c == '_' || c == '~' || c == '/') {
            url += ch;
        } else {
            url += '%';
            url += hex[c >> 4];
            url += hex[c & 15];
        }
    }
    return url;
}

std::string PathOfUrl(const std::string& url) {
    std::string rest;
    if (url.rfind("file:///", 0) == 0) {
        rest = url.substr(7);
    } else if (url.rfind("file://localhost/", 0) == 0) {
        rest = url.substr(16);
    } else {
        return {};
    }
    std::string path;
    for (std::size_t i = 0; i < rest.size(); ++i) {
        if (rest[i] == '%' && i + 2 < rest.size()) {
            const int hi = HexValue(rest[i + 1]);
            const int lo = HexValue(rest[i + 2]);
            if (hi >= 0 && lo >= 0) {
                const char decoded = static_cast<char>(hi * 16 + lo);
                if (decoded == '\0') {
                    return {}; // no path holds a NUL
                }
                path += decoded;
                i += 2;
                continue;
            }
        }
        path += rest[i];
    }
    return path;
}

TMprisAdapter::TMprisAdapter(TFilePlayer& player) : player_(player) {}

bool TMprisAdapter::Playing() const {
    return player_.WaveOut().State().Contains(wosPlaying);
}

bool TMprisAdapter::Paused() const {
    return Playing() && player_.WaveOut().State().Contains(wosPaused);
}

TMprisState TMprisAdapter::State() const {
    const TFilePlayerView& v = player_.View();
    TMprisState s;
    s.playbackStatus = Paused() ? "Paused" : Playing() ? "Playing" : "Stopped";
    s.volume = player_.PreVolume() / kUnityVolume;
    s.canGoNext = v.Button(TPlayerButton::Next);
    s.canGoPrevious = v.Button(TPlayerButton::Previous);
    // The play button is off while a file plays or pauses, but playing is what the player does
    // then (a paused file goes on through the pause button, which Play presses); clients take a
    // player that cannot play for one without anything to control.
    s.canPlay = v.Button(TPlayerButton::Play) || Playing();
    s.canPause = v.Button(TPlayerButton::Pause);
    s.canSeek = v.trackEnabled;
    TPlayerChain& chain = player_.Chain();
    TMMMPEGFile& mpeg = chain.MpegFile();
    TMMWave& wave = chain.WaveFile().Wave();
    std::string file;
    if (!mpeg.Mpeg().IsEmpty()) {
        file = mpeg.FileName();
        TMMMpegInfo info{};
        mpeg.GetInfo(info);
        const TMpegTagFields tags = MpegTagFields(info, mpeg.TextTags());
        s.metadata.title = tags.title;
        s.metadata.artist = tags.artist;
        s.metadata.album = tags.album;
    } else if (!wave.IsEmpty()) {
        file = wave.FileName();
    }
    if (file.empty() || player_.ActiveSource() != 1) {
        s.metadata.trackId = kNoTrack;
        return s;
    }
    s.metadata.trackId = "/org/mpris/MediaPlayer2/tunefold/track/" + std::to_string(player_.ListIndex());
    if (s.metadata.title.empty()) {
        s.metadata.title = BaseName(file); // what the first display line shows
    }
    s.metadata.lengthUs = v.trackMax * 1000;
    s.metadata.url = FileUrl(file);
    return s;
}

std::int64_t TMprisAdapter::PositionUs() const {
    return player_.View().trackPosition * 1000;
}

void TMprisAdapter::Raise() {
    if (!player_.View().showFilePlayerChecked) {
        player_.ShowFilePlayer1Click();
    }
    if (OnRaise) {
        OnRaise();
    }
}

void TMprisAdapter::Quit() {
    if (OnQuit) {
        OnQuit();
    }
}

void TMprisAdapter::Play() {
    const TFilePlayerView& v = player_.View();
    if (Paused()) {
        // Play on a paused player goes on from where it is, as the pause button does.
        if (v.Button(TPlayerButton::Pause)) {
            player_.Click(TPlayerButton::Pause);
        } else if (v.Button(TPlayerButton::Play)) {
            player_.Click(TPlayerButton::Play);
        }
        return;
    }
    // The play button on a playing file starts it again; the interface's Play leaves it playing.
    if (!Playing() && v.Button(TPlayerButton::Play)) {
        player_.Click(TPlayerButton::Play);
    }
}

void TMprisAdapter::Pause() {
    if (Playing() && !Paused() && player_.View().Button(TPlayerButton::Pause)) {
        player_.Click(TPlayerButton::Pause);
    }
}

void TMprisAdapter::PlayPause() {
    if (Playing() && !Paused()) {
        Pause();
    } else {
        Play();
    }
}

void TMprisAdapter::Stop() {
    if (player_.View().Button(TPlayerButton::Stop)) {
        player_.Click(TPlayerButton::Stop);
    }
}

void TMprisAdapter::Next() {
    if (player_.View().Button(TPlayerButton::Next)) {
        player_.Click(TPlayerButton::Next);
    }
}

void TMprisAdapter::Previous() {
    if (player_.View().Button(TPlayerButton::Previous)) {
        player_.Click(TPlayerButton::Previous);
    }
}

void TMprisAdapter::SeekTo(std::int64_t ms) {
    // The track bar's own press, move and release.
    player_.RzTrackBar1MouseDown();
    player_.RzTrackBar1MouseMove(ms);
    player_.RzTrackBar1MouseUp();
    seeked_ = true;
}

void TMprisAdapter::Seek(std::int64_t offsetUs) {
    const TFilePlayerView& v = player_.View();
    if (!v.trackEnabled) {
        return;
    }
    const std::int64_t target = v.trackPosition + offsetUs / 1000;
    if (target > v.trackMax) {
        Next(); // past the end is the next entry
        return;
    }
    SeekTo(std::max<std::int64_t>(target, 0));
}

void TMprisAdapter::SetPosition(const std::string& trackId, std::int64_t positionUs) {
    const TFilePlayerView& v = player_.View();
    // A position for another track than the one shown is stale and ignored.
    if (!v.trackEnabled || trackId != State().metadata.trackId || positionUs < 0 ||
        positionUs / 1000 > v.trackMax) {
        return;
    }
    SeekTo(positionUs / 1000);
}

void TMprisAdapter::SetVolume(double volume) {
    // The wheel is the pre-volume and takes nothing while it is disabled (power off).
    if (!player_.View().wheelEnabled || std::isnan(volume)) {
        return;
    }
    const double clamped = std::clamp(volume, 0.0, 2.0);
    player_.SetPreVolume(static_cast<int>(std::lround(clamped * kUnityVolume)));
}

void TMprisAdapter::OpenUri(const std::string& uri) {
    const std::string path = uri.rfind('/', 0) == 0 ? uri : PathOfUrl(uri);
    if (!path.empty()) {
        player_.DropFiles({path});
    }
}

TMprisChanges TMprisAdapter::Poll() {
    TMprisChanges changes;
    const TMprisState now = State();
    if (polled_) {
        auto note = [&](bool differs, const char* name) {
            if (differs) {
                changes.properties.emplace_back(name);
            }
        };
        note(now.playbackStatus != last_.playbackStatus, "PlaybackStatus");
        note(!(now.metadata == last_.metadata), "Metadata");
        note(now.volume != last_.volume, "Volume");
        note(now.canGoNext != last_.canGoNext, "CanGoNext");
        note(now.canGoPrevious != last_.canGoPrevious, "CanGoPrevious");
        note(now.canPlay != last_.canPlay, "CanPlay");
        note(now.canPause != last_.canPause, "CanPause");
        note(now.canSeek != last_.canSeek, "CanSeek");
    }
    polled_ = true;
    last_ = now;
    changes.seeked = seeked_;
    seeked_ = false;
    changes.positionUs = PositionUs();
    return changes;
}

} // namespace tunefold
