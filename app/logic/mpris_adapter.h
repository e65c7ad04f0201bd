// The media player interface desktops talk to (media keys, panel widgets), over the file player's
// controller: every call acts as the player's own buttons and track bar act, so their rules hold
// (a button that is disabled does nothing, the power switch, the gap between entries), and every
// property reads the controller's view state. Qt-free; the bus side lives in app/qt/.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/logic/file_player.h"

namespace tunefold {

struct TMprisMetadata {
    std::string trackId; // an object path; "/org/mpris/MediaPlayer2/TrackList/NoTrack" without a file
    std::string title;
    std::string artist;
    std::string album;
    std::int64_t lengthUs = 0;
    std::string url; // file:// URL of the entry
    bool operator==(const TMprisMetadata&) const = default;
};

// The player interface's properties apart from the position, which clients read when they want it.
struct TMprisState {
    std::string playbackStatus = "Stopped"; // "Playing", "Paused" or "Stopped"
    TMprisMetadata metadata;
    double volume = 1.0; // the pre-volume: 1.0 leaves the samples as they are, 2.0 is the wheel's top
    bool canGoNext = false;
    bool canGoPrevious = false;
    bool canPlay = false;
    bool canPause = false;
    bool canSeek = false;
    bool operator==(const TMprisState&) const = default;
};

// What changed since the last Poll: the names of the player properties to announce, and a new
// position when it jumped (a seek), to announce as Seeked.
struct TMprisChanges {
    std::vector<std::string> properties;
    bool seeked = false;
    std::int64_t positionUs = 0;
};

class TMprisAdapter {
public:
    explicit TMprisAdapter(TFilePlayer& player);

    TMprisState State() const;
    std::int64_t PositionUs() const;

    // org.mpris.MediaPlayer2
    void Raise();
    void Quit();
    // org.mpris.MediaPlayer2.Player
    void Play();
    void Pause();
    void PlayPause();
    void Stop();
    void Next();
    void Previous();
    void Seek(std::int64_t offsetUs);
    void SetPosition(const std::string& trackId, std::int64_t positionUs);
    void SetVolume(double volume);
    // A file:// URL (or a plain path): opened as a file dropped on the player is.
    void OpenUri(const std::string& uri);

    // Compares with what the last Poll saw.
    TMprisChanges Poll();

    // The window side of Raise and Quit.
    std::function<void()> OnRaise;
    std::function<void()> OnQuit;

private:
    bool Playing() const;
    bool Paused() const;
    void SeekTo(std::int64_t ms);

    TFilePlayer& player_;
    TMprisState last_;
    bool polled_ = false;
    bool seeked_ = false;
};

// A path as a file:// URL (percent-encoded), and back (empty when it is no file URL).
std::string FileUrl(const std::string& path);
std::string PathOfUrl(const std::string& url);

} // namespace tunefold
