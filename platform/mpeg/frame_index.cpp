#include "platform/mpeg/frame_index.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace mmmpeg {

namespace {

struct Header {
    int version = 0;   // the header's two version bits: 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    int layer = 0;     // 1..3
    int rateIndex = 0; // 0..2
    bool mono = false;
    int length = 0; // bytes of the whole frame
};

// Bit rates in kbit/s by [MPEG-1 or not][layer - 1][index]; index 0 (free format) is not taken.
constexpr int kBitRates[2][3][15] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}},
};
constexpr int kRates[3] = {44100, 48000, 32000};
constexpr off_t kFirstFrameWithin = 1 << 20;

bool Parse(const unsigned char* h, Header& out) {
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) {
        return false;
    }
    const int version = (h[1] >> 3) & 3;
    const int layerBits = (h[1] >> 1) & 3;
    const int bitIndex = h[2] >> 4;
    const int rateIndex = (h[2] >> 2) & 3;
    if (version == 1 || layerBits == 0 || bitIndex == 0 || bitIndex == 15 || rateIndex == 3) {
        return false;
    }
    out.version = version;
    out.layer = 4 - layerBits;
    out.rateIndex = rateIndex;
    out.mono = (h[3] >> 6) == 3;
    const bool mpeg1 = version == 3;
    const int rate = kRates[rateIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
    const long bits = kBitRates[mpeg1 ? 0 : 1][out.layer - 1][bitIndex] * 1000L;
    const int padding = (h[2] >> 1) & 1;
    if (out.layer == 1) {
        out.length = static_cast<int>((12 * bits / rate + padding) * 4);
    } else {
        const long slots = (out.layer == 3 && !mpeg1) ? 72 : 144;
        out.length = static_cast<int>(slots * bits / rate + padding);
    }
    return out.length > 4;
}

// Two headers of one stream: the same version, layer, sample rate and channel count.
bool Agree(const Header& a, const Header& b) {
    return a.version == b.version && a.layer == b.layer && a.rateIndex == b.rateIndex && a.mono == b.mono;
}

// The file read forward through a window; a look a few KB ahead of the scan stays inside it.
class Window {
public:
    Window(int fd, off_t size) : fd_(fd), size_(size), bytes_(kBytes) {}

    // The `n` bytes at `pos`, or null when the file ends before them (or cannot be read).
    const unsigned char* At(off_t pos, size_t n) {
        if (pos < 0 || pos + static_cast<off_t>(n) > size_) {
            return nullptr;
        }
        if (pos < start_ || pos + static_cast<off_t>(n) > start_ + static_cast<off_t>(length_)) {
            if (!Load(pos)) {
                return nullptr;
            }
            if (pos + static_cast<off_t>(n) > start_ + static_cast<off_t>(length_)) {
                return nullptr;
            }
        }
        return bytes_.data() + (pos - start_);
    }

private:
    static constexpr size_t kBytes = 256 * 1024;

    bool Load(off_t pos) {
        size_t got = 0;
        while (got < kBytes) {
            ssize_t n = ::pread(fd_, bytes_.data() + got, kBytes - got, pos + static_cast<off_t>(got));
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break;
            }
            got += static_cast<size_t>(n);
        }
        start_ = pos;
        length_ = got;
        return got > 0;
    }

    int fd_;
    off_t size_;
    std::vector<unsigned char> bytes_;
    off_t start_ = 0;
    size_t length_ = 0;
};

// Bytes an ID3v2 tag at the start of the file takes (0 without one).
off_t Id3v2Length(Window& w) {
    const unsigned char* p = w.At(0, 10);
    if (p == nullptr || std::memcmp(p, "ID3", 3) != 0 || ((p[6] | p[7] | p[8] | p[9]) & 0x80) != 0) {
        return 0;
    }
    off_t length = 10 + ((static_cast<off_t>(p[6]) << 21) | (p[7] << 14) | (p[8] << 7) | p[9]);
    if ((p[5] & 0x10) != 0) {
        length += 10; // footer
    }
    return length;
}

// Whether `needed` headers that agree with `h` follow one another from `next` on; the end of the
// file or an ID3v1 tag after a frame ends the chain early as a success.
bool Confirmed(Window& w, off_t next, const Header& h, int needed, off_t size) {
    for (int i = 0; i < needed; ++i) {
        if (next == size) {
            return true;
        }
        const unsigned char* q = w.At(next, 4);
        if (q == nullptr) {
            return false;
        }
        if (std::memcmp(q, "TAG", 3) == 0) {
            return true;
        }
        Header following;
        if (!Parse(q, following) || !Agree(h, following) || next + following.length > size) {
            return false;
        }
        next += following.length;
    }
    return true;
}

} // namespace

std::vector<FrameSpan> IndexFrames(int fd, off_t size) {
    std::vector<FrameSpan> spans;
    Window w(fd, size);
    off_t pos = Id3v2Length(w);
    off_t virt = 0;
    bool inStep = false; // pos is where the last frame taken ended
    Header last;
    // Audio starts near the beginning: a file whose first frame is not found within its first MiB
    // is not an MPEG audio file, and a large file of another kind is not searched to its end.
    const off_t firstFrameBy = pos + kFirstFrameWithin;
    while (pos + 4 <= size && (!spans.empty() || pos < firstFrameBy)) {
        Header h;
        const unsigned char* p = w.At(pos, 4);
        if (p == nullptr) {
            break;
        }
        bool take = false;
        if (Parse(p, h) && pos + h.length <= size) {
            if (inStep && Agree(last, h)) {
                take = true;
            } else {
                // Found by searching: the headers after it must agree with it, one when it also
                // agrees with the stream so far, two when it would start a stream of its own.
                const int needed = (!spans.empty() && Agree(last, h)) ? 1 : 2;
                take = Confirmed(w, pos + h.length, h, needed, size);
            }
        }
        if (!take) {
            inStep = false;
            ++pos;
            continue;
        }
        if (inStep && !spans.empty()) {
            spans.back().length += h.length;
        } else {
            spans.push_back({virt, pos, h.length});
        }
        virt += h.length;
        pos += h.length;
        last = h;
        inStep = true;
    }
    return spans;
}

} // namespace mmmpeg
