// TMMCDInfo: watches the CD drive through the CD player's media player. Every Interval ms (a timer
// of the timer service whose ticks are handed to the GUI thread) it looks at the door, identifies a
// newly ready disc by a number computed from its table of contents (DiscID), and reads the disc's
// artist, title, track names and play order from the title database cdplayer.ini.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cdinfo/big_ini_file.h"
#include "cdinfo/cd_media_player.h"
#include "engine/framework/dsp_component.h"
#include "platform/mm_timer.h"

namespace tunefold {

namespace platform {
class MessageWindow;
}

// The component's texts, by their numbers in the program's string table.
constexpr int kStrNoDisc = 28030;
constexpr int kStrNewArtist = 28031;
constexpr int kStrNewTitle = 28032;
constexpr int kStrTrack = 28033;
// The text of string `id` ("" for a number the table does not hold).
const char* CDInfoString(int id);

// The message that carries a poll to the GUI thread.
constexpr UINT MM_CDINFO_POLL = 0x0400 + 0x2CD;

// Where a database name resolves to: the configuration folder for a bare file name or for the
// old "C:\WINDOWS\" place (matched without regard to case); any other name as it is written, with
// "\" read as "/". Empty when the name has no file name part.
std::string ResolveCDDatabasePath(const std::string& name);

// The DiscID of a table of contents: every track's start packed as minutes x 65536 + seconds x 256
// + frames and added up, plus, for discs of fewer than three tracks, the frames from the first
// track's start to the lead-out; in upper-case hexadecimal.
std::string ComputeDiscIDOf(const std::vector<platform::CdMsf>& trackStarts, int discLengthFrames);

class TMMCDInfo : public TMMNonVisualComponent {
public:
    explicit TMMCDInfo(TComponent* owner = nullptr);
    ~TMMCDInfo() override;

    TMMCDPlayer* Player() const { return player_; }
    void SetPlayer(TMMCDPlayer* player);
    int Interval() const { return interval_; }
    void SetInterval(int ms);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool on);
    // The database file name as it was set, and where it resolved to.
    const std::string& IniFile() const { return iniFile_; }
    const std::string& IniPath() const { return iniPath_; }
    void SetIniFile(const std::string& name);

    TNotifyEvent OnTimer;
    TNotifyEvent OnReady;
    TNotifyEvent OnDoorOpen;
    TNotifyEvent OnDoorClose;

    const std::string& DiscID() const { return discId_; }
    std::uint8_t EntryType() const { return entryType_; }
    const std::string& Artist() const { return artist_; }
    const std::string& Title() const { return title_; }
    std::uint8_t NumTracks() const { return numTracks_; }
    const TStrings& Tracks() const { return tracks_; }
    std::uint8_t NumPlay() const { return static_cast<std::uint8_t>(playOrder_.size()); }
    // Changing the length discards the order and makes a zero-filled one.
    void SetNumPlay(std::uint8_t count);
    // Zero-based track indices as the database gives them; an entry may equal NumTracks (or the
    // list may name tracks the disc lacks), so users go through PlayTrack.
    const std::vector<std::uint8_t>& PlayOrder() const { return playOrder_; }
    // The zero-based track the `i`-th play-order entry names, when it exists in Tracks() and on
    // the disc (when one is known).
    std::optional<int> PlayTrack(int i) const;
    bool DoorIsOpen() const { return doorIsOpen_; }
    bool NeedRead() const { return needRead_; }
    // The database object (never null once an IniFile is set).
    TBigIniFile* Database() const { return ini_.get(); }

    // One poll, as the timer runs it.
    void Poll();
    void Loaded() override;

protected:
    void Notification(TComponent* component, TOperation operation) override;

private:
    bool DiscReady();
    void ComputeDiscID();
    void SetDefaults();
    void ReadDiscInfo();
    void RestartTimer();
    void StopTimer();

    TMMCDPlayer* player_ = nullptr;
    int interval_ = 500;
    bool enabled_ = true;
    std::string iniFile_;
    std::string iniPath_;
    std::unique_ptr<TBigIniFile> ini_;
    std::string discId_;
    std::uint8_t entryType_ = 1;
    std::string artist_;
    std::string title_;
    std::uint8_t numTracks_ = 0;
    TStrings tracks_;
    std::vector<std::uint8_t> playOrder_;
    int discTracks_ = -1; // the drive's count at the last read (-1: none)
    bool doorIsOpen_ = false;
    bool needRead_ = true;
    bool polling_ = false;
    std::uint64_t readSerial_ = 0;

    platform::TimerService* timerService_ = nullptr;
    platform::MMTimerId timerId_ = 0;
    std::unique_ptr<platform::MessageWindow> window_;
    std::shared_ptr<std::atomic<bool>> tickPending_;
};

} // namespace tunefold
