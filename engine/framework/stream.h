// Byte streams for the stored forms of component properties.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "engine/framework/errors.h"

namespace tunefold {

TUNEFOLD_ERROR_CLASS(EReadError, EStreamError);

class TStream {
public:
    virtual ~TStream() = default;
    virtual std::size_t Read(void* buffer, std::size_t count) = 0;
    virtual std::size_t Write(const void* buffer, std::size_t count) = 0;
    virtual std::size_t Position() const = 0;
    virtual void Seek(std::size_t position) = 0;
    virtual std::size_t Size() const = 0;

    // Exactly `count` bytes or EReadError "Stream read error".
    void ReadBuffer(void* buffer, std::size_t count) {
        if (Read(buffer, count) != count) {
            throw EReadError("Stream read error");
        }
    }
    void WriteBuffer(const void* buffer, std::size_t count) {
        if (Write(buffer, count) != count) {
            throw EStreamError("Stream write error");
        }
    }
    template <typename T>
    T ReadValue() {
        T value{};
        ReadBuffer(&value, sizeof value);
        return value;
    }
    template <typename T>
    void WriteValue(const T& value) {
        WriteBuffer(&value, sizeof value);
    }
};

class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}

    std::size_t Read(void* buffer, std::size_t count) override {
        std::size_t n = position_ < bytes_.size() ? std::min(count, bytes_.size() - position_) : 0;
        if (n != 0) {
            std::memcpy(buffer, bytes_.data() + position_, n);
        }
        position_ += n;
        return n;
    }
    std::size_t Write(const void* buffer, std::size_t count) override {
        if (position_ + count > bytes_.size()) {
            bytes_.resize(position_ + count);
        }
        if (count != 0) {
            std::memcpy(bytes_.data() + position_, buffer, count);
        }
        position_ += count;
        return count;
    }
    std::size_t Position() const override { return position_; }
    void Seek(std::size_t position) override { position_ = position; }
    std::size_t Size() const override { return bytes_.size(); }
    const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
    std::size_t position_ = 0;
};

} // namespace tunefold
