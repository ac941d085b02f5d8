// Splits a fuzzer's input into the few parameters and byte strings a target needs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    uint8_t byte() { return size_ ? (--size_, *data_++) : 0; }

    int integer(int lo, int hi) {
        const uint32_t raw = static_cast<uint32_t>(byte()) << 8 | byte();
        return lo + static_cast<int>(raw % static_cast<uint32_t>(hi - lo + 1));
    }

    // The next `n` bytes (fewer at the end of the input).
    std::string bytes(size_t n) {
        n = n < size_ ? n : size_;
        std::string out(reinterpret_cast<const char*>(data_), n);
        data_ += n;
        size_ -= n;
        return out;
    }

    std::string rest() { return bytes(size_); }
    size_t remaining() const { return size_; }

private:
    const uint8_t* data_;
    size_t size_;
};
