// The decoder library over libmpg123. One instance selects one file at a time; the file is scanned
// once when selected (exact frame count and length, also for variable-rate streams with or without
// a Xing/Info/VBRI header), decoding works frame by frame with one decoded frame held ahead, so the
// read that delivers the last bytes already reports the end. While a file is read, a thread of the
// decoder's own decodes up to 128 frames ahead of the reader (see FrameQueue), so decoding runs on one
// core while the rest of the chain runs on another.
#include "platform/mpeg/mmmpeg.h"

#include "platform/mpeg/frame_index.h"

#include <fcntl.h>
#include <mpg123.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

static_assert(sizeof(TMMMpegInfo) == 166, "the stream information record is 166 bytes");
static_assert(offsetof(TMMMpegInfo, FrameTime) == 26, "frame time at offset 26");
static_assert(offsetof(TMMMpegInfo, ID3Tag) == 38, "ID3v1 tag at offset 38");

namespace {

constexpr int32_t kVersion = 21;

// What decoding one frame gave: audio, the end of the stream, or an error code of ours.
struct DecodedFrame {
    int32_t error = 0;
    bool done = false;
    off_t frame = 0;     // the frame the audio belongs to
    off_t nextFrame = 0; // the engine's next frame once this one was decoded
    std::vector<unsigned char> audio;
};

// Frames decoded ahead of the reader by a thread of their own. The thread is started by the first
// read after the file was opened or repositioned and owns the engine handle until Stop returns; every
// other use of the handle stops it first. The reader holds the front frame while it copies from it.
class FrameQueue {
public:
    FrameQueue() : slots_(kSlots) {}
    ~FrameQueue() { Stop(); }
    FrameQueue(const FrameQueue&) = delete;
    FrameQueue& operator=(const FrameQueue&) = delete;

    bool Running() const { return thread_.joinable(); }

    // Starts decoding ahead from the engine's current place; next is the frame it decodes next.
    bool Start(mpg123_handle* mh, off_t next);

    // Stops the thread and drops every frame decoded ahead.
    void Stop() {
        if (thread_.joinable()) {
            {
                std::lock_guard lock(mutex_);
                stop_ = true;
            }
            producerWake_.notify_one();
            thread_.join();
        }
        stop_ = false;
        finished_ = false;
        want_ = 1;
        head_ = count_ = 0;
        holding_ = false;
    }

    // Releases the frame the reader held and waits for the next one.
    const DecodedFrame& Next() {
        std::unique_lock lock(mutex_);
        if (holding_ && slots_[head_].done) {
            return slots_[head_]; // the end stays the end
        }
        if (holding_) {
            head_ = (head_ + 1) % kSlots;
            --count_;
            holding_ = false;
            if (count_ <= kRefillAt && producerWaiting_) {
                producerWake_.notify_one();
            }
        }
        if (count_ == 0) {
            readerWaiting_ = true;
            readerWake_.wait(lock, [this] { return count_ >= want_ || finished_; });
            readerWaiting_ = false;
            // The first frame after a start is wanted at once; after that the reader wakes once
            // for a batch of frames rather than once per frame.
            want_ = kBatch;
        }
        holding_ = true;
        return slots_[head_];
    }

private:
    static constexpr size_t kSlots = 128;
    static constexpr size_t kRefillAt = kSlots / 2;
    static constexpr size_t kBatch = 48;

    void Produce(mpg123_handle* mh, off_t next);

    std::vector<DecodedFrame> slots_;
    std::mutex mutex_;
    std::condition_variable producerWake_;
    std::condition_variable readerWake_;
    size_t head_ = 0;
    size_t count_ = 0;
    size_t want_ = 1; // frames the waiting reader wakes for
    bool holding_ = false;
    bool stop_ = false;
    bool finished_ = false; // the producer delivered the end and left
    bool producerWaiting_ = false;
    bool readerWaiting_ = false;
    std::thread thread_;
};

struct Decoder {
    mpg123_handle* mh = nullptr;
    TMpegNotify notify = nullptr;
    void* user = nullptr;
    std::string fileName;
    bool hasFile = false;
    bool open = false;
    bool done = false;
    bool aborted = false;
    int pendingError = 0;
    int32_t channelMode = MPEG_CM_BOTH;
    int32_t trailingHeader = 0;
    int32_t exactPosition = 0;
    int32_t decodeMode = 0;
    int32_t fileOffset = 0;
    TMpegDecodeCallback decodeCallback = nullptr;
    void* decodeUser = nullptr;
    TMMMpegInfo info{};
    std::string texts[3]; // the ID3v2 title, artist and album, UTF-8
    FrameQueue ahead;
    // The decoded frame not yet delivered (the queue's front frame, valid until the next one is taken).
    const unsigned char* pending = nullptr;
    size_t pendingLen = 0;
    off_t pendingFrame = 0;
    off_t nextFrame = 0;
};

Decoder* From(TMpegHandle h) {
    return static_cast<Decoder*>(h);
}

int32_t EngineError(int code) {
    return 1000 + code;
}

void EnsureInit() {
    static std::once_flag once;
    std::call_once(once, [] { mpg123_init(); });
}

// The engine's own file reading asks for a frame header, then a frame body, each with its own system
// call (twice over the file: once for the scan, once for decoding). This reader serves those small
// reads from a 64 KB window of the file, and seeks inside the window without touching the file.
// The engine reads only the file's frames (see frame_index.h), as one stream without gaps: bytes
// between frames that are not audio never reach it.
class BufferedFile {
public:
    static BufferedFile* Open(const std::string& name) {
        // Only a regular file: a FIFO would block the open (hence non-blocking while we look) and
        // a device could be read without end.
        int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
        if (fd < 0) {
            return nullptr;
        }
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            return nullptr;
        }
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        auto* file = new (std::nothrow) BufferedFile(fd);
        if (file == nullptr) {
            ::close(fd);
            return nullptr;
        }
        try {
            file->spans_ = mmmpeg::IndexFrames(fd, st.st_size);
        } catch (const std::bad_alloc&) {
            delete file;
            return nullptr;
        }
        if (!file->spans_.empty()) {
            file->size_ = file->spans_.back().virt + file->spans_.back().length;
        }
        return file;
    }

    ~BufferedFile() { ::close(fd_); }
    BufferedFile(const BufferedFile&) = delete;
    BufferedFile& operator=(const BufferedFile&) = delete;

    static mpg123_ssize_t Read(void* handle, void* out, size_t count) {
        return static_cast<BufferedFile*>(handle)->ReadAt(static_cast<unsigned char*>(out), count);
    }

    static off_t Seek(void* handle, off_t offset, int whence) {
        return static_cast<BufferedFile*>(handle)->SeekTo(offset, whence);
    }

    static void Close(void* handle) { delete static_cast<BufferedFile*>(handle); }

private:
    static constexpr size_t kWindow = 64 * 1024;

    explicit BufferedFile(int fd) : fd_(fd), window_(kWindow) {}

    // The run of frames that holds stream position pos_ (pos_ < size_).
    const mmmpeg::FrameSpan& SpanAtPos() {
        const mmmpeg::FrameSpan* s = &spans_[span_];
        if (pos_ < s->virt || pos_ >= s->virt + s->length) {
            auto it = std::upper_bound(spans_.begin(), spans_.end(), pos_,
                                       [](off_t v, const mmmpeg::FrameSpan& f) { return v < f.virt; });
            span_ = static_cast<size_t>(it - spans_.begin()) - 1;
            s = &spans_[span_];
        }
        return *s;
    }

    mpg123_ssize_t ReadAt(unsigned char* out, size_t count) {
        size_t done = 0;
        while (done < count && pos_ < size_) {
            const mmmpeg::FrameSpan& span = SpanAtPos();
            const off_t real = span.real + (pos_ - span.virt);
            const size_t want = static_cast<size_t>(
                std::min<off_t>(static_cast<off_t>(count - done), span.virt + span.length - pos_));
            ssize_t got = ReadReal(real, out + done, want);
            if (got <= 0) {
                return got < 0 && done == 0 ? -1 : static_cast<mpg123_ssize_t>(done);
            }
            done += static_cast<size_t>(got);
            pos_ += got;
        }
        return static_cast<mpg123_ssize_t>(done);
    }

    // Up to `count` bytes at file offset `real`: 0 at the end of the file, -1 on an error.
    ssize_t ReadReal(off_t real, unsigned char* out, size_t count) {
        for (;;) {
            if (real >= windowStart_ && real < windowStart_ + static_cast<off_t>(windowLen_)) {
                size_t at = static_cast<size_t>(real - windowStart_);
                size_t n = std::min(windowLen_ - at, count);
                std::memcpy(out, window_.data() + at, n);
                return static_cast<ssize_t>(n);
            }
            ssize_t got = 0;
            if (count >= kWindow) {
                got = ::pread(fd_, out, count, real); // large reads skip the window
                if (got >= 0) {
                    return got;
                }
            } else {
                got = ::pread(fd_, window_.data(), kWindow, real);
                windowStart_ = real;
                windowLen_ = got > 0 ? static_cast<size_t>(got) : 0;
                if (got == 0) {
                    return 0;
                }
            }
            if (got < 0 && errno != EINTR) {
                return -1;
            }
        }
    }

    off_t SeekTo(off_t offset, int whence) {
        off_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? pos_ : whence == SEEK_END ? size_ : -1;
        if (base < 0 || base + offset < 0) {
            errno = EINVAL;
            return -1;
        }
        pos_ = base + offset;
        return pos_;
    }

    int fd_;
    std::vector<mmmpeg::FrameSpan> spans_;
    size_t span_ = 0;
    off_t size_ = 0; // of the stream of frames
    std::vector<unsigned char> window_;
    off_t windowStart_ = 0;
    size_t windowLen_ = 0;
    off_t pos_ = 0; // in the stream of frames
};

// Output: signed 16-bit at the stream's own rate; one channel when a single channel is selected.
bool ConfigureOutput(Decoder& d) {
    mpg123_handle* mh = d.mh;
    long flags = MPG123_QUIET | MPG123_GAPLESS;
    int channels = MPG123_MONO | MPG123_STEREO;
    switch (d.channelMode) {
    case MPEG_CM_LEFT:
        flags |= MPG123_MONO_LEFT;
        channels = MPG123_MONO;
        break;
    case MPEG_CM_RIGHT:
        flags |= MPG123_MONO_RIGHT;
        channels = MPG123_MONO;
        break;
    case MPEG_CM_DOWNMIX:
        flags |= MPG123_MONO_MIX;
        channels = MPG123_MONO;
        break;
    default:
        break;
    }
    if (mpg123_param(mh, MPG123_FLAGS, flags, 0) != MPG123_OK) {
        return false;
    }
    mpg123_format_none(mh);
    const long* rates = nullptr;
    size_t count = 0;
    mpg123_rates(&rates, &count);
    for (size_t i = 0; i < count; ++i) {
        mpg123_format(mh, rates[i], channels, MPG123_ENC_SIGNED_16);
    }
    return true;
}

void ReadTag(const std::string& name, uint8_t* tag) {
    std::memset(tag, 0, 128);
    FILE* f = std::fopen(name.c_str(), "rb");
    if (f == nullptr) {
        return;
    }
    uint8_t buf[128];
    if (std::fseek(f, -128, SEEK_END) == 0 && std::fread(buf, 1, 128, f) == 128 &&
        std::memcmp(buf, "TAG", 3) == 0) {
        std::memcpy(tag, buf, 128);
    }
    std::fclose(f);
}

// The first value of an ID3v2 text frame: the engine keeps every frame's values in UTF-8, one after
// another with NULs between them.
std::string FirstValue(const mpg123_string* s) {
    if (s == nullptr || s->p == nullptr || s->fill == 0) {
        return {};
    }
    return std::string(s->p, strnlen(s->p, s->fill));
}

// The decoding engine reads the frames only (the file as it sees it leaves out whatever lies between
// them), so a handle of its own reads the file from its start, as far as the tag at the start and
// the first frame.
void ReadTextTags(Decoder& d, const std::string& name) {
    for (auto& t : d.texts) {
        t.clear();
    }
    int err = MPG123_OK;
    mpg123_handle* mh = mpg123_new(nullptr, &err);
    if (mh == nullptr) {
        return;
    }
    long rate = 0;
    int channels = 0, encoding = 0;
    mpg123_id3v1* v1 = nullptr;
    mpg123_id3v2* v2 = nullptr;
    if (mpg123_param(mh, MPG123_FLAGS, MPG123_QUIET, 0) == MPG123_OK &&
        mpg123_open(mh, name.c_str()) == MPG123_OK) {
        if (mpg123_getformat(mh, &rate, &channels, &encoding) == MPG123_OK &&
            (mpg123_meta_check(mh) & MPG123_ID3) != 0 && mpg123_id3(mh, &v1, &v2) == MPG123_OK &&
            v2 != nullptr) {
            d.texts[MPEG_TEXT_TITLE] = FirstValue(v2->title);
            d.texts[MPEG_TEXT_ARTIST] = FirstValue(v2->artist);
            d.texts[MPEG_TEXT_ALBUM] = FirstValue(v2->album);
        }
        mpg123_close(mh);
    }
    mpg123_delete(mh);
}

void ResetDecoding(Decoder& d) {
    d.ahead.Stop();
    d.pending = nullptr;
    d.pendingLen = 0;
    d.done = false;
    d.pendingError = 0;
}

void CloseEngine(Decoder& d) {
    d.ahead.Stop(); // the engine handle is ours again
    if (d.hasFile) {
        mpg123_close(d.mh);
    }
    d.hasFile = false;
    d.open = false;
    d.aborted = false;
    ResetDecoding(d);
    d.pendingFrame = d.nextFrame = 0;
    std::memset(&d.info, 0, sizeof d.info);
    for (auto& t : d.texts) {
        t.clear();
    }
}

void Notify(Decoder& d) {
    if (d.notify != nullptr) {
        d.notify(0, d.user);
    }
}

// Opens and scans the named file; fills the stream information.
int32_t OpenEngine(Decoder& d, const std::string& name) {
    if (!ConfigureOutput(d)) {
        return MPEG_ERR_PARAM;
    }
    BufferedFile* file = BufferedFile::Open(name);
    if (file == nullptr) {
        return MPEG_ERR_OPEN;
    }
    // The engine owns the file from here on: closing the stream frees it.
    if (mpg123_replace_reader_handle(d.mh, BufferedFile::Read, BufferedFile::Seek, BufferedFile::Close) !=
        MPG123_OK) {
        BufferedFile::Close(file);
        return MPEG_ERR_OPEN;
    }
    if (mpg123_open_handle(d.mh, file) != MPG123_OK) {
        mpg123_close(d.mh); // hands the file back to its cleanup
        return MPEG_ERR_OPEN;
    }
    long rate = 0;
    int channels = 0, encoding = 0;
    if (mpg123_getformat(d.mh, &rate, &channels, &encoding) != MPG123_OK || rate <= 0) {
        mpg123_close(d.mh);
        return MPEG_ERR_NOT_MPEG;
    }
    mpg123_frameinfo fi{};
    // Free-format frames (no bit rate in the header) are what a stray sync word in other data looks
    // like far more often than a real stream: such files are not taken for MPEG audio.
    if (mpg123_info(d.mh, &fi) != MPG123_OK || fi.layer < 1 || fi.layer > 3 || fi.bitrate <= 0) {
        mpg123_close(d.mh);
        return MPEG_ERR_NOT_MPEG;
    }
    // The scan walks every frame header: exact counts whatever the encoder wrote in its headers.
    if (mpg123_scan(d.mh) != MPG123_OK) {
        mpg123_close(d.mh);
        return MPEG_ERR_NOT_MPEG;
    }
    d.hasFile = true;
    TMMMpegInfo& in = d.info;
    std::memset(&in, 0, sizeof in);
    in.Version = fi.version == MPG123_1_0 ? 1 : 0;
    in.Layer = fi.layer;
    in.SampleRate = static_cast<int32_t>(fi.rate);
    in.PlaybackRate = static_cast<int32_t>(rate);
    in.Mode = static_cast<uint8_t>(fi.mode);
    off_t frames = mpg123_framelength(d.mh);
    off_t samples = mpg123_length(d.mh);
    in.Frames = frames > 0 ? static_cast<int32_t>(frames) : 0;
    in.Time = samples > 0 ? static_cast<int32_t>((static_cast<double>(samples) * 1000.0) / rate + 0.5) : 0;
    // Samples per frame by layer and version (the engine's own per-frame figure halves layer II of
    // the lower sampling rates, which still has 1152 samples a frame).
    const int spf = fi.layer == 1 ? 384 : (fi.layer == 3 && fi.version != MPG123_1_0) ? 576 : 1152;
    in.FrameTime = spf * 1000.0 / static_cast<double>(fi.rate);
    ReadTag(name, in.ID3Tag);
    ReadTextTags(d, name);
    if (fi.vbr == MPG123_CBR) {
        in.BitRate = fi.bitrate;
    } else if (in.Time > 0) {
        // Variable rate: the average over the audio (tags excluded as far as known).
        FILE* f = std::fopen(name.c_str(), "rb");
        long size = 0;
        if (f != nullptr) {
            std::fseek(f, 0, SEEK_END);
            size = std::ftell(f);
            std::fclose(f);
        }
        if (in.ID3Tag[0] == 'T') {
            size -= 128;
        }
        in.BitRate = static_cast<int32_t>(std::lround(static_cast<double>(size) * 8.0 / in.Time));
    }
    if (mpg123_seek_frame(d.mh, 0, SEEK_SET) < 0) {
        CloseEngine(d);
        return MPEG_ERR_SEEK;
    }
    ResetDecoding(d);
    d.pendingFrame = d.nextFrame = 0;
    return MPEG_OK;
}

// Decodes the next frame that has audio: the engine's memory is copied into the frame.
void DecodeOne(mpg123_handle* mh, off_t& next, DecodedFrame& out) {
    out.error = 0;
    out.done = false;
    for (int guard = 0; guard < 64; ++guard) {
        off_t num = 0;
        unsigned char* audio = nullptr;
        size_t bytes = 0;
        int r = mpg123_decode_frame(mh, &num, &audio, &bytes);
        if (r == MPG123_NEW_FORMAT) {
            continue; // the format is fixed by our configuration; data follows
        }
        if (r == MPG123_DONE) {
            out.done = true;
            out.nextFrame = next;
            return;
        }
        if (r != MPG123_OK) {
            out.error = EngineError(r);
            out.nextFrame = next;
            return;
        }
        next = num + 1;
        if (bytes == 0) {
            continue; // a frame trimmed away entirely (encoder delay)
        }
        out.frame = num;
        out.nextFrame = next;
        out.audio.assign(audio, audio + bytes);
        return;
    }
    out.error = MPEG_ERR_DECODE;
    out.nextFrame = next;
}

bool FrameQueue::Start(mpg123_handle* mh, off_t next) {
    Stop();
    try {
        thread_ = std::thread([this, mh, next] {
            // The decoder library stands alone: it names its thread itself.
            pthread_setname_np(pthread_self(), "tf-mpeg");
            Produce(mh, next);
        });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void FrameQueue::Produce(mpg123_handle* mh, off_t next) {
    for (;;) {
        size_t tail = 0;
        {
            std::unique_lock lock(mutex_);
            if (count_ == kSlots) {
                producerWaiting_ = true;
                producerWake_.wait(lock, [this] { return stop_ || count_ <= kRefillAt; });
                producerWaiting_ = false;
            }
            if (stop_) {
                return;
            }
            tail = (head_ + count_) % kSlots;
        }
        // The tail slot is the producer's alone until it is counted.
        DecodedFrame& slot = slots_[tail];
        DecodeOne(mh, next, slot);
        const bool last = slot.done;
        bool wake = false;
        {
            std::lock_guard lock(mutex_);
            ++count_;
            finished_ = last;
            wake = readerWaiting_ && (count_ >= want_ || last);
        }
        if (wake) {
            readerWake_.notify_one();
        }
        if (last) {
            return;
        }
    }
}

// Takes the next decoded frame into the pending area. 0, or an error code.
int DecodeNext(Decoder& d) {
    if (!d.ahead.Running() && !d.ahead.Start(d.mh, d.nextFrame)) {
        return MPEG_ERR_MEMORY;
    }
    const DecodedFrame& f = d.ahead.Next();
    d.nextFrame = f.nextFrame;
    if (f.done) {
        d.done = true;
        return 0;
    }
    if (f.error != 0) {
        return f.error;
    }
    d.pending = f.audio.data();
    d.pendingLen = f.audio.size();
    d.pendingFrame = f.frame;
    if (d.decodeCallback != nullptr) {
        d.decodeCallback(d.decodeUser, static_cast<int32_t>(f.frame));
    }
    return 0;
}

} // namespace

extern "C" {

int32_t mpeg_Version(void) {
    return kVersion;
}

TMpegHandle mpeg_Init(int32_t* code, TMpegNotify notify, void* user) {
    EnsureInit();
    auto* d = new (std::nothrow) Decoder;
    if (d == nullptr) {
        if (code != nullptr) {
            *code = MPEG_ERR_MEMORY;
        }
        return nullptr;
    }
    int err = MPG123_OK;
    d->mh = mpg123_new(nullptr, &err);
    if (d->mh == nullptr) {
        delete d;
        if (code != nullptr) {
            *code = EngineError(err);
        }
        return nullptr;
    }
    d->notify = notify;
    d->user = user;
    if (code != nullptr) {
        *code = MPEG_OK;
    }
    return d;
}

void mpeg_Done(TMpegHandle* handle) {
    if (handle == nullptr || *handle == nullptr) {
        return;
    }
    Decoder* d = From(*handle);
    CloseEngine(*d);
    mpg123_delete(d->mh);
    delete d;
    *handle = nullptr;
}

int32_t mpeg_SetFileName(TMpegHandle handle, const char* name) {
    Decoder* d = From(handle);
    if (d == nullptr) {
        return MPEG_ERR_HANDLE;
    }
    CloseEngine(*d);
    d->fileName = name != nullptr ? name : "";
    int32_t code = MPEG_OK;
    if (!d->fileName.empty()) {
        code = OpenEngine(*d, d->fileName);
    }
    if (code != MPEG_OK) {
        d->fileName.clear();
    }
    Notify(*d);
    return code;
}

int32_t mpeg_GetFileName(TMpegHandle handle, char* buffer, int32_t size) {
    Decoder* d = From(handle);
    if (d == nullptr) {
        return MPEG_ERR_HANDLE;
    }
    if (buffer == nullptr || size <= 0) {
        return MPEG_ERR_PARAM;
    }
    size_t n = std::min(d->fileName.size(), static_cast<size_t>(size - 1));
    std::memcpy(buffer, d->fileName.data(), n);
    buffer[n] = '\0';
    return MPEG_OK;
}

int32_t mpeg_GetEmpty(TMpegHandle handle) {
    Decoder* d = From(handle);
    return d == nullptr || !d->hasFile ? 1 : 0;
}

int32_t mpeg_GetFileInfo(TMpegHandle handle, TMMMpegInfo* info) {
    Decoder* d = From(handle);
    if (d == nullptr) {
        return MPEG_ERR_HANDLE;
    }
    if (info == nullptr) {
        return MPEG_ERR_PARAM;
    }
    if (!d->hasFile) {
        return MPEG_ERR_NO_FILE;
    }
    std::memcpy(info, &d->info, sizeof(TMMMpegInfo));
    return MPEG_OK;
}

int32_t mpeg_OpenFile(TMpegHandle handle) {
    Decoder* d = From(handle);
    if (d == nullptr) {
        return MPEG_ERR_HANDLE;
    }
    if (!d->hasFile) {
        return MPEG_ERR_NO_FILE;
    }
    d->open = true;
    return MPEG_OK;
}

int32_t mpeg_CloseFile(TMpegHandle handle) {
    Decoder* d = From(handle);
    if (d == nullptr) {
        return MPEG_ERR_HANDLE;
    }
    d->open = false;
    return MPEG_OK;
}

int32_t mpeg_ResetFile(TMpegHandle handle) {
    Decoder* d = From(handle);
    if (d == nullptr) {
        return MPEG_ERR_HANDLE;
    }
    if (!d->hasFile) {
        return MPEG_ERR_NO_FILE;
    }
    d->aborted = false;
    return mpeg_SetPosition(handle, 0);
}

int32_t mpeg_ReadDataBytes(TMpegHandle handle, void* buffer, int32_t count) {
    Decoder* d = From(handle);
    if (d == nullptr) {
        return -MPEG_ERR_HANDLE;
    }
    if (!d->hasFile) {
        return -MPEG_ERR_NO_FILE;
    }
    if (!d->open) {
        return -MPEG_ERR_NOT_OPEN;
    }
    if (d->aborted) {
        return -MPEG_ERR_ABORTED;
    }
    if (buffer == nullptr || count < 0) {
        return -MPEG_ERR_PARAM;
    }
    if (d->pendingError != 0) {
        int e = d->pendingError;
        d->pendingError = 0;
        return -e;
    }
    auto* out = static_cast<unsigned char*>(buffer);
    int32_t filled = 0;
    while (filled < count) {
        if (d->pendingLen > 0) {
            size_t n = std::min(d->pendingLen, static_cast<size_t>(count - filled));
            std::memcpy(out + filled, d->pending, n);
            d->pending += n;
            d->pendingLen -= n;
            filled += static_cast<int32_t>(n);
            continue;
        }
        if (d->done) {
            break;
        }
        int e = DecodeNext(*d);
        if (e != 0) {
            if (filled == 0) {
                return -e;
            }
            d->pendingError = e; // delivered with the next read
            return filled;
        }
    }
    // One frame ahead: the read that empties the stream reports the end at once.
    if (d->pendingLen == 0 && !d->done) {
        int e = DecodeNext(*d);
        if (e != 0) {
            d->pendingError = e;
        }
    }
    return filled;
}

int32_t mpeg_GetDone(TMpegHandle handle) {
    Decoder* d = From(handle);
    return d != nullptr && d->done && d->pendingLen == 0 ? 1 : 0;
}

int32_t mpeg_SetPosition(TMpegHandle handle, int32_t frame) {
    Decoder* d = From(handle);
    if (d == nullptr) {
        return MPEG_ERR_HANDLE;
    }
    if (!d->hasFile) {
        return MPEG_ERR_NO_FILE;
    }
    if (frame < 0) {
        return MPEG_ERR_PARAM;
    }
    ResetDecoding(*d);
    if (frame >= d->info.Frames) {
        // At or past the last frame: nothing more to decode.
        d->pendingFrame = d->nextFrame = d->info.Frames;
        d->done = true;
        return MPEG_OK;
    }
    off_t at = mpg123_seek_frame(d->mh, frame, SEEK_SET);
    if (at < 0) {
        return MPEG_ERR_SEEK;
    }
    d->pendingFrame = d->nextFrame = at;
    return MPEG_OK;
}

int32_t mpeg_GetPosition(TMpegHandle handle) {
    Decoder* d = From(handle);
    if (d == nullptr || !d->hasFile) {
        return 0;
    }
    return static_cast<int32_t>(d->pendingLen > 0 ? d->pendingFrame : d->nextFrame);
}

int32_t mpeg_SetChannelMode(TMpegHandle handle, int32_t mode) {
    Decoder* d = From(handle);
    if (d == nullptr) {
        return MPEG_ERR_HANDLE;
    }
    if (mode < MPEG_CM_LEFT || mode > MPEG_CM_DOWNMIX) {
        return MPEG_ERR_PARAM;
    }
    if (mode == d->channelMode) {
        return MPEG_OK;
    }
    d->channelMode = mode;
    if (d->hasFile) {
        // The output layout is negotiated when the file opens: reopen it quietly.
        std::string name = d->fileName;
        bool wasOpen = d->open;
        CloseEngine(*d);
        int32_t code = OpenEngine(*d, name);
        if (code != MPEG_OK) {
            d->fileName.clear();
            return code;
        }
        d->open = wasOpen;
    }
    return MPEG_OK;
}

void mpeg_GetChannelMode(TMpegHandle handle, int32_t* mode) {
    Decoder* d = From(handle);
    if (d != nullptr && mode != nullptr) {
        *mode = (*mode & ~0xFF) | (d->channelMode & 0xFF);
    }
}

int32_t mpeg_SetTrailingHeader(TMpegHandle handle, int32_t value) {
    Decoder* d = From(handle);
    if (d == nullptr) {
        return MPEG_ERR_HANDLE;
    }
    d->trailingHeader = value;
    return MPEG_OK;
}

int32_t mpeg_SetExactPosition(TMpegHandle handle, int32_t value) {
    Decoder* d = From(handle);
    if (d == nullptr) {
        return MPEG_ERR_HANDLE;
    }
    d->exactPosition = value != 0 ? 1 : 0;
    return MPEG_OK;
}

int32_t mpeg_Clear(TMpegHandle handle) {
    Decoder* d = From(handle);
    if (d == nullptr) {
        return MPEG_ERR_HANDLE;
    }
    CloseEngine(*d);
    d->fileName.clear();
    Notify(*d);
    return MPEG_OK;
}

int32_t mpeg_GetErrorText(int32_t code, char* buffer, int32_t size) {
    if (buffer == nullptr || size <= 0) {
        return MPEG_ERR_PARAM;
    }
    const char* text = nullptr;
    switch (code) {
    case MPEG_ERR_OPEN:
        text = "Unable to open the MPEG file";
        break;
    case MPEG_ERR_NOT_MPEG:
        text = "Not a valid MPEG audio file";
        break;
    case MPEG_ERR_NO_FILE:
        text = "No MPEG file selected";
        break;
    case MPEG_ERR_NOT_OPEN:
        text = "MPEG file not open";
        break;
    case MPEG_ERR_DECODE:
        text = "MPEG decoding error";
        break;
    case MPEG_ERR_HANDLE:
        text = "Invalid decoder handle";
        break;
    case MPEG_ERR_PARAM:
        text = "Invalid parameter";
        break;
    case MPEG_ERR_ABORTED:
        text = "MPEG decoding aborted";
        break;
    case MPEG_ERR_MEMORY:
        text = "Out of memory";
        break;
    case MPEG_ERR_SEEK:
        text = "Unable to seek in the MPEG file";
        break;
    case MPEG_ERR_UNSUPPORTED:
        text = "Not supported";
        break;
    default:
        if (code > 1000) {
            text = mpg123_plain_strerror(code - 1000);
        }
        break;
    }
    if (text == nullptr) {
        buffer[0] = '\0';
        return MPEG_ERR_PARAM;
    }
    std::snprintf(buffer, static_cast<size_t>(size), "%s", text);
    return MPEG_OK;
}

int32_t mpeg_SetDecodeCallback(TMpegHandle handle, TMpegDecodeCallback callback, void* user) {
    Decoder* d = From(handle);
    if (d == nullptr) {
        return MPEG_ERR_HANDLE;
    }
    d->decodeCallback = callback;
    d->decodeUser = user;
    return MPEG_OK;
}

int32_t mpeg_SetDecodeMode(TMpegHandle handle, int32_t mode) {
    Decoder* d = From(handle);
    if (d == nullptr) {
        return MPEG_ERR_HANDLE;
    }
    d->decodeMode = mode;
    return MPEG_OK;
}

int32_t mpeg_SetFileOffset(TMpegHandle handle, int32_t offset) {
    Decoder* d = From(handle);
    if (d == nullptr) {
        return MPEG_ERR_HANDLE;
    }
    d->fileOffset = offset;
    return MPEG_OK;
}

int32_t mpeg_AbortReadData(TMpegHandle handle) {
    Decoder* d = From(handle);
    if (d == nullptr) {
        return MPEG_ERR_HANDLE;
    }
    d->aborted = true;
    return MPEG_OK;
}

int32_t mpeg_ScanFile(TMpegHandle handle) {
    Decoder* d = From(handle);
    if (d == nullptr) {
        return MPEG_ERR_HANDLE;
    }
    return d->hasFile ? MPEG_OK : MPEG_ERR_NO_FILE;
}

int32_t mpeg_ScanFileEx(TMpegHandle handle, int32_t /*flags*/) {
    return mpeg_ScanFile(handle);
}

int32_t mpeg_EncryptFile(const char* /*source*/, const char* /*destination*/, int32_t /*key*/) {
    return MPEG_ERR_UNSUPPORTED;
}

int32_t mpeg_ReadID3Tag(const char* name, uint8_t* tag128) {
    if (name == nullptr || tag128 == nullptr) {
        return MPEG_ERR_PARAM;
    }
    ReadTag(name, tag128);
    return tag128[0] == 'T' ? MPEG_OK : MPEG_ERR_NOT_MPEG;
}

int32_t mpeg_GetTextTag(TMpegHandle handle, int32_t field, char* buffer, int32_t size) {
    Decoder* d = From(handle);
    if (d == nullptr) {
        return MPEG_ERR_HANDLE;
    }
    if (field < MPEG_TEXT_TITLE || field > MPEG_TEXT_ALBUM || buffer == nullptr || size < 1) {
        return MPEG_ERR_PARAM;
    }
    const std::string& text = d->texts[field];
    size_t n = std::min(text.size(), static_cast<size_t>(size - 1));
    // Never end on half a character.
    while (n > 0 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) {
        --n;
    }
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return MPEG_OK;
}

} // extern "C"
