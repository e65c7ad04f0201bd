// TMMCDAudioSource: a source stage that reads a track of the audio CD in the drive digitally and
// gives its samples (16-bit stereo at 44100 Hz, as they are on the disc) to the chain, in place of a
// file source. Most drives today have no analog cable to the sound card, so this is how the CD
// player is heard on them. The reading goes through the CD-audio service's reader (libcdio-paranoia
// on Linux, a generated signal on the virtual drive), on the output device's thread as it pulls.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/framework/dsp_component.h"
#include "platform/cd_audio.h"

namespace tunefold {

class TMMCDAudioSource : public TMMDSPComponent {
public:
    // Sectors read from the disc at a time (about 0.36 s).
    static constexpr int kReadSectors = 27;

    // `device` null: the process's CD-audio service, looked up when a track is selected.
    explicit TMMCDAudioSource(TComponent* owner = nullptr, platform::CdAudioDevice* device = nullptr);
    ~TMMCDAudioSource() override;

    // Selects audio track `track` of the disc in the drive (opening the drive, and waiting up to
    // `waitMs` for its table of contents when the service has not read it yet). False when there
    // is no such audio track; the selection is then empty.
    bool SelectTrack(int track, long waitMs = 5000);
    // Selects from absolute frame `fromFrame` to the end of the audio that follows it (through the
    // following audio tracks, up to a data track or the lead-out), as a drive plays a disc.
    bool SelectFrom(int fromFrame, long waitMs = 5000);
    // Narrows the selection to a range of absolute frames within it (for a play from a position
    // within a track).
    bool SelectFrames(int fromFrame, int toFrame);
    // Lets the drive go; the source then gives no data.
    void Deselect();

    bool IsSelected() const { return endFrame_ > startFrame_; }
    int Track() const { return track_; }
    std::int64_t LengthMs() const;
    // The played part so far (what was read), in milliseconds from the selection's start.
    std::int64_t PositionMs() const;
    // The last read failed (the disc went, the drive gave up): the stream ended there.
    bool ReadFailed() const { return readFailed_.load(); }

    bool PublishesInput() const override { return false; }
    void Opened() override;
    void Started() override;
    void Stopped() override;
    void Closed() override;
    void Reset() override;
    void BufferLoad(PWaveHdr lpWaveHdr, bool& MoreBuffers) override;

private:
    platform::CdAudioDevice& Device();

    platform::CdAudioDevice* requested_;
    platform::CdAudioDevice* device_ = nullptr; // opened while a selection holds
    int track_ = 0;
    int startFrame_ = 0;
    int endFrame_ = 0;

    // The reader, shared with the device's thread. It is opened there, on the first pull after a
    // start (opening reads the disc's table, which waits while the drive spins up), and let go at a
    // stop, so the drive can be ejected while the output stands.
    std::mutex mutex_;
    std::unique_ptr<platform::CdAudioReader> reader_;
    bool started_ = false;
    bool readerTried_ = false;
    std::atomic<std::int64_t> position_{0}; // bytes from the selection's start
    std::int64_t end_ = 0;                  // bytes in the selection
    std::vector<std::uint8_t> cache_;
    int cacheLba_ = 0;
    int cacheCount_ = 0;
    std::atomic<bool> readFailed_{false};
};

} // namespace tunefold
