// Memory files under the RIFF I/O calls: a block the caller keeps alive (read-only), or a growing
// block of our own (writable), used for wave resources, tests and fuzzing.
#include <cstring>
#include <vector>

#include "platform/mmio.h"

namespace tunefold::platform {

namespace {

class MemoryStream final : public MmioStream {
public:
    MemoryStream(const void* data, long size, bool writable) : writable_(writable) {
        if (writable) {
            own_.assign(static_cast<const std::uint8_t*>(data),
                        static_cast<const std::uint8_t*>(data) + size);
        } else {
            data_ = static_cast<const std::uint8_t*>(data);
            size_ = size;
        }
    }

    long Read(void* out, long count) override {
        if (count < 0) {
            return -1;
        }
        long size = Size();
        long n = std::min<long>(count, size - pos_);
        if (n <= 0) {
            return 0;
        }
        std::memcpy(out, Bytes() + pos_, static_cast<std::size_t>(n));
        pos_ += n;
        return n;
    }

    long Write(const void* in, long count) override {
        if (!writable_ || count < 0) {
            return -1;
        }
        if (static_cast<std::size_t>(pos_ + count) > own_.size()) {
            own_.resize(static_cast<std::size_t>(pos_ + count));
        }
        std::memcpy(own_.data() + pos_, in, static_cast<std::size_t>(count));
        pos_ += count;
        return count;
    }

    long Seek(long offset, int origin) override {
        long base = origin == SEEK_FROM_START ? 0 : origin == SEEK_FROM_CURRENT ? pos_ : Size();
        long target = base + offset;
        if (target < 0 || (!writable_ && target > Size())) {
            return -1;
        }
        if (writable_ && static_cast<std::size_t>(target) > own_.size()) {
            own_.resize(static_cast<std::size_t>(target));
        }
        pos_ = target;
        return pos_;
    }

    long Size() override { return writable_ ? static_cast<long>(own_.size()) : size_; }
    bool Writable() const override { return writable_; }
    bool SetBuffer(long bytes) override { return bytes > 0; }
    bool Flush() override { return true; }
    bool Close() override { return true; }

private:
    const std::uint8_t* Bytes() const { return writable_ ? own_.data() : data_; }

    bool writable_;
    const std::uint8_t* data_ = nullptr;
    long size_ = 0;
    std::vector<std::uint8_t> own_;
    long pos_ = 0;
};

} // namespace

namespace detail {
std::unique_ptr<MmioStream> OpenMemoryStream(const void* data, long size, bool writable) {
    return std::make_unique<MemoryStream>(data, size, writable);
}
} // namespace detail

} // namespace tunefold::platform
