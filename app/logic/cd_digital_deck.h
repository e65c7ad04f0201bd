// The CD player's digital route: the disc read sector by sector through the player's chain (the
// CD source, converter, volume, equalizer, output) instead of played by the drive into the sound
// card's line input. It answers like the drive would (play from a start position, pause that
// resumes, stop, previous, next, where the disc stands), so the window behaves the same on either
// route. The table of contents comes from the media player; the position is the output's.
#pragma once

#include "app/logic/player_chain.h"
#include "cdinfo/cd_media_player.h"

namespace tunefold {

class TCdDigitalDeck {
public:
    TCdDigitalDeck(TMMCDPlayer& media, TPlayerChain& chain) : media_(media), chain_(chain) {}

    void SetStartPos(const TMSF& position);
    bool HasStartPos() const { return hasStart_; }
    // From the start position if one was set (then forgotten), else from where a pause or a stop
    // left the disc, else from the first track. Starts the output.
    bool Play();
    // Playing: the output stops and the place is held. Paused: plays on from it.
    bool Pause();
    bool Stop();
    bool Previous();
    bool Next();
    TMSF Position();
    bool Playing();
    bool Paused() const { return state_ == State::Paused; }
    // Forgets every place (another disc, the door moved).
    void Forget();

private:
    enum class State { Stopped, Playing, Paused };
    // Absolute frame of the disc now (-1 without a disc).
    int FrameNow();
    // The absolute frame of a track-relative position, -1 when the track is not on the disc.
    int FrameOf(const TMSF& position);
    bool PlayFrom(int frame);
    void StopOutput();
    // To `frame`, playing on when playing.
    bool MoveTo(int frame);

    TMMCDPlayer& media_;
    TPlayerChain& chain_;
    State state_ = State::Stopped;
    int baseFrame_ = 0;  // where the running play started
    int heldFrame_ = -1; // where a pause or a stop left the disc
    bool hasStart_ = false;
    TMSF start_;
};

} // namespace tunefold
