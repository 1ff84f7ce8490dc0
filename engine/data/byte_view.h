// byte_view.h: the one bounds-checked view of a data-set file's bytes (internal to data/).
//
// Every binary field the readers take from a file goes through ByteView: covers() checks a
// range against the bytes held, in 64-bit arithmetic so that negative or huge offsets and
// counts from a file cannot wrap; the typed reads that follow are the unchecked accessors of
// ranges that covers() accepted. Numbers are little-endian whatever the machine.
#ifndef KESTREL_DATA_BYTE_VIEW_H
#define KESTREL_DATA_BYTE_VIEW_H

#include <cstddef>
#include <cstdint>

namespace kestrel::data::detail {

class ByteView {
  public:
    constexpr ByteView(const uint8_t* data, std::size_t size) noexcept
        : data_(data), size_(data != nullptr ? size : 0) {}

    constexpr std::size_t size() const noexcept { return size_; }

    // True when the `length` bytes at `offset` lie inside the view.
    constexpr bool covers(int64_t offset, int64_t length) const noexcept {
        return offset >= 0 && length >= 0 && offset <= int64_t(size_) &&
               length <= int64_t(size_) - offset;
    }

    // True when `count` records of `used` bytes, `stride` apart, starting at `offset`, lie
    // inside the view. No records need no room, at any offset.
    constexpr bool covers_records(int64_t offset, int64_t count, int64_t stride,
                                  int64_t used) const noexcept {
        return count == 0 || covers(offset, (count - 1) * stride + used);
    }

    // Unchecked reads: `at` (and the bytes of the field) must lie in a range covers() accepted.
    constexpr int8_t i8(std::size_t at) const noexcept { return static_cast<int8_t>(data_[at]); }
    constexpr int16_t i16(std::size_t at) const noexcept {
        return static_cast<int16_t>(uint16_t(data_[at]) | uint16_t(data_[at + 1]) << 8);
    }
    constexpr int32_t i32(std::size_t at) const noexcept {
        return static_cast<int32_t>(uint32_t(data_[at]) | uint32_t(data_[at + 1]) << 8 |
                                    uint32_t(data_[at + 2]) << 16 | uint32_t(data_[at + 3]) << 24);
    }
    constexpr const uint8_t* at(std::size_t offset) const noexcept { return data_ + offset; }

  private:
    const uint8_t* data_;
    std::size_t size_;
};

}  // namespace kestrel::data::detail

#endif  // KESTREL_DATA_BYTE_VIEW_H
