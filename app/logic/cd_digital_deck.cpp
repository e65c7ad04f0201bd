#include "app/logic/cd_digital_deck.h"

namespace tunefold {

void TCdDigitalDeck::SetStartPos(const TMSF& position) {
    start_ = position;
    hasStart_ = true;
}

void TCdDigitalDeck::Forget() {
    hasStart_ = false;
    heldFrame_ = -1;
}

int TCdDigitalDeck::FrameOf(const TMSF& position) {
    const int count = media_.Tracks();
    if (position.track < 1 || position.track > count) {
        return -1;
    }
    const int start = platform::MsfToFrames(media_.TrackPosition(position.track));
    const int frame = start + platform::MsfToFrames({position.minute, position.second, position.frame});
    const int leadOut = media_.LeadOutFrame();
    return frame < leadOut ? frame : leadOut - 1;
}

bool TCdDigitalDeck::Playing() {
    if (state_ == State::Playing && !chain_.WaveOut().State().Contains(wosPlaying)) {
        // The output ran to the end of the disc (or gave up): the disc stands at its end.
        heldFrame_ = media_.LeadOutFrame();
        state_ = State::Stopped;
    }
    return state_ == State::Playing;
}

int TCdDigitalDeck::FrameNow() {
    if (media_.Tracks() == 0) {
        return -1;
    }
    if (Playing()) {
        const std::int64_t ms = chain_.WaveOut().Position();
        const std::int64_t frame = baseFrame_ + ms * platform::kCdFramesPerSecond / 1000;
        const int leadOut = media_.LeadOutFrame();
        return frame < leadOut ? static_cast<int>(frame) : leadOut;
    }
    return heldFrame_ >= 0 ? heldFrame_ : media_.FirstTrackFrame();
}

TMSF TCdDigitalDeck::Position() {
    const int frame = FrameNow();
    const int count = media_.Tracks();
    if (frame < 0 || count == 0) {
        return {};
    }
    TMSF p;
    int offset = 0;
    for (int t = 1; t <= count; ++t) {
        const int start = platform::MsfToFrames(media_.TrackPosition(t));
        if (frame >= start) {
            p.track = t;
            offset = frame - start;
        }
    }
    const int leadOut = media_.LeadOutFrame();
    if (frame >= leadOut) {
        offset = leadOut - platform::MsfToFrames(media_.TrackPosition(count)) - 1;
        p.track = count;
    }
    const platform::CdMsf msf = platform::FramesToMsf(offset);
    p.minute = msf.minute;
    p.second = msf.second;
    p.frame = msf.frame;
    return p;
}

void TCdDigitalDeck::StopOutput() {
    TMMWaveOut& out = chain_.WaveOut();
    out.Stop();
    out.Close();
}

bool TCdDigitalDeck::PlayFrom(int frame) {
    const int leadOut = media_.LeadOutFrame();
    if (frame < 0 || frame >= leadOut) {
        return false;
    }
    StopOutput();
    if (!chain_.CdSource().SelectFrom(frame)) {
        return false;
    }
    chain_.Converter().SetInput(&chain_.CdSource());
    baseFrame_ = frame;
    heldFrame_ = -1;
    state_ = State::Playing;
    chain_.WaveOut().Start();
    return true;
}

bool TCdDigitalDeck::Play() {
    if (media_.Tracks() == 0) {
        return false;
    }
    if (hasStart_) {
        hasStart_ = false;
        const int frame = FrameOf(start_);
        if (frame >= 0) {
            return PlayFrom(frame);
        }
    }
    if (Playing()) {
        return true;
    }
    int from = heldFrame_ >= 0 ? heldFrame_ : media_.FirstTrackFrame();
    if (from >= media_.LeadOutFrame()) {
        from = media_.FirstTrackFrame(); // played to the end: again from the start
    }
    return PlayFrom(from);
}

bool TCdDigitalDeck::Pause() {
    if (state_ == State::Paused) {
        return Play();
    }
    if (!Playing()) {
        return false;
    }
    heldFrame_ = FrameNow();
    StopOutput();
    state_ = State::Paused;
    return true;
}

bool TCdDigitalDeck::Stop() {
    if (Playing()) {
        heldFrame_ = FrameNow();
    }
    StopOutput();
    chain_.CdSource().Deselect();
    state_ = State::Stopped;
    return true;
}

bool TCdDigitalDeck::MoveTo(int frame) {
    if (Playing()) {
        return PlayFrom(frame);
    }
    heldFrame_ = frame;
    if (state_ == State::Paused) {
        state_ = State::Stopped;
    }
    return true;
}

bool TCdDigitalDeck::Previous() {
    const int count = media_.Tracks();
    if (count == 0) {
        return false;
    }
    const TMSF here = Position();
    const int track = here.track < 1 ? 1 : here.track;
    const bool inFirstSecond = here.minute == 0 && here.second == 0;
    const int target = inFirstSecond && track > 1 ? track - 1 : track;
    return MoveTo(platform::MsfToFrames(media_.TrackPosition(target)));
}

bool TCdDigitalDeck::Next() {
    const int count = media_.Tracks();
    const int track = Position().track;
    if (count == 0 || track >= count) {
        return false;
    }
    return MoveTo(platform::MsfToFrames(media_.TrackPosition(track + 1)));
}

} // namespace tunefold
