// MPEG audio held in WAVE files (format tags 80 and 85) to 16-bit PCM through libmpg123's feed
// interface: every input byte is taken, decoded output waits inside the decoder until there is room.
#include <mpg123.h>

#include <algorithm>
#include <mutex>

#include "platform/acm/acm_driver.h"

namespace tunefold::platform::acm {

namespace {

class MpegCodec final : public Codec {
public:
    MpegCodec(const WAVEFORMATEX& s, const WAVEFORMATEX& d) : s_(s), d_(d) {}
    ~MpegCodec() override { Close(); }

    bool Open() {
        static std::once_flag once;
        std::call_once(once, [] { mpg123_init(); });
        int err = MPG123_OK;
        mh_ = mpg123_new(nullptr, &err);
        if (mh_ == nullptr) {
            return false;
        }
        mpg123_param(mh_, MPG123_FLAGS, MPG123_QUIET, 0);
        mpg123_format_none(mh_);
        if (mpg123_format(mh_, static_cast<long>(d_.nSamplesPerSec),
                          d_.nChannels == 1 ? MPG123_MONO : MPG123_STEREO,
                          MPG123_ENC_SIGNED_16) != MPG123_OK) {
            return false;
        }
        return mpg123_open_feed(mh_) == MPG123_OK;
    }

    DWORD DestinationSize(DWORD n) const override {
        // Room for what `n` compressed bytes decode to at the stream's byte rate, at least two frames.
        const double srcRate = std::max<DWORD>(s_.nAvgBytesPerSec, 1000);
        const double ratio = static_cast<double>(d_.nAvgBytesPerSec) / srcRate;
        const double bytes = n * ratio * 1.5 + 2 * 1152 * 4;
        const auto out = static_cast<DWORD>(std::min(bytes, 64.0 * 1024 * 1024));
        return out - out % d_.nBlockAlign;
    }

    DWORD SourceSize(DWORD n) const override {
        const double ratio =
            static_cast<double>(std::max<DWORD>(s_.nAvgBytesPerSec, 1000)) / d_.nAvgBytesPerSec;
        return static_cast<DWORD>(n * ratio);
    }

    void Reset() override {
        Close();
        Open();
    }

    MMRESULT Convert(const BYTE* src, DWORD srcLen, DWORD& used, BYTE* dst, DWORD dstLen, DWORD& produced,
                     DWORD /*flags*/) override {
        used = 0;
        produced = 0;
        if (mh_ == nullptr) {
            return MMSYSERR_ERROR;
        }
        if (srcLen > 0) {
            if (mpg123_feed(mh_, src, srcLen) != MPG123_OK) {
                return MMSYSERR_ERROR;
            }
        }
        used = srcLen;
        const DWORD room = dstLen - dstLen % d_.nBlockAlign;
        while (produced < room) {
            size_t done = 0;
            int r = mpg123_read(mh_, dst + produced, room - produced, &done);
            produced += static_cast<DWORD>(done);
            if (r == MPG123_NEW_FORMAT || (r == MPG123_OK && done > 0)) {
                continue;
            }
            if (r == MPG123_NEED_MORE || r == MPG123_DONE || r == MPG123_OK) {
                break;
            }
            // A damaged frame: what was decoded so far stands, the decoder resyncs on more input.
            break;
        }
        return MMSYSERR_NOERROR;
    }

private:
    void Close() {
        if (mh_ != nullptr) {
            mpg123_delete(mh_);
            mh_ = nullptr;
        }
    }

    WAVEFORMATEX s_, d_;
    mpg123_handle* mh_ = nullptr;
};

bool MpegShape(const WAVEFORMATEX& s) {
    return (s.wFormatTag == kTagMpeg || s.wFormatTag == kTagMpegLayer3) &&
           (s.nChannels == 1 || s.nChannels == 2) && SupportedRate(s.nSamplesPerSec);
}

class MpegDriverImpl final : public Driver {
public:
    bool Supports(const WAVEFORMATEX& s, const WAVEFORMATEX& d) const override {
        return MpegShape(s) && d.wFormatTag == kTagPcm && d.wBitsPerSample == 16 && PlainPcm(d) &&
               d.nChannels == s.nChannels && d.nSamplesPerSec == s.nSamplesPerSec;
    }
    bool Suggest(const WAVEFORMATEX& s, const WAVEFORMATEX& want, DWORD flags,
                 WAVEFORMATEX& out) const override {
        if (!MpegShape(s) || ((flags & ACM_FORMATSUGGESTF_WFORMATTAG) != 0 && want.wFormatTag != kTagPcm) ||
            ((flags & ACM_FORMATSUGGESTF_NCHANNELS) != 0 && want.nChannels != s.nChannels) ||
            ((flags & ACM_FORMATSUGGESTF_NSAMPLESPERSEC) != 0 && want.nSamplesPerSec != s.nSamplesPerSec) ||
            ((flags & ACM_FORMATSUGGESTF_WBITSPERSAMPLE) != 0 && want.wBitsPerSample != 16)) {
            return false;
        }
        MakePcm(out, 16, s.nChannels, s.nSamplesPerSec);
        return true;
    }
    std::unique_ptr<Codec> Open(const WAVEFORMATEX& s, const WAVEFORMATEX& d, bool) const override {
        auto codec = std::make_unique<MpegCodec>(s, d);
        if (!codec->Open()) {
            return nullptr;
        }
        return codec;
    }
};

} // namespace

const Driver& MpegDriver() {
    static MpegDriverImpl driver;
    return driver;
}

} // namespace tunefold::platform::acm
